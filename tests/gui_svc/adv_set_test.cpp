// The advanced settings tab: the accepted range of every field, the second mode mask, the panel
// passwords, and the two-step save (parameter block, then the make-specific block once the
// restarted controller answers).
#include "svc_fixture.h"
#include "ui/pages/tab_adv_set.h"

#include <QComboBox>
#include <QListWidget>

namespace velmar::test {
namespace {

constexpr uint32_t kParams = 0x3101;
constexpr uint32_t kMake = 0x5100;
const char* const kWritten = "Параметры успешно записаны";

struct Bound {
    const char* field;
    const char* text;
    bool accepted;
    uint32_t at; // where the stored byte lives in the simulator's memory
    uint8_t stored;
};

// Each text is entered after a fresh read, then saved: an accepted one reaches the controller,
// a refused one is marked red and stops the save.
TEST_F(SvcTest, EveryFieldKeepsItsOwnRange) {
    StartBus();
    Make<ui::TabAdvSet>();
    const Bound bounds[] = {
        {"eMinSpTime", "0", true, kParams + 54, 0},
        {"eMinSpTime", "3", true, kParams + 54, 3},
        {"eMinSpTime", "180", true, kParams + 54, 180},
        {"eMinSpTime", "1", false, 0, 0},
        {"eMinSpTime", "2", false, 0, 0},
        {"eMinSpTime", "181", false, 0, 0},
        {"eHydroHit", "2555", true, kParams + 55, 255},
        {"eHydroHit", "35", true, kParams + 55, 3},
        {"eHydroHit", "2556", false, 0, 0},
        {"ePcTimeout", "60", true, kParams + 56, 60},
        {"ePcTimeout", "2", false, 0, 0},
        {"eMinSpeed", "30", true, kParams + 53, 30},
        {"eMinSpeed", "31", false, 0, 0},
        {"eTemp_heat_low", "-7", true, kParams + 51, 0xF9},
        {"eTemp_heat_low", "0", false, 0, 0},
        {"eTemp_heat_low", "3", false, 0, 0},
        {"eTemp_heat_high", "-128", true, kParams + 52, 0x80},
        {"eTemp_heat_high", "300", false, 0, 0},
        {"eMinVolNara", "500", true, kMake + 16, 0xF4},
        {"eMinVolNara", "10", true, kMake + 16, 10},
        {"eMinVolNara", "5", false, 0, 0},
        {"eMinVolNara", "501", false, 0, 0},
        {"eShimDuration", "19", true, kMake + 15, 19},
        {"eShimDuration", "2", true, kMake + 15, 2},
        {"eShimDuration", "1", false, 0, 0},
        {"eShimDuration", "20", false, 0, 0},
    };
    for (const Bound& b : bounds) {
        SCOPED_TRACE(std::string(b.field) + " = " + b.text);
        Show();
        Enter(b.field, QString::fromLatin1(b.text));
        EXPECT_EQ(Marked(b.field), !b.accepted);
        Click("bSetAdvSetTrk");
        if (b.accepted) {
            EXPECT_EQ(status, U(kWritten));
            EXPECT_EQ(Sim(b.at), b.stored);
        } else {
            EXPECT_EQ(status, U("Запись не произведена. Исправьте ошибку и повторите попытку"));
        }
    }
    // 35 was stored as 3 and reads back as 30.
    Show();
    Enter("eHydroHit", "35");
    Click("bSetAdvSetTrk");
    Show();
    EXPECT_EQ(Edit("eHydroHit")->text(), "30");
}

TEST_F(SvcTest, OnlyTheMakeBlockChangedIsWrittenWithoutRestart) {
    StartBus();
    Make<ui::TabAdvSet>();
    Show();
    EXPECT_EQ(status, U("Параметры были успешно считаны"));
    Click("bSetAdvSetTrk");
    EXPECT_EQ(status, U("Запись не произведена. Не было изменений параметров"));
    Enter("eStopTimeNara", "7");
    Click("bSetAdvSetTrk");
    EXPECT_EQ(status, U(kWritten));
    EXPECT_EQ(Sim(kMake + 19), 7);
    auto lock = bus->Lock();
    EXPECT_EQ(bus->Find(1)->restarts, 0);
}

// The controller hears nothing for a while after its restart: the make-specific write waits for
// it instead of being lost.
TEST_F(SvcTest, TheMakeBlockWriteWaitsForTheRestartedController) {
    StartBus();
    {
        auto lock = bus->Lock();
        bus->GetFaults().deafAfterRestartMs = 600;
    }
    Make<ui::TabAdvSet>();
    Show();
    Enter("eMinSpeed", "12");
    Enter("ePbTimeoutNara", "42");
    Click("bSetAdvSetTrk");
    EXPECT_EQ(status, U(kWritten));
    EXPECT_TRUE(prompts->messages.isEmpty()) << prompts->messages.join('|').toStdString();
    EXPECT_EQ(Sim(kParams + 53), 12);
    EXPECT_EQ(Sim(kMake + 24), 42);
}

// The make-specific write follows the restart only when the controller restarted: refused, it
// is not written and the engineer is told; its status lost, the controller is awaited (once
// restarted) and the block written.
class AdvRestartTest : public SvcTest {
  protected:
    void WriteThrough(void (*fault)(sim::Faults&), bool makeWritten, int restarts) {
        ASSERT_NO_FATAL_FAILURE(StartBus());
        {
            auto lock = bus->Lock();
            fault(bus->GetFaults());
        }
        Make<ui::TabAdvSet>();
        Show();
        const int makeBefore = Sim(kMake + 24);
        Enter("eMinSpeed", "12");
        Enter("ePbTimeoutNara", "42");
        Click("bSetAdvSetTrk");
        EXPECT_EQ(Sim(kParams + 53), 12);
        EXPECT_EQ(Sim(kMake + 24), makeWritten ? 42 : makeBefore);
        if (!makeWritten) {
            EXPECT_EQ(prompts->messages.join('|'),
                      U("Контроллер отказался выполнить рестарт; параметры Нара-Азс не записаны"));
        }
        auto lock = bus->Lock();
        EXPECT_EQ(bus->Find(1)->restarts, restarts);
    }
};

TEST_F(AdvRestartTest, ARefusedRestartStopsTheMakeBlockWrite) {
    WriteThrough([](sim::Faults& f) { f.refuseRestart = -1; }, false, 0);
}

TEST_F(AdvRestartTest, ALostStatusIsAwaitedBeforeTheMakeBlockWrite) {
    constexpr int kSlowRestartMs = 3500;
    WriteThrough(
        [](sim::Faults& f) {
            f.loseRestartStatus = 1;
            f.deafAfterRestartMs = kSlowRestartMs;
        },
        true, 1);
}

TEST_F(SvcTest, AnyClickOnTheSecondModeMaskClearsItsTopBits) {
    StartBus();
    SetSim(kParams + 32, {0xFF, 0xFF});
    {
        auto lock = bus->Lock();
        bus->Find(1)->FixParamsChecksum();
    }
    Make<ui::TabAdvSet>();
    Show();
    auto* modes = Get<QListWidget>("checkbTrkModes2");
    modes->item(0)->setCheckState(Qt::Unchecked);
    Click("bSetAdvSetTrk");
    EXPECT_EQ(Sim(kParams + 32), 0xFE);
    EXPECT_EQ(Sim(kParams + 33), 0x0F);
}

TEST_F(SvcTest, PanelPasswordsMustFitThirtyTwoBits) {
    StartBus();
    Make<ui::TabAdvSet>();
    Show();
    Enter("eBmuPAdm", "4294967296");
    EXPECT_TRUE(Marked("eBmuPAdm"));
    EXPECT_EQ(session->FieldEntry().invalidFieldCount, 1);
    Enter("eBmuPAdm", "999999999");
    EXPECT_FALSE(Marked("eBmuPAdm"));
    Enter("eBmuPAdm", "4294967295");
    EXPECT_FALSE(Marked("eBmuPAdm"));
    // The operator list stores into the slot picked from it.
    auto* users = Get<QComboBox>("cbBmuPUser");
    users->setFocus(Qt::MouseFocusReason);
    users->setCurrentIndex(2);
    emit users->activated(2);
    QTest::keyClick(users, Qt::Key_A, Qt::ControlModifier);
    Type("1234");
    Key(Qt::Key_Tab);
    Click("bSetAdvSetTrk");
    EXPECT_EQ(status, U(kWritten));
    for (uint32_t i = 0; i < 4; ++i) EXPECT_EQ(Sim(kMake + 41 + i), 0xFF);
    EXPECT_EQ(Sim(kMake + 25 + 8), 0xD2); // 1234 = 0x04D2 in slot 2
    EXPECT_EQ(Sim(kMake + 25 + 9), 0x04);
    EXPECT_EQ(users->itemText(2), "1234");
}

// A password that starts another slot's password stays in the slot chosen.
TEST_F(SvcTest, AnOperatorPasswordIsNotCompletedFromAnotherSlot) {
    StartBus();
    for (uint8_t i = 0; i < 4; ++i) {
        const auto value = static_cast<uint16_t>(1111 * (i + 1));
        SetSim(kMake + 25 + 4 * i, {uint8_t(value & 0xFF), uint8_t(value >> 8), 0, 0});
    }
    Make<ui::TabAdvSet>();
    Show();
    auto* users = Get<QComboBox>("cbBmuPUser");
    users->setFocus(Qt::MouseFocusReason);
    users->setCurrentIndex(1);
    emit users->activated(1);
    QTest::keyClick(users, Qt::Key_A, Qt::ControlModifier);
    Type("11");
    Key(Qt::Key_Tab);
    EXPECT_EQ(users->currentIndex(), 1);
    Click("bSetAdvSetTrk");
    EXPECT_EQ(status, U(kWritten));
    EXPECT_EQ(Sim(kMake + 25 + 4), 11);
    EXPECT_EQ(Sim(kMake + 25 + 5), 0);
    EXPECT_EQ(Sim(kMake + 25), 1111 & 0xFF);
}

TEST_F(SvcTest, BeforeIdentificationNothingIsRead) {
    StartBus();
    session->MarkNotIdentified();
    Make<ui::TabAdvSet>();
    Show();
    EXPECT_EQ(status, U("Идентификатор не считан! Считайте идентификатор"));
    EXPECT_FALSE(Button("bGetAdvSetTrk")->isEnabled());
    EXPECT_FALSE(Button("bSetAdvSetTrk")->isEnabled());
}

TEST_F(SvcTest, TheRelayTestReachesTheController) {
    StartBus();
    Make<ui::TabAdvSet>();
    Show();
    Click("bTestReleT");
    EXPECT_TRUE(prompts->messages.isEmpty());
    auto lock = bus->Lock();
    EXPECT_EQ(bus->Find(1)->relayTests, 1);
}

} // namespace
} // namespace velmar::test
