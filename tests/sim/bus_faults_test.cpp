// Injected faults and line-time emulation.
#include "sim/core/controller_layout.h"
#include "sim/sim_fixture.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <thread>
#include <tuple>

namespace velmar::sim::test {
namespace {

namespace L = layout;
using std::chrono::milliseconds;

Bytes IdentText(RawLine& line, uint8_t ctrl) {
    line.Purge();
    line.Send(Join(Command(ctrl, 0x00), {0x31}));
    return line.ReadQuiet();
}

TEST_F(BusTest, ReplyFaults) {
    StartBus();
    const Bytes good = Poll(*line, 1);
    ASSERT_EQ(good.size(), 4u);

    WithFaults([](Faults& f) { f.noAnswer = true; });
    EXPECT_TRUE(Poll(*line, 1).empty());
    WithFaults([](Faults& f) { f.noAnswer = false; });

    WithFaults([](Faults& f) { f.dropReplies = 1; });
    EXPECT_TRUE(Poll(*line, 1).empty());
    EXPECT_EQ(Poll(*line, 1), good);

    WithFaults([](Faults& f) { f.corruptReplies = 1; });
    Bytes r = Poll(*line, 1);
    ASSERT_EQ(r.size(), 4u);
    EXPECT_NE(Checksum({r[0], r[1], r[2]}), r[3]);
    EXPECT_EQ(Poll(*line, 1), good);

    WithFaults([](Faults& f) { f.truncateReplies = 1; });
    line->Send(Command(1, 0x21));
    EXPECT_EQ(line->ReadQuiet(), Bytes(good.begin(), good.end() - 1));

    WithFaults([](Faults& f) { f.extraReplyBytes = 2; });
    line->Purge();
    line->Send(Command(1, 0x21));
    r = line->ReadQuiet();
    ASSERT_EQ(r.size(), 6u);
    EXPECT_EQ(Bytes(r.begin(), r.begin() + 4), good);
    WithFaults([](Faults& f) { f.extraReplyBytes = 0; });

    WithFaults([](Faults& f) { f.wrongPollEcho = true; });
    r = Poll(*line, 1);
    ASSERT_EQ(r.size(), 4u);
    EXPECT_NE(r[1], 0x21);
    EXPECT_EQ(Checksum({r[0], r[1], r[2]}), r[3]);
}

TEST_F(BusTest, IdentificationFaults) {
    StartBus();
    const Bytes full = IdentText(*line, 1);
    ASSERT_EQ(full.back(), 0);

    WithFaults([](Faults& f) { f.identWithoutZero = true; });
    EXPECT_EQ(IdentText(*line, 1), Bytes(full.begin(), full.end() - 1));
    WithFaults([](Faults& f) { f.identWithoutZero = false; });

    WithFaults([](Faults& f) { f.noIdentAnswer = true; });
    EXPECT_TRUE(IdentText(*line, 1).empty());
    EXPECT_EQ(Poll(*line, 1).size(), 4u);
}

TEST_F(BusTest, RefusedWriteStoresNothing) {
    StartBus();
    WithFaults([](Faults& f) {
        f.writeStatusAddress = 0x5005;
        f.writeStatus = 0x07;
    });
    const uint8_t before = Peek(1, 0x5004, 1)[0];
    EXPECT_EQ(WriteMem(*line, 1, 0x5004, {0xEE, 0xEE}), 0x07);
    EXPECT_EQ(WriteMem(*line, 1, 0x5005, {0xEE}), 0x07);
    EXPECT_EQ(Peek(1, 0x5004, 1)[0], before);
    EXPECT_EQ(WriteMem(*line, 1, 0x5006, {0xEE}), 0x00); // other addresses are fine
}

TEST_F(BusTest, DeafAfterRestart) {
    StartBus();
    WithFaults([](Faults& f) { f.deafAfterRestartMs = 400; });
    EXPECT_EQ(WriteMem(*line, 1, L::kRestartTarget, {0x01}), 0);
    const auto restarted = std::chrono::steady_clock::now();
    EXPECT_TRUE(Poll(*line, 1).empty()); // within the 400 ms
    // It answers again once the time is up, and not before.
    Bytes answer;
    for (int i = 0; i < 50 && answer.empty(); ++i) answer = Poll(*line, 1);
    EXPECT_EQ(answer.size(), 4u);
    EXPECT_GE(std::chrono::steady_clock::now() - restarted, milliseconds(400));
}

// Controllers that stay within the protocol yet differ from the default one.
TEST_F(BusTest, VaryingTrailerLostRestartStatusAndRepliesInPieces) {
    StartBus();
    WithFaults([](Faults& f) { f.trailerVaries = true; });
    const Bytes a = ReadMem(*line, 1, 0x2000, 8);
    const Bytes b = ReadMem(*line, 1, 0x2000, 8);
    ASSERT_EQ(a.size(), 9u);
    ASSERT_EQ(b.size(), 9u);
    EXPECT_TRUE(std::equal(a.begin(), a.end() - 1, b.begin())) << "the same data";
    EXPECT_NE(a.back(), b.back()) << "another trailing byte";
    EXPECT_NE(a.back(), SimChecksum(a.data(), 8));
    EXPECT_NE(b.back(), SimChecksum(b.data(), 8));

    // The restart is carried out, its status never sent; the next one answers again.
    WithFaults([](Faults& f) {
        f = Faults{};
        f.loseRestartStatus = 1;
    });
    EXPECT_EQ(WriteMem(*line, 1, L::kRestartTarget, {0x01}), -1);
    EXPECT_EQ(At(1)->restarts, 1);
    EXPECT_EQ(WriteMem(*line, 1, L::kRestartTarget, {0x01}), 0);
    EXPECT_EQ(At(1)->restarts, 2);

    // Three pieces 60 ms apart: the whole reply, arriving over at least two gaps.
    WithFaults([](Faults& f) {
        f = Faults{};
        f.replyPieces = 3;
        f.replyPieceGapMs = 60;
    });
    line->arrivals.clear();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ReadMem(*line, 1, 0x2000, 20).size(), 21u);
    ASSERT_FALSE(line->arrivals.empty());
    EXPECT_GE(line->arrivals.back() - start, milliseconds(2 * 60));
}

TEST_F(BusTest, EachControllerRepliesAfterItsOwnTurnaround) {
    Options o;
    o.addresses = {1, 5};
    StartBus(o);
    {
        auto lock = bus->Lock();
        bus->Find(5)->turnaroundMs = 80;
    }
    for (const auto& [number, atLeast, below] : {std::tuple{1, 0, 60}, std::tuple{5, 80, 3000}}) {
        line->Purge();
        line->arrivals.clear();
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(Poll(*line, static_cast<uint8_t>(number)).size(), 4u) << number;
        ASSERT_FALSE(line->arrivals.empty());
        EXPECT_GE(line->arrivals.front() - start, milliseconds(atLeast)) << number;
        EXPECT_LT(line->arrivals.front() - start, milliseconds(below)) << number;
    }
}

TEST_F(BusTest, WithoutEmulationRepliesComeAtOnce) {
    StartBus();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ReadMem(*line, 1, 0x2000, 40).size(), 41u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(1500));
}

