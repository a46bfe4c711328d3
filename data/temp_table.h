// The temperature table: 39 16-bit ADC values at 0x5000, entry k for -50 + 4k degrees Celsius.
#pragma once

#include "data/record_bytes.h"

#include <cstdint>

namespace velmar {

namespace temp {
inline constexpr int kEntryCount = 39;
inline constexpr int kLength = kEntryCount * 2;
inline constexpr int kFirstDegrees = -50;
inline constexpr int kStepDegrees = 4;
inline constexpr Field kEntries{"Entries", 0, 2, false, kEntryCount};
constexpr int EntryDegrees(int k) {
    return kFirstDegrees + kStepDegrees * k;
}
} // namespace temp

class TempTable : public RecordBytes<temp::kLength> {
  public:
    using RecordBytes::RecordBytes;

    VELMAR_ARRAY_ACCESSORS(uint16_t, Entry, temp::kEntries)
};

} // namespace velmar
