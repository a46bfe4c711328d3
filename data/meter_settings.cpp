#include "data/meter_settings.h"

#include "data/memory_map.h"
#include "data/restart_wait.h"

#include <cmath>

namespace velmar {

namespace {

constexpr uint64_t kMax40 = (uint64_t{1} << 40) - 1;
constexpr int kWriteAttempts = 3;
// Reads go into a buffer larger than any record: a demo image header may name a longer one.
constexpr int kReadBuffer = 256;

uint64_t Round40(long double v) {
    const long double r = std::floor(v + 0.5L);
    if (!(r >= 0)) return 0;
    if (r >= static_cast<long double>(kMax40)) return kMax40;
    return static_cast<uint64_t>(r);
}

int ReadChannelSetts(RecordStore& store, int n, ChannelSetts& record) {
    uint8_t buffer[kReadBuffer] = {};
    // A short record would be written back with invented bytes.
    if (!store.Read(ChannelAddress(addr::kChannelSettsBase, n), setts::kLength, buffer, 0)
             .Gave(setts::kLength))
        return -1;
    record = ChannelSetts(std::span<const uint8_t>(buffer, setts::kLength));
    return 1;
}

StoreResult WriteChannelSetts(RecordStore& store, int n, const ChannelSetts& record) {
    return store.Write(ChannelAddress(addr::kChannelSettsBase, n), setts::kLength, record.data(),
                       0);
}

// Folding one channel's value into a "same for all" state: -1 none yet, 3 mixed.
void Fold(int& state, int value) {
    if (state == -1 || state == value) {
        state = value;
    } else {
        state = 3;
    }
}

} // namespace

void ScaleCounterPair(ChannelSetts& record, int oldFactor, int newFactor) {
    if (newFactor <= 0) return;
    uint64_t w = 0;
    uint64_t kl = 0;
    if (oldFactor != 0) {
        // W * a is exact in extended precision; only the division rounds.
        w = Round40(static_cast<long double>(record.W()) * oldFactor / newFactor);
        kl = Round40(static_cast<long double>(record.KL()) * oldFactor / newFactor);
    } else {
        w = kl = Round40(2147483648.0L / (newFactor * 0.01L));
    }
    record.SetW(w);
    record.SetKL(kl);
    record.SetImpWkWLo(static_cast<uint32_t>(kl - w));
}

int ConvertMeterSettings(RecordStore& store, int meterType, int phase, int count) {
    if (count > kChannelCount) return -1;
    const int factor = setts::MeterFactor(meterType);
    int changed = 0;
    bool writeFailed = false;
    for (int n = 0; n < count; ++n) {
        ChannelSetts record;
        if (ReadChannelSetts(store, n, record) != 1) return -1;
        const ChannelSetts before = record;
        if (factor != 0 && factor != record.ImpLit()) {
            ScaleCounterPair(record, record.ImpLit(), factor);
            record.SetImpLit(static_cast<uint16_t>(factor));
        }
        if (phase >= 0 && phase < setts::kPhaseCount && phase != record.MeterPhase()) {
            record.SetMeterPhase(static_cast<uint8_t>(phase));
        }
        if (record == before) continue;
        bool written = false;
        for (int attempt = 0; attempt < kWriteAttempts && !written; ++attempt) {
            written = WriteChannelSetts(store, n, record).Ok();
        }
        if (written) {
            ++changed;
        } else {
            writeFailed = true;
        }
    }
    // Channels written but not restarted are not in effect: that fails the conversion too.
    if (changed > 0 && !store.IsDemo() && RestartConfirmed(store) != RestartResult::Ready)
        return -1;
    return writeFailed ? -1 : changed;
}

MeterDeriveOutcome DeriveCtrlrMeterSettings(RecordStore& store, int count, CtrlrParams& working,
                                            CtrlrParams& shadow) {
    if (count > kChannelCount) count = kChannelCount;
    int type = -1;
    int phase = -1;
    for (int n = 0; n < count; ++n) {
        ChannelSetts record;
        if (ReadChannelSetts(store, n, record) != 1) return {MeterDeriveCode::ReadFailed};
        const int t = setts::MeterTypeOfFactor(record.ImpLit());
        if (t >= 0) Fold(type, t);
        if (record.MeterPhase() < setts::kPhaseCount) Fold(phase, record.MeterPhase());
    }
    int result = 0;
    if (type != -1 && type != working.MeterType()) {
        working.SetMeterType(static_cast<uint8_t>(type));
        result |= 1;
    }
    if (phase != -1 && phase != working.PhaseMet()) {
        working.SetPhaseMet(static_cast<uint8_t>(phase));
        result |= 2;
    }
    if (result == 0) return {MeterDeriveCode::Derived, 0};
    working.UpdateKsm();
    if (!WriteParamsBlock(store, working).Ok()) return {MeterDeriveCode::WriteFailed};
    shadow = working;
    if (!store.IsDemo()) RestartConfirmed(store);
    return {MeterDeriveCode::Derived, result};
}

StoreResult WriteParamsBlock(RecordStore& store, const CtrlrParams& p) {
    const int address = store.IsDemo() ? addr::kParamsLength : addr::kParams;
    return store.Write(address, p.Length(), p.data(), 0);
}

} // namespace velmar
