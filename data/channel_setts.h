// ChannelSetts: the flow meter calibration of one channel (19 bytes at 0x1000 + n * 0x100).
// W (pulse value) and K*L are 40-bit values split into a low 32-bit part and a high byte.
#pragma once

#include "data/record_bytes.h"

#include <array>
#include <cstdint>

namespace velmar {

namespace setts {
inline constexpr int kLength = 19;
inline constexpr Field kImpWLo{"ImpWLo", 0, 4};
inline constexpr Field kImpWHi{"ImpWHi", 4, 1};
inline constexpr Field kImpWkLo{"ImpWkLo", 5, 4};
inline constexpr Field kImpWkHi{"ImpWkHi", 9, 1};
inline constexpr Field kImpWkWLo{"ImpWkWLo", 10, 4};
inline constexpr Field kImpLit{"ImpLit", 14, 2}; // meter factor: twice the pulses per litre
inline constexpr Field kMeterPhase{"MeterPhase", 16, 1};
inline constexpr Field kCountKor{"CountKor", 17, 2};

inline constexpr std::array<Field, 8> kFields{kImpWLo,   kImpWHi, kImpWkLo,    kImpWkHi,
                                              kImpWkWLo, kImpLit, kMeterPhase, kCountKor};

// Meter factor of MeterType 0..2 ("100 имп", "256 имп", "132 имп"); type 3 is manual.
inline constexpr std::array<uint16_t, 3> kMeterFactors{200, 512, 264};
// Factor of a meter type, 0 for the manual type or any other value.
constexpr uint16_t MeterFactor(int meterType) {
    return meterType >= 0 && meterType < 3 ? kMeterFactors[static_cast<size_t>(meterType)] : 0;
}
// Meter type of a factor, -1 for a factor that stands for no type.
constexpr int MeterTypeOfFactor(int factor) {
    for (int t = 0; t < 3; ++t)
        if (kMeterFactors[static_cast<size_t>(t)] == factor) return t;
    return -1;
}

inline constexpr int kPhaseCount = 3;
inline constexpr std::array<const char*, 3> kPhaseTexts{"Одна фаза(1)", "Две фазы", "Одна фаза(2)"};
} // namespace setts

class ChannelSetts : public RecordBytes<setts::kLength> {
  public:
    using RecordBytes::RecordBytes;

    VELMAR_FIELD_ACCESSORS(uint32_t, ImpWLo, setts::kImpWLo)
    VELMAR_FIELD_ACCESSORS(uint8_t, ImpWHi, setts::kImpWHi)
    VELMAR_FIELD_ACCESSORS(uint32_t, ImpWkLo, setts::kImpWkLo)
    VELMAR_FIELD_ACCESSORS(uint8_t, ImpWkHi, setts::kImpWkHi)
    VELMAR_FIELD_ACCESSORS(uint32_t, ImpWkWLo, setts::kImpWkWLo)
    VELMAR_FIELD_ACCESSORS(uint16_t, ImpLit, setts::kImpLit)
    VELMAR_FIELD_ACCESSORS(uint8_t, MeterPhase, setts::kMeterPhase)
    VELMAR_FIELD_ACCESSORS(uint16_t, CountKor, setts::kCountKor)

    // The 40-bit values; the setters keep the low 40 bits.
    uint64_t W() const { return (uint64_t{ImpWHi()} << 32) | ImpWLo(); }
    uint64_t KL() const { return (uint64_t{ImpWkHi()} << 32) | ImpWkLo(); }
    void SetW(uint64_t v) {
        SetImpWLo(static_cast<uint32_t>(v));
        SetImpWHi(static_cast<uint8_t>(v >> 32));
    }
    void SetKL(uint64_t v) {
        SetImpWkLo(static_cast<uint32_t>(v));
        SetImpWkHi(static_cast<uint8_t>(v >> 32));
    }
};

} // namespace velmar
