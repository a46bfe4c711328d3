// Writes over a noisy line against the simulator: memory chunks sent again when their status was
// lost or garbled, refusals and acting commands never repeated blindly, and the account of an
// image load that stopped part-way.
#include "data/device_image.h"
#include "data/image_write_report.h"
#include "data/memory_map.h"
#include "protocol/exchange_result.h"
#include "protocol/read_retry.h"
#include "sim_line_fixture.h"

#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace velmar::test {
namespace {

class NoisyWriteTest : public SimLineTest {
  protected:
    std::vector<uint8_t> Image() {
        auto lock = sim.Lock();
        return sim.Find(1)->ImageBytes();
    }
    // The controller's image with every channel register changed: what a load must leave.
    std::vector<uint8_t> OtherImage() {
        std::vector<uint8_t> image = Image();
        const size_t regs = image.size() - 256 - 57 - 16u * image[5];
        for (size_t i = regs; i < regs + 16u * image[5]; ++i) image[i] ^= 0x3C;
        return image;
    }
};

using WriteFn = std::function<int(PortSlot, const std::vector<uint8_t>&)>;

TEST_F(NoisyWriteTest, MemoryChunkIsSentAgainUntilItsStatusIsClear) {
    const std::vector<uint8_t> data(40, 0x5A);
    const struct {
        const char* name;
        WriteFn write;
    } writes[] = {
        {"WriteCtrlrMem",
         [](PortSlot s, const std::vector<uint8_t>& d) {
             return WriteCtrlrMem(s, 1, addr::kMakeBlock, 40, d.data(), kSpaceER);
         }},
        {"BlockWriteAcked",
         [](PortSlot s, const std::vector<uint8_t>& d) {
             return BlockWriteAcked(s, 1, addr::kMakeBlock, 40, d.data());
         }},
    };
    // Frames on the line: each sending of the chunk, and each read of it back after a status
    // that did not come clear (two reads confirm each other while the trailer is not known).
    const struct {
        const char* fault;
        int retries;
        std::function<void(sim::Faults&)> set;
        int result;
        uint64_t frames;
    } cases[] = {
        {"status lost, chunk read back", 2, [](sim::Faults& f) { f.dropReplies = 1; }, 1, 1 + 2},
        // The garbled status reads as a refusal: sent once more to be sure of it.
        {"status garbled", 2, [](sim::Faults& f) { f.corruptReplies = 1; }, 1, 2},
        // Every reply, the reads' too, carries a stray byte: nothing can be read back.
        {"stray byte after the status", 2, [](sim::Faults& f) { f.extraReplyBytes = 1; }, -1,
         3 * (1 + 4)},
        {"refused twice", 2, [](sim::Faults& f) { f.writeStatusAddress = addr::kMakeBlock; }, -1,
         2},
        {"no retries, chunk read back", 0, [](sim::Faults& f) { f.dropReplies = 1; }, 1, 1 + 2},
    };
    for (const auto& w : writes) {
        for (const auto& c : cases) {
            // The acknowledged block write takes any status length with a first byte 0.
            const bool anyLength = std::string(w.name) == "BlockWriteAcked" &&
                                   std::string(c.fault) == "stray byte after the status";
            SCOPED_TRACE(std::string(w.name) + ": " + c.fault);
            ReopenLine(); // each case learns the trailer afresh
            SetReadRetries(slot, c.retries);
            WithFaults(c.set);
            const uint64_t frames = sim.FramesSeen();
            EXPECT_EQ(w.write(slot, data), anyLength ? 1 : c.result);
            EXPECT_EQ(sim.FramesSeen() - frames, anyLength ? 1u : c.frames);
            if (c.result == 1) {
                EXPECT_EQ(Memory(addr::kMakeBlock, 40), data);
            }
            WithFaults([](sim::Faults& f) { f = sim::Faults{}; });
        }
    }
}

// A chunk whose status was lost is read back: held, it counts as written; not held, a record the
// controller never changes by itself is sent again, a counting one (the caller guards it) never
// unless it still holds what it held before (its bytes may be newer than the chunk's).
TEST_F(NoisyWriteTest, LostStatusIsReadBackBeforeAnyResend) {
    const int regs = ChannelAddress(addr::kChannelRegsBase, 3);
    const int side = addr::kSideStateA;
    const struct {
        const char* name;
        int address;
        int length;
        bool counting; // the controller counts a byte of the record during the write
        int result;
    } cases[] = {
        {"make block, held", addr::kMakeBlock, 40, false, 1},
        {"channel registers, held", regs, 40, false, 1},
        {"side state, held", side, len::kSideState, false, 1},
        {"channel registers, counted meanwhile", regs, 40, true, Code(ExchangeResult::Overtaken)},
        {"side state, counted meanwhile", side, len::kSideState, true,
         Code(ExchangeResult::Overtaken)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> data(static_cast<size_t>(c.length), 0x11);
        WithFaults([&](sim::Faults& f) {
            f.dropReplies = 1;
            if (c.counting) f.countingAddress = c.address;
        });
        // Counting records go guarded, as the record stores send them; what they held before
        // is not known here.
        const WriteGuard guard{c.address != addr::kMakeBlock, nullptr};
        EXPECT_EQ(WriteCtrlrMem(slot, 1, c.address, c.length, data.data(), kSpaceER, guard),
                  c.result);
        WithFaults([](sim::Faults& f) { f = sim::Faults{}; });
        std::vector<uint8_t> held = Memory(c.address, c.length);
        if (c.counting) {
            // The controller's count stands: never put back to the older byte of the chunk.
            EXPECT_GT(held[0], data[0]);
            held[0] = data[0];
        }
        EXPECT_EQ(held, data);
    }
}

// A controller that sends its replies in pieces, pausing longer than a character between them:
// the two-byte status of a one-byte write, and read replies, are taken whole and at once.
TEST_F(NoisyWriteTest, RepliesInPiecesAreTakenWhole) {
    WithFaults([](sim::Faults& f) {
        f.replyPieces = 2;
        f.replyPieceGapMs = 8; // several character times at 4800 baud
    });
    const std::vector<uint8_t> data(40, 0x77);
    for (const int length : {1, 2, 40}) {
        SCOPED_TRACE(length);
        const uint64_t frames = sim.FramesSeen();
        EXPECT_EQ(WriteCtrlrMem(slot, 1, addr::kMakeBlock, length, data.data(), kSpaceER), 1);
        EXPECT_EQ(sim.FramesSeen() - frames, 1u) << "sent once, nothing read back";
        std::vector<uint8_t> got(static_cast<size_t>(length));
        EXPECT_EQ(ReadCtrlrMem(slot, 1, addr::kMakeBlock, length, got.data(), kSpaceER), length);
        EXPECT_EQ(got, std::vector<uint8_t>(data.begin(), data.begin() + length));
    }
    EXPECT_EQ(RetriedRequests(slot), 0u);
}

TEST_F(NoisyWriteTest, ActingCommandsAreNeverRepeated) {
    // The pulse simulator's switch is settled by reading its status byte back: it took, so
    // the command succeeds, still sent once.
    const struct {
        const char* name;
        std::function<int()> run;
        int result;
    } commands[] = {
        {"restart", [this] { return RestartCtrlr(slot, 1); }, -1},
        {"pulse simulator", [this] { return SetPulseSimulator(slot, 1, true); }, 1},
        {"relay test",
         [this] {
             const uint8_t one = 1;
             return WriteCtrlrMem(slot, 1, addr::kRelayIR, 1, &one, kSpaceIR);
         },
         -1},
    };
    for (const auto& c : commands) {
        SCOPED_TRACE(c.name);
        WithFaults([](sim::Faults& f) { f.dropReplies = 1; });
        const auto frames = sim.FramesByKind();
        EXPECT_EQ(c.run(), c.result);
        EXPECT_EQ(sim.FramesByKind().writes - frames.writes, 1u);
    }
    auto lock = sim.Lock();
    EXPECT_EQ(sim.Find(1)->restarts, 1);
    EXPECT_EQ(sim.Find(1)->relayTests, 1);
}

TEST_F(NoisyWriteTest, ImageLoadCompletesOnANoisyLine) {
    const std::vector<uint8_t> image = OtherImage();
    WithFaults([](sim::Faults& f) {
        f.flipRate = 0.05;
        f.lossRate = 0.05;
        f.noiseSeed = 3;
    });
    ImageWriteReport report;
    const ImageWriteResult r = WriteImageToController(slot, 1, image, {}, nullptr, &report);
    // The closing restart is an acting command: sent once, its status may be lost.
    EXPECT_TRUE(r == ImageWriteResult::Written || r == ImageWriteResult::WrittenNoRestart)
        << static_cast<int>(r);
    EXPECT_TRUE(report.notWritten.empty());
    WithFaults([](sim::Faults& f) { f = sim::Faults{}; });
    EXPECT_EQ(Image(), image);
}

TEST_F(NoisyWriteTest, FailedImageLoadTellsWhatTheControllerHolds) {
    const std::vector<uint8_t> image = OtherImage();
    WithFaults(
        [](sim::Faults& f) { f.writeStatusAddress = ChannelAddress(addr::kChannelRegsBase, 4); });
    ImageWriteReport report;
    EXPECT_EQ(WriteImageToController(slot, 1, image, {}, nullptr, &report),
              ImageWriteResult::NotWritten);
    ASSERT_FALSE(report.notWritten.empty());
    EXPECT_EQ(report.notWritten.front().address, ChannelAddress(addr::kChannelRegsBase, 4));
    const std::string text = ImageWriteFailureText(report);
    for (const char* part :
         {"Записаны: параметры контроллера, настройки каналов 1–16, состояние стороны А, "
          "состояние стороны Б, регистры каналов 1–4.",
          "Не записаны: регистры каналов 5–16, настройки марки ТРК (0x5100), блок 0x3000.",
          "(«регистры канала 5»)", "смесь двух образов", "Загрузите тот же образ"})
        EXPECT_NE(text.find(part), std::string::npos) << part << "\n" << text;
    // Records before the refused one hold the new image, those after it the old one.
    EXPECT_EQ(Memory(ChannelAddress(addr::kChannelRegsBase, 3), 4),
              std::vector<uint8_t>(image.end() - 313 - 13 * image[5],
                                   image.end() - 313 - 13 * image[5] + 4));

    WithFaults([](sim::Faults& f) {
        f = sim::Faults{};
        f.noAnswer = true;
    });
    SetReadRetries(slot, 0);
    EXPECT_EQ(WriteImageToController(slot, 1, image, {}, nullptr, &report),
              ImageWriteResult::NotWritten);
    EXPECT_FALSE(report.anythingSent);
    EXPECT_NE(ImageWriteFailureText(report).find("контроллер не изменен"), std::string::npos);
}

} // namespace
} // namespace velmar::test
