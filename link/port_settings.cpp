#include "link/port_settings.h"

#include "base/atomic_file.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace velmar {
namespace {

constexpr size_t kLineLimit = 79; // characters of a line that are looked at

std::array<PortSettingsEntry, kPortSettingsCount> table{};

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}
bool IsHex(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

// A line starting with a hexadecimal digit, other than "COM...", gives a port number, not a
// name.
bool StartsAsPortNumber(const char* s) {
    const bool comPrefix = (s[0] == 'C' || s[0] == 'c') && (s[1] == 'O' || s[1] == 'o');
    return IsHex(s[0]) && !comPrefix;
}

// Reads whitespace-separated fields like the C scanf family would ("%lu", "%ld", "%c", "%lX"),
// stopping at the first that does not convert; overflowing numbers saturate instead of being
// undefined.
class FieldReader {
  public:
    explicit FieldReader(const char* text) : p_(text) {}

    bool Unsigned(unsigned long& out, int base = 10) {
        SkipSpace();
        char* end = nullptr;
        errno = 0;
        const unsigned long v = std::strtoul(p_, &end, base);
        if (end == p_) return false;
        out = v;
        p_ = end;
        return true;
    }
    bool Signed(long& out) {
        SkipSpace();
        char* end = nullptr;
        errno = 0;
        const long v = std::strtol(p_, &end, 10);
        if (end == p_) return false;
        out = v;
        p_ = end;
        return true;
    }
    bool Char(char& out) {
        SkipSpace();
        if (*p_ == '\0') return false;
        out = *p_++;
        return true;
    }

  private:
    void SkipSpace() {
        while (IsSpace(*p_)) ++p_;
    }
    const char* p_;
};

// The eight fields after the name (or number); returns how many converted, filling the rest
// with their defaults. Reserved 1 and baud have none and stay 0.
int ReadFields(FieldReader& in, PortSettingsEntry& e) {
    unsigned long reserved1 = 0;
    unsigned long baud = 0;
    long reserved2 = 0;
    long flagA = 1;
    long flagB = 0;
    long dataBits = 8;
    char parity = 'N';
    long stopBits = 1;
    int n = 0;
    if (in.Unsigned(reserved1) && ++n && in.Unsigned(baud) && ++n && in.Signed(reserved2) && ++n &&
        in.Signed(flagA) && ++n && in.Signed(flagB) && ++n && in.Signed(dataBits) && ++n &&
        in.Char(parity) && ++n && in.Signed(stopBits)) {
        ++n;
    }
    e.reserved1 = static_cast<uint32_t>(reserved1);
    e.baud = static_cast<uint32_t>(baud);
    e.reserved2 = static_cast<int8_t>(reserved2);
    e.flagA = static_cast<uint8_t>(flagA & 1);
    e.flagB = static_cast<uint8_t>(flagB & 1);
    e.dataBits = static_cast<uint8_t>(dataBits);
    e.parity = parity;
    e.stopBits = static_cast<uint8_t>(stopBits);
    return n;
}

} // namespace

std::array<PortSettingsEntry, kPortSettingsCount>& PortSettingsTable() {
    return table;
}

void ParsePortSettingsLine(std::string_view line, PortSettingsEntry& entry) {
    entry = PortSettingsEntry{};
    // A zero byte ends the line, as it would for the C string functions.
    const size_t zero = line.find('\0');
    if (zero != std::string_view::npos) line = line.substr(0, zero);
    if (line.size() > kLineLimit) line = line.substr(0, kLineLimit);
    std::string text(line);
    size_t pos = 0;
    while (pos < text.size() && text[pos] == ' ') ++pos;
    const char* s = text.c_str() + pos;

    if (!StartsAsPortNumber(s)) {
        size_t len = 0;
        while (s[len] != '\0' && !IsSpace(s[len])) ++len;
        PortSettingsEntry parsed;
        FieldReader in(s + len);
        // A name with nothing usable after it leaves the entry empty.
        if (ReadFields(in, parsed) == 0) return;
        std::memcpy(parsed.name, s, len < sizeof parsed.name ? len : sizeof parsed.name - 1);
        entry = parsed;
        return;
    }
    FieldReader in(s);
    unsigned long number = 0;
    if (!in.Unsigned(number, 16)) return;
    PortSettingsEntry parsed;
    ReadFields(in, parsed);
    if (number != 0) {
        std::snprintf(parsed.name, sizeof parsed.name, "com%lu", number);
    }
    entry = parsed;
}

int ReadPortSettings(const char* path) {
    table.fill(PortSettingsEntry{});
    std::FILE* f = std::fopen(path, "rb");
    if (f == nullptr) return 0;
    std::string line;
    int index = 0;
    for (int c = 0; index < kPortSettingsCount;) {
        line.clear();
        bool sawAny = false;
        // A whole line is one entry, however long; only its start is looked at.
        while ((c = std::fgetc(f)) != EOF) {
            sawAny = true;
            if (c == '\n') break;
            if (line.size() < kLineLimit) line.push_back(static_cast<char>(c));
        }
        if (!sawAny) break;
        ParsePortSettingsLine(line, table[static_cast<size_t>(index++)]);
        if (c == EOF) break;
    }
    std::fclose(f);
    return 1;
}

std::string FormatPortSettingsLine(const PortSettingsEntry& e) {
    char buf[200];
    const char parity = e.parity != '\0' ? e.parity : 'N';
    std::snprintf(buf, sizeof buf, "%.*s 0 %lu %d %d %d %d %c %d",
                  static_cast<int>(sizeof e.name - 1), e.name, static_cast<unsigned long>(e.baud),
                  e.reserved2, e.flagA & 1, e.flagB & 1, e.dataBits, parity, e.stopBits);
    return buf;
}

int CheckPortSettingsWritable(const PortSettingsEntry& entry) {
    const size_t nameLength = strnlen(entry.name, sizeof entry.name);
    if (nameLength == 0 || nameLength == sizeof entry.name) return EINVAL;
    for (size_t i = 0; i < nameLength; ++i) {
        if (IsSpace(entry.name[i])) return EINVAL;
    }
    // Such a name would read back as a port number.
    if (StartsAsPortNumber(entry.name)) return EINVAL;
    if (IsSpace(entry.parity)) return EINVAL;
    // The reader looks at 79 characters of a line: what it could not read back is not written.
    if (FormatPortSettingsLine(entry).size() > kLineLimit) return ENAMETOOLONG;
    return 0;
}

int WritePortSettings(const PortSettingsEntry& entry, const char* path) {
    if (const int refused = CheckPortSettingsWritable(entry); refused != 0) return refused;
    const std::string line = FormatPortSettingsLine(entry);
    return WriteFileAtomically(path, reinterpret_cast<const uint8_t*>(line.data()), line.size());
}

} // namespace velmar
