// The window while it talks to the controller: exchanges run off the window thread, against a
// simulator that takes the line's real time at 4800 baud.
#include "gui_fixture.h"
#include "ui/pages/tab_ident.h"

#include <QFile>
#include <QProgressBar>
#include <QTimer>

namespace velmar::test {
namespace {

class ExchangeRunnerTest : public GuiTest {
  protected:
    void SetUp() override {
        GuiTest::SetUp();
        lineTiming = 4800;
    }

    // Calls `action` once, as soon as the long exchange under way has moved on.
    QMetaObject::Connection OnFirstProgress(std::function<void()> action) {
        auto once = std::make_shared<bool>(false);
        return QObject::connect(session.get(), &ui::Session::exchangeProgressed, window.get(),
                                [once, action](int done) {
                                    if (done == 0 || *once) return;
                                    *once = true;
                                    action();
                                });
    }

    QString WriteOldImage() {
        const QString path = TempPath(QStringLiteral("old.bin"));
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("old image");
        return path;
    }

    static QByteArray ReadAll(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    static QWidget* ProgressPanel() {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == QStringLiteral("ExchangeProgressPanel") && w->isVisible())
                return w;
        return nullptr;
    }
};

// While identification waits for the line, the window thread serves a timer; a click, a quick
// key or the search button meanwhile starts nothing.
TEST_F(ExchangeRunnerTest, WindowServesTimersAndTakesNoInputDuringAnExchange) {
    StartSim({1});
    StartApp(QStringLiteral("1"));
    ASSERT_TRUE(session->Identified());
    ASSERT_TRUE(Enabled("bReset"));

    int ticksWhileBusy = 0;
    QTimer timer;
    timer.setInterval(5);
    QObject::connect(&timer, &QTimer::timeout, window.get(), [&] {
        if (!session->ExchangeBusy() || ticksWhileBusy++ > 0) return;
        QTest::mouseClick(Find<QPushButton>("bReset"), Qt::LeftButton);
        QTest::mouseClick(Find<QPushButton>("bFindCtrlr"), Qt::LeftButton);
        QTest::keyClick(window.get(), Qt::Key_F2);
    });
    timer.start();
    QTest::mouseClick(Find<QPushButton>("bCallIdent"), Qt::LeftButton);
    timer.stop();

    EXPECT_GT(ticksWhileBusy, 1);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr); // the busy cursor went with the exchange
    EXPECT_TRUE(session->Identified());
    EXPECT_EQ(session->Address(), 1);
    EXPECT_FALSE(window->Ident().SearchRunning());
    auto lock = sim->Lock();
    EXPECT_EQ(sim->Find(1)->restarts, 0);
}

// "Прервать" and Esc stop an image save between records; the earlier file stays.
TEST_F(ExchangeRunnerTest, CancelledImageSaveKeepsTheOldFile) {
    StartSim({1}, 2);
    StartApp(QStringLiteral("1"));
    ASSERT_TRUE(session->Identified());
    const QString path = WriteOldImage();
    for (const bool button : {true, false}) {
        const auto cancel = OnFirstProgress([&] {
            QWidget* panel = ProgressPanel();
            ASSERT_NE(panel, nullptr);
            ScreenshotOf(*panel, QStringLiteral("image-save-progress"));
            if (button)
                QTest::mouseClick(panel->findChild<QPushButton*>(QStringLiteral("bCancelExchange")),
                                  Qt::LeftButton);
            else
                QTest::keyClick(window.get(), Qt::Key_Escape);
        });
        prompts->messages.clear();
        prompts->saveNames.push_back(path);
        QTest::mouseClick(Find<QPushButton>("bSaveImage"), Qt::LeftButton);
        QObject::disconnect(cancel);
        EXPECT_EQ(prompts->messages,
                  QStringList{QStringLiteral("Чтение образа прервано; прежний файл не изменен")})
            << button;
        EXPECT_EQ(ReadAll(path), QByteArray("old image")) << button;
        EXPECT_TRUE(Find<QProgressBar>("progrImage")->isHidden());
        EXPECT_EQ(ProgressPanel(), nullptr);
        EXPECT_TRUE(session->ImageTransferIdle());
    }
}

// Closing the window during an image save stops the read after its current record; the window
// then closes as usual and the old file is untouched.
TEST_F(ExchangeRunnerTest, ClosingDuringAnImageSaveEndsCleanly) {
    StartSim({1}, 2);
    StartApp(QStringLiteral("1"));
    ASSERT_TRUE(session->Identified());
    const QString path = WriteOldImage();
    prompts->saveNames.push_back(path);
    OnFirstProgress([&] {
        window->close();
        EXPECT_TRUE(window->isVisible());
    });
    QTest::mouseClick(Find<QPushButton>("bSaveImage"), Qt::LeftButton);
    EXPECT_TRUE(prompts->messages.isEmpty());
    QCoreApplication::processEvents(); // the close held back during the exchange
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(session->Slot(), 0);
    EXPECT_EQ(ReadAll(path), QByteArray("old image"));
}

// Ticks that come while a poll is on the line are left out: each number is polled once.
TEST_F(ExchangeRunnerTest, SearchPollsOnceATick) {
    StartSim({3});
    StartApp(QStringLiteral("3"));
    const uint64_t before = sim->FramesSeen();
    QTest::mouseClick(Find<QPushButton>("bFindCtrlr"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->Ident().SearchRunning(); }, 60000));
    const QStringList lines = IdentLines();
    ASSERT_EQ(lines.size(), 31);
    EXPECT_EQ(lines[2], QStringLiteral("Трк №3 найдено."));
    EXPECT_EQ(lines[30], QStringLiteral("Трк №31 не найдено."));
    EXPECT_EQ(sim->FramesSeen() - before, 31u);
}

} // namespace
} // namespace velmar::test
