#include "data/field_entry.h"

#include <cstdio>

namespace velmar {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

uint32_t WidthMax(int width) {
    return width >= 4 ? 0xFFFFFFFFu : (1u << (8 * width)) - 1;
}

// Decimal digits to a value; false when it does not fit in 32 bits.
bool DecimalValue(std::string_view text, uint32_t& value) {
    uint64_t v = 0;
    for (char c : text) {
        v = v * 10 + static_cast<uint64_t>(c - '0');
        if (v > 0xFFFFFFFFu) return false;
    }
    value = static_cast<uint32_t>(v);
    return true;
}

} // namespace

ParseResult ParseField(std::string_view text, uint32_t maximum, int flags) {
    if (text.empty()) return ParseResult::Empty;
    const bool hex = (flags & kParseHex) != 0;
    for (char c : text)
        if (hex ? HexDigit(c) < 0 : !IsDigit(c)) return ParseResult::BadChar;
    uint32_t value = 0;
    if (hex) {
        value = HexToInt(text);
    } else if (!DecimalValue(text, value)) {
        return ParseResult::TooLarge;
    }
    if (flags & kParseNoLimit) return ParseResult::Ok;
    return value > maximum ? ParseResult::TooLarge : ParseResult::Ok;
}

uint32_t HexToInt(std::string_view text) {
    // Walking the pairs from the end is the same as shifting the digits in from the start,
    // with an odd text read as if a '0' stood in front of it.
    uint32_t v = 0;
    for (char c : text) {
        const int d = HexDigit(c);
        v = (v << 4) | static_cast<uint32_t>(d < 0 ? 0 : d);
    }
    return v;
}

std::string IntToHexPairs(uint32_t value) {
    int bytes = 1;
    while (bytes < 4 && (value >> (8 * bytes)) != 0) ++bytes;
    char buf[9];
    std::snprintf(buf, sizeof buf, "%0*X", 2 * bytes, value);
    return buf;
}

std::string Hex4(uint32_t value) {
    char buf[9];
    std::snprintf(buf, sizeof buf, "%04X", value & 0xFFFFu);
    return buf;
}

uint32_t DecimalToInt(std::string_view text) {
    uint32_t v = 0;
    return DecimalValue(text, v) ? v : 0;
}

bool ParseVolume(std::string_view text, uint32_t& hundredths) {
    size_t i = 0;
    uint64_t whole = 0;
    while (i < text.size() && IsDigit(text[i])) {
        whole = whole * 10 + static_cast<uint64_t>(text[i] - '0');
        if (whole > 0xFFFFFFFFu) return false;
        ++i;
    }
    if (i == 0) return false;
    uint64_t v = whole * 100;
    if (i < text.size()) {
        if (text[i] != ',' && text[i] != '.') return false;
        ++i;
        const size_t decimals = text.size() - i;
        if (decimals < 1 || decimals > 2) return false;
        if (!IsDigit(text[i])) return false;
        v += static_cast<uint64_t>(text[i] - '0') * 10;
        if (decimals == 2) {
            if (!IsDigit(text[i + 1])) return false;
            v += static_cast<uint64_t>(text[i + 1] - '0');
        }
    }
    if (v > 0xFFFFFFFFu) return false;
    hundredths = static_cast<uint32_t>(v);
    return true;
}

std::string FormatVolume(uint32_t hundredths) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%u,%02u", hundredths / 100, hundredths % 100);
    return buf;
}

bool CheckEntry(const FieldBinding& b, std::string_view text, uint32_t& stored) {
    if (b.readOnly) return false;
    const uint32_t widthMax = WidthMax(b.field.width);
    const uint32_t scale = b.scale == 0 ? 1 : b.scale;
    switch (b.entry) {
    case EntryKind::Decimal: {
        const int flags = b.limit == kNoLimit ? kParseNoLimit : 0;
        if (ParseField(text, b.limit, flags) != ParseResult::Ok) return false;
        const uint32_t value = DecimalToInt(text);
        switch (b.rule) {
        case EntryRule::SlowStart255:
            stored = value == 255 ? 255 : value / scale;
            break;
        case EntryRule::ZeroOrMin:
            if (value != 0 && value < b.min) return false;
            stored = value / scale;
            break;
        case EntryRule::MeterFactor:
            if (value != 100 && value != 256 && value != 132) return false;
            stored = value * 2;
            break;
        default:
            stored = value / scale;
            break;
        }
        // A value wider than its field is refused, never cut to the field's low bits.
        return stored <= widthMax;
    }
    case EntryKind::Hex: {
        const int flags = kParseHex | (b.limit == kNoLimit ? kParseNoLimit : 0);
        if (ParseField(text, b.limit, flags) != ParseResult::Ok) return false;
        stored = HexToInt(text) / scale;
        return stored <= widthMax;
    }
    case EntryKind::Volume: {
        uint32_t value = 0;
        if (!ParseVolume(text, value)) return false;
        // A value the field cannot hold is refused rather than cut to its width.
        if (value > widthMax || (b.limit != kNoLimit && value > b.limit)) return false;
        stored = value;
        return true;
    }
    case EntryKind::Signed: {
        std::string_view digits = text;
        const bool negative = !digits.empty() && digits.front() == '-';
        if (negative) digits.remove_prefix(1);
        if (ParseField(digits, 0, kParseNoLimit) != ParseResult::Ok) return false;
        uint32_t magnitude = 0;
        if (!DecimalValue(digits, magnitude)) return false;
        const int64_t value = negative ? -int64_t{magnitude} : int64_t{magnitude};
        // The signed range of the field: a temperature of 300 must not become 44.
        const int64_t hi = int64_t{widthMax} / 2;
        if (value > hi || value < -hi - 1) return false;
        if (b.rule == EntryRule::NegativeOnly && value >= 0) return false;
        stored = static_cast<uint32_t>(value) & widthMax;
        return true;
    }
    }
    return false;
}

bool StoreEntry(const FieldBinding& b, std::string_view text, uint8_t* record, size_t size) {
    uint32_t stored = 0;
    if (!CheckEntry(b, text, stored)) return false;
    if (static_cast<size_t>(b.field.offset + b.field.width) > size) return false;
    SetLE(record + b.field.offset, b.field.width, stored);
    return true;
}

std::string FormatEntry(const FieldBinding& b, const uint8_t* record, size_t size) {
    if (static_cast<size_t>(b.field.offset + b.field.width) > size) return {};
    const uint32_t v = GetLE(record + b.field.offset, b.field.width);
    switch (b.display) {
    case DisplayKind::Signed:
        return std::to_string(SignExtend(v, b.field.width));
    case DisplayKind::Hex4:
        return Hex4(v);
    case DisplayKind::HexPairs:
        return IntToHexPairs(v);
    case DisplayKind::Volume:
        return FormatVolume(v);
    case DisplayKind::Decimal:
        break;
    }
    if (b.rule == EntryRule::SlowStart255 && v == 255) return "255";
    if (b.rule == EntryRule::MeterFactor) return std::to_string(v / 2);
    return std::to_string(uint64_t{v} * (b.scale == 0 ? 1 : b.scale));
}

} // namespace velmar
