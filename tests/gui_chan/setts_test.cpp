// The tab "Настройки канала" against the simulator and in demo mode: the calibration fields, the
// pulses per litre with the rescaling of W and K * L, the phase repair, the parameter block
// following the channels after a save.
#include "chan_fixture.h"
#include "data/channel_setts.h"
#include "data/ctrlr_params.h"
#include "data/read_checks.h"
#include "ui/pages/tab_noz_setts.h"
#include "ui/pages/tab_nozz_regs.h"

#include <cmath>

namespace velmar::test {
namespace {

class SettsTest : public ChanTest {
  protected:
    const ChannelSetts& Setts() { return static_cast<ui::TabNozSetts*>(page)->Setts(); }
    void Save() { Click(Button("bSaveNozSets")); }
    static uint64_t Scaled(uint64_t v, double a, double b) {
        return static_cast<uint64_t>(std::floor(static_cast<double>(v) * a / b + 0.5));
    }
};

TEST_F(SettsTest, PulsesPerLitreRescaleTheCalibration) {
    StartBus();
    Open("TabNozSetts");
    EXPECT_EQ(status, U("Настройки канала считаны"));
    const uint64_t w = Sim(kSettsAt, 4);
    const uint64_t kl = Sim(kSettsAt + 5, 4);
    EXPECT_EQ(Text("eImpWLo"), QString::number(w, 16).toUpper());
    EXPECT_EQ(Text("eImpLit"), U("100"));
    EXPECT_EQ(Text("eCountKor"), U("1"));
    EXPECT_TRUE(Edit("eCountKor")->isReadOnly());
    EXPECT_EQ(Combo("cbMeterPhaseNozSets")->currentText(), U("Две фазы"));

    Enter("eImpLit", "128");
    EXPECT_TRUE(Marked("eImpLit"));
    EXPECT_EQ(Setts().ImpLit(), 200);
    Enter("eImpLit", "132");
    EXPECT_FALSE(Marked("eImpLit"));
    EXPECT_EQ(Setts().W(), Scaled(w, 200, 264));
    EXPECT_EQ(Text("eImpWkLo"), QString::number(Scaled(kl, 200, 264), 16).toUpper());
    Choose("cbMeterPhaseNozSets", 2);
    const int restarts = Restarts();
    Save();
    EXPECT_EQ(status, U("Настройки канала записаны"));
    EXPECT_EQ(Sim(kSettsAt + 14, 2), 264u);
    EXPECT_EQ(Sim(kSettsAt, 4), Scaled(w, 200, 264));
    EXPECT_EQ(Sim(kSettsAt + 5, 4), Scaled(kl, 200, 264));
    EXPECT_EQ(Sim(kSettsAt + 10, 4), Scaled(kl, 200, 264) - Scaled(w, 200, 264));
    EXPECT_EQ(Sim(kSettsAt + 16, 1), 2u);
    // The channel, then the parameter block (its type and phase now mixed), each restarted.
    EXPECT_EQ(Sim(kParamsAt + params::kMeterType.offset, 1), 3u);
    EXPECT_EQ(Sim(kParamsAt + params::kPhaseMet.offset, 1), 3u);
    EXPECT_EQ(Restarts(), restarts + 2);
    const std::vector<uint8_t> bytes = SimBytes(kParamsAt, len::kParams);
    const CtrlrParams block(bytes.data(), len::kParams);
    EXPECT_TRUE(block.KsmValid());
}

TEST_F(SettsTest, ChannelWithFactorZeroGetsTheFactoryPair) {
    StartBus();
    SetSim(kSettsAt + 0x100 + 14, 2, 0);
    Open("TabNozSetts");
    Choose("cbNumNozSets", 1);
    EXPECT_EQ(Text("eImpLit"), U("0"));
    Enter("eImpLit", "100");
    EXPECT_EQ(Setts().W(), 1073741824u);
    EXPECT_EQ(Setts().KL(), 1073741824u);
    Save();
    EXPECT_EQ(Sim(kSettsAt + 0x100, 4), 1073741824u);
    EXPECT_EQ(Sim(kSettsAt + 0x100 + 10, 4), 0u);
    EXPECT_EQ(Sim(kParamsAt + params::kMeterType.offset, 1), 0u); // all channels 100 again
}

TEST_F(SettsTest, PhaseByteFiveIsRepaired) {
    StartBus();
    SetSim(kSettsAt + 16, 1, 5);
    Open("TabNozSetts");
    EXPECT_TRUE(prompts->messages.contains(U(msg::kBadChannelPhase)));
    EXPECT_EQ(Combo("cbMeterPhaseNozSets")->currentText(), U("Одна фаза(1)"));
    EXPECT_EQ(Setts().MeterPhase(), 0);
    prompts->confirms = {false};
    Choose("cbNumNozSets", 1); // the repair is an unsaved change
    EXPECT_EQ(prompts->confirmTexts.size(), 1);
    EXPECT_EQ(Sim(kSettsAt + 16, 1), 5u);
}

// After a save the controller restarts; the meter type derivation reads the channels only once
// it listens again, and says so when it never does.
TEST_F(SettsTest, TheDerivationWaitsForTheRestartedController) {
    struct Case {
        int deafMs;
        uint32_t meterType;
        const char* status;
    };
    const Case cases[] = {{400, 3, "Настройки канала записаны"},
                          {1500, 0, "Ошибка чтения настроек канала"}};
    StartBus();
    Open("TabNozSetts");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.deafMs);
        {
            auto lock = bus->Lock();
            bus->GetFaults().deafAfterRestartMs = c.deafMs;
        }
        Click(Button("bCallNozSets"));
        Enter("eImpLit", "256");
        Save();
        EXPECT_EQ(status, U(c.status));
        EXPECT_EQ(Sim(kParamsAt + params::kMeterType.offset, 1), c.meterType);
        {
            auto lock = bus->Lock();
            bus->GetFaults().deafAfterRestartMs = 0;
        }
        QTest::qWait(c.deafMs); // the last restart's deafness ends
        Enter("eImpLit", "100");
        Save();
        EXPECT_EQ(Sim(kParamsAt + params::kMeterType.offset, 1), 0u);
    }
}

