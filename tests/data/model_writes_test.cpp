// The model itself and its write sequences against controller memory in this process: nothing is
// written that was not read, a failed write leaves the copy as read alone, and no write reaches
// beyond its record. Also the image check for the largest topology.
#include "data/device_image.h"
#include "data/image_file.h"
#include "data/model_reads.h"
#include "data/model_writes.h"
#include "model_store_fixture.h"

#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace velmar {
namespace {

using test::ModelOverMemory;

constexpr int kChannel = 11;
constexpr int kSideA = 0;
constexpr uint32_t kDumpAddress = addr::kTempTable;
constexpr int kDumpCount = 2 * kMaxChunk;
constexpr int kEditedByte = 3;

struct WriteCase {
    std::string name;
    std::function<ReadResult(ControllerModel&, RecordStore&)> read;
    std::function<WriteResult(ControllerModel&, RecordStore&)> write;
    std::function<uint8_t&(ControllerModel&)> editedByte; // in the working copy
    std::function<bool(const ControllerModel&)> unsaved;
    int address; // where the record lies in memory, and its length there
    int length;
};

std::vector<WriteCase> WriteCases() {
    return {
        {"parameter block at its size", [](auto& m, auto& s) { return ReadModelParams(m, s); },
         [](auto& m, auto& s) { return WriteModelParamsSized(m, s); },
         [](auto& m) -> uint8_t& { return m.Params().working.data()[kEditedByte]; },
         [](const auto& m) { return m.Params().Unsaved(); }, addr::kParams, test::kBlockLength},
        {"make block", [](auto& m, auto& s) { return ReadModelMake(m, s); },
         [](auto& m, auto& s) { return WriteModelMake(m, s); },
         [](auto& m) -> uint8_t& { return m.Make().working.data()[kEditedByte]; },
         [](const auto& m) { return m.Make().Unsaved(); }, addr::kMakeBlock, make::kLength},
        {"channel settings", [](auto& m, auto& s) { return ReadModelChannelSetts(m, s, kChannel); },
         [](auto& m, auto& s) { return WriteModelChannelSetts(m, s, kChannel); },
         [](auto& m) -> uint8_t& { return m.Setts(kChannel).working.data()[kEditedByte]; },
         [](const auto& m) { return m.Setts(kChannel).Unsaved(); },
         ChannelAddress(addr::kChannelSettsBase, kChannel), len::kChannelSetts},
        {"channel registers", [](auto& m, auto& s) { return ReadModelChannelRegs(m, s, kChannel); },
         [](auto& m, auto& s) { return WriteModelChannelRegs(m, s, kChannel); },
         [](auto& m) -> uint8_t& { return m.Regs(kChannel).working.data()[kEditedByte]; },
         [](const auto& m) { return m.Regs(kChannel).Unsaved(); },
         ChannelAddress(addr::kChannelRegsBase, kChannel), len::kChannelRegs},
        {"side A state",
         [](auto& m, auto& s) { return ReadModelSide(m, s, kSideA, addr::kSideStateA); },
         [](auto& m, auto& s) { return WriteModelSide(m, s, kSideA, addr::kSideStateA); },
         [](auto& m) -> uint8_t& { return m.Side(kSideA).working.data()[kEditedByte]; },
         [](const auto& m) { return m.Side(kSideA).Unsaved(); }, addr::kSideStateA,
         len::kSideState},
        {"temperature table", [](auto& m, auto& s) { return ReadModelTemperatures(m, s); },
         [](auto& m, auto& s) { return WriteModelTemperatures(m, s); },
         [](auto& m) -> uint8_t& { return m.Temperatures().working.data()[kEditedByte]; },
         [](const auto& m) { return m.Temperatures().Unsaved(); }, addr::kTempTable, temp::kLength},
        {"memory block",
         [](auto& m, auto& s) { return ReadModelDump(m, s, kDumpAddress, kDumpCount, kSpaceER); },
         [](auto& m, auto& s) { return WriteModelDump(m, s); },
         [](auto& m) -> uint8_t& { return m.Dump().working.bytes[kEditedByte]; },
         [](const auto& m) { return m.Dump().Unsaved(); }, static_cast<int>(kDumpAddress),
         kDumpCount},
    };
}

// The temperature tab's "Записать" before any read once sent a zeroed table and reported it
// written: nothing may go out of a record the model never read.
TEST(ModelWrites, NothingIsWrittenOfARecordNeverRead) {
    for (const WriteCase& c : WriteCases()) {
        ModelOverMemory t;
        const std::vector<uint8_t> before = t.memory;
        EXPECT_EQ(c.write(t.model, t.store), WriteResult::NotRead) << c.name;
        EXPECT_TRUE(t.store.writes.empty()) << c.name;
        EXPECT_EQ(t.memory, before) << c.name;
    }
}

// A refused write leaves the copy as read as it was: the edit stays unsaved and a later write
// sends it again, rather than the model believing the controller holds it.
TEST(ModelWrites, ARefusedWriteKeepsTheEditUnsaved) {
    for (const WriteCase& c : WriteCases()) {
        ModelOverMemory t;
        ASSERT_EQ(c.read(t.model, t.store), ReadResult::Read) << c.name;
        ++c.editedByte(t.model);
        t.store.failWrites = true;
        EXPECT_EQ(c.write(t.model, t.store), WriteResult::WriteFailed) << c.name;
        EXPECT_TRUE(c.unsaved(t.model)) << c.name;

        t.store.failWrites = false;
        EXPECT_EQ(c.write(t.model, t.store), WriteResult::Written) << c.name;
        EXPECT_FALSE(c.unsaved(t.model)) << c.name;
    }
}

// A written record lands whole at its place and nothing beyond it changes: every store write
// stays within the record (for channels, the length the sizes record gives).
TEST(ModelWrites, AWriteReachesNoByteBeyondItsRecord) {
    for (const WriteCase& c : WriteCases()) {
        ModelOverMemory t;
        ASSERT_EQ(c.read(t.model, t.store), ReadResult::Read) << c.name;
        const uint8_t edited = ++c.editedByte(t.model);
        const std::vector<uint8_t> before = t.memory;
        ASSERT_EQ(c.write(t.model, t.store), WriteResult::Written) << c.name;
        ASSERT_FALSE(t.store.writes.empty()) << c.name;
        for (const test::StoreWrite& w : t.store.writes) {
            EXPECT_GE(w.address, c.address) << c.name;
            EXPECT_LE(w.address + w.length, c.address + c.length) << c.name;
        }
        EXPECT_EQ(t.memory[static_cast<size_t>(c.address + kEditedByte)], edited) << c.name;
        for (size_t i = 0; i < t.memory.size(); ++i) {
            const int at = static_cast<int>(i);
            if (at >= c.address && at < c.address + c.length) continue;
            ASSERT_EQ(t.memory[i], before[i]) << c.name << " changed 0x" << std::hex << at;
        }
    }
}

TEST(ModelWrites, AWriteOfAnUnchangedRecordIsLeftOutWhereTheTabAsksForChanges) {
    for (const WriteCase& c : WriteCases()) {
        ModelOverMemory t;
        ASSERT_EQ(c.read(t.model, t.store), ReadResult::Read) << c.name;
        const WriteResult result = c.write(t.model, t.store);
        // The side, temperature and memory tabs write what they hold whether or not it changed.
        EXPECT_TRUE(result == WriteResult::NoChanges || result == WriteResult::Written) << c.name;
        EXPECT_EQ(t.store.writes.empty(), result == WriteResult::NoChanges) << c.name;
    }
}

TEST(ControllerModel, ANewIdentityForgetsEveryRecordAndTheScreensSeeIt) {
    ModelOverMemory t;
    for (const WriteCase& c : WriteCases()) ASSERT_EQ(c.read(t.model, t.store), ReadResult::Read);
    t.model.SetIdentity(ControllerIdentity{1, "first"});
    EXPECT_FALSE(t.model.Params().wasRead);

    struct Step {
        std::string name;
        std::function<void(ControllerModel&)> act;
        int expectedAddress;
    };
    for (const Step& s : std::vector<Step>{
             {"another identity",
              [](auto& m) {
                  m.SetIdentity({2, "second"});
              },
              2},
             {"records forgotten", [](auto& m) { m.ForgetRecords(); }, 1},
             {"cleared", [](auto& m) { m.Clear(); }, 0},
         }) {
        t.model.SetIdentity(ControllerIdentity{1, "first"});
        for (const WriteCase& c : WriteCases())
            ASSERT_EQ(c.read(t.model, t.store), ReadResult::Read);
        const uint64_t generation = t.model.Generation();
        s.act(t.model);
        EXPECT_GT(t.model.Generation(), generation) << s.name;
        EXPECT_EQ(t.model.Identity().address, s.expectedAddress) << s.name;
        for (const WriteCase& c : WriteCases())
            EXPECT_EQ(c.write(t.model, t.store), WriteResult::NotRead) << s.name << ", " << c.name;
    }
}

TEST(ControllerModel, AnEditIsUnsavedUntilWrittenOrReverted) {
    HeldRecord<SideState> held;
    held.working.data()[kEditedByte] = 1;
    EXPECT_FALSE(held.Unsaved()); // nothing read: nothing to save
    held.Take(SideState{});
    held.working.data()[kEditedByte] = 1;
    EXPECT_TRUE(held.Unsaved());
    held.Revert();
    EXPECT_FALSE(held.Unsaved());
    held.working.data()[kEditedByte] = 1;
    held.Written();
    EXPECT_FALSE(held.Unsaved());
    EXPECT_EQ(held.read.data()[kEditedByte], 1);
}

// Two sides of eight hoses fill all sixteen channels: the largest topology, not an odd header.
TEST(SavedImage, TheLargestTopologyIsAWholeImage) {
    ModelOverMemory t;
    std::vector<uint8_t> image;
    std::string error;
    ASSERT_EQ(ReadDeviceImage(t.store, image, {}, &error), ImageSaveResult::Saved) << error;
    EXPECT_EQ(CheckSavedImage(image), ImageLoadResult::Loaded);

    struct Case {
        uint8_t nozzles;
        uint8_t sides;
        ImageLoadResult expected;
    };
    for (const Case& c :
         {Case{8, 2, ImageLoadResult::Loaded}, Case{16, 1, ImageLoadResult::Loaded},
          Case{1, 1, ImageLoadResult::Loaded}, Case{9, 2, ImageLoadResult::OddHeader},
          Case{17, 1, ImageLoadResult::OddHeader}, Case{1, 3, ImageLoadResult::OddHeader}}) {
        std::vector<uint8_t> bytes = image;
        bytes[1] = c.nozzles;
        bytes[2] = c.sides;
        EXPECT_EQ(CheckSavedImage(bytes), c.expected) << int{c.nozzles} << " x " << int{c.sides};
    }
}

} // namespace
} // namespace velmar
