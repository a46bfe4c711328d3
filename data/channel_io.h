// Reading and writing the per-channel records (ChannelSetts at 0x1000 + n * 0x100, ChannelRegs
// at 0x2000 + n * 0x100) for the channel tabs: one read, and one write attempt that refreshes the
// sizes record first and sends the record padded to the size the controller reports.
#pragma once

#include "data/memory_map.h"
#include "data/record_results.h"
#include "data/record_store.h"

#include <cstdint>

namespace velmar {

// Channels 0..15 exist; 16 would reach the next record area (0x2000 + 16 * 0x100 is 0x3000).
constexpr bool ChannelNumberValid(int n) {
    return n >= 0 && n < kChannelCount;
}

// The record's place and the sizes-record entry giving its length on the controller.
struct ChannelRecordKind {
    int base;                // addr::kChannelSettsBase or addr::kChannelRegsBase
    int length;              // bytes the program keeps (19 or 69)
    int SizesRecord::*sized; // &SizesRecord::settsLength or &SizesRecord::regsLength
};

inline constexpr ChannelRecordKind kSettsRecord{addr::kChannelSettsBase, len::kChannelSetts,
                                                &SizesRecord::settsLength};
inline constexpr ChannelRecordKind kRegsRecord{addr::kChannelRegsBase, len::kChannelRegs,
                                               &SizesRecord::regsLength};

// Reads channel n's record into `dst` (kind.length bytes): Read, or ReadFailed (no reply, or
// fewer bytes than the record: its missing bytes would later be written back invented).
ReadResult ReadChannelRecord(RecordStore& store, const ChannelRecordKind& kind, int n,
                             uint8_t* dst);

// One write attempt of channel n's record. A live controller first refreshes the sizes record
// (SizesFailed when that fails); the demo image uses the sizes it holds. The record goes
// out padded with zeros to the reported size, which is taken as at least the record (a smaller
// one would drop edited bytes) and at most the channel's 0x100 slot. A live write that succeeded
// is followed by a restart. Written, SizesFailed, or WriteFailed (refused or not answered).
WriteResult WriteChannelRecord(RecordStore& store, const ChannelRecordKind& kind, int n,
                               const uint8_t* record);

} // namespace velmar
