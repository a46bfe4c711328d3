#include "data/channel_io.h"

#include "data/restart_wait.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace velmar {

namespace {

constexpr int kSlotLength = 0x100; // distance between two channels' records

} // namespace

ReadResult ReadChannelRecord(RecordStore& store, const ChannelRecordKind& kind, int n,
                             uint8_t* dst) {
    if (!ChannelNumberValid(n)) return ReadResult::ReadFailed;
    std::array<uint8_t, kSlotLength> buffer{};
    if (!store.Read(ChannelAddress(kind.base, n), kind.length, buffer.data(), 0).Gave(kind.length))
        return ReadResult::ReadFailed;
    std::memcpy(dst, buffer.data(), static_cast<size_t>(kind.length));
    return ReadResult::Read;
}

WriteResult WriteChannelRecord(RecordStore& store, const ChannelRecordKind& kind, int n,
                               const uint8_t* record) {
    if (!ChannelNumberValid(n)) return WriteResult::WriteFailed;
    if (!store.IsDemo() && !store.ReadSizes().Ok()) return WriteResult::SizesFailed;
    const int size = std::clamp(store.Sizes().*kind.sized, kind.length, kSlotLength);
    std::array<uint8_t, kSlotLength> buffer{};
    std::memcpy(buffer.data(), record, static_cast<size_t>(kind.length));
    if (!store.Write(ChannelAddress(kind.base, n), size, buffer.data(), 0).Ok())
        return WriteResult::WriteFailed;
    if (!store.IsDemo()) RestartConfirmed(store);
    return WriteResult::Written;
}

} // namespace velmar