// A channel that cannot be read leaves the fields with the channel before, and the list says so.
TEST_F(SettsTest, AFailedReadTakesTheListBackToTheChannelShown) {
    StartBus();
    {
        auto lock = bus->Lock();
        bus->GetFaults().mutedReadController = 1;
        bus->GetFaults().mutedReadAddress = kSettsAt + 0x100;
    }
    Open("TabNozSetts");
    Choose("cbNumNozSets", 1);
    EXPECT_EQ(status, U("Ошибка чтения настроек канала"));
    EXPECT_EQ(Combo("cbNumNozSets")->currentIndex(), 0);
}

TEST_F(SettsTest, DemoImageReadAndWritten) {
    StartDemo();
    Open("TabNozSetts");
    EXPECT_EQ(status, U("Настройки канала считаны"));
    Enter("eImpLit", "256");
    Save();
    EXPECT_EQ(status, U("Настройки канала записаны"));
    QFile file(imagePath);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray image = file.readAll();
    file.close();
    const int at = demo::SettsOffset(0) + 14;
    EXPECT_EQ(static_cast<uint8_t>(image[at]) | static_cast<uint8_t>(image[at + 1]) << 8, 512);

    Open("TabNozzRegs");
    EXPECT_EQ(status, U("Состояние канала считано"));
    Enter("ePrice", "12,34");
    // The image can no longer be replaced: the edits stay and the tab says so.
    ASSERT_TRUE(QFile::remove(imagePath));
    ASSERT_TRUE(QDir().mkpath(imagePath + "/keep"));
    prompts->messages.clear();
    Click(Button("bSaveNozRegs"));
    EXPECT_EQ(prompts->messages, QStringList({U("Ошибка записи!"), U("Ошибка записи")}));
    EXPECT_EQ(status, U("Ошибка записи демонстрационного образа demo_trk.bin"));
    EXPECT_EQ(mainTabRequests, 0);
    prompts->confirms = {false};
    Choose("cbNumCnl", 1);
    EXPECT_EQ(prompts->confirmTexts.size(), 1);
}

} // namespace
} // namespace velmar::test
