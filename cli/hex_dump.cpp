#include "cli/hex_dump.h"

#include "protocol/cp1251_text.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace velmar::cli {

std::optional<unsigned long> ParseHex(const std::string& text) {
    std::string digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
        digits = digits.substr(2);
    if (digits.empty() || digits.size() > 8) return std::nullopt;
    for (const char c : digits)
        if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
    errno = 0;
    const unsigned long value = std::strtoul(digits.c_str(), nullptr, 16);
    if (errno != 0) return std::nullopt;
    return value;
}

std::optional<std::vector<uint8_t>> ParseHexBytes(const std::string& text) {
    std::vector<uint8_t> bytes;
    std::string pair;
    for (const char c : text) {
        if (c == ' ' || c == ':' || c == '-' || c == '\t') {
            if (!pair.empty()) return std::nullopt; // a separator inside a pair
            continue;
        }
        if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
        pair += c;
        if (pair.size() == 2) {
            bytes.push_back(static_cast<uint8_t>(std::strtoul(pair.c_str(), nullptr, 16)));
            pair.clear();
        }
    }
    if (!pair.empty() || bytes.empty()) return std::nullopt;
    return bytes;
}

std::string HexDump(uint32_t address, const uint8_t* bytes, size_t count) {
    std::string out;
    for (size_t row = 0; row < count; row += 16) {
        char head[16];
        std::snprintf(head, sizeof head, "%08x ", static_cast<unsigned>(address + row));
        out += head;
        std::string text;
        for (size_t k = 0; k < 16; ++k) {
            if (row + k < count) {
                const uint8_t b = bytes[row + k];
                char pair[4];
                std::snprintf(pair, sizeof pair, " %02X", b);
                out += pair;
                if (b == 0)
                    text += ' ';
                else if (b < 0x20 || b == 0x7F)
                    text += '.';
                else
                    text += Cp1251ByteToUtf8(b);
            } else {
                out += "   ";
            }
        }
        out += "  ";
        out += text;
        out += '\n';
    }
    return out;
}

} // namespace velmar::cli
