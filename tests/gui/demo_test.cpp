// Demo mode: the demo image stands in for the controller.
#include "gui_fixture.h"

#include <QFile>

namespace velmar::test {
namespace {

QString ShippedDemoImage() {
    const QString dir = qEnvironmentVariable("VELMAR_SOURCE_DIR");
    return QDir(dir.isEmpty() ? QStringLiteral(".") : dir).filePath(QStringLiteral("demo_trk.bin"));
}

TEST_F(GuiTest, DemoModeIdentifiesFromTheDemoImage) {
    const QString copy = TempPath(QStringLiteral("demo_trk.bin"));
    ASSERT_TRUE(QFile::copy(ShippedDemoImage(), copy)) << ShippedDemoImage().toStdString();
    StartSim({1});
    demoMode = true;
    demoImagePath = copy;
    StartApp(QStringLiteral("1"));
    EXPECT_TRUE(session->Identified());
    EXPECT_EQ(IdentLines(), QStringList{QStringLiteral("Демонстрационная версия программы")});
    EXPECT_FALSE(Menu("menuCom")->menuAction()->isVisible());
    EXPECT_FALSE(Menu("menuLog")->menuAction()->isVisible());
    for (const char* hidden :
         {"bIrValRead", "bSimImp", "lSimulState", "bSaveImage", "bLoadImage", "bReadTemper"})
        EXPECT_TRUE(Find(hidden)->isHidden()) << hidden;
    EXPECT_TRUE(Enabled("bGlobalDefaultSet"));
    EXPECT_TRUE(session->Store().IsDemo());
    uint8_t params[64] = {};
    EXPECT_GT(session->Store().Read(0x3100, 0, params).Length(), 0);

    // Restart does nothing in demo mode.
    QTest::mouseClick(Find<QPushButton>("bReset"), Qt::LeftButton);
    {
        auto lock = sim->Lock();
        EXPECT_EQ(sim->Find(1)->restarts, 0);
    }
    Screenshot(QStringLiteral("demo"));
}

TEST_F(GuiTest, DemoModeWithoutTheImageDisablesEverything) {
    StartSim({1});
    demoMode = true;
    demoImagePath = TempPath(QStringLiteral("no_demo_trk.bin"));
    StartApp(QStringLiteral("1"));
    EXPECT_FALSE(session->Identified());
    EXPECT_TRUE(Find<QPlainTextEdit>("mIdent")->toPlainText().isEmpty());
    for (const char* b : {"bSimImp", "bReset", "bSaveImage", "bLoadImage", "bGlobalDefaultSet"})
        EXPECT_FALSE(Enabled(b)) << b;
}

} // namespace
} // namespace velmar::test