TEST_F(BusTest, LineTimeIsEmulated) {
    Options o;
    o.emulateBaud = 4800; // 2.083 ms a byte
    StartBus(o);
    const auto start = std::chrono::steady_clock::now();
    const Bytes r = ReadMem(*line, 1, 0x2000, 40, 0); // 12 bytes out, 41 back
    ASSERT_EQ(r.size(), 41u);
    // The reply starts after the 12 request bytes were on the line (25 ms) and takes 41 byte
    // times (85 ms) more. A late reader only makes these longer.
    EXPECT_GE(line->arrivals.front() - start, milliseconds(25));
    EXPECT_GE(line->arrivals.back() - start, milliseconds(105));
    EXPECT_LT(line->arrivals.back() - start, milliseconds(3000));
    // The bytes came in pieces, not as one block.
    size_t pieces = 1;
    for (size_t i = 1; i < line->arrivals.size(); ++i)
        if (line->arrivals[i] != line->arrivals[i - 1]) ++pieces;
    EXPECT_GE(pieces, 2u);
}

} // namespace
} // namespace velmar::sim::test

namespace velmar::sim::test {
namespace {

double ProcessCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

TEST_F(BusTest, ToolThatDoesNotReadDoesNotStallTheBus) {
    StartBus();
    // Far more reply bytes than the terminal holds.
    Bytes polls;
    for (int i = 0; i < 25000; ++i) polls = Join(std::move(polls), Command(1, 0x21));
    line->Send(polls);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const double cpu = ProcessCpuMs();
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_LT(ProcessCpuMs() - cpu, 50.0); // waiting for room (a spinning bus takes ~150)
    // Once the tool reads again every reply arrives and the line works as before.
    EXPECT_EQ(line->ReadQuiet(300, 20000).size(), 25000u * 4u);
    EXPECT_EQ(Poll(*line, 1).size(), 4u);
}

} // namespace
} // namespace velmar::sim::test

