// Pictures of the tab inside the main window, for a person to look at. Taken only when
// VELMAR_SCREENSHOT_DIR names a directory (run under a display, e.g. xvfb-run).
#include "setts_fixture.h"
#include "ui/hint_table.h"
#include "ui/velmar_main.h"

#include <QDir>
#include <QTabWidget>

namespace velmar::test {
namespace {

class SettsScreenshot : public SettsTest {
  protected:
    void SetUp() override {
        dir = qEnvironmentVariable("VELMAR_SCREENSHOT_DIR");
        if (dir.isEmpty()) GTEST_SKIP() << "VELMAR_SCREENSHOT_DIR not set";
        QDir().mkpath(dir);
    }

    // The tab in the main window's page control, where the placeholder stands.
    void Host() {
        window = std::make_unique<ui::TVelmarMain>(*session);
        auto* tabs = window->findChild<QTabWidget*>(QStringLiteral("TabSetts"));
        ASSERT_NE(tabs, nullptr);
        const int index = tabs->indexOf(window->PageByName(QStringLiteral("TabCtrlrSetts")));
        tabs->removeTab(index);
        page->setObjectName(QStringLiteral("TabCtrlrSetts"));
        tabs->insertTab(index, page.get(), U("Настройки контроллера"));
        window->RefreshHints();
        window->show();
        tabs->setCurrentIndex(index);
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }

    void Shoot(const char* name) {
        QApplication::processEvents();
        ASSERT_TRUE(window->grab().save(dir + "/" + name + ".png"));
    }

    void TearDown() override {
        if (window) {
            // The page belongs to the fixture, not to the window.
            auto* tabs = window->findChild<QTabWidget*>(QStringLiteral("TabSetts"));
            tabs->removeTab(tabs->indexOf(page.get()));
            page->setParent(nullptr);
            window.reset();
        }
        SettsTest::TearDown();
    }

    QString dir;
    std::unique_ptr<ui::TVelmarMain> window;
};

TEST_F(SettsScreenshot, TwoSidesTwoHoses) {
    StartBus();
    Host();
    Show();
    Shoot("setts_2x2");
}

TEST_F(SettsScreenshot, OneSideEightHosesWithMarks) {
    sim::Options options;
    options.sides = 1;
    options.hosesPerSide = 8;
    StartBus(options);
    Host();
    Show();
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
    Show();
    Shoot("setts_2x8");
    Modes()->item(14)->setCheckState(Qt::Checked);
    Shoot("setts_sever");
}

} // namespace
} // namespace velmar::test
