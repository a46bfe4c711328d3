// Reads over a noisy line against the simulator: verified replies, repeated requests, the
// controller whose trailing byte is not a checksum, and the exchange log's account of it.
#include "data/device_image.h"
#include "data/live_store.h"
#include "data/memory_map.h"
#include "link/exchange_log.h"
#include "protocol/read_retry.h"
#include "sim_line_fixture.h"

#include <array>
#include <cstdio>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace velmar::test {
namespace {

constexpr int kRegsLength = 69; // two requests: 40 + 29 bytes

class ReadRetryTest : public SimLineTest {
  protected:
    void SetUp() override {
        SimLineTest::SetUp();
        if (HasFatalFailure()) return;
        logStart = FileText(ExchangeLogPath()).size();
    }
    // Reads channel 5's registers; the bytes read (all 0xEE when the read failed).
    int ReadRegs(std::vector<uint8_t>& out, int ctrl = 1) {
        out.assign(kRegsLength, 0xEE);
        return ReadCtrlrMem(slot, ctrl, RegsAt(), kRegsLength, out.data(), kSpaceER);
    }
    static int RegsAt() { return ChannelAddress(addr::kChannelRegsBase, 5); }
    // Reads records with different data until the controller is known to send the checksum.
    void LearnChecksum() {
        std::array<uint8_t, 256> buf{};
        for (int address : {addr::kSizes, addr::kParams, addr::kMakeBlock}) {
            if (ReplyTrailer(slot, 1) == Trailer::Checksum) break;
            ASSERT_GT(ReadCtrlrMem(slot, 1, address, 7, buf.data(), kSpaceER), 0);
        }
        ASSERT_EQ(ReplyTrailer(slot, 1), Trailer::Checksum);
        retriedBefore = RetriedRequests(slot);
        logStart = FileText(ExchangeLogPath()).size();
    }
    static std::string FileText(const std::string& path) {
        std::string text;
        if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
            char buf[4096];
            for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, n);
            std::fclose(f);
        }
        return text;
    }
    // Requests retried since the port was opened, or since the checksum was learnt.
    uint64_t Retried() const { return RetriedRequests(slot) - retriedBefore; }
    // What this test added to the exchange log.
    std::string Log() const { return FileText(ExchangeLogPath()).substr(logStart); }
    static size_t Count(const std::string& text, const char* utf8) {
        const std::string needle = Utf8ToCp866(utf8);
        size_t n = 0;
        for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
            ++n;
        return n;
    }

    size_t logStart = 0;
    uint64_t retriedBefore = 0;
};

TEST_F(ReadRetryTest, OneBrokenReplyIsAskedForAgain) {
    struct Case {
        const char* fault;
        std::function<void(sim::Faults&)> set;
    };
    const Case cases[] = {
        {"lost", [](sim::Faults& f) { f.dropReplies = 1; }},
        {"cut short", [](sim::Faults& f) { f.truncateReplies = 1; }},
        {"garbled", [](sim::Faults& f) { f.corruptReplies = 1; }},
    };
    const std::vector<uint8_t> memory = Memory(RegsAt(), kRegsLength);
    std::vector<uint8_t> got;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        SetReadRetries(slot, kDefaultReadRetries);
        WithFaults(c.set);
        EXPECT_EQ(ReadRegs(got), kRegsLength);
        EXPECT_EQ(got, memory);
        WithFaults([](sim::Faults& f) { f = sim::Faults{}; });

        // No retries: the read fails, and stores nothing.
        SetReadRetries(slot, 0);
        WithFaults(c.set);
        EXPECT_EQ(ReadRegs(got), -1);
        EXPECT_EQ(got, std::vector<uint8_t>(kRegsLength, 0xEE));
        WithFaults([](sim::Faults& f) { f = sim::Faults{}; });
    }

    // A longer reply, here seen whole at once, is never taken: every attempt fails.
    SetReadRetries(slot, kDefaultReadRetries);
    WithFaults([](sim::Faults& f) { f.extraReplyBytes = 1; });
    EXPECT_EQ(ReadRegs(got), -1);
}

