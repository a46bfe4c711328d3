// Every write sequence of the window and the command line, end to end against the controller
// simulator through a journaling store: which entries each leaves, with the values as the screens
// show them, and that a refused write, a write that changes nothing and a journal that cannot be
// written behave as they must.
#include "../data/data_test_support.h"
#include "data/channel_io.h"
#include "data/default_image.h"
#include "data/device_image.h"
#include "data/image_write_report.h"
#include "data/journal_store.h"
#include "data/live_store.h"
#include "data/model_reads.h"
#include "data/model_writes.h"
#include "data/read_checks.h"
#include "link/serial_port.h"
#include "sim/core/bus_simulator.h"

#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <sqlite3.h>

namespace velmar {
namespace {

constexpr int kChannel = 1;
constexpr int kSide = 1;
constexpr int kRepliesLost = 50; // every answer to a write and to its checks
constexpr uint8_t kFirstMinVol = 21;

// Public: the cases of the table reach the fixture through lambdas.
class JournaledWrites : public ::testing::Test {
  public:
    void SetUp() override {
        SetExchangeLogPath(dir.File("port.out").c_str());
        StartPortLayer();
        bus = std::make_unique<sim::BusSimulator>(sim::Options{});
        ASSERT_EQ(bus->Start(), 0);
        ASSERT_EQ(OpenPort(slot, bus->SlavePath().c_str()), 0);
        ASSERT_EQ(ConfigurePort(slot, 4800, 8, 'N', 1), 0);
        line.Retarget(slot, 1);
        ASSERT_TRUE(store.ReadSizes().Ok());
    }
    void TearDown() override {
        if (slot != 0) ClosePort(slot);
        bus.reset();
        StopPortLayer();
    }
    std::vector<JournalEntry> Entries() {
        std::string error;
        auto journal = Journal::OpenExisting(path, error);
        if (journal == nullptr) return {};
        return journal->List({}, error);
    }
    template <class R> void Read(HeldRecord<R>& held, int address) {
        R bytes;
        ASSERT_EQ(store.Read(address, static_cast<int>(bytes.size()), bytes.data(), 0).Length(),
                  static_cast<int>(bytes.size()));
        held.Take(bytes);
    }
    void ReadChannel(int n) {
        ASSERT_EQ(ReadModelChannelSetts(model, store, n), ReadResult::Read);
        ASSERT_EQ(ReadModelChannelRegs(model, store, n), ReadResult::Read);
    }
    void ReadParams() {
        ASSERT_EQ(ReadModelParams(model, store), ReadResult::Read);
        CheckParamsOnRead(model.Params().working);
    }

