#include "data/dump_layout.h"

#include <cstdio>

namespace velmar {

namespace {

char Digit(unsigned nibble) {
    return static_cast<char>(nibble > 9 ? 'A' + (nibble - 10) : '0' + nibble);
}

} // namespace

char DumpHighDigit(uint8_t b) {
    return Digit(b >> 4);
}

char DumpLowDigit(uint8_t b) {
    return Digit(b & 0xFu);
}

int DumpRows(uint32_t count) {
    return static_cast<int>((count + kDumpBytesPerRow - 1) / kDumpBytesPerRow);
}

bool DumpDigitAt(int column, DumpDigit& digit) {
    if (column < 1 || column >= kDumpLastSeparator) return false;
    const int within = (column - 1) % 3; // 0 high, 1 low, 2 separator
    if (within == 2) return false;
    digit.byte = (column - 1) / 3;
    digit.high = within == 0;
    digit.partnerColumn = DumpDigitColumn(digit.byte, !digit.high);
    return true;
}

int DumpDigitColumn(int byte, bool high) {
    return 3 * byte + (high ? 1 : 2);
}

bool ParseDumpHex(std::string_view text, uint32_t& value) {
    if (text.empty()) return false;
    uint64_t v = 0;
    for (const char c : text) {
        unsigned d = 0;
        if (c >= '0' && c <= '9') {
            d = static_cast<unsigned>(c - '0');
        } else if (c >= 'A' && c <= 'F') {
            d = static_cast<unsigned>(c - 'A' + 10);
        } else if (c >= 'a' && c <= 'f') {
            d = static_cast<unsigned>(c - 'a' + 10);
        } else {
            return false;
        }
        v = v * 16 + d;
        if (v > 0xFFFFFFFFu) return false;
    }
    value = static_cast<uint32_t>(v);
    return true;
}

DumpRange DumpRangeCheck(uint32_t address, uint32_t count) {
    if (count == 0) return DumpRange::Empty;
    if (address >= kDumpMemoryEnd || count > kDumpMemoryEnd - address) return DumpRange::TooLong;
    return DumpRange::Ok;
}

std::string DumpRowAddress(uint32_t address) {
    char text[16];
    std::snprintf(text, sizeof text, "%08x", address);
    return text;
}

} // namespace velmar
