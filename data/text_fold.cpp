#include "data/text_fold.h"

#include <cstdint>

namespace velmar {

namespace {
// The two-byte UTF-8 forms of U+0400..U+042F start with 0xD0; their small letters lie 0x20
// (А..П: U+0410..041F) or 0x50 (Ѐ..Џ, Р..Я) code points further on.
constexpr uint8_t kCyrillicLead = 0xD0;
constexpr uint8_t kCyrillicNextLead = 0xD1;
constexpr uint8_t kCapitalsFirst = 0x80; // Ѐ U+0400
constexpr uint8_t kCapitalA = 0x90;      // А U+0410
constexpr uint8_t kCapitalR = 0xA0;      // Р U+0420
constexpr uint8_t kCapitalsEnd = 0xB0;   // а U+0430, the first small letter
constexpr uint8_t kContinuationBase = 0x80;
constexpr uint8_t kSmallIeGrave = 0x90; // ѐ U+0450 after 0xD1
} // namespace

std::string FoldCase(const std::string& utf8) {
    std::string out = utf8;
    for (size_t i = 0; i < out.size(); ++i) {
        auto& c = reinterpret_cast<uint8_t&>(out[i]);
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<uint8_t>(c - 'A' + 'a');
            continue;
        }
        if (c != kCyrillicLead || i + 1 >= out.size()) continue;
        auto& next = reinterpret_cast<uint8_t&>(out[i + 1]);
        if (next >= kCapitalA && next < kCapitalR) {
            next = static_cast<uint8_t>(next - kCapitalA + kCapitalsEnd);
        } else if (next >= kCapitalR && next < kCapitalsEnd) {
            c = kCyrillicNextLead;
            next = static_cast<uint8_t>(next - kCapitalR + kContinuationBase);
        } else if (next >= kCapitalsFirst && next < kCapitalA) {
            c = kCyrillicNextLead;
            next = static_cast<uint8_t>(next - kCapitalsFirst + kSmallIeGrave);
        }
        ++i;
    }
    return out;
}

} // namespace velmar
