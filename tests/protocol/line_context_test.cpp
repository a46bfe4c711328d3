// Each line keeps its own budgets, retry policy and reply learning: a port opened starts afresh,
// two lines run side by side on two threads without touching each other, and a ReplyChecks learns
// from its replies as the reads need.
#include "protocol/line_context.h"
#include "protocol/read_retry.h"
#include "sim/core/bus_simulator.h"
#include "test_support.h"

#include <array>
#include <gtest/gtest.h>
#include <thread>

namespace velmar::test {
namespace {

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
}

// One line: a simulator on a pseudo-terminal with its controller, the port opened to it.
struct SimLine {
    SimLine(uint32_t emulateBaud, bool checkBaud) : sim(Options(emulateBaud, checkBaud)) {}
    static sim::Options Options(uint32_t emulateBaud, bool checkBaud) {
        sim::Options options;
        options.addresses = {kCtrl};
        options.emulateBaud = emulateBaud;
        options.checkBaud = checkBaud;
        return options;
    }
    void Open(uint32_t baud) {
        ASSERT_EQ(sim.Start(), 0);
        ASSERT_EQ(OpenPort(slot, sim.SlavePath().c_str()), kPortOk);
        ASSERT_EQ(ConfigurePort(slot, baud, 8, 'N', 1), kPortOk);
    }
    // Fills the controller's make block with `fill`, so each line's data is its own.
    std::vector<uint8_t> Fill(uint8_t fill) {
        auto lock = sim.Lock();
        std::vector<uint8_t>& mem = sim.Find(kCtrl)->Space(kSpaceER);
        for (int i = 0; i < kMaxChunk; ++i) mem[kAddress + i] = static_cast<uint8_t>(fill + i);
        return {mem.begin() + kAddress, mem.begin() + kAddress + kMaxChunk};
    }
    static constexpr int kAddress = 0x5100;

    sim::BusSimulator sim;
    PortSlot slot = 0;
};

class LineContextTest : public ::testing::Test {
  protected:
    void SetUp() override { StartLayerWithTempLog(); }
    void TearDown() override {
        for (SimLine* line : {&slow, &fast}) {
            ClosePort(line->slot);
            line->sim.Stop();
        }
        StopPortLayer();
    }

