// Pictures of the service tabs inside the main window, for a person to look at. Taken only when
// VELMAR_SCREENSHOT_DIR names a directory (run under a display, e.g. xvfb-run).
#include "svc_fixture.h"
#include "ui/velmar_main.h"

#include <QDir>
#include <QTabWidget>
#include <QTableWidget>

namespace velmar::test {
namespace {

class SvcScreenshot : public SvcTest {
  protected:
    void SetUp() override {
        shots = qEnvironmentVariable("VELMAR_SCREENSHOT_DIR");
        if (shots.isEmpty()) GTEST_SKIP() << "VELMAR_SCREENSHOT_DIR not set";
        QDir().mkpath(shots);
    }
    void TearDown() override {
        window.reset();
        SvcTest::TearDown();
    }

    // Shows the page named `tab` in the main window (its show handler runs) and takes it.
    void Shoot(const char* tab, const char* name) {
        auto* tabs = window->findChild<QTabWidget*>(QStringLiteral("TabSetts"));
        ASSERT_NE(tabs, nullptr);
        tabs->setCurrentWidget(window->PageByName(QString::fromLatin1(tab)));
        QApplication::processEvents();
        ASSERT_TRUE(window->grab().save(shots + "/" + name + ".png"));
    }

    QString shots;
    std::unique_ptr<ui::TVelmarMain> window;
};

TEST_F(SvcScreenshot, ServiceTabs) {
    StartBus();
    Reconfigure(*session, [&](ui::SessionOptions& o) { o.serviceMode = true; });
    window = std::make_unique<ui::TVelmarMain>(*session);
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    Shoot("TabIdent", "svc_ident");
    Shoot("TabAdvSet", "svc_adv");
    Shoot("TabRegsSides", "svc_sides");
    Shoot("TabTemperatureTbl", "svc_temp");
    auto* dump = window->PageByName(QStringLiteral("TabDump"));
    Shoot("TabDump", "svc_dump_empty");
    auto* address = dump->findChild<QLineEdit*>(QStringLiteral("eAdresDump"));
    auto* count = dump->findChild<QLineEdit*>(QStringLiteral("eCountByteDump"));
    for (QLineEdit* field : {address, count}) {
        field->setFocus(Qt::MouseFocusReason);
        QTest::keyClicks(field, field == address ? "3100" : "48");
    }
    QTest::keyClick(count, Qt::Key_Tab);
    dump->findChild<QPushButton*>(QStringLiteral("bReadDump"))->click();
    Shoot("TabDump", "svc_dump");
}

} // namespace
} // namespace velmar::test