    test::TempDir dir;
    std::string path = dir.File("journal.sqlite");
    std::unique_ptr<sim::BusSimulator> bus;
    PortSlot slot = 0;
    LiveRecordStore line{slot, 1};
    JournalStore store{line, path, {{"anna", "pc", "velmar"}, "Проверка", "COM1", 1, "НАРА"}};
    ControllerModel model;
};

TEST_F(JournaledWrites, EachWriteSequenceEntersTheFieldsItChanged) {
    struct Case {
        const char* name;
        std::function<void(JournaledWrites&)> read;
        std::function<void(ControllerModel&)> edit;
        std::function<WriteResult(JournaledWrites&)> write;
        const char* recordKind;
        const char* field; // the first entry's
        const char* oldValue;
        const char* newValue;
    };
    const Case cases[] = {
        {"advanced settings (parameter block at its size)", [](auto& t) { t.ReadParams(); },
         [](ControllerModel& m) { m.Params().working.SetSlowStart(3); },
         [](auto& t) { return WriteModelParamsSized(t.model, t.store); }, "Params", "SlowStart",
         "100", "300"},
        {"controller settings (with the restart)", [](auto& t) { t.ReadParams(); },
         [](ControllerModel& m) { m.Params().working.SetNozzleWait(7); },
         [](auto& t) {
             const ParamsWriteRequest request{t.store, t.slot, {},   t.model.Params().read.Length(),
                                              1,       1,      false};
             return WriteModelParams(t.model, request).result;
         },
         "Params", "NozzleWait", nullptr, "7"},
        {"make block", [](auto& t) { t.Read(t.model.Make(), addr::kMakeBlock); },
         [](ControllerModel& m) { m.Make().working.SetMinVolNara(12); },
         [](auto& t) { return WriteModelMake(t.model, t.store); }, "MakeBlock", "MinVolNara",
         nullptr, nullptr},
        {"channel settings", [](auto& t) { t.ReadChannel(kChannel); },
         [](ControllerModel& m) { m.Setts(kChannel).working.SetImpLit(264); },
         [](auto& t) { return WriteModelChannelSetts(t.model, t.store, kChannel); }, "ChannelSetts",
         "ImpLit", nullptr, "132"},
        {"channel registers", [](auto& t) { t.ReadChannel(kChannel); },
         [](ControllerModel& m) { m.Regs(kChannel).working.SetPrice(4321); },
         [](auto& t) { return WriteModelChannelRegs(t.model, t.store, kChannel); }, "ChannelRegs",
         "Price", nullptr, "43,21"},
        {"side state",
         [](auto& t) { t.Read(t.model.Side(kSide), addr::kSideStateA + 0x100 * kSide); },
         [](ControllerModel& m) { m.Side(kSide).working.SetCountTranz(77); },
         [](auto& t) {
             return WriteModelSide(t.model, t.store, kSide, addr::kSideStateA + 0x100 * kSide);
         },
         "SideState", "CountTranz", nullptr, "77"},
        {"temperature table", [](auto& t) { t.Read(t.model.Temperatures(), addr::kTempTable); },
         [](ControllerModel& m) { m.Temperatures().working.SetEntry(0, 0x1234); },
         [](auto& t) { return WriteModelTemperatures(t.model, t.store); }, "TempTable", "", nullptr,
         "34 12"},
        {"memory dump",
         [](auto& t) {
             MemoryBlock block{0x0400, 0, std::vector<uint8_t>(16)};
             ASSERT_EQ(t.store.Read(0x0400, 16, block.bytes.data(), 0).Length(), 16);
             t.model.Dump().Take(block);
         },
         [](ControllerModel& m) { m.Dump().working.bytes[3] = 0xA5; },
         [](auto& t) { return WriteModelDump(t.model, t.store); }, "", "", nullptr, "A5"},
    };
    size_t before = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.read(*this);
        c.edit(model);
        EXPECT_EQ(c.write(*this), WriteResult::Written);
        const auto entries = Entries();
        ASSERT_GT(entries.size(), before);
        const JournalEntry& e = entries[before];
        EXPECT_EQ(e.recordKind, c.recordKind);
        EXPECT_EQ(e.field, c.field);
        if (c.oldValue != nullptr) {
            EXPECT_EQ(e.oldValue, c.oldValue);
        }
        EXPECT_NE(e.oldValue, "?"); // the copy as read gave the old value
        if (c.newValue != nullptr) {
            EXPECT_EQ(e.newValue, c.newValue);
        }
        EXPECT_NE(e.oldValue, e.newValue);
        EXPECT_EQ(e.outcome, kOutcomeWritten);
        EXPECT_EQ(e.operation, "Проверка");
        EXPECT_EQ(e.ident, "НАРА");
        before = entries.size();
    }
    std::string error;
    EXPECT_EQ(Journal::OpenExisting(path, error)->Verify(error), 0);
}

TEST_F(JournaledWrites, AWriteThatChangesNothingAddsNothing) {
    ReadChannel(kChannel);
    EXPECT_EQ(WriteModelSide(model, store, 0, addr::kSideStateA), WriteResult::NotRead);
    Read(model.Side(0), addr::kSideStateA);
    EXPECT_EQ(WriteModelSide(model, store, 0, addr::kSideStateA), WriteResult::Written);
    EXPECT_TRUE(Entries().empty());
}

TEST_F(JournaledWrites, ARecordNeverReadIsEnteredWithItsOldValuesUnknownAndNoReadOfItsOwn) {
    ChannelRegs regs;
    const int address = ChannelAddress(addr::kChannelRegsBase, 0);
    ASSERT_EQ(line.Read(address, regs.size(), regs.data(), 0).Length(),
              static_cast<int>(regs.size()));
    // The frames of the write alone, as the store without a journal sends it.
    uint64_t frames = bus->FramesSeen();
    ASSERT_TRUE(line.Write(address, regs.size(), regs.data(), 0).Ok());
    const uint64_t plainFrames = bus->FramesSeen() - frames;
    regs.SetPrice(static_cast<uint16_t>(regs.Price() + 1));
    frames = bus->FramesSeen();
    ASSERT_TRUE(store.Write(address, regs.size(), regs.data(), 0).Ok());
    EXPECT_EQ(bus->FramesSeen() - frames, plainFrames);
    const auto entries = Entries();
    ASSERT_FALSE(entries.empty());
    for (const JournalEntry& e : entries) {
        EXPECT_EQ(e.oldValue, "?") << e.field;
        EXPECT_EQ(e.outcome, kOutcomeWritten);
    }
}

// A write without a clear answer is entered as unknown, never as refused: the controller may have
// taken it. The next read of its record through a journaling store settles it either way.
TEST_F(JournaledWrites, AWriteWithoutAClearAnswerStaysUnknownUntilTheNextReadSettlesIt) {
    struct Case {
        const char* name;
        std::function<void(sim::Faults&)> fault;
        const char* settled;
    };
    const Case cases[] = {
        {"status refused: the controller kept its bytes",
         [](sim::Faults& f) { f.writeStatusAddress = addr::kMakeBlock; }, kOutcomeNotWritten},
        {"status lost: the controller took the write",
         [](sim::Faults& f) { f.dropReplies = kRepliesLost; }, kOutcomeWritten},
    };
    uint8_t value = kFirstMinVol;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Read(model.Make(), addr::kMakeBlock);
        model.Make().working.SetMinVolNara(value++);
        {
            auto lock = bus->Lock();
            c.fault(bus->GetFaults());
        }
        EXPECT_EQ(WriteModelMake(model, store), WriteResult::WriteFailed);
        {
            auto lock = bus->Lock();
            bus->GetFaults() = {};
        }
        auto entries = Entries();
        ASSERT_FALSE(entries.empty());
        EXPECT_EQ(entries.back().outcome, kOutcomeUnknown);
        EXPECT_TRUE(store.Incomplete().empty());
        Read(model.Make(), addr::kMakeBlock);
        entries = Entries();
        EXPECT_EQ(entries.back().outcome, c.settled);
    }
    std::string error;
    EXPECT_EQ(Journal::OpenExisting(path, error)->Verify(error), 0) << error;
}

