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

std::string Utf8ToCp866(const char* text) {
    std::string out;
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    while (*p != 0) {
        if (*p < 0x80) {
            out.push_back(static_cast<char>(*p++));
            continue;
        }
        unsigned code = 0;
        if ((p[0] & 0xE0) == 0xC0 && (p[1] & 0xC0) == 0x80) {
            code = ((p[0] & 0x1Fu) << 6) | (p[1] & 0x3Fu);
            p += 2;
        } else {
            ++p; // not a two-byte sequence: nothing of ours
            while ((*p & 0xC0) == 0x80) ++p;
            out.push_back('?');
            continue;
        }
        unsigned byte = '?';
        if (code >= 0x410 && code <= 0x42F)
            byte = 0x80 + (code - 0x410); // А..Я
        else if (code >= 0x430 && code <= 0x43F)
            byte = 0xA0 + (code - 0x430); // а..п
        else if (code >= 0x440 && code <= 0x44F)
            byte = 0xE0 + (code - 0x440); // р..я
        else if (code == 0x401)
            byte = 0xF0; // Ё
        else if (code == 0x451)
            byte = 0xF1; // ё
        out.push_back(static_cast<char>(byte));
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

} // namespace velmar
