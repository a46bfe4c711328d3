// What velmar-cli's write commands put on the line, counted by the simulator by kind of request:
// their own writes, and nothing the write does not need.
#include "cli_bus_fixture.h"
#include "data/memory_map.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace velmar::test {
namespace {

class CliExchangesTest : public CliBusTest {};

int Chunks(int length) {
    return (length + kMaxChunk - 1) / kMaxChunk;
}

TEST_F(CliExchangesTest, WriteCommandsAskForNoIdentification) {
    auto r = Run({"image", "save", "saved.bin"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const struct {
        const char* name;
        std::vector<std::string> args;
    } commands[] = {
        {"write", {"write", "ER", "6000", "0A1B2C"}},
        {"defaults", {"defaults", "shelf"}},
        {"image load", {"image", "load", "saved.bin"}},
    };
    for (const auto& c : commands) {
        SCOPED_TRACE(c.name);
        const auto before = sim.FramesByKind();
        r = Run(c.args);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        const auto after = sim.FramesByKind();
        EXPECT_GT(after.writes, before.writes);
        EXPECT_EQ(after.idents, before.idents);
    }
}

// The factory defaults are their 36 records, in chunks, and the restart. Reads are not counted
// here: the device check before the writes is the sequence's own, and the journal reads the old
// values of records it never saw.
TEST_F(CliExchangesTest, DefaultsSendTheirWritesAndTheRestartOnly) {
    constexpr int kRestart = 1;
    const int records = Chunks(len::kParams) + 2 * Chunks(len::kSideState) +
                        Chunks(len::kMakeBlock) + kChannelCount * Chunks(len::kChannelSetts) +
                        kChannelCount * Chunks(len::kChannelRegs);
    const auto before = sim.FramesByKind();
    const auto r = Run({"defaults", "shelf"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto after = sim.FramesByKind();
    EXPECT_EQ(after.writes - before.writes, static_cast<uint64_t>(records + kRestart));
    EXPECT_EQ(after.idents, before.idents);
    EXPECT_EQ(after.polls, before.polls);
    {
        auto lock = sim.Lock();
        EXPECT_EQ(sim.Find(1)->restarts, kRestart);
    }
}

// Side B's state counts (its transaction count) as the registers do: a refused chunk is read back,
// and found counted on meanwhile, it is not sent again over the count.
TEST_F(CliExchangesTest, ASideStateRefusedWhileCountingIsNotSentAgain) {
    constexpr int kTransactionCount = addr::kSideStateB + 6;
    constexpr uint8_t kRefusal = 0x01;
    {
        auto lock = sim.Lock();
        sim.GetFaults().countingAddress = kTransactionCount;
        sim.GetFaults().writeStatusAddress = addr::kSideStateB;
        sim.GetFaults().writeStatus = kRefusal;
    }
    const auto before = sim.FramesByKind();
    const auto r = Run({"write", "ER", "4100", "000000000000000000000000"});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_EQ(r.err, "Ошибка записи ER: контроллер сам изменил эти байты во время записи, "
                     "повторно они не записаны; прочитайте их заново\n");
    const auto after = sim.FramesByKind();
    EXPECT_EQ(after.writes - before.writes, 1u);
    EXPECT_GT(after.reads, before.reads) << "read back";
}

} // namespace
} // namespace velmar::test