TEST_F(JournaledWrites, AJournalLockedByAnotherProgramKeepsTheWriteOffTheLine) {
    ReadParams();
    model.Params().working.SetSlowStart(9);
    std::string error;
    ASSERT_NE(Journal::Open(path, error), nullptr) << error;
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    const std::vector<uint8_t> memory = bus->Find(1)->Space(0);
    const uint64_t frames = bus->FramesSeen();
    EXPECT_EQ(WriteModelParamsSized(model, store), WriteResult::WriteFailed);
    EXPECT_EQ(bus->FramesSeen(), frames); // not one frame of the write
    EXPECT_EQ(bus->Find(1)->Space(0), memory);
    EXPECT_FALSE(store.LastError().empty());
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_TRUE(Entries().empty());
}

// The write went in, then the journal would not take its outcome: the store answers the line's
// result, and says the journal is incomplete; the entry stays unknown, and the chain holds.
TEST_F(JournaledWrites, AnOutcomeTheJournalCannotTakeLeavesTheWriteMadeAndTheJournalIncomplete) {
    ReadParams();
    model.Params().working.SetSlowStart(5);
    sqlite3* other = nullptr;
    auto lockAfterTheWrite = [&] {
        ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    };
    const CtrlrParams& p = model.Params().working;
    ASSERT_TRUE(store.BeforeWrite(addr::kParams, p.Length(), p.data(), 0));
    const StoreResult rc = line.Write(addr::kParams, p.Length(), p.data(), 0);
    ASSERT_TRUE(rc.Ok());
    lockAfterTheWrite();
    store.AfterWrite(rc);
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_NE(store.Incomplete().find("произведена"), std::string::npos) << store.Incomplete();
    EXPECT_TRUE(store.LastError().empty());
    const auto entries = Entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].outcome, kOutcomeUnknown);
    std::string error;
    EXPECT_EQ(Journal::OpenExisting(path, error)->Verify(error), 0) << error;
}

TEST_F(JournaledWrites, AJournalThatCannotBeWrittenKeepsTheWriteFromStarting) {
    JournalStore readOnly{line, "/proc/velmar-journal.sqlite", {}};
    ReadParams();
    CtrlrParams before = model.Params().read;
    model.Params().working.SetSlowStart(9);
    EXPECT_EQ(WriteModelParamsSized(model, readOnly), WriteResult::WriteFailed);
    EXPECT_FALSE(readOnly.LastError().empty());
    ControllerModel now;
    ASSERT_EQ(ReadModelParams(now, line), ReadResult::Read);
    EXPECT_EQ(now.Params().read.SlowStart(), before.SlowStart());
}

