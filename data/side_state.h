// SideState: the state record of one side (12 bytes at 0x4000 for side A, 0x4100 for side B).
// Bytes 10..11 are not interpreted and travel back as read.
#pragma once

#include "data/record_bytes.h"

#include <array>
#include <cstdint>

namespace velmar {

namespace side {
inline constexpr int kLength = 12;
inline constexpr Field kActiveNoz{"ActiveNoz", 0, 1};
inline constexpr Field kCountKor{"CountKor", 1, 2};
inline constexpr Field kDateLastKorDay{"DateLastKorDay", 3, 1};
inline constexpr Field kDateLastKorMonth{"DateLastKorMonth", 4, 1};
inline constexpr Field kDateLastKorYear{"DateLastKorYear", 5, 1};
inline constexpr Field kCountTranz{"CountTranz", 6, 4};
inline constexpr Field kBytes10{"Bytes10", 10, 2};

inline constexpr std::array<Field, 7> kFields{kActiveNoz,        kCountKor,        kDateLastKorDay,
                                              kDateLastKorMonth, kDateLastKorYear, kCountTranz,
                                              kBytes10};
} // namespace side

class SideState : public RecordBytes<side::kLength> {
  public:
    using RecordBytes::RecordBytes;

    VELMAR_FIELD_ACCESSORS(uint8_t, ActiveNoz, side::kActiveNoz)
    VELMAR_FIELD_ACCESSORS(uint16_t, CountKor, side::kCountKor)
    VELMAR_FIELD_ACCESSORS(uint8_t, DateLastKorDay, side::kDateLastKorDay)
    VELMAR_FIELD_ACCESSORS(uint8_t, DateLastKorMonth, side::kDateLastKorMonth)
    VELMAR_FIELD_ACCESSORS(uint8_t, DateLastKorYear, side::kDateLastKorYear)
    VELMAR_FIELD_ACCESSORS(uint32_t, CountTranz, side::kCountTranz)
};

} // namespace velmar
