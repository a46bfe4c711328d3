// MakeBlock: make-specific settings (128 bytes at 0x5100): the Nara protocol settings, the valve
// PWM period, the firmware update counter and the local panel passwords. Every other byte is
// not interpreted and travels back as read. Device images carry a 256-byte region from 0x5100.
#pragma once

#include "data/record_bytes.h"

#include <array>
#include <cstdint>

namespace velmar {

namespace make {
inline constexpr int kLength = 128;
inline constexpr int kImageLength = 256;
inline constexpr Field kShimDuration{"ShimDuration", 15, 1};
inline constexpr Field kMinVolNara{"MinVolNara", 16, 2};
inline constexpr Field kStWaitForceNara{"StWaitForceNara", 18, 1};
inline constexpr Field kStopTimeNara{"StopTimeNara", 19, 1};
inline constexpr Field kUpgrCountNara{"UpgrCountNara", 22, 2};
inline constexpr Field kPbTimeoutNara{"PbTimeoutNara", 24, 1};
inline constexpr Field kBmuPUser{"BmuPUser", 25, 4, false, 4};
inline constexpr Field kBmuPAdm{"BmuPAdm", 41, 4};

inline constexpr std::array<Field, 8> kFields{kShimDuration, kMinVolNara,    kStWaitForceNara,
                                              kStopTimeNara, kUpgrCountNara, kPbTimeoutNara,
                                              kBmuPUser,     kBmuPAdm};
inline constexpr int kOperatorCount = 4;
} // namespace make

class MakeBlock : public RecordBytes<make::kLength> {
  public:
    using RecordBytes::RecordBytes;

    VELMAR_FIELD_ACCESSORS(uint8_t, ShimDuration, make::kShimDuration)
    VELMAR_FIELD_ACCESSORS(uint16_t, MinVolNara, make::kMinVolNara)
    VELMAR_FIELD_ACCESSORS(uint8_t, StWaitForceNara, make::kStWaitForceNara)
    VELMAR_FIELD_ACCESSORS(uint8_t, StopTimeNara, make::kStopTimeNara)
    VELMAR_FIELD_ACCESSORS(uint16_t, UpgrCountNara, make::kUpgrCountNara)
    VELMAR_FIELD_ACCESSORS(uint8_t, PbTimeoutNara, make::kPbTimeoutNara)
    VELMAR_ARRAY_ACCESSORS(uint32_t, BmuPUser, make::kBmuPUser)
    VELMAR_FIELD_ACCESSORS(uint32_t, BmuPAdm, make::kBmuPAdm)
};

} // namespace velmar
