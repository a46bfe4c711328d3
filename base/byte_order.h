// Little-endian access to the bytes of records and replies: every layer reads multi-byte fields
// this way.
#pragma once

#include <cstdint>

namespace velmar {

inline uint32_t GetLE(const uint8_t* p, int width) {
    uint32_t v = 0;
    for (int i = width - 1; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

inline void SetLE(uint8_t* p, int width, uint32_t v) {
    for (int i = 0; i < width; ++i) {
        p[i] = static_cast<uint8_t>(v & 0xFF);
        v >>= 8;
    }
}

// Sign-extends a value of `width` bytes.
inline int32_t SignExtend(uint32_t v, int width) {
    if (width >= 4) return static_cast<int32_t>(v);
    const uint32_t sign = 1u << (width * 8 - 1);
    const uint32_t mask = (1u << (width * 8)) - 1;
    v &= mask;
    return (v & sign) ? static_cast<int32_t>(v) - static_cast<int32_t>(mask) - 1
                      : static_cast<int32_t>(v);
}

} // namespace velmar