// The journal adds no exchange of its own: the factory defaults, whose records were never read,
// send the same frames through it as without it, and every record is entered as written.
TEST_F(JournaledWrites, TheFactoryDefaultsSendNoFrameMoreThroughTheJournal) {
    const DeviceBuffer image = BuildDefaultImage(DefaultPreset::Shelf, DefaultTopology{});
    int ctrlr = 1;
    uint64_t frames = bus->FramesSeen();
    ASSERT_TRUE(WriteDefaultImage(line, image, ctrlr, {}).Written());
    const uint64_t plainFrames = bus->FramesSeen() - frames;
    frames = bus->FramesSeen();
    ASSERT_TRUE(WriteDefaultImage(store, image, ctrlr, {}).Written());
    EXPECT_EQ(bus->FramesSeen() - frames, plainFrames);
    const auto entries = Entries();
    ASSERT_FALSE(entries.empty());
    for (const JournalEntry& e : entries) EXPECT_EQ(e.outcome, kOutcomeWritten) << e.caption;
}

TEST_F(JournaledWrites, AnImageLoadEntersEachRecordBeforeItAndStopsWhereItsWriteFailed) {
    // A saved image of this controller with one change in channel 1 and one in channel 2.
    std::vector<uint8_t> image;
    std::string error;
    ASSERT_EQ(ReadDeviceImage(line, image, {}, &error), ImageSaveResult::Saved) << error;
    auto at = [&](RecordKind kind, int index) {
        size_t pos = len::kSizes;
        for (const ImageRecord& r : ImageRecords(image.data())) {
            const RecordPlace p = PlaceOfAddress(r.address, 0);
            if (r.kind == kind && p.index == index) return pos;
            pos += static_cast<size_t>(r.length);
        }
        return size_t{0};
    };
    image[at(RecordKind::ChannelSetts, 0) + setts::kImpLit.offset] ^= 0x01;
    image[at(RecordKind::ChannelSetts, 1) + setts::kImpLit.offset] ^= 0x01;
    // Channel 1's settings read through the store: their old values are known.
    ChannelSetts setts0;
    ASSERT_EQ(
        store.Read(ChannelAddress(addr::kChannelSettsBase, 0), setts0.size(), setts0.data(), 0)
            .Length(),
        static_cast<int>(setts0.size()));
    // Channel 2's settings refuse the write: the load stops in them.
    {
        auto lock = bus->Lock();
        bus->GetFaults().writeStatusAddress = ChannelAddress(addr::kChannelSettsBase, 1);
    }
    ImageWriteReport report;
    EXPECT_EQ(WriteImageToController(slot, 1, image, {}, &store.Sizes(), &report, &store),
              ImageWriteResult::NotWritten);
    ASSERT_FALSE(report.written.empty());
    const auto entries = Entries();
    // Channel 1's settings: the one field changed, old value known, written.
    std::vector<const JournalEntry*> ch1, ch2;
    for (const JournalEntry& e : entries) {
        if (e.recordKind != "ChannelSetts") continue;
        (e.recordIndex == 0 ? ch1 : ch2).push_back(&e);
    }
    ASSERT_EQ(ch1.size(), 1u);
    EXPECT_EQ(ch1[0]->field, "ImpLit");
    EXPECT_EQ(ch1[0]->outcome, kOutcomeWritten);
    // Channel 2's settings were entered before their write, never read, and stay unknown.
    ASSERT_FALSE(ch2.empty());
    for (const JournalEntry* e : ch2) {
        EXPECT_EQ(e->recordIndex, 1);
        EXPECT_EQ(e->oldValue, "?");
        EXPECT_EQ(e->outcome, kOutcomeUnknown);
    }
    // Every record written before it is entered as written, and none after it at all.
    for (const ImageRecord& r : report.written) {
        const RecordPlace place = PlaceOfAddress(r.address, 0);
        const bool entered = std::any_of(entries.begin(), entries.end(), [&](const auto& e) {
            return e.recordKind == RecordKindName(*place.kind) && e.recordIndex == place.index;
        });
        EXPECT_TRUE(entered) << RecordKindName(*place.kind) << " " << place.index;
    }
    for (size_t i = 1; i < report.notWritten.size(); ++i) {
        const RecordPlace place = PlaceOfAddress(report.notWritten[i].address, 0);
        for (const JournalEntry& e : entries)
            EXPECT_FALSE(e.recordKind == RecordKindName(*place.kind) &&
                         e.recordIndex == place.index);
    }
}

} // namespace
} // namespace velmar