namespace velmar::sim::test {
namespace {

Bytes RawRead(RawLine& line, uint32_t address, uint8_t count) {
    line.Purge();
    line.Send(Join(Command(1, 0x48), ReadHeader(address, count)));
    return line.ReadQuiet();
}

// Each kind of line noise at rate 1 hits every reply in its own way.
TEST_F(BusTest, LineNoiseKinds) {
    StartBus();
    const Bytes good = RawRead(*line, 0x3101, 8);
    ASSERT_EQ(good.size(), 9u);
    struct Case {
        const char* kind;
        void (*set)(Faults&);
        bool (*fits)(const Bytes& good, const Bytes& got);
    };
    const Case cases[] = {
        {"loss", [](Faults& f) { f.lossRate = 1; },
         [](const Bytes&, const Bytes& got) { return got.empty(); }},
        {"cut", [](Faults& f) { f.cutRate = 1; },
         [](const Bytes& g, const Bytes& got) { return got == Bytes(g.begin(), g.end() - 1); }},
        {"flip", [](Faults& f) { f.flipRate = 1; },
         [](const Bytes& g, const Bytes& got) {
             int bits = 0;
             for (size_t i = 0; got.size() == g.size() && i < g.size(); ++i)
                 bits += __builtin_popcount(g[i] ^ got[i]);
             return bits == 1;
         }},
        {"add", [](Faults& f) { f.addRate = 1; },
         [](const Bytes& g, const Bytes& got) {
             for (size_t i = 0; i < got.size(); ++i) {
                 Bytes less = got;
                 less.erase(less.begin() + static_cast<std::ptrdiff_t>(i));
                 if (less == g) return true;
             }
             return false;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        WithFaults([&](Faults& f) {
            f = Faults{};
            c.set(f);
        });
        for (int i = 0; i < 3; ++i) EXPECT_TRUE(c.fits(good, RawRead(*line, 0x3101, 8)));
    }

    // The same seed gives the same damage again.
    WithFaults([](Faults& f) {
        f = Faults{};
        f.flipRate = 0.5;
        f.noiseSeed = 11;
    });
    std::vector<Bytes> first, again;
    for (int i = 0; i < 6; ++i) first.push_back(RawRead(*line, 0x3101, 8));
    WithFaults([](Faults& f) { f.noiseSeed = 12; });
    RawRead(*line, 0x3101, 8);
    WithFaults([](Faults& f) { f.noiseSeed = 11; });
    for (int i = 0; i < 6; ++i) again.push_back(RawRead(*line, 0x3101, 8));
    EXPECT_EQ(first, again);
    EXPECT_NE(std::count(first.begin(), first.end(), good), 6);
}

TEST_F(BusTest, TrailingByteThatIsNotAChecksum) {
    StartBus();
    WithFaults([](Faults& f) { f.trailerNotChecksum = true; });
    const Bytes r = RawRead(*line, 0x3101, 8);
    ASSERT_EQ(r.size(), 9u);
    uint8_t sum = 0;
    for (size_t i = 0; i < 8; ++i) sum = static_cast<uint8_t>(sum + r[i]);
    EXPECT_EQ(r.back(), sum);
    EXPECT_EQ(Bytes(r.begin(), r.end() - 1), Peek(1, 0x3101, 8));
}

} // namespace
} // namespace velmar::sim::test
