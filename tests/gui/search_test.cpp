// The controller search and the tab guard that keeps its list in view.
#include "gui_fixture.h"
#include "ui/pages/tab_ident.h"

namespace velmar::test {
namespace {

TEST_F(GuiTest, FullSearchListsEveryNumberAndRestoresTheButtons) {
    StartSim({3, 17});
    StartApp(QStringLiteral("5")); // nobody at 5: the controller buttons are off
    ASSERT_FALSE(Enabled("bSaveImage"));
    ASSERT_TRUE(Enabled("bCallIdent"));

    QTest::mouseClick(Find<QPushButton>("bFindCtrlr"), Qt::LeftButton);
    ASSERT_TRUE(window->Ident().SearchRunning());
    EXPECT_FALSE(Enabled("bCallIdent"));
    EXPECT_FALSE(Enabled("bReservCall"));

    // Tab guard: another tab cannot be brought forward during the search.
    Tabs()->setCurrentIndex(1);
    EXPECT_EQ(CurrentTab(), QStringLiteral("TabIdent"));
    Screenshot(QStringLiteral("search-running"));

    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->Ident().SearchRunning(); }, 60000));
    const QStringList lines = IdentLines();
    ASSERT_EQ(lines.size(), 31);
    for (int n = 1; n <= 31; ++n) {
        const bool found = n == 3 || n == 17;
        EXPECT_EQ(lines[n - 1],
                  QStringLiteral("Трк №") + QString::number(n) +
                      (found ? QStringLiteral(" найдено.") : QStringLiteral(" не найдено.")));
    }
    EXPECT_TRUE(Enabled("bCallIdent"));
    EXPECT_TRUE(Enabled("bReservCall"));
    EXPECT_FALSE(Enabled("bSaveImage")); // disabled before the search, so it stays disabled
    EXPECT_EQ(session->Address(), 5);    // the search does not choose a controller

    Tabs()->setCurrentIndex(1);
    EXPECT_EQ(CurrentTab(), QStringLiteral("TabCtrlrSetts"));
    Tabs()->setCurrentIndex(0);
    Screenshot(QStringLiteral("search-done"));
}

TEST_F(GuiTest, SearchButtonStopsTheSearch) {
    StartSim({1});
    StartApp(QStringLiteral("1"));
    Reconfigure(*session, [&](ui::SessionOptions& o) { o.findIntervalMs = 50; });
    auto* button = Find<QPushButton>("bFindCtrlr");
    QTest::mouseClick(button, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return IdentLines().size() >= 2; }, 30000));
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_FALSE(window->Ident().SearchRunning());
    EXPECT_TRUE(Find<QPlainTextEdit>("mIdent")->toPlainText().isEmpty());
    EXPECT_TRUE(Enabled("bSaveImage"));
}

TEST_F(GuiTest, QuickKeyDuringTheSearchEndsItAndTheButtonsFollowTheIdentification) {
    StartSim({1});
    StartApp(QStringLiteral("1"));
    ASSERT_TRUE(Enabled("bSaveImage"));
    QTest::mouseClick(Find<QPushButton>("bFindCtrlr"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return IdentLines().size() >= 2; }, 30000));

    QTest::keyClick(window.get(), Qt::Key_F5); // nobody answers at 5
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->Ident().SearchRunning(); }, 60000));
    EXPECT_FALSE(session->Identified());
    EXPECT_EQ(IdentLines(), QStringList{QStringLiteral("Нет связи с устройством №5")});
    // The end of the search does not give the failed controller's buttons back.
    EXPECT_FALSE(Enabled("bSaveImage"));
    EXPECT_FALSE(Enabled("bReset"));
    EXPECT_TRUE(Enabled("bCallIdent"));
}

// The port dialog closes the port: the search ends first, and rule C is what holds afterwards.
TEST_F(GuiTest, OpeningThePortDialogEndsTheSearch) {
    StartSim({1, 2});
    StartApp(QStringLiteral("1"));
    QTest::mouseClick(Find<QPushButton>("bFindCtrlr"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !Find<QPlainTextEdit>("mIdent")->toPlainText().isEmpty(); }, 30000));

    QStringList linesAtClose;
    prompts->onDialog = [&](QDialog&) {
        linesAtClose = IdentLines();
        EXPECT_FALSE(window->Ident().SearchRunning());
    };
    MenuAction("Setting1")->trigger(); // escaped: the port stays closed
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->Ident().SearchRunning(); }, 60000));
    EXPECT_EQ(IdentLines(), linesAtClose); // nothing polled on the closed port
    EXPECT_EQ(linesAtClose.value(0), QStringLiteral("Трк №1 найдено."));
    for (const char* b : {"bCallIdent", "bSimImp", "bReset", "bReservCall", "bSaveImage",
                          "bLoadImage", "bGlobalDefaultSet"})
        EXPECT_FALSE(Enabled(b)) << b;
    EXPECT_EQ(Menu("menuCom")->title(), QStringLiteral("Соm порт (закрыт)"));
}

} // namespace
} // namespace velmar::test
