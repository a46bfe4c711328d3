// Writes to the records the controller counts in (channel registers, both sides' states) over a
// line whose status blocks go astray, against the simulator counting while the write happens: a
// chunk is read back before it could go again, and whatever the controller counted since is
// never written over.
#include "../protocol/sim_line_fixture.h"
#include "data/device_image.h"
#include "data/image_write_report.h"
#include "data/live_store.h"
#include "data/memory_map.h"

#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace velmar::test {
namespace {

// Where in each record the controller counts: a channel's volume counter (in the registers'
// first chunk) and a side's transaction count.
constexpr int kRegsCounter = 12;
constexpr int kSideCounter = 6;
// A totaliser of another channel, counting while the record under test is written.
const int kOtherTotaliser = ChannelAddress(addr::kChannelRegsBase, 5) + 46;
constexpr int kChannel = 3;
constexpr uint8_t kNewBytes = 0x80; // what the tool writes: far from anything counted up to
constexpr uint8_t kRefusal = 0x01;

struct Record {
    const char* name;
    int address;
    int length;
    int counter; // offset of a counting byte in the first chunk
};

const Record kRecords[] = {
    {"channel registers", ChannelAddress(addr::kChannelRegsBase, kChannel), len::kChannelRegs,
     kRegsCounter},
    {"side A state", addr::kSideStateA, len::kSideState, kSideCounter},
    {"side B state", addr::kSideStateB, len::kSideState, kSideCounter},
};

int Chunks(int length) {
    return (length + kMaxChunk - 1) / kMaxChunk;
}

class CountedWriteTest : public SimLineTest {
  protected:
    void SetUp() override {
        SimLineTest::SetUp();
        store.Retarget(slot, 1);
        // Three replies with different data make the checksum known: every read after is one
        // frame, and a read back is counted as one.
        uint8_t bytes[kMaxChunk];
        for (const int address : {addr::kParams, addr::kMakeBlock, addr::kTempTable})
            ASSERT_TRUE(store.Read(address, kMaxChunk, bytes, kSpaceER).Ok());
        ASSERT_EQ(ReplyTrailer(slot, 1), Trailer::Checksum);
    }
    std::vector<uint8_t> ReadThroughStore(const Record& r) {
        std::vector<uint8_t> bytes(static_cast<size_t>(r.length));
        EXPECT_TRUE(store.Read(r.address, r.length, bytes.data(), kSpaceER).Gave(r.length));
        return bytes;
    }
    uint8_t Byte(int address) { return Memory(address, 1)[0]; }

    LiveRecordStore store{0, 1};
};

// Each way a chunk's status can go astray, for each counting record. The controller counts on
// every request it answers; `counter` says where: in the chunk itself, or in another channel's
// totaliser while the write happens.
TEST_F(CountedWriteTest, AChunkIsReadBackBeforeItCouldGoAgain) {
    enum class Counter { InChunk, Elsewhere };
    const struct {
        const char* name;
        std::function<void(sim::Faults&, int address)> fault;
        Counter counter;
        StoreCode result;
        int sendings; // of the first chunk
        int readBacks;
        bool landed; // the controller holds the new bytes (but for what it counted since)
    } cases[] = {
        {"status lost, landed", [](sim::Faults& f, int) { f.dropReplies = 1; }, Counter::Elsewhere,
         StoreCode::Done, 1, 1, true},
        {"status garbled to a refusal, landed", [](sim::Faults& f, int) { f.corruptReplies = 1; },
         Counter::Elsewhere, StoreCode::Done, 1, 1, true},
        // Read back the bytes held before: sent again, and the refusal said twice stands.
        {"refused, not landed",
         [](sim::Faults& f, int a) {
             f.writeStatusAddress = a;
             f.writeStatus = kRefusal;
         },
         Counter::Elsewhere, StoreCode::NoAnswer, 2, 2, false},
        {"refused, counted meanwhile",
         [](sim::Faults& f, int a) {
             f.writeStatusAddress = a;
             f.writeStatus = kRefusal;
         },
         Counter::InChunk, StoreCode::Overtaken, 1, 1, false},
        {"status lost, landed and counted on", [](sim::Faults& f, int) { f.dropReplies = 1; },
         Counter::InChunk, StoreCode::Overtaken, 1, 1, true},
    };
    for (const Record& r : kRecords) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(r.name) + ": " + c.name);
            const int counting =
                c.counter == Counter::InChunk ? r.address + r.counter : kOtherTotaliser;
            WithFaults([&](sim::Faults& f) { f.countingAddress = counting; });
            const std::vector<uint8_t> before = ReadThroughStore(r);
            const std::vector<uint8_t> data(static_cast<size_t>(r.length), kNewBytes);
            WithFaults([&](sim::Faults& f) { c.fault(f, r.address); });
            const auto frames = sim.FramesByKind();
            const uint8_t counted = Byte(counting);
            const uint64_t framesBefore = sim.FramesSeen();

