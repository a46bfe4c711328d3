#include "data/meter_settings.h"
#include "fake_store.h"

#include <gtest/gtest.h>

namespace velmar {
namespace {

ChannelSetts Setts(uint64_t w, uint64_t kl, uint16_t factor, uint8_t phase) {
    ChannelSetts s;
    s.SetW(w);
    s.SetKL(kl);
    s.SetImpWkWLo(static_cast<uint32_t>(kl - w));
    s.SetImpLit(factor);
    s.SetMeterPhase(phase);
    s.SetCountKor(7);
    return s;
}

void Put(test::FakeStore& store, int n, const ChannelSetts& s) {
    std::memcpy(store.At(ChannelAddress(addr::kChannelSettsBase, n)), s.data(), s.size());
}

ChannelSetts Get(test::FakeStore& store, int n) {
    return ChannelSetts(
        std::span<const uint8_t>(store.At(ChannelAddress(addr::kChannelSettsBase, n)), 19));
}

TEST(ScaleCounterPair, RoundsHalfUpAndRefreshesTheDifference) {
    ChannelSetts s = Setts(1000, 3, 200, 0);
    ScaleCounterPair(s, 200, 512);
    EXPECT_EQ(s.W(), 391u);               // 390.625
    EXPECT_EQ(s.KL(), 1u);                // 1.171875
    EXPECT_EQ(s.ImpWkWLo(), 0xFFFFFE7Au); // (1 - 391) mod 2^32
    EXPECT_EQ(s.ImpLit(), 200u);          // the factor is the caller's to store
    EXPECT_EQ(s.CountKor(), 7u);

    ChannelSetts half = Setts(5, 7, 0, 0);
    ScaleCounterPair(half, 200, 400); // 2.5 and 3.5
    EXPECT_EQ(half.W(), 3u);
    EXPECT_EQ(half.KL(), 4u);
}

TEST(ScaleCounterPair, UsesAllFortyBits) {
    ChannelSetts s = Setts(uint64_t{1} << 32, uint64_t{1} << 32, 200, 0);
    ScaleCounterPair(s, 512, 200);
    EXPECT_EQ(s.W(), 0x28F5C28F6u); // 2^32 * 2.56, rounded
    EXPECT_EQ(s.ImpWHi(), 2u);
    EXPECT_EQ(s.ImpWkWLo(), 0u);

    // Beyond 40 bits the value is held at the top instead of wrapping to a small number.
    ChannelSetts big = Setts((uint64_t{1} << 40) - 1, 1, 200, 0);
    ScaleCounterPair(big, 512, 200);
    EXPECT_EQ(big.W(), (uint64_t{1} << 40) - 1);
}

TEST(ScaleCounterPair, FactorZeroSetsTheUncalibratedValue) {
    for (auto [factor, expected] :
         {std::pair{200, 1073741824u}, std::pair{512, 419430400u}, std::pair{264, 813440776u}}) {
        ChannelSetts s = Setts(12345, 678, 0, 0);
        ScaleCounterPair(s, 0, factor);
        EXPECT_EQ(s.W(), expected) << factor;
        EXPECT_EQ(s.KL(), expected) << factor;
        EXPECT_EQ(s.ImpWkWLo(), 0u);
    }
    // A new factor of 0 would divide by zero: nothing changes.
    ChannelSetts s = Setts(12345, 678, 200, 0);
    const ChannelSetts before = s;
    ScaleCounterPair(s, 200, 0);
    EXPECT_EQ(s, before);
}

TEST(ConvertMeterSettings, ScalesChangedChannelsAndRestartsOnce) {
    test::FakeStore store;
    Put(store, 0, Setts(2000, 4000, 200, 0));
    Put(store, 1, Setts(2000, 4000, 512, 1));
    Put(store, 2, Setts(0, 0, 0, 2));
    Put(store, 3, Setts(2000, 4000, 200, 0)); // beyond the count: untouched

    EXPECT_EQ(ConvertMeterSettings(store, 1, 1, 3), 2);
    EXPECT_EQ(Get(store, 0).ImpLit(), 512u);
    EXPECT_EQ(Get(store, 0).W(), 781u); // 2000 * 200 / 512 = 781.25
    EXPECT_EQ(Get(store, 0).MeterPhase(), 1u);
    EXPECT_EQ(Get(store, 1).W(), 2000u); // already 512 and phase 1: not written
    EXPECT_EQ(Get(store, 2).W(), 419430400u);
    EXPECT_EQ(Get(store, 2).MeterPhase(), 1u);
    EXPECT_EQ(Get(store, 3).ImpLit(), 200u);
    EXPECT_EQ(store.restarts, 1);
    EXPECT_EQ(std::count(store.writes.begin(), store.writes.end(),
                         ChannelAddress(addr::kChannelSettsBase, 1)),
              0);
}

// A channel write is tried again only after a failure: a written channel is not written twice.
TEST(ConvertMeterSettings, WriteRetryStopsAfterASuccess) {
    for (const int failures : {0, 1, 2}) {
        test::FakeStore store;
        Put(store, 0, Setts(2000, 4000, 200, 0));
        const int at = ChannelAddress(addr::kChannelSettsBase, 0);
        store.failNextWrites[at] = failures;
        EXPECT_EQ(ConvertMeterSettings(store, 1, 1, 1), 1) << failures;
        EXPECT_EQ(std::count(store.writes.begin(), store.writes.end(), at), failures + 1)
            << failures;
    }
}

TEST(ConvertMeterSettings, ManualTypeAndPhaseLeaveChannelsAlone) {
    test::FakeStore store;
    Put(store, 0, Setts(2000, 4000, 200, 0));
    Put(store, 1, Setts(2000, 4000, 512, 2));
    EXPECT_EQ(ConvertMeterSettings(store, 3, 3, 2), 0);
    EXPECT_TRUE(store.writes.empty());
    EXPECT_EQ(store.restarts, 0);
}

TEST(ConvertMeterSettings, FailuresAreReported) {
    test::FakeStore store;
    for (int n = 0; n < 4; ++n) Put(store, n, Setts(2000, 4000, 200, 0));
    EXPECT_EQ(ConvertMeterSettings(store, 1, 0, 17), -1);

    // A read failure stops at once; the channels before it stay converted.
    store.failRead.insert(ChannelAddress(addr::kChannelSettsBase, 2));
    EXPECT_EQ(ConvertMeterSettings(store, 1, 0, 4), -1);
    EXPECT_EQ(Get(store, 1).ImpLit(), 512u);
    EXPECT_EQ(Get(store, 3).ImpLit(), 200u);

    // A channel that cannot be written after three attempts is a failure too, but the other
    // channels are still converted.
    store.failRead.clear();
    store.failWrite.insert(ChannelAddress(addr::kChannelSettsBase, 2));
    store.writes.clear();
    EXPECT_EQ(ConvertMeterSettings(store, 2, 0, 4), -1);
    EXPECT_EQ(std::count(store.writes.begin(), store.writes.end(),
                         ChannelAddress(addr::kChannelSettsBase, 2)),
              3);
    EXPECT_EQ(Get(store, 3).ImpLit(), 264u);

    // Written but not restarted: not in effect.
    store.failWrite.clear();
    store.failRestart = true;
    EXPECT_EQ(ConvertMeterSettings(store, 0, 0, 4), -1);
}

CtrlrParams Block(uint8_t meterType, uint8_t phase) {
    CtrlrParams p;
    p.SetCountNozTrk(2);
    p.SetCountSideTrk(1);
    p.SetMeterType(meterType);
    p.SetPhaseMet(phase);
    p.UpdateKsm();
    return p;
}

MeterDeriveOutcome Derived(int changed) {
    return {MeterDeriveCode::Derived, changed};
}
MeterDeriveOutcome Failed(MeterDeriveCode code) {
    return {code};
}

TEST(DeriveCtrlrMeterSettings, MixedFactorsGiveTheManualType) {
    test::FakeStore store;
    Put(store, 0, Setts(1, 1, 200, 1));
    Put(store, 1, Setts(1, 1, 512, 1));
    CtrlrParams working = Block(0, 0);
    CtrlrParams shadow = working;

    EXPECT_EQ(DeriveCtrlrMeterSettings(store, 2, working, shadow), Derived(3));
    EXPECT_EQ(working.MeterType(), 3u);
    EXPECT_EQ(working.PhaseMet(), 1u);
    EXPECT_TRUE(working.KsmValid());
    EXPECT_TRUE(shadow.SameBlock(working));
    const CtrlrParams written(store.At(addr::kParams), 58);
    EXPECT_TRUE(written.SameBlock(working));
    EXPECT_EQ(store.restarts, 1);

    // Nothing differs any more: no write.
    store.writes.clear();
    EXPECT_EQ(DeriveCtrlrMeterSettings(store, 2, working, shadow), Derived(0));
    EXPECT_TRUE(store.writes.empty());
}

TEST(DeriveCtrlrMeterSettings, SharedValuesAndUnknownFactors) {
    test::FakeStore store;
    Put(store, 0, Setts(1, 1, 264, 0));
    Put(store, 1, Setts(1, 1, 0, 7)); // no type, no phase: no vote
    Put(store, 2, Setts(1, 1, 264, 2));
    CtrlrParams working = Block(0, 0);
    CtrlrParams shadow = working;
    EXPECT_EQ(DeriveCtrlrMeterSettings(store, 3, working, shadow), Derived(3));
    EXPECT_EQ(working.MeterType(), 2u);
    EXPECT_EQ(working.PhaseMet(), 3u);

    // Channels without any known factor or phase leave the block as it is.
    test::FakeStore blank;
    Put(blank, 0, Setts(1, 1, 0, 9));
    Put(blank, 1, Setts(1, 1, 100, 3));
    CtrlrParams w2 = Block(1, 1);
    CtrlrParams s2 = w2;
    EXPECT_EQ(DeriveCtrlrMeterSettings(blank, 2, w2, s2), Derived(0));
    EXPECT_EQ(w2.MeterType(), 1u);
}

TEST(DeriveCtrlrMeterSettings, FailuresLeaveTheShadow) {
    test::FakeStore store;
    Put(store, 0, Setts(1, 1, 512, 1));
    CtrlrParams working = Block(0, 0);
    CtrlrParams shadow = working;
    store.failRead.insert(ChannelAddress(addr::kChannelSettsBase, 0));
    EXPECT_EQ(DeriveCtrlrMeterSettings(store, 1, working, shadow),
              Failed(MeterDeriveCode::ReadFailed));
    EXPECT_EQ(working.MeterType(), 0u);

    store.failRead.clear();
    store.failWrite.insert(addr::kParams);
    EXPECT_EQ(DeriveCtrlrMeterSettings(store, 1, working, shadow),
              Failed(MeterDeriveCode::WriteFailed));
    EXPECT_EQ(shadow.MeterType(), 0u);
    EXPECT_EQ(store.restarts, 0);
}

TEST(DeriveCtrlrMeterSettings, DemoWritesTheImageEntryWithoutRestart) {
    test::FakeStore store(true);
    Put(store, 0, Setts(1, 1, 512, 1));
    CtrlrParams working = Block(0, 0);
    CtrlrParams shadow = working;
    EXPECT_EQ(DeriveCtrlrMeterSettings(store, 1, working, shadow), Derived(3));
    ASSERT_FALSE(store.writes.empty());
    EXPECT_EQ(store.writes.back(), addr::kParamsLength);
    EXPECT_EQ(store.restarts, 0);
}

} // namespace
} // namespace velmar
