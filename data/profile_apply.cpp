#include "data/profile_apply.h"

#include "data/model_reads.h"
#include "data/model_writes.h"
#include "data/profile_values.h"

#include <set>

namespace velmar {

namespace {

constexpr int kSideAddresses[] = {addr::kSideStateA, addr::kSideStateB};

struct HeldBytes {
    uint8_t* working = nullptr;
    const uint8_t* read = nullptr;
    size_t size = 0;
};

HeldBytes Held(ControllerModel& m, RecordKind kind, int index) {
    auto of = [](auto& held, size_t size) {
        return HeldBytes{held.working.data(), held.read.data(), size};
    };
    switch (kind) {
    case RecordKind::Params:
        return of(m.Params(), m.Params().read.size());
    case RecordKind::MakeBlock:
        return of(m.Make(), m.Make().read.size());
    case RecordKind::ChannelSetts:
        return of(m.Setts(index), m.Setts(index).read.size());
    case RecordKind::ChannelRegs:
        return of(m.Regs(index), m.Regs(index).read.size());
    case RecordKind::SideState:
        return of(m.Side(index), m.Side(index).read.size());
    default:
        return {};
    }
}

ReadResult ReadRecord(ControllerModel& m, RecordStore& store, RecordKind kind, int index) {
    switch (kind) {
    case RecordKind::Params:
        return ReadModelParams(m, store);
    case RecordKind::MakeBlock:
        return ReadModelMake(m, store);
    case RecordKind::ChannelSetts:
        return ReadModelChannelSetts(m, store, index);
    case RecordKind::ChannelRegs:
        return ReadModelChannelRegs(m, store, index);
    case RecordKind::SideState:
        return ReadModelSide(m, store, index, kSideAddresses[index]);
    default:
        return ReadResult::ReadFailed;
    }
}

bool ParamsChange(const ProfileTarget& target) {
    for (const ProfileDeviation& d : target.changes)
        if (d.entry->kind == RecordKind::Params) return true;
    return false;
}

} // namespace

ReadResult ReadProfileTarget(RecordStore& store, const Profile& profile, ProfileTarget& target) {
    target.model.Clear();
    target.changes.clear();
    if (!store.ReadSizes().Ok()) return ReadResult::ReadFailed;
    target.header = store.Sizes().ToBytes();
    // The parameter block always: it gives the numbers a profile must not duplicate.
    std::set<std::pair<RecordKind, int>> records{{RecordKind::Params, 0}};
    for (const ProfileEntry& e : profile.entries) records.insert({e.kind, e.index});
    for (const auto& [kind, index] : records)
        if (ReadRecord(target.model, store, kind, index) != ReadResult::Read)
            return ReadResult::ReadFailed;
    const uint8_t* header = target.header.data();
    for (const ProfileEntry& e : profile.entries) {
        const HeldBytes held = Held(target.model, e.kind, e.index);
        if (HoldsItemValue(e.item, e.bits, held.read, held.size)) continue;
        StoreItemValue(e.item, e.bits, held.working, held.size);
        target.changes.push_back({&e, RecordTitle(e.kind, e.index, header[2], header[1]),
                                  e.item.caption,
                                  FormatCatalogueValue(e.item, held.read, held.size),
                                  FormatCatalogueValue(e.item, held.working, held.size)});
    }
    if (ParamsChange(target)) target.model.Params().working.UpdateKsm();
    return ReadResult::Read;
}

ProfileNumbers NumbersOfTarget(const ProfileTarget& target) {
    const CtrlrParams& p = target.model.Params().working;
    return {p.AdrTrk_1(), p.CountSideTrk() == 2 ? p.AdrTrk_2() : 0};
}

ProfileWriteOutcome WriteProfileTarget(ProfileTarget& target, RecordStore& store, PortSlot slot,
                                       const LineFormat& line, int ctrlrAddress) {
    ProfileWriteOutcome out;
    ControllerModel& m = target.model;
    const uint8_t* header = target.header.data();
    auto step = [&](WriteResult r, RecordKind kind, int index) {
        if (r == WriteResult::NoChanges) return true;
        out.result = r;
        if (r == WriteResult::Written) return true;
        out.record = RecordTitle(kind, index, header[2], header[1]);
        return false;
    };
    if (m.Make().wasRead && !step(WriteModelMake(m, store), RecordKind::MakeBlock, 0)) return out;
    for (int n = 0; n < kChannelCount; ++n)
        if (m.Setts(n).wasRead &&
            !step(WriteModelChannelSetts(m, store, n), RecordKind::ChannelSetts, n))
            return out;
    for (int n = 0; n < kChannelCount; ++n)
        if (m.Regs(n).wasRead &&
            !step(WriteModelChannelRegs(m, store, n), RecordKind::ChannelRegs, n))
            return out;
    for (int side = 0; side < 2; ++side)
        if (m.Side(side).wasRead && m.Side(side).Unsaved() &&
            !step(WriteModelSide(m, store, side, kSideAddresses[side]), RecordKind::SideState,
                  side))
            return out;
    const CtrlrParams& read = m.Params().read;
    const CtrlrParams& working = m.Params().working;
    if (!ParamsChange(target)) return out;
    const int newAddress =
        working.AdrTrk_1() != read.AdrTrk_1() ? working.AdrTrk_1() : ctrlrAddress;
    const ParamsWriteRequest request{store,
                                     slot,
                                     line,
                                     read.Length(),
                                     ctrlrAddress,
                                     newAddress,
                                     working.SpeedTrk() != read.SpeedTrk()};
    out.params = WriteModelParams(m, request);
    step(out.params.result, RecordKind::Params, 0);
    return out;
}

} // namespace velmar