TEST_F(ReadRetryTest, NoFaultMixYieldsWrongBytes) {
    WithFaults([](sim::Faults& f) {
        f.flipRate = 0.08;
        f.lossRate = 0.04;
        f.cutRate = 0.04;
        f.addRate = 0.08;
        f.noiseSeed = 7;
    });
    int ctrl = 1;
    LiveRecordStore store(slot, ctrl);
    int good = 0;
    for (int round = 0; round < 12; ++round) {
        const int address = round % 3 == 0   ? addr::kParamsLength
                            : round % 3 == 1 ? RegsAt()
                                             : addr::kMakeBlock;
        const int length = round % 3 == 0 ? -1 : round % 3 == 1 ? kRegsLength : len::kMakeBlock;
        std::array<uint8_t, kSelfSizedMax> got{};
        const StoreResult read = store.Read(address, length, got.data());
        if (!read.Ok()) continue;
        const int n = read.Length();
        ++good;
        const int from = length < 0 ? address + 1 : address;
        EXPECT_EQ(Bytes(got.data(), static_cast<size_t>(n)), Memory(from, n)) << "round " << round;
    }
    EXPECT_GT(good, 6) << "retries get most reads through";

    // A whole image: saved right, or refused with the old file left alone.
    const std::string path = ExchangeLogPath() + ".image";
    for (int round = 0; round < 2; ++round) {
        { std::ofstream(path, std::ios::binary | std::ios::trunc) << "old"; }
        const ImageSaveResult saved = SaveDeviceImage(store, path);
        const std::string text = FileText(path);
        const std::vector<uint8_t> file(text.begin(), text.end());
        if (saved == ImageSaveResult::Saved) {
            auto lock = sim.Lock();
            EXPECT_EQ(file, sim.Find(1)->ImageBytes());
        } else {
            EXPECT_EQ(file, (std::vector<uint8_t>{'o', 'l', 'd'}));
        }
    }
    EXPECT_GT(Retried(), 0u);
}

TEST_F(ReadRetryTest, ControllerWithoutChecksumOnANoisyLineSavesItsImageRight) {
    WithFaults([](sim::Faults& f) {
        f.trailerNotChecksum = true;
        f.flipRate = 0.03;
        f.lossRate = 0.02;
        f.cutRate = 0.01;
        f.addRate = 0.01;
        f.noiseSeed = 11;
    });
    int ctrl = 1;
    LiveRecordStore store(slot, ctrl);
    std::vector<uint8_t> memory;
    {
        auto lock = sim.Lock();
        memory = sim.Find(1)->ImageBytes();
    }
    int saved = 0;
    for (int round = 0; round < 3; ++round) {
        std::vector<uint8_t> image;
        if (ReadDeviceImage(store, image) != ImageSaveResult::Saved) continue;
        ++saved;
        EXPECT_EQ(image, memory) << "round " << round;
    }
    EXPECT_GE(saved, 2);
    EXPECT_TRUE(RepliesConfirmedByRereading(slot, 1));
}

TEST_F(ReadRetryTest, ControllerThatSendsTheChecksumPaysNothingExtra) {
    std::vector<uint8_t> got;
    // Until the checksum is known each request is confirmed: the first read costs two more.
    uint64_t frames = sim.FramesSeen();
    EXPECT_EQ(ReadRegs(got), kRegsLength);
    EXPECT_EQ(sim.FramesSeen() - frames, 4u);
    EXPECT_EQ(ReplyTrailer(slot, 1), Trailer::Unknown);
    std::array<uint8_t, 7> sizes{};
    EXPECT_EQ(ReadCtrlrMem(slot, 1, addr::kSizes, 7, sizes.data(), kSpaceER), 7);
    EXPECT_EQ(ReplyTrailer(slot, 1), Trailer::Checksum);

    frames = sim.FramesSeen();
    for (int i = 0; i < 3; ++i) EXPECT_EQ(ReadRegs(got), kRegsLength);
    EXPECT_EQ(sim.FramesSeen() - frames, 6u) << "two requests a read";
    EXPECT_EQ(Retried(), 0u);
    EXPECT_FALSE(RepliesConfirmedByRereading(slot, 1));
}

