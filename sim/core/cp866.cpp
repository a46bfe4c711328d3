#include "sim/core/cp866.h"

#include <cstdint>

namespace velmar::sim {

namespace {

char MapCodePoint(uint32_t cp) {
    if (cp < 0x80) return static_cast<char>(cp);
    if (cp >= 0x0410 && cp <= 0x043F) return static_cast<char>(0x80 + (cp - 0x0410)); // А..п
    if (cp >= 0x0440 && cp <= 0x044F) return static_cast<char>(0xE0 + (cp - 0x0440)); // р..я
    if (cp == 0x0401) return static_cast<char>(0xF0);                                 // Ё
    if (cp == 0x0451) return static_cast<char>(0xF1);                                 // ё
    if (cp == 0x2116) return static_cast<char>(0xFC);                                 // №
    return '?';
}

} // namespace

std::string Utf8ToCp866(const std::string& utf8) {
    std::string out;
    size_t i = 0;
    while (i < utf8.size()) {
        const auto lead = static_cast<uint8_t>(utf8[i]);
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
        ++i;
        for (int k = 0; k < extra && i < utf8.size(); ++k, ++i)
            cp = (cp << 6) | (static_cast<uint8_t>(utf8[i]) & 0x3Fu);
        out.push_back(MapCodePoint(cp));
    }
    return out;
}

} // namespace velmar::sim
