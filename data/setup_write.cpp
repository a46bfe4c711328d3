#include "data/setup_write.h"

#include "data/memory_map.h"
#include "data/meter_settings.h"
#include "data/restart_wait.h"
#include "data/topology.h"

#include <algorithm>

namespace velmar {

namespace {

constexpr uint16_t kSetupTrkModes = 0x1401;

bool AddressOk(int v) {
    return v >= 1 && v <= 255;
}

} // namespace

bool InitialSetupChoiceValid(const InitialSetupChoice& c) {
    if (c.sides < 1 || c.sides > kSetupMaxSides) return false;
    if (c.nozzles < 1 || c.nozzles > kSetupMaxChannels / c.sides) return false;
    if (c.tableType < 0 || c.tableType >= kSetupTableTypes) return false;
    if (c.meterType < 0 || c.meterType > 1 || c.phase < 0 || c.phase > 2) return false;
    for (int i = 0; i < c.sides; ++i) {
        if (!AddressOk(c.sideAddresses[static_cast<size_t>(i)])) return false;
    }
    if (c.sides == 2 && c.sideAddresses[0] == c.sideAddresses[1]) return false;
    const int channels = c.sides * c.nozzles;
    for (int i = 0; i < channels; ++i) {
        const int v = c.channelAddresses[static_cast<size_t>(i)];
        if (!AddressOk(v)) return false;
        for (int j = 0; j < i; ++j) {
            if (c.channelAddresses[static_cast<size_t>(j)] == v) return false;
        }
    }
    return true;
}

void ApplyInitialSetup(const InitialSetupChoice& c, CtrlrParams& p, ChannelSettsSet& setts) {
    const int sides = std::clamp(c.sides, 1, kSetupMaxSides);
    const int nozzles = std::clamp(c.nozzles, 1, kSetupMaxChannels / sides);
    p.SetCountSideTrk(static_cast<uint8_t>(sides));
    p.SetCountNozTrk(static_cast<uint8_t>(nozzles));
    p.SetTrkModes(kSetupTrkModes);
    p.SetAdrTrk_1(static_cast<uint8_t>(c.sideAddresses[0]));
    if (sides == 2) p.SetAdrTrk_2(static_cast<uint8_t>(c.sideAddresses[1]));
    for (int e = 0; e < kSetupMaxChannels; ++e) {
        const int v = e < sides * nozzles ? c.channelAddresses[static_cast<size_t>(e)] : 0;
        p.SetAdrNaraTrk(e, static_cast<uint8_t>(v));
    }
    FillDefaultMap(p, sides, nozzles);
    p.SetMeterType(static_cast<uint8_t>(c.meterType));
    p.SetPhaseMet(static_cast<uint8_t>(c.phase));
    p.SetTypeTbl(static_cast<uint8_t>(c.tableType));
    p.UpdateKsm();

    const uint16_t factor = setts::MeterFactor(c.meterType == 1 ? 1 : 0);
    for (ChannelSetts& s : setts) {
        const int old = s.ImpLit();
        s.SetImpLit(factor);
        if (old != factor) ScaleCounterPair(s, old, factor);
        s.SetMeterPhase(static_cast<uint8_t>(c.phase));
    }
}

SetupWriteResult WriteInitialSetup(RecordStore& store, const CtrlrParams& p, CtrlrParams& shadow,
                                   const ChannelSettsSet& setts, ChannelSettsSet& settsShadow,
                                   const SetupProgress& progress) {
    SetupWriteResult result;
    const int total = p.Length() + kChannelCount * (setts::kLength + regs::kLength);
    int done = 0;
    auto advance = [&](int n) {
        done += n;
        if (progress) progress(done, total);
    };

    if (WriteParamsBlock(store, p).Ok()) {
        shadow = p;
        advance(p.Length());
    } else {
        result.paramsFailed = true;
    }

    for (int n = 0; n < kChannelCount; ++n) {
        const ChannelSetts& s = setts[static_cast<size_t>(n)];
        if (store.Write(ChannelAddress(addr::kChannelSettsBase, n), setts::kLength, s.data(), 0)
                .Ok()) {
            settsShadow[static_cast<size_t>(n)] = s;
            advance(setts::kLength);
        } else {
            ++result.settsFailed;
        }
    }

    for (int n = 0; n < kChannelCount; ++n) {
        const int address = ChannelAddress(addr::kChannelRegsBase, n);
        uint8_t scratch[256] = {};
        // Without the record as the controller holds it the fiscal totaliser is unknown, and
        // writing the record would replace it: such a channel is left as it is.
        if (store.Read(address, regs::kLength, scratch, 0).Length() < regs::kLength) {
            ++result.regsFailed;
            continue;
        }
        const ChannelRegs read(std::span<const uint8_t>(scratch, regs::kLength));
        ChannelRegs fresh;
        fresh.SetPrice(kSetupPrice);
        fresh.SetFCount(read.FCount());
        fresh.SetFCMil(read.FCMil());
        if (store.Write(address, regs::kLength, fresh.data(), 0).Ok()) {
            advance(regs::kLength);
        } else {
            ++result.regsFailed;
        }
    }

    if (!store.IsDemo()) RestartConfirmed(store);
    return result;
}

} // namespace velmar
