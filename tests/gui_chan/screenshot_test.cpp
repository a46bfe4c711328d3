// Pictures of the two channel tabs inside the main window, for a person to look at. Taken only
// when VELMAR_SCREENSHOT_DIR names a directory (run under a display, e.g. xvfb-run).
#include "chan_fixture.h"

namespace velmar::test {
namespace {

class ChanScreenshot : public ChanTest {
  protected:
    void SetUp() override {
        shots = qEnvironmentVariable("VELMAR_SCREENSHOT_DIR");
        if (shots.isEmpty()) GTEST_SKIP() << "VELMAR_SCREENSHOT_DIR not set";
        QDir().mkpath(shots);
    }
    void Shoot(const char* name) {
        QApplication::processEvents();
        ASSERT_TRUE(window->grab().save(shots + "/" + name + ".png"));
    }
    QString shots;
};

TEST_F(ChanScreenshot, BothTabsWithLargeValuesAndMarks) {
    sim::Options options;
    options.hosesPerSide = 8;
    StartBus(options);
    SetSim(kRegsAt + 1, 1, 15);          // the longest state text
    SetSim(kRegsAt + 46, 4, 0xFFFFFFFF); // the widest totaliser
    SetSim(kRegsAt + 51, 4, 0xFFFFFFFF);
    SetSim(kRegsAt + 16, 4, 0xFFFFFFFF);
    Open("TabNozzRegs");
    Enter("ePrice", "700,00");
    Shoot("chan_regs");
    Open("TabNozSetts");
    Choose("cbNumNozSets", 15);
    Enter("eImpLit", "128");
    Shoot("chan_setts");
}

} // namespace
} // namespace velmar::test