// A line that seemed to keep its time (the first replies came late: a busy machine, a slow
// gateway) and then answers faster than its speed allows: the fast replies are read, confirmed
// once, and the port is known to be fast from then on.
TEST_F(ReadRetryTest, FastRepliesAfterSlowOnesAreReadNotRefusedForever) {
    constexpr int kSlowTurnaroundMs = 150; // later than the line time, within the wait
    const auto turnaround = [&](int ms) {
        auto lock = sim.Lock();
        sim.Find(1)->turnaroundMs = ms;
    };
    std::vector<uint8_t> got;
    turnaround(kSlowTurnaroundMs);
    ASSERT_EQ(ReadRegs(got), kRegsLength);
    ASSERT_TRUE(RepliesKeepLineTime(slot));
    turnaround(0);
    EXPECT_EQ(ReadRegs(got), kRegsLength);
    EXPECT_EQ(got, Memory(RegsAt(), kRegsLength));
    EXPECT_FALSE(RepliesKeepLineTime(slot));
}

TEST_F(ReadRetryTest, ControllerWithoutChecksumHasEveryReplyConfirmed) {
    SetLogMask(1);
    WithFaults([](sim::Faults& f) { f.trailerNotChecksum = true; });
    const std::vector<uint8_t> memory = Memory(RegsAt(), kRegsLength);
    std::vector<uint8_t> got;
    // Three identical failed replies show what the controller is; from then on two a request.
    uint64_t frames = sim.FramesSeen();
    EXPECT_EQ(ReadRegs(got), kRegsLength);
    EXPECT_EQ(got, memory);
    EXPECT_EQ(sim.FramesSeen() - frames, 5u);
    EXPECT_TRUE(RepliesConfirmedByRereading(slot, 1));

    frames = sim.FramesSeen();
    for (int i = 0; i < 3; ++i) EXPECT_EQ(ReadRegs(got), kRegsLength);
    EXPECT_EQ(got, memory);
    EXPECT_EQ(sim.FramesSeen() - frames, 12u) << "confirmation is never switched off";
    EXPECT_EQ(Retried(), 1u) << "only the first request needed a read beyond two";
    const std::string log = Log();
    EXPECT_EQ(Count(log, "каждый ответ подтверждается повторным чтением"), 1u);
    EXPECT_EQ(Count(log, "не прошел проверку"), 2u);

    // Another controller number starts unknown; the port opened again knows no controller.
    EXPECT_EQ(ReplyTrailer(slot, 2), Trailer::Unknown);
    EXPECT_EQ(ControllersConfirmedByRereading(slot), std::vector<int>{1});
    ReopenLine();
    EXPECT_EQ(ReplyTrailer(slot, 1), Trailer::Unknown);
}

TEST_F(ReadRetryTest, ControllerWithoutChecksumIsReadWithoutRetriesAndDecidedByAThirdRead) {
    WithFaults([](sim::Faults& f) { f.trailerNotChecksum = true; });
    const std::vector<uint8_t> memory = Memory(RegsAt(), kRegsLength);
    std::vector<uint8_t> got;
    SetReadRetries(slot, 0);
    EXPECT_EQ(ReadRegs(got), kRegsLength);
    EXPECT_EQ(got, memory);
    EXPECT_EQ(ReadRegs(got), kRegsLength);

    // Two reads that differ: a third decides, within the retries.
    struct Case {
        int retries;
        std::function<void(sim::Faults&)> fault;
        int result;
    };
    const Case cases[] = {
        {0, [](sim::Faults& f) { f.corruptReplies = 1; }, -1},
        {1, [](sim::Faults& f) { f.corruptReplies = 1; }, kRegsLength},
        {1, [](sim::Faults& f) { f.dropReplies = 1; }, kRegsLength},
        {1, [](sim::Faults& f) { f.dropReplies = 2; }, -1},
    };
    for (const Case& c : cases) {
        SetReadRetries(slot, c.retries);
        WithFaults(c.fault);
        EXPECT_EQ(ReadRegs(got), c.result) << "retries " << c.retries;
        if (c.result > 0) {
            EXPECT_EQ(got, memory);
        }
        WithFaults([](sim::Faults& f) {
            f = sim::Faults{};
            f.trailerNotChecksum = true;
        });
    }
}

