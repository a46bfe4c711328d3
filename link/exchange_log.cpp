#include "link/exchange_log.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>

namespace velmar {
namespace {

// Appending; on POSIX also close-on-exec, so programs the tool starts do not hold the log open.
#ifdef _WIN32
constexpr const char* kAppendMode = "ab";
#else
constexpr const char* kAppendMode = "abe";
#endif

std::mutex logMutex;
std::FILE* logFile = nullptr;
std::string logPathOverride;

std::string TimeStamp() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t secs = std::chrono::system_clock::to_time_t(now);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &secs);
#else
    localtime_r(&secs, &local);
#endif
    char buf[64];
    std::snprintf(buf, sizeof buf, "%02d.%02d.%02d (%02d:%02d:%02d:%03d)", local.tm_mday,
                  local.tm_mon + 1, local.tm_year % 100, local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(ms));
    return buf;
}

// Caller holds logMutex.
void Put(const std::string& bytes) {
    if (logFile == nullptr) return;
    std::fwrite(bytes.data(), 1, bytes.size(), logFile);
    std::fflush(logFile);
}

} // namespace

namespace {

char Cp866Of(uint32_t cp) {
    if (cp < 0x80) return static_cast<char>(cp);
    if (cp >= 0x410 && cp <= 0x43F) return static_cast<char>(0x80 + (cp - 0x410)); // А..п
    if (cp >= 0x440 && cp <= 0x44F) return static_cast<char>(0xE0 + (cp - 0x440)); // р..я
    if (cp == 0x401) return static_cast<char>(0xF0);                               // Ё
    if (cp == 0x451) return static_cast<char>(0xF1);                               // ё
    if (cp == 0x2116) return static_cast<char>(0xFC);                              // №
    return '?';
}

} // namespace

std::string Utf8ToCp866(const char* text) {
    std::string out;
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    while (*p != 0) {
        const unsigned lead = *p++;
        int extra = 0;
        uint32_t cp = lead;
        if (lead >= 0xF0) {
            extra = 3;
            cp = lead & 0x07u;
        } else if (lead >= 0xE0) {
            extra = 2;
            cp = lead & 0x0Fu;
        } else if (lead >= 0xC0) {
            extra = 1;
            cp = lead & 0x1Fu;
        }
        // A sequence cut short gives '?' and leaves the next character alone.
        for (; extra > 0 && (*p & 0xC0) == 0x80; --extra) cp = (cp << 6) | (*p++ & 0x3Fu);
        out.push_back(extra == 0 ? Cp866Of(cp) : '?');
    }
    return out;
}

void SetExchangeLogPath(const char* path) {
    std::lock_guard<std::mutex> lock(logMutex);
    logPathOverride = path != nullptr ? path : "";
}

std::string ExchangeLogPath() {
    std::lock_guard<std::mutex> lock(logMutex);
    if (!logPathOverride.empty()) return logPathOverride;
    const char* dir = std::getenv("VELMAR_LOG_DIR");
    if (dir != nullptr && *dir != '\0') return std::string(dir) + "/port.out";
    return "port.out";
}

void OpenExchangeLog() {
    const std::string path = ExchangeLogPath();
    std::lock_guard<std::mutex> lock(logMutex);
    if (logFile != nullptr) std::fclose(logFile);
    // Without a writable working directory the tool still works, only unlogged.
    logFile = std::fopen(path.c_str(), kAppendMode);
    Put(Utf8ToCp866("\r\nВход в программу\r\n"));
}

void CloseExchangeLog(uint32_t parityErrors, uint32_t frameErrors, bool writeShutdownLine) {
    std::lock_guard<std::mutex> lock(logMutex);
    if (logFile == nullptr) return;
    if (writeShutdownLine) {
        char buf[128];
        std::snprintf(buf, sizeof buf, "\r\nОшибок паритета=%d, пакетов( стоп-бит)=%d\r\n",
                      static_cast<int>(parityErrors), static_cast<int>(frameErrors));
        Put(Utf8ToCp866(buf));
    }
    std::fclose(logFile);
    logFile = nullptr;
}

void LogExchange(LogEvent event, int slot, const uint8_t* bytes, size_t count) {
    char head[160];
    const std::string stamp = TimeStamp();
    switch (event) {
    case LogEvent::Write:
        std::snprintf(head, sizeof head, "\r\n\r\n %s Запись (порт %d)-> ", stamp.c_str(), slot);
        break;
    case LogEvent::Read:
        std::snprintf(head, sizeof head, "\r\n %s Чтение  порта %d<- ", stamp.c_str(), slot);
        break;
    case LogEvent::Purge:
        std::snprintf(head, sizeof head, "\r\n %s Очистка буфера порта %d<> ", stamp.c_str(), slot);
        break;
    }
    std::string entry = Utf8ToCp866(head);
    static constexpr char kHex[] = "0123456789ABCDEF";
    entry.reserve(entry.size() + count * 3);
    for (size_t i = 0; i < count; ++i) {
        entry.push_back(kHex[bytes[i] >> 4]);
        entry.push_back(kHex[bytes[i] & 0x0F]);
        entry.push_back(' ');
    }
    std::lock_guard<std::mutex> lock(logMutex);
    Put(entry);
}

void LogWriteFailure(int slot, int code) {
    char head[160];
    std::snprintf(head, sizeof head, "\r\n %s Ошибка записи в порт %d<> (код %d)",
                  TimeStamp().c_str(), slot, code);
    std::lock_guard<std::mutex> lock(logMutex);
    Put(Utf8ToCp866(head));
}

void LogNote(const std::string& text) {
    const std::string line = Utf8ToCp866(("\r\n " + TimeStamp() + " " + text).c_str());
    std::lock_guard<std::mutex> lock(logMutex);
    Put(line);
}

} // namespace velmar
