// The initial setup dialog: loading with its repairs, the address lists and numeric bounds, the
// write of the whole configuration with the fiscal totalisers kept, and a write that fails part
// way.
#include "data/ctrlr_params.h"
#include "dialogs_fixture.h"
#include "ui/dialogs/global_setts.h"

#include <QLabel>
#include <QListWidget>

namespace velmar::test {
namespace {

class InitialSetupTest : public DialogsTest {
  protected:
    ui::TfGlobalSetts& OpenSetup() {
        auto& d = Make<ui::TfGlobalSetts>();
        Open(d);
        return d;
    }
    static QPushButton* WriteButton(QWidget& d) { return Get<QPushButton>(d, "bSaveParamGlobal"); }
};

TEST_F(InitialSetupTest, ThreeSidesReadOpenWithOneSide) {
    StartBus();
    SetSimParams({{5, 3}});
    auto& d = OpenSetup();
    Screenshot(d, QStringLiteral("initial_setup"));
    EXPECT_TRUE(prompts->messages.contains(U("Ошибка чтения к-ва сторон. Установлено значение 1")));
    EXPECT_EQ(Get<QComboBox>(d, "cbNumSideGlobal")->currentText(), U("1 сторона"));
    auto* monitor = Get<QListWidget>(d, "lbMonSettsGlobal");
    EXPECT_EQ(monitor->item(0)->text(), U("Установлена связь с контроллером №1"));
    EXPECT_EQ(monitor->item(3)->text(), U("Количество сторон - 1"));
    EXPECT_TRUE(WriteButton(d)->isEnabled());
}

// Nothing read, nothing to write: mending a field does not offer Write either.
TEST_F(InitialSetupTest, NoAnswerLeavesWriteOff) {
    StartBus();
    {
        auto lock = bus->Lock();
        bus->GetFaults().noAnswer = true;
    }
    auto& d = OpenSetup();
    EXPECT_EQ(prompts->messages, QStringList({U("Ошибка связи с ТРК")}));
    EXPECT_EQ(Get<QListWidget>(d, "lbMonSettsGlobal")->item(0)->text(),
              U("Связь с контроллером не установлена"));
    TypeInto(Get<QLineEdit>(d, "ePcTimeoutGlobal"), QStringLiteral("5"));
    EXPECT_FALSE(WriteButton(d)->isEnabled());
}

TEST_F(InitialSetupTest, AddressListsAndAutomaticFilling) {
    StartBus(); // two sides
    auto& d = OpenSetup();
    auto* sides = Get<QLineEdit>(d, "eAdrUtrkGlobal");
    struct Case {
        const char* text;
        bool valid;
    } cases[] = {{"1,2,", false}, {"1, 2", true},   {"1,1", false},
                 {"0,2", false},  {"1,256", false}, {"3,4", true}};
    for (const Case& c : cases) {
        TypeInto(sides, QString::fromLatin1(c.text));
        EXPECT_EQ(ui::IsMarked(sides), !c.valid) << c.text;
        EXPECT_EQ(WriteButton(d)->isEnabled(), c.valid) << c.text;
        EXPECT_EQ(d.InvalidFieldCount(), c.valid ? 0 : 1) << c.text;
    }
    // Two sides of six hoses: side B follows side A instead of repeating 5 and 6.
    Choose(Get<QComboBox>(d, "cbNumNozGlobal"), U("6 пистолетов"));
    EXPECT_EQ(Get<QLineEdit>(d, "eAdrNaraGlobal")->text(),
              QStringLiteral("1,2,3,4,5,6,7,8,9,10,11,12"));
    Choose(Get<QComboBox>(d, "cbNumSideGlobal"), U("1 сторона"));
    EXPECT_EQ(sides->text(), QStringLiteral("1"));
    EXPECT_EQ(Get<QLineEdit>(d, "eAdrNaraGlobal")->text(), QStringLiteral("1,2,3,4,5,6"));
    // Choosing the count already shown fills the addresses again too.
    TypeInto(sides, QStringLiteral("7"));
    Choose(Get<QComboBox>(d, "cbNumSideGlobal"), U("1 сторона"));
    EXPECT_EQ(sides->text(), QStringLiteral("1"));
}

TEST_F(InitialSetupTest, FieldBoundsAndMarksThatSurviveReopening) {
    StartBus();
    auto& d = OpenSetup();
    struct Case {
        const char* field;
        const char* text;
        bool valid;
        int offset; // of the parameter byte stored
        int stored;
    } cases[] = {
        // Each field ends valid, but the last: its mark is kept for the reopening below.
        {"ePcTimeoutGlobal", "0", true, 56, 0},    {"ePcTimeoutGlobal", "1", false, 0, 0},
        {"ePcTimeoutGlobal", "2", false, 0, 0},    {"ePcTimeoutGlobal", "3", true, 56, 3},
        {"ePcTimeoutGlobal", "61", false, 0, 0},   {"ePcTimeoutGlobal", "60", true, 56, 60},
        {"eMinSpTimeGlobal", "2", false, 0, 0},    {"eMinSpTimeGlobal", "180", true, 54, 180},
        {"eHydroHitGlobal", "0,51", false, 0, 0},  {"eHydroHitGlobal", "", false, 0, 0},
        {"eHydroHitGlobal", "0,29", true, 55, 29}, {"eHydroHitGlobal", "0,5", true, 55, 50},
        {"eMetTimeoutGlobal", "256", false, 0, 0}, {"eMetTimeoutGlobal", "255", true, 27, 255},
        {"eSlowLoadGlobal", "25600", false, 0, 0}, {"eSlowLoadGlobal", "25500", true, 25, 255},
        {"eNozzleWaitGlobal", "21", false, 0, 0},
    };
    for (const Case& c : cases) {
        auto* edit = Get<QLineEdit>(d, c.field);
        TypeInto(edit, QString::fromLatin1(c.text));
        EXPECT_EQ(ui::IsMarked(edit), !c.valid) << c.field << " " << c.text;
        EXPECT_EQ(WriteButton(d)->isEnabled(), c.valid) << c.field << " " << c.text;
        if (c.valid) {
            EXPECT_EQ(d.Params().Get(Field{"", c.offset, 1}), static_cast<uint32_t>(c.stored))
                << c.text;
        }
    }
    // The last field is still red: it stays red and counted when the dialog opens again.
    d.reject();
    Open(d);
    EXPECT_TRUE(ui::IsMarked(Get<QLineEdit>(d, "eNozzleWaitGlobal")));
    EXPECT_EQ(d.InvalidFieldCount(), 1);
    EXPECT_FALSE(WriteButton(d)->isEnabled());
}

// A scaled field holds whole units of its scale: an entry is shown as the value it stores when
// the field is left, that value reaches the controller, and on opening again the field shows what
// the controller holds.
TEST_F(InitialSetupTest, ScaledFieldsShowTheValueTheyStore) {
    struct Case {
        const char* field;
        Field stored;
        const char* typed;
        const char* shown;
        uint8_t written;
        uint8_t heldLater; // put into the controller before the dialog opens again
        const char* shownLater;
    };
    const Case cases[] = {
        {"eSlowLoadGlobal", params::kSlowLoad, "250", "200", 2, 7, "700"},
        {"eSlowStartGlobal", params::kSlowStart, "1399", "1300", 13, 4, "400"},
        {"eNozzleFatGlobal", params::kNozzleFat, "57", "50", 5, 9, "90"},
    };
    StartBus();
    auto& d = OpenSetup();
    for (const Case& c : cases) {
        auto* edit = Get<QLineEdit>(d, c.field);
        TypeInto(edit, QString::fromLatin1(c.typed));
        EXPECT_EQ(edit->text(), QString::fromLatin1(c.shown)) << c.field;
    }
    Click(WriteButton(d));
    ASSERT_FALSE(d.isVisible()) << Get<QLabel>(d, "lErrorWriteGlobal")->text().toStdString();
    for (const Case& c : cases) {
        EXPECT_EQ(SimParam(c.stored.offset), c.written) << c.field;
        SetSimParams({{c.stored.offset, c.heldLater}});
    }
    Open(d);
    for (const Case& c : cases)
        EXPECT_EQ(Get<QLineEdit>(d, c.field)->text(), QString::fromLatin1(c.shownLater)) << c.field;
}

TEST_F(InitialSetupTest, WriteRewritesEverythingAndKeepsTheFiscalTotalisers) {
    StartBus();
    SetSimBytes(RegsAt(3), {0x11, 0x22, 0x84, 0x00});         // registers and status flags
    SetSimBytes(RegsAt(3) + 46, {0x78, 0x56, 0x34, 0x12, 7}); // the fiscal totaliser
    auto& d = OpenSetup();
    Choose(Get<QComboBox>(d, "cbNumSideGlobal"), U("1 сторона"));
    Choose(Get<QComboBox>(d, "cbNumNozGlobal"), U("2 пистолета"));
    auto* meter256 = Get<QWidget>(d, "rbMeter256Global");
    QTest::mouseClick(meter256, Qt::LeftButton, {}, QPoint(8, meter256->height() / 2));
    Click(WriteButton(d));

    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(Restarts(), 1);
    EXPECT_TRUE(session->AnyReidentRequested());
    EXPECT_EQ(SimParam(5), 1);
    EXPECT_EQ(SimParam(4), 2);
    EXPECT_EQ(SimParam(22), 1); // 256 pulses
    EXPECT_EQ(SimBytes(addr::kParams + 35, 4), std::vector<uint8_t>({0, 1, 255, 255}));
    EXPECT_EQ(SimBytes(RegsAt(3) + 46, 5), std::vector<uint8_t>({0x78, 0x56, 0x34, 0x12, 7}));
    EXPECT_EQ(SimBytes(RegsAt(3), 4), std::vector<uint8_t>(4, 0));
    EXPECT_EQ(SimBytes(RegsAt(3) + 32, 2), std::vector<uint8_t>({0xE8, 0x03})); // price 1000
    EXPECT_EQ(SimBytes(static_cast<uint32_t>(ChannelAddress(addr::kChannelSettsBase, 0)) + 14, 2),
              std::vector<uint8_t>({0x00, 0x02})); // 512: twice 256 pulses
}

TEST_F(InitialSetupTest, FailedRegisterWriteIsShownAndTheRestStillRuns) {
    StartBus();
    {
        auto lock = bus->Lock();
        bus->GetFaults().writeStatusAddress = static_cast<int>(RegsAt(5));
    }
    SetSimBytes(RegsAt(6) + 32, {0, 0});
    auto& d = OpenSetup();
    Click(WriteButton(d));
    EXPECT_TRUE(d.isVisible());
    EXPECT_EQ(Get<QLabel>(d, "lErrorWriteGlobal")->text(), U("Ошибка записи!"));
    EXPECT_EQ(Restarts(), 1);
    EXPECT_EQ(SimBytes(RegsAt(6) + 32, 2), std::vector<uint8_t>({0xE8, 0x03})); // written after
    EXPECT_TRUE(WriteButton(d)->isEnabled());
}

// On the demo image the setup reads and writes the image's records and restarts nothing.
TEST_F(InitialSetupTest, DemoImageIsReadAndRewritten) {
    StartDemo();
    auto& d = OpenSetup();
    EXPECT_TRUE(prompts->messages.isEmpty())
        << prompts->messages.join(QLatin1Char('|')).toStdString();
    Choose(Get<QComboBox>(d, "cbNumNozGlobal"), U("3 пистолета"));
    Click(WriteButton(d));
    EXPECT_FALSE(d.isVisible());
    uint8_t block[256] = {};
    ASSERT_GT(session->Store().Read(addr::kParamsLength, -1, block).Length(), 0);
    EXPECT_EQ(block[4], 3);
}

} // namespace
} // namespace velmar::test
