// Pictures of the tab inside the main window, for a person to look at. Taken only when
// VELMAR_SCREENSHOT_DIR names a directory (run under a display, e.g. xvfb-run).
#include "setts_fixture.h"

#include <QDir>

namespace velmar::test {
namespace {

class SettsScreenshot : public SettsTest {
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

TEST_F(SettsScreenshot, TwoSidesTwoHoses) {
    StartBus();
    Host();
    Shoot("setts_2x2");
}

TEST_F(SettsScreenshot, OneSideEightHosesWithMarks) {
    sim::Options options;
    options.sides = 1;
    options.hosesPerSide = 8;
    StartBus(options);
    Host();
    TypeCell(Grid("sgAdrNaraTrk_1"), 3, "1");
    TypeInto(Edit("eNozzleWait"), "120");
    TypeInto(Edit("eAdrTrk_1"), "300");
    Tab();
    Save();
    Shoot("setts_1x8_marks");
}

TEST_F(SettsScreenshot, TwoSidesEightHosesSever) {
    sim::Options options;
    options.hosesPerSide = 8;
    StartBus(options);
    Host();
    Shoot("setts_2x8");
    Modes()->item(14)->setCheckState(Qt::Checked);
    Shoot("setts_sever");
}

} // namespace
} // namespace velmar::test
