// Each line keeps its own budgets, retry policy and reply learning: what one line learns or is
// set to leaves the others alone, and a ReplyChecks learns from its replies as the reads need.
#include "protocol/line_context.h"
#include "protocol/read_retry.h"

#include <array>
#include <gtest/gtest.h>

namespace velmar::test {
namespace {

constexpr PortSlot kLineA = 3;
constexpr PortSlot kLineB = 4;
constexpr int kCtrl = 7;

std::array<uint8_t, 4> Reply(uint8_t first) {
    return {first, 0x11, 0x22, 0x33};
}

TEST(ReplyChecksTest, TrailerIsLearntFromDistinctPassesOrOneNotice) {
    struct Case {
        const char* name;
        std::vector<uint8_t> passes; // first byte of each passing reply
        bool notChecksum;            // then noted as not a checksum
        Trailer expected;
    };
    const Case cases[] = {
        {"no reply yet", {}, false, Trailer::Unknown},
        {"the same data passing again", {1, 1, 1, 1}, false, Trailer::Unknown},
        {"two distinct passes", {1, 2}, false, Trailer::Unknown},
        {"three distinct passes", {1, 2, 1, 3}, false, Trailer::Checksum},
        {"not a checksum, after passes", {1, 2}, true, Trailer::NotChecksum},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReplyChecks checks;
        for (uint8_t first : c.passes) {
            const auto reply = Reply(first);
            checks.NotePassed(kCtrl, reply.data(), reply.size());
        }
        if (c.notChecksum) {
            EXPECT_TRUE(checks.NoteNotChecksum(kCtrl));
        }
        EXPECT_EQ(checks.TrailerOf(kCtrl), c.expected);
        EXPECT_EQ(checks.TrailerOf(kCtrl + 1), Trailer::Unknown);
        // The number's low byte names the controller.
        EXPECT_EQ(checks.TrailerOf(kCtrl + 0x100), c.expected);
        EXPECT_EQ(checks.ConfirmedByRereading(),
                  c.notChecksum ? std::vector<int>{kCtrl} : std::vector<int>{});
        checks.Forget();
        EXPECT_EQ(checks.TrailerOf(kCtrl), Trailer::Unknown);
    }
}

TEST(ReplyChecksTest, LatencyRisesAtOnceAndFallsSlowlyPaceFasterIsSticky) {
    ReplyChecks checks;
    checks.NoteLatency(3200);
    checks.NoteLatency(100);
    EXPECT_EQ(checks.LatencyUs(), 3200 - (3200 - 100) / 32);
    checks.NoteLatency(5000);
    EXPECT_EQ(checks.LatencyUs(), 5000);

    EXPECT_FALSE(checks.KeepsLineTime());
    checks.NotePace(true);
    EXPECT_TRUE(checks.KeepsLineTime());
    checks.NotePace(false);
    checks.NotePace(true);
    EXPECT_FALSE(checks.KeepsLineTime());

    checks.NoteOwed(42);
    EXPECT_EQ(checks.OwedSinceUs(), 42);
    checks.Forget();
    EXPECT_EQ(checks.LatencyUs(), 0);
    EXPECT_EQ(checks.OwedSinceUs(), 0);
    checks.NotePace(true);
    EXPECT_TRUE(checks.KeepsLineTime());
}

class TwoLinesTest : public ::testing::Test {
  protected:
    void SetUp() override { ResetRetriedRequests(); } // other tests' lines counted too
    void TearDown() override {
        SetReadRetries(kDefaultReadRetries);
        ResetRetriedRequests();
        ForgetReplyChecks();
        LineOf(kLineA).timeouts = ProtocolTimeouts{};
    }
};

TEST_F(TwoLinesTest, WhatOneLineLearnsOrIsSetToLeavesTheOtherAlone) {
    NoteTrailerNotChecksum(kLineA, kCtrl);
    NoteReplyLatency(kLineA, 9000);
    NoteReplyPace(kLineA, true);
    NoteReplyOwed(kLineA, 1234);
    LineOf(kLineA).retry.SetRetries(kMaxReadRetries);
    Timeouts(kLineA).addressPollMs = 1;
    CountRetriedRequest(kLineA);
    CountRetriedRequest(kLineA);
    CountRetriedRequest(kLineB);

    EXPECT_TRUE(RepliesConfirmedByRereading(kLineA, kCtrl));
    EXPECT_FALSE(RepliesConfirmedByRereading(kLineB, kCtrl));
    EXPECT_EQ(ControllersConfirmedByRereading(kLineB), std::vector<int>{});
    EXPECT_EQ(ReplyLatencyUs(kLineB), 0);
    EXPECT_FALSE(RepliesKeepLineTime(kLineB));
    EXPECT_FALSE(ReplyOwedPossible(kLineB));
    EXPECT_EQ(ReadRetries(kLineA), kMaxReadRetries);
    EXPECT_EQ(ReadRetries(kLineB), kDefaultReadRetries);
    EXPECT_EQ(Timeouts(kLineB).addressPollMs, ProtocolTimeouts{}.addressPollMs);
    EXPECT_EQ(LineOf(kLineA).retry.Retried(), 2u);
    EXPECT_EQ(LineOf(kLineB).retry.Retried(), 1u);
    EXPECT_EQ(RetriedRequests(), 3u) << "summed over the lines";
}

TEST_F(TwoLinesTest, SettingsWithoutASlotReachEveryLine) {
    SetReadRetries(kMaxReadRetries + 5);
    EXPECT_EQ(ReadRetries(), kMaxReadRetries) << "clamped";
    for (PortSlot slot : {PortSlot{0}, kLineA, kLineB, PortSlot{kPortSlotCount}})
        EXPECT_EQ(ReadRetries(slot), kMaxReadRetries);

    NoteTrailerNotChecksum(kLineA, kCtrl);
    NoteTrailerNotChecksum(kLineB, kCtrl);
    ForgetReplyChecks();
    EXPECT_EQ(ReplyTrailer(kLineA, kCtrl), Trailer::Unknown);
    EXPECT_EQ(ReplyTrailer(kLineB, kCtrl), Trailer::Unknown);

    CountRetriedRequest(kLineA);
    CountRetriedRequest(kLineB);
    ResetRetriedRequests();
    EXPECT_EQ(RetriedRequests(), 0u);
}

} // namespace
} // namespace velmar::test
