// Numeric field entry: the text checks and conversions every edit field uses, and a one-line
// binding per field (record field, width, entry kind, limit, scale, special rule) from which a
// screen checks a text, stores it into its record and formats the record value for display.
#pragma once

#include "data/record_bytes.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace velmar {

// What ParseField found.
enum class ParseResult {
    BadChar,  // a character not allowed
    TooLarge, // above `maximum` (compared as unsigned)
    Empty,
    Ok,
};
// ParseField flags.
inline constexpr int kParseNoLimit = 1;
inline constexpr int kParseHex = 2;

// A decimal text whose value does not fit in 32 bits is TooLarge even with kParseNoLimit, since
// it cannot be stored.
ParseResult ParseField(std::string_view text, uint32_t maximum, int flags);
// Hexadecimal digit pairs from the end: an odd text gets a leading '0'; more than 8 digits
// keep the low 32 bits. Characters other than hex digits count as 0 (ParseField rejects them).
uint32_t HexToInt(std::string_view text);
// Whole byte pairs, upper case, most significant first: 0 -> "00", 0x1A3 -> "01A3".
std::string IntToHexPairs(uint32_t value);
// Four upper-case hex digits with leading zeros (mode masks, status bits).
std::string Hex4(uint32_t value);
// Decimal value of a digit-only text; the caller has checked it with ParseField.
uint32_t DecimalToInt(std::string_view text);

// Volume entry: "12" -> 1200, "12,5" and "12.5" -> 1250, "12,05" -> 1205. Anything else
// (empty, separator without a digit, a third decimal, trailing characters, a value above
// 0xFFFFFFFF hundredths) is invalid.
bool ParseVolume(std::string_view text, uint32_t& hundredths);
// "%lu,%02d": 1205 -> "12,05".
std::string FormatVolume(uint32_t hundredths);

// How a field is entered.
enum class EntryKind : uint8_t {
    Decimal, // digits only
    Hex,     // hexadecimal digits
    Volume,  // two-decimal volume, stored in hundredths
    Signed,  // optional '-' then digits; stored in two's complement
};

// How a field is shown.
enum class DisplayKind : uint8_t {
    Decimal,  // unsigned decimal (value x scale)
    Signed,   // signed decimal
    Hex4,     // four hex digits
    HexPairs, // IntToHexPairs
    Volume,   // FormatVolume
};

// Rules of single fields beyond limit and scale.
enum class EntryRule : uint8_t {
    None,
    SlowStart255, // entry 255 is stored as 255 unscaled; stored 255 is shown as "255"
    ZeroOrMin,    // 0 or min..limit
    MeterFactor,  // 100, 256 or 132 only; stored x 2, shown / 2
    NegativeOnly, // below 0 only (heating switch-on temperature)
};

inline constexpr uint32_t kNoLimit = 0xFFFFFFFF;

struct FieldBinding {
    Field field;
    EntryKind entry = EntryKind::Decimal;
    uint32_t limit = kNoLimit; // upper limit of the entry; kNoLimit: digits without a limit
    uint32_t scale = 1;        // stored = entry / scale; shown = stored x scale
    DisplayKind display = DisplayKind::Decimal;
    EntryRule rule = EntryRule::None;
    uint32_t min = 0; // EntryRule::ZeroOrMin
    bool readOnly = false;
};

// Checks `text` against the binding; on success `stored` is the value for the record field
// (already scaled). A value the field's width cannot hold is invalid.
bool CheckEntry(const FieldBinding& b, std::string_view text, uint32_t& stored);
// Checks `text` and, when valid, stores it into the field of `record` (`size` bytes). A record
// too short for the field is never written. Returns true when the text was valid.
bool StoreEntry(const FieldBinding& b, std::string_view text, uint8_t* record, size_t size);
// The display text of the field's value in `record`; empty when the record is too short.
std::string FormatEntry(const FieldBinding& b, const uint8_t* record, size_t size);

template <size_t N>
bool StoreEntry(const FieldBinding& b, std::string_view text, RecordBytes<N>& record) {
    return StoreEntry(b, text, record.data(), N);
}
template <size_t N> std::string FormatEntry(const FieldBinding& b, const RecordBytes<N>& record) {
    return FormatEntry(b, record.data(), N);
}

} // namespace velmar
