// Every write sequence of the window and the command line, end to end against the controller
// simulator through a journaling store: which entries each leaves, with the values as the screens
// show them, and that a refused write, a write that changes nothing and a journal that cannot be
// written behave as they must.
#include "../data/data_test_support.h"
#include "data/channel_io.h"
#include "data/journal_image.h"
#include "data/journal_store.h"
#include "data/live_store.h"
#include "data/model_reads.h"
#include "data/model_writes.h"
#include "data/read_checks.h"
#include "link/serial_port.h"
#include "sim/core/bus_simulator.h"

#include <functional>
#include <gtest/gtest.h>

namespace velmar {
namespace {

constexpr int kChannel = 1;
constexpr int kSide = 1;

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

TEST_F(JournaledWrites, ARecordNeverReadIsReadOnceForItsOldValues) {
    ChannelRegs regs;
    ASSERT_EQ(
        line.Read(ChannelAddress(addr::kChannelRegsBase, 0), regs.size(), regs.data(), 0).Length(),
        static_cast<int>(regs.size()));
    const uint16_t oldPrice = regs.Price();
    regs.SetPrice(static_cast<uint16_t>(oldPrice + 1));
    ASSERT_TRUE(
        store.Write(ChannelAddress(addr::kChannelRegsBase, 0), regs.size(), regs.data(), 0).Ok());
    const auto entries = Entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].field, "Price");
    EXPECT_NE(entries[0].oldValue, "?");
}

TEST_F(JournaledWrites, ARefusedWriteIsEnteredAsRefused) {
    Read(model.Make(), addr::kMakeBlock);
    model.Make().working.SetMinVolNara(33);
    {
        auto lock = bus->Lock();
        bus->GetFaults().writeStatusAddress = addr::kMakeBlock;
    }
    EXPECT_EQ(WriteModelMake(model, store), WriteResult::WriteFailed);
    const auto entries = Entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].outcome, kOutcomeRefused);
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

TEST_F(JournaledWrites, APartialImageLoadEntersExactlyTheRecordsWritten) {
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
    const size_t first = at(RecordKind::ChannelSetts, 0) + setts::kImpLit.offset;
    const size_t second = at(RecordKind::ChannelSetts, 1) + setts::kImpLit.offset;
    image[first] ^= 0x01;
    image[second] ^= 0x01;
    // The write stopped in channel 2's settings, after channel 1's.
    ImageWriteReport report;
    report.anythingSent = true;
    for (const ImageRecord& r : ImageRecords(image.data())) {
        if (r.kind != RecordKind::ChannelSetts) continue;
        const int index = PlaceOfAddress(r.address, 0).index;
        if (index == 0) report.written.push_back(r);
        if (index >= 1) report.notWritten.push_back(r);
    }
    ChannelSetts setts0;
    ASSERT_EQ(ReadChannelRecord(line, kSettsRecord, 0, setts0.data()), ReadResult::Read);
    model.Setts(0).Take(setts0);
    const auto entries =
        ImageLoadEntries(store.Context(), image, report, store.Sizes(), ModelReadCopies(model));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].field, "ImpLit");
    EXPECT_EQ(entries[0].recordIndex, 0);
    EXPECT_EQ(entries[0].outcome, kOutcomePartial);
}

} // namespace
} // namespace velmar