// A trailing byte that changes from reply to reply: rereads confirm each other by their data.
// The controller is identified (the status register), its image saved byte for byte and loaded,
// with and without retries, and the exchange log names it once.
TEST_F(ReadRetryTest, ControllerWithAVaryingTrailerIsReadSavedAndLoaded) {
    SetLogMask(1);
    WithFaults([](sim::Faults& f) { f.trailerVaries = true; });
    int ctrl = 1;
    LiveRecordStore store(slot, ctrl);
    for (const int retries : {0, kDefaultReadRetries}) {
        SCOPED_TRACE(retries);
        SetReadRetries(slot, retries);
        uint8_t status = 0;
        EXPECT_EQ(ReadCtrlrMem(slot, 1, addr::kStatusIR, 1, &status, kSpaceIR), 1);
        EXPECT_EQ(status, Memory(addr::kStatusIR, 1, kSpaceIR)[0]);
        std::vector<uint8_t> image;
        ASSERT_EQ(ReadDeviceImage(store, image), ImageSaveResult::Saved);
        {
            auto lock = sim.Lock();
            EXPECT_EQ(image, sim.Find(1)->ImageBytes());
        }
        EXPECT_EQ(WriteImageToController(slot, 1, image), ImageWriteResult::Written);
    }
    EXPECT_TRUE(RepliesConfirmedByRereading(slot, 1));
    EXPECT_EQ(Count(Log(), "каждый ответ подтверждается повторным чтением"), 1u);
}

TEST_F(ReadRetryTest, RepeatedGarbleIsNeverTakenFromAControllerKnownToSendTheChecksum) {
    const std::vector<uint8_t> memory = Memory(RegsAt(), kRegsLength);
    std::vector<uint8_t> got;
    // Two replies garbled alike are not enough to be taken unchecked.
    WithFaults([](sim::Faults& f) { f.corruptReplies = 2; });
    EXPECT_EQ(ReadRegs(got), kRegsLength);
    EXPECT_EQ(got, memory);
    LearnChecksum();
    // Known to send the checksum: no number of identical garbled replies gets through.
    WithFaults([](sim::Faults& f) { f.corruptReplies = 3; });
    EXPECT_EQ(ReadRegs(got), -1);
    EXPECT_EQ(got, std::vector<uint8_t>(kRegsLength, 0xEE));
    EXPECT_EQ(ReplyTrailer(slot, 1), Trailer::Checksum);
}

TEST_F(ReadRetryTest, RetriesAndFailedChecksAreLogged) {
    LearnChecksum();
    SetLogMask(1);
    std::vector<uint8_t> got;
    WithFaults([](sim::Faults& f) { f.dropReplies = 1; });
    EXPECT_EQ(ReadRegs(got), kRegsLength);
    WithFaults([](sim::Faults& f) { f.corruptReplies = 1; });
    EXPECT_EQ(ReadRegs(got), kRegsLength);
    const std::string log = Log();
    EXPECT_EQ(Count(log, "Повтор запроса порта 1 (попытка 2 из 3), адрес 002500, 40 байт: нет "
                         "ответа"),
              1u);
    EXPECT_EQ(Count(log, "контрольная сумма не сошлась"), 0u);
    EXPECT_EQ(Count(log, "не сошлась контрольная сумма"), 1u);
    EXPECT_EQ(Count(log, "не прошел проверку"), 1u);
    EXPECT_EQ(Retried(), 2u);

    SetLogMask(0);
    const size_t before = Log().size();
    WithFaults([](sim::Faults& f) { f.dropReplies = 1; });
    EXPECT_EQ(ReadRegs(got), kRegsLength);
    EXPECT_EQ(Log().size(), before) << "nothing logged with the log off";
}

} // namespace
} // namespace velmar::test
