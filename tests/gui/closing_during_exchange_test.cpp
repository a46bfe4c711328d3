// Quitting and closing while the window talks to the controller, inside the application's own
// event loop as in the program: every exchange has ended before its caller goes on, the close
// comes once the handler has returned, and the program ends with the port closed.
#include "gui_fixture.h"
#include "ui/exchange/thread_runner.h"
#include "ui/pages/page.h"

#include <QLineEdit>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <random>
#include <thread>

namespace velmar::test {
namespace {

constexpr uint32_t kParamsAt = 0x3101;

// Runs the application's event loop until the program would end; fails after `limitMs`.
int RunApplication(int limitMs = 60000) {
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [] {
        ADD_FAILURE() << "the program did not end";
        QCoreApplication::exit(1);
    });
    watchdog.start(limitMs);
    return QCoreApplication::exec();
}

// A quit asked for during an exchange leaves the event loops at once; the handler's exchanges
// (the one under way and the one it starts next) still end before each returns to it.
TEST(ThreadRunnerQuitTest, RunReturnsOnlyOnceTheWorkHasEnded) {
    ui::ThreadRunner runner;
    std::atomic<int> ended{0};
    std::vector<int> seen;
    const auto work = [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        return ++ended;
    };
    QTimer::singleShot(0, [&] {
        seen.push_back(runner.Run(work));
        seen.push_back(ended.load());
        seen.push_back(runner.Run(work));
        seen.push_back(ended.load());
        QCoreApplication::exit(0);
    });
    QTimer::singleShot(50, [] { QCoreApplication::exit(0); });
    EXPECT_EQ(RunApplication(), 0);
    EXPECT_EQ(seen, (std::vector<int>{1, 1, 2, 2}));
    EXPECT_FALSE(runner.Busy());
}

class ClosingDuringExchangeTest : public GuiTest {
  protected:
    void SetUp() override {
        GuiTest::SetUp();
        lineTiming = 4800;
        serviceMode = true;
    }

    // Shows page `name`, runs `prepare` there, then clicks `button` in the application's loop
    // and closes the window `closeAfterMs` later.
    void CloseDuring(const char* name, const char* button, int closeAfterMs,
                     const std::function<void()>& prepare = {}) {
        Tabs()->setCurrentWidget(window->PageByName(QLatin1String(name)));
        if (prepare) prepare();
        ASSERT_TRUE(Find(button)->isEnabled()) << button;
        bool clicked = false;
        QTimer::singleShot(0, window.get(), [&] {
            clicked = true;
            QTest::mouseClick(Find<QPushButton>(button), Qt::LeftButton);
        });
        QTimer::singleShot(closeAfterMs, window.get(), [&] { window->close(); });
        EXPECT_EQ(RunApplication(), 0);
        EXPECT_TRUE(clicked);
        EXPECT_FALSE(window->isVisible());
        EXPECT_FALSE(session->ExchangeBusy());
        EXPECT_FALSE(session->Runner().CloseRequested());
        EXPECT_EQ(session->Slot(), 0); // the window's close ran, after the handler
    }
};

// A settings write (one exchange and the restart) and the two-side state write (an exchange per
// side, with the status line shown in between), each closed at random moments.
TEST_F(ClosingDuringExchangeTest, CloseAtARandomMomentEndsCleanly) {
    std::mt19937 random(19);
    std::uniform_int_distribution<int> delay(1, 700);
    for (int round = 0; round < 2; ++round) {
        for (const bool sides : {false, true}) {
            const int ms = delay(random);
            SCOPED_TRACE(testing::Message() << (sides ? "sides" : "settings") << " " << ms);
            StartSim({1}, 2);
            StartApp(QStringLiteral("1"));
            ASSERT_TRUE(session->Identified());
            if (sides)
                CloseDuring("TabRegsSides", "bWriteRegsSides", ms, [&] {
                    QTest::mouseClick(Find<QPushButton>("bCallRegsSides"), Qt::LeftButton);
                });
            else
                CloseDuring("TabCtrlrSetts", "bSetParam", ms, [&] {
                    auto* edit = Find<QLineEdit>("eMetTOut");
                    edit->setFocus();
                    edit->selectAll();
                    QTest::keyClicks(edit, QStringLiteral("33"));
                    QTest::keyClick(edit, Qt::Key_Tab);
                });
            comSetting.reset();
            about.reset();
            window.reset();
            session.reset();
            if (!sides) { // the handler wrote its block before the window closed
                auto lock = sim->Lock();
                EXPECT_EQ(sim->Find(1)->Space(0)[kParamsAt + 27], 33);
            }
            sim->Stop();
            sim.reset();
        }
    }
}

} // namespace
} // namespace velmar::test