    // The slow line: 4800 baud with line time, late replies, no checksum in them.
    SimLine slow{4800, true};
    // The fast line: 19200 baud, prompt replies with the checksum.
    SimLine fast{19200, false};
};

TEST_F(LineContextTest, APortOpenedStartsAfresh) {
    slow.Open(4800);
    const PortSlot slot = slow.slot;
    SetReadRetries(slot, kMaxReadRetries + 5);
    EXPECT_EQ(ReadRetries(slot), kMaxReadRetries) << "clamped";
    ProtocolTimeouts t = Timeouts(slot);
    t.addressPollMs = 1;
    SetTimeouts(slot, t);
    NoteTrailerNotChecksum(slot, kCtrl);
    NoteReplyLatency(slot, 9000);
    NoteReplyPace(slot, true);
    NoteReplyOwed(slot, 1234);
    CountRetriedRequest(slot);

    ClosePort(slot);
    for (PortSlot none : {PortSlot{0}, slot, PortSlot{kPortSlotCount + 1}}) {
        SCOPED_TRACE(none);
        EXPECT_EQ(LineOf(none), nullptr);
        CountRetriedRequest(none); // nothing to count on
        EXPECT_EQ(RetriedRequests(none), 0u);
        EXPECT_EQ(ReadRetries(none), kDefaultReadRetries);
    }

    ASSERT_EQ(OpenPort(slow.slot, slow.sim.SlavePath().c_str()), kPortOk);
    ASSERT_EQ(slow.slot, slot) << "the same slot again";
    EXPECT_EQ(ReadRetries(slot), kDefaultReadRetries);
    EXPECT_EQ(Timeouts(slot).addressPollMs, ProtocolTimeouts{}.addressPollMs);
    EXPECT_EQ(ReplyTrailer(slot, kCtrl), Trailer::Unknown);
    EXPECT_EQ(ControllersConfirmedByRereading(slot), std::vector<int>{});
    EXPECT_EQ(ReplyLatencyUs(slot), 0);
    EXPECT_FALSE(RepliesKeepLineTime(slot));
    EXPECT_FALSE(ReplyOwedPossible(slot));
    EXPECT_EQ(RetriedRequests(slot), 0u);
}

// Two lines at once, each on its own thread, with the same controller number on both: each reads
// its own controller's data, with its own budgets and retry count, and what the slow line learns
// of its controller (late replies, no checksum) leaves the fast line as it was.
TEST_F(LineContextTest, TwoLinesRunSideBySideOnTwoThreads) {
    constexpr int kSlowTurnaroundMs = 60;
    constexpr int kRounds = 4;
    slow.Open(4800);
    fast.Open(19200);
    ASSERT_NE(slow.slot, fast.slot);
    {
        auto lock = slow.sim.Lock();
        slow.sim.GetFaults().trailerNotChecksum = true;
        slow.sim.Find(kCtrl)->turnaroundMs = kSlowTurnaroundMs;
    }
    const std::vector<uint8_t> slowData = slow.Fill(0x10);
    const std::vector<uint8_t> fastData = fast.Fill(0xA0);

    ProtocolTimeouts fastBudgets;
    fastBudgets.readChunkStallMs = 150;
    fastBudgets.lengthReplyMs = 150;
    const auto run = [](const SimLine& line, int retries, const ProtocolTimeouts* budgets,
                        const std::vector<uint8_t>& want, int& right) {
        SetReadRetries(line.slot, retries);
        if (budgets != nullptr) SetTimeouts(line.slot, *budgets);
        for (int round = 0; round < kRounds; ++round) {
            std::vector<uint8_t> got(kMaxChunk);
            if (ReadCtrlrMem(line.slot, kCtrl, SimLine::kAddress, kMaxChunk, got.data(),
                             kSpaceER) == kMaxChunk &&
                got == want)
                ++right;
        }
    };
    int slowRight = 0;
    int fastRight = 0;
    std::thread slowThread(run, std::cref(slow), kMaxReadRetries, nullptr, std::cref(slowData),
                           std::ref(slowRight));
    std::thread fastThread(run, std::cref(fast), 0, &fastBudgets, std::cref(fastData),
                           std::ref(fastRight));
    slowThread.join();
    fastThread.join();

    EXPECT_EQ(slowRight, kRounds);
    EXPECT_EQ(fastRight, kRounds);
    EXPECT_EQ(ReadRetries(slow.slot), kMaxReadRetries);
    EXPECT_EQ(ReadRetries(fast.slot), 0);
    EXPECT_EQ(Timeouts(slow.slot).readChunkStallMs, ProtocolTimeouts{}.readChunkStallMs);
    EXPECT_EQ(Timeouts(fast.slot).readChunkStallMs, fastBudgets.readChunkStallMs);
    EXPECT_EQ(ReplyTrailer(slow.slot, kCtrl), Trailer::NotChecksum);
    // The same data read again teaches nothing of the trailer: the fast line still does not know.
    EXPECT_EQ(ReplyTrailer(fast.slot, kCtrl), Trailer::Unknown);
    EXPECT_EQ(ControllersConfirmedByRereading(fast.slot), std::vector<int>{});
    EXPECT_GE(ReplyLatencyUs(slow.slot), kSlowTurnaroundMs * 1000);
    EXPECT_LT(ReplyLatencyUs(fast.slot), kSlowTurnaroundMs * 1000);
    EXPECT_EQ(RetriedRequests(fast.slot), 0u);
}

} // namespace
} // namespace velmar::test
