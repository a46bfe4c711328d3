#include "data/model_reads.h"

#include "data/channel_io.h"
#include "protocol/ctrlr_protocol.h"

#include <algorithm>
#include <array>
#include <span>
#include <utility>

namespace velmar {

namespace {

// A record read whole at `address` into a fresh copy; the model takes it only when it came.
template <class R>
ReadResult ReadWhole(HeldRecord<R>& held, RecordStore& store, int address, int length) {
    R read;
    if (store.Read(address, length, read.data(), 0).Length() < length)
        return ReadResult::ReadFailed;
    held.Take(read);
    return ReadResult::Read;
}

template <class R>
ReadResult ReadChannel(HeldRecord<R>& held, RecordStore& store, const ChannelRecordKind& kind,
                       int n) {
    R read;
    if (ReadChannelRecord(store, kind, n, read.data()) != ReadResult::Read)
        return ReadResult::ReadFailed;
    held.Take(read);
    return ReadResult::Read;
}

} // namespace

ReadResult ReadModelParams(ControllerModel& model, RecordStore& store, int emptyReadsAllowed) {
    std::array<uint8_t, params::kAreaLength> bytes{};
    StoreResult read = StoreResult::Done(0);
    for (int attempt = 0; attempt < emptyReadsAllowed && read.Ok() && read.Length() == 0; ++attempt)
        read = store.Read(addr::kParamsLength, -1, bytes.data(), 0);
    if (!read.Ok()) return ReadResult::ReadFailed;
    if (read.Length() == 0) return ReadResult::Empty;
    const int got = std::min(read.Length(), params::kAreaLength - 1);
    store.Sizes().paramsLength = got;
    model.Params().Take(CtrlrParams(bytes.data(), got));
    return ReadResult::Read;
}

ReadResult ReadModelMake(ControllerModel& model, RecordStore& store) {
    return ReadWhole(model.Make(), store, addr::kMakeBlock, make::kLength);
}

ReadResult ReadModelChannelSetts(ControllerModel& model, RecordStore& store, int n) {
    if (!ChannelNumberValid(n)) return ReadResult::ReadFailed;
    return ReadChannel(model.Setts(n), store, kSettsRecord, n);
}

ReadResult ReadModelChannelRegs(ControllerModel& model, RecordStore& store, int n) {
    if (!ChannelNumberValid(n)) return ReadResult::ReadFailed;
    return ReadChannel(model.Regs(n), store, kRegsRecord, n);
}

ReadResult ReadModelAllSetts(ControllerModel& model, RecordStore& store, int failuresAllowed) {
    std::array<ChannelSetts, kChannelCount> setts{};
    int failures = 0;
    for (int n = 0; n < kChannelCount; ++n) {
        std::array<uint8_t, 0x100> bytes{};
        while (
            store.Read(ChannelAddress(addr::kChannelSettsBase, n), setts::kLength, bytes.data(), 0)
                .Length() < 1) {
            if (++failures >= failuresAllowed) return ReadResult::ReadFailed;
        }
        setts[static_cast<size_t>(n)] =
            ChannelSetts(std::span<const uint8_t>(bytes.data(), setts::kLength));
    }
    for (int n = 0; n < kChannelCount; ++n) model.Setts(n).Take(setts[static_cast<size_t>(n)]);
    return ReadResult::Read;
}

ReadResult ReadModelSide(ControllerModel& model, RecordStore& store, int side, int address) {
    return ReadWhole(model.Side(side), store, address, side::kLength);
}

ReadResult ReadModelTemperatures(ControllerModel& model, RecordStore& store) {
    return ReadWhole(model.Temperatures(), store, addr::kTempTable, temp::kLength);
}

ReadResult ReadModelDump(ControllerModel& model, RecordStore& store, uint32_t address, int count,
                         uint8_t space, const ReadProgress& progress) {
    std::vector<uint8_t> bytes(static_cast<size_t>(std::max(count, 0)));
    for (int done = 0; done < count;) {
        if (progress.cancelled && progress.cancelled()) return ReadResult::Cancelled;
        const int piece = std::min(kMaxChunk, count - done);
        if (store.Read(static_cast<int>(address) + done, piece, bytes.data() + done, space)
                .Length() != piece)
            return ReadResult::ReadFailed;
        done += piece;
        if (progress.step) progress.step(done);
    }
    model.Dump().Take(MemoryBlock{address, space, std::move(bytes)});
    return ReadResult::Read;
}

} // namespace velmar
