// The tab "Сост канала" against the simulator: every field read, edits reaching the controller's
// memory, the status bits, the question on leaving a channel with edits, failing writes.
#include "chan_fixture.h"
#include "data/channel_io.h"
#include "data/read_checks.h"
#include "ui/pages/tab_nozz_regs.h"

namespace velmar::test {
namespace {

class RegsTest : public ChanTest {
  protected:
    const ChannelRegs& Regs() { return static_cast<ui::TabNozzRegs*>(page)->Regs(); }
    QListWidget* Bits() { return Get<QListWidget>("checkBitStat"); }
    void Save() { Click(Button("bSaveNozRegs")); }
};

TEST_F(RegsTest, ShownOnlyWithTheServiceSwitch) {
    for (const bool service : {false, true}) {
        ui::Session s;
        Reconfigure(s, [&](ui::SessionOptions& o) { o.serviceMode = service; });
        ui::TVelmarMain w(s);
        auto* t = w.findChild<QTabWidget*>(QStringLiteral("TabSetts"));
        EXPECT_EQ(t->isTabVisible(t->indexOf(w.PageByName(QStringLiteral("TabNozzRegs")))),
                  service);
        EXPECT_TRUE(t->isTabVisible(t->indexOf(w.PageByName(QStringLiteral("TabNozSetts")))));
    }
}

TEST_F(RegsTest, RefusedBeforeTheParametersAreRead) {
    StartBus();
    page = window->PageByName(QStringLiteral("TabNozzRegs"));
    tabs->setCurrentWidget(page);
    EXPECT_EQ(prompts->messages, QStringList{U("Ошибка. Не считаны параметры ТРК")});
    EXPECT_EQ(status, U("Ошибка. Не считаны параметры ТРК"));
    EXPECT_FALSE(page->isEnabled());
}

TEST_F(RegsTest, EveryFieldReadEditedAndWritten) {
    StartBus();
    SetSim(kRegsAt + 16, 4, 0x1A3);
    Open("TabNozzRegs");
    EXPECT_EQ(Combo("cbNumCnl")->count(), 4);
    EXPECT_EQ(Combo("cbNumCnl")->itemText(2), U("Сторона Б. Рукав 1"));
    EXPECT_EQ(status, U("Состояние канала считано"));
    EXPECT_EQ(Combo("cbState")->currentIndex(), 17); // code 44
    EXPECT_EQ(Combo("cbState")->currentText(), U("Нормальное завершение"));
    const std::vector<std::pair<const char*, const char*>> shown = {
        {"eSetVol", "20,00"}, {"eSetSum", "1046,00"}, {"eLoadVol", "20,00"}, {"eLoadVolLo", "01A3"},
        {"eKVolLo", "00"},    {"ePrice", "52,30"},    {"eVolStart", "100"},  {"eVolEnd", "300"},
        {"eDCount", "15,00"}, {"eFCount", "123456"},  {"eFCMil", "7"},       {"eLCount", "8000,00"},
        {"eMCount", "5,00"},  {"eBitStatHex", "0080"}};
    for (const auto& [name, text] : shown) EXPECT_EQ(Text(name), U(text)) << name;
    EXPECT_TRUE(Edit("eLCount")->isReadOnly());
    EXPECT_EQ(Bits()->item(1)->checkState(), Qt::Checked);

    Choose("cbState", 19);
    Enter("ePrice", "12,34");
    Enter("eKVolLo", "abc");
    Enter("eFCMil", "300"); // above 255: red, the record keeps 7
    EXPECT_TRUE(Marked("eFCMil"));
    Enter("eVolStart", "65536");
    EXPECT_TRUE(Marked("eVolStart"));
    Enter("eSetSum", "12.5");
    const int restarts = Restarts();
    Save();
    EXPECT_EQ(status, U("Состояние канала записано"));
    EXPECT_EQ(Sim(kRegsAt + 1, 1), 46u);
    EXPECT_EQ(Sim(kRegsAt + 32, 2), 1234u);
    EXPECT_EQ(Sim(kRegsAt + 24, 4), 0xABCu);
    EXPECT_EQ(Sim(kRegsAt + 50, 1), 7u);
    EXPECT_EQ(Sim(kRegsAt + 36, 2), 100u);
    EXPECT_EQ(Sim(kRegsAt + 8, 4), 1250u);
    EXPECT_EQ(Restarts(), restarts + 1);

    Click(Button("bCallNozRegs"));
    EXPECT_EQ(Text("ePrice"), U("12,34"));
    EXPECT_FALSE(Marked("eFCMil"));
    EXPECT_EQ(session->FieldEntry().invalidFieldCount, 0);
    Save();
    EXPECT_EQ(status, U("Запись не произведена. Не было изменений параметров"));
    prompts->messages.clear();
    Click(Get<QWidget>("helpLoadVolLo"));
    EXPECT_EQ(prompts->messages.value(0), U("Милилитровая часть отпущенной дозы по данному "
                                            "раздаточному рукаву, в hex"));
}

TEST_F(RegsTest, StatusBitsItemsSixAndSevenShareBitTwo) {
    StartBus();
    Open("TabNozzRegs");
    ClickItem(Bits(), 6);
    EXPECT_EQ(Bits()->item(6)->checkState(), Qt::Checked);
    EXPECT_EQ(Regs().BitStat(), 0x0080); // item 7 is clear and decides bit 2
    ClickItem(Bits(), 7);
    EXPECT_EQ(Regs().BitStat(), 0x0084);
    EXPECT_EQ(Text("eBitStatHex"), U("0084"));
    ClickItem(Bits(), 0);
    EXPECT_EQ(Regs().BitStat(), 0x008C);

    Enter("eBitStatHex", "4804");
    EXPECT_EQ(Regs().BitStat(), 0x4804);
    for (int i = 0; i < Bits()->count(); ++i)
        EXPECT_EQ(Bits()->item(i)->checkState() == Qt::Checked,
                  i == 5 || i == 6 || i == 7 || i == 9)
            << i;
    Enter("eBitStatHex", "1G");
    EXPECT_TRUE(Marked("eBitStatHex"));
    EXPECT_EQ(Regs().BitStat(), 0x4804);
}

TEST_F(RegsTest, UnreadableStatusIsZeroAndAsksOnLeaving) {
    StartBus();
    SetSim(kRegsAt + 2, 2, 0xFFFF);
    Open("TabNozzRegs");
    EXPECT_EQ(prompts->messages, QStringList{U(msg::kBadBitStat)});
    EXPECT_EQ(Text("eBitStatHex"), U("FFFF"));
    EXPECT_EQ(Regs().BitStat(), 0);

    // Nothing typed, yet the working copy differs: the question comes; Cancel drops it.
    Choose("cbNumCnl", 1);
    ASSERT_EQ(prompts->confirmTexts.size(), 1);
    EXPECT_EQ(prompts->confirmTexts[0], U("Данные о состоянии были изменены, но не записаны в "
                                          "контроллер!\nВы хотите сохранить данные в контроллер"));
    EXPECT_EQ(Sim(kRegsAt + 2, 2), 0xFFFFu);
    EXPECT_EQ(Text("eSetVol"), U("21,00")); // channel 1
}

TEST_F(RegsTest, LeavingWithEditsOkSavesTheChannelShown) {
    StartBus();
    Open("TabNozzRegs");
    Enter("eLastVol", "7,5");
    prompts->confirms = {true};
    Choose("cbNumCnl", 3);
    EXPECT_EQ(Sim(kRegsAt + 28, 4), 750u);
    EXPECT_EQ(Sim(kRegsAt + 0x300 + 28, 4), 2300u);
    EXPECT_EQ(Text("eLastVol"), U("23,00"));
    Choose("cbNumCnl", 0); // nothing changed: no question
    EXPECT_EQ(prompts->confirmTexts.size(), 1);
}

TEST_F(RegsTest, WriteFailingThreeTimesKeepsTheEdits) {
    StartBus();
    Open("TabNozzRegs");
    Enter("ePrice", "1,00");
    {
        auto lock = bus->Lock();
        bus->GetFaults().writeStatusAddress = static_cast<int>(kRegsAt);
    }
    // A failed save chosen on leaving keeps the channel and its edits.
    prompts->confirms = {true};
    Choose("cbNumCnl", 1);
    EXPECT_EQ(prompts->messages, QStringList(3, U("Ошибка записи!")));
    EXPECT_EQ(status, U("Ошибка записи"));
    EXPECT_EQ(Combo("cbNumCnl")->currentIndex(), 0);
    EXPECT_EQ(Regs().Price(), 100);

    prompts->messages.clear();
    Save();
    EXPECT_EQ(prompts->messages, QStringList({U("Ошибка записи!"), U("Ошибка записи!"),
                                              U("Ошибка записи!"), U("Ошибка записи")}));
    EXPECT_EQ(Sim(kRegsAt + 32, 2), 5230u);
    EXPECT_EQ(mainTabRequests, 1);
    EXPECT_EQ(tabs->currentWidget()->objectName(), QStringLiteral("TabIdent"));
}

TEST(ChannelRecords, ChannelSixteenIsRefused) {
    // Channel 16 would be 0x3000 (another record) and 0x2000 (channel 0's registers).
    struct CountingStore : RecordStore {
        int calls = 0;
        StoreResult Read(int, int, uint8_t*, uint8_t) override {
            return StoreResult::Done(++calls);
        }
        StoreResult Write(int, int, const uint8_t*, uint8_t) override {
            ++calls;
            return StoreResult::Done();
        }
        StoreResult Restart() override { return StoreResult::Done(); }
        StoreResult ReadSizes() override { return StoreResult::Done(); }
        bool Holds(int, uint8_t) const override { return true; }
        bool IsDemo() const override { return false; }
    } store;
    uint8_t record[len::kChannelRegs] = {};
    for (const int n : {16, -1}) {
        EXPECT_EQ(ReadChannelRecord(store, kRegsRecord, n, record), ReadResult::ReadFailed);
        EXPECT_EQ(WriteChannelRecord(store, kSettsRecord, n, record), WriteResult::WriteFailed);
    }
    EXPECT_EQ(store.calls, 0);
    EXPECT_TRUE(ChannelNumberValid(15));
}

} // namespace
} // namespace velmar::test