            EXPECT_EQ(store.Write(r.address, r.length, data.data(), kSpaceER).Code(), c.result);
            const bool written = c.result == StoreCode::Done;

            const uint64_t answered = sim.FramesSeen() - framesBefore;
            WithFaults([](sim::Faults& f) { f = sim::Faults{}; });
            const auto now = sim.FramesByKind();
            const int laterChunks = written ? Chunks(r.length) - 1 : 0;
            EXPECT_EQ(now.writes - frames.writes, static_cast<uint64_t>(c.sendings + laterChunks));
            EXPECT_EQ(now.reads - frames.reads, static_cast<uint64_t>(c.readBacks));

            // What the record must hold: the new bytes where they went, the old ones elsewhere.
            std::vector<uint8_t> expected = before;
            const int landed = written ? r.length : c.landed ? std::min(r.length, kMaxChunk) : 0;
            std::copy(data.begin(), data.begin() + landed, expected.begin());
            std::vector<uint8_t> held = Memory(r.address, r.length);
            const uint8_t heldCount = Byte(counting);
            if (c.counter == Counter::InChunk) {
                // The count stands: one more for each request the controller answered since the
                // chunk's first sending landed (or since the count was looked at), none written
                // over.
                EXPECT_EQ(heldCount,
                          static_cast<uint8_t>((c.landed ? kNewBytes : counted) + answered));
                held[static_cast<size_t>(r.counter)] = expected[static_cast<size_t>(r.counter)];
            } else {
                EXPECT_EQ(heldCount, static_cast<uint8_t>(counted + answered));
            }
            EXPECT_EQ(held, expected);
            // Back to the bytes it held for the next case.
            ASSERT_EQ(WriteCtrlrMem(slot, 1, r.address, r.length, before.data(), kSpaceER), 1);
        }
    }
}

// A whole-image load has read nothing of the counting records before: a chunk of theirs whose
// status did not come clear and that is not found written is never sent again.
TEST_F(CountedWriteTest, AnImageLoadNeverSendsACountingChunkAgain) {
    for (const Record& r : kRecords) {
        SCOPED_TRACE(r.name);
        std::vector<uint8_t> image;
        {
            auto lock = sim.Lock();
            image = sim.Find(1)->ImageBytes();
        }
        // Other bytes than the controller holds, so that no chunk of them reads back as written.
        size_t at = len::kSizes;
        for (const ImageRecord& rec : ImageRecords(image.data())) {
            if (rec.address == r.address)
                for (int i = 0; i < rec.length; ++i)
                    image[at + static_cast<size_t>(i)] ^= kNewBytes;
            at += static_cast<size_t>(rec.length);
        }
        WithFaults([&](sim::Faults& f) {
            f.writeStatusAddress = r.address;
            f.countingAddress = kOtherTotaliser;
        });
        const auto frames = sim.FramesByKind();
        ImageWriteReport report;
        EXPECT_EQ(WriteImageToController(slot, 1, image, {}, nullptr, &report),
                  ImageWriteResult::NotWritten);
        WithFaults([](sim::Faults& f) { f = sim::Faults{}; });
        ASSERT_FALSE(report.notWritten.empty());
        EXPECT_EQ(report.notWritten.front().address, r.address);
        int sendings = 1; // the refused chunk, once
        for (const ImageRecord& written : report.written) sendings += Chunks(written.length);
        const auto now = sim.FramesByKind();
        EXPECT_EQ(now.writes - frames.writes, static_cast<uint64_t>(sendings));
    }
}

} // namespace
} // namespace velmar::test
