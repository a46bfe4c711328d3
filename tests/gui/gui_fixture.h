// A main window talking to the in-process controller simulator over a pseudo-terminal, with its
// questions answered by the test. Each test runs in its own empty working directory.
#pragma once

#include "gui_common/fake_prompts.h"
#include "gui_common/session_support.h"
#include "sim/core/bus_simulator.h"
#include "ui/dialogs/about_box.h"
#include "ui/dialogs/com_setting.h"
#include "ui/session.h"
#include "ui/velmar_main.h"

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

namespace velmar::test {

class GuiTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        oldCwd_ = QDir::currentPath();
        QDir::setCurrent(dir_.path());
    }

    void TearDown() override {
        if (window) window->close();
        comSetting.reset();
        about.reset();
        window.reset();
        session.reset();
        if (sim) sim->Stop();
        sim.reset();
        QDir::setCurrent(oldCwd_);
    }

    // Controllers at `addresses`, one side each unless `sides` says otherwise.
    void StartSim(std::vector<int> addresses, int sides = 1) {
        sim::Options options;
        options.addresses = std::move(addresses);
        options.sides = sides;
        options.emulateBaud = lineTiming;
        sim = std::make_unique<sim::BusSimulator>(options);
        ASSERT_EQ(sim->Start(), 0);
    }

    // Closes the window there is and starts a new session with fake prompts.
    void NewSession() {
        comSetting.reset();
        about.reset();
        window.reset();
        session = std::make_unique<ui::Session>();
        // The journal of changes lives with the test, never in the working directory.
        Reconfigure(*session, [&](ui::SessionOptions& o) {
            o.journalPath = dir_.filePath(QStringLiteral("journal.sqlite")).toStdString();
        });
        auto fake = std::make_unique<FakePrompts>();
        prompts = fake.get();
        session->SetPrompts(std::move(fake));
    }

    // Creates the window and runs its start-up with `number` typed into the number query
    // (nullopt: the query is cancelled). The port is the simulator's unless `port` is given.
    // The window is shown unless `show` is false (the program does not show it after a
    // cancelled query).
    void StartApp(std::optional<QString> number, const QString& port = {}, bool show = true) {
        NewSession();
        Reconfigure(*session, [&](ui::SessionOptions& o) {
            o.findIntervalMs = 5;
            o.serviceMode = serviceMode;
            o.demoImagePath = demoImagePath.toStdString();
            if (sim) o.extraPortNames.push_back(sim->SlavePath());
        });
        if (demoMode) session->EnterDemo();
        prompts->inputs.push_back(number);
        window = std::make_unique<ui::TVelmarMain>(*session);
        ui::StartOptions start;
        start.portName = !port.isEmpty() ? port : QString::fromStdString(sim->SlavePath());
        if (sim) {
            auto lock = sim->Lock(); // the simulator's thread changes it on a restart
            if (!sim->Controllers().empty()) start.baud = sim->Controllers().front()->LineBaud();
        }
        window->FormCreate(start);
        comSetting = std::make_unique<ui::TComSetting>(*session, window.get());
        about = std::make_unique<ui::TfAbout>(window.get());
        window->SetComSetting(comSetting.get());
        window->SetAbout(about.get());
        if (show) {
            window->show();
            // On a real X server without a window manager nothing activates the window, and
            // a field that never gets the focus is never left: the tests type as into the
            // window in front.
            window->activateWindow();
            (void)QTest::qWaitForWindowActive(window.get(), 2000);
        }
    }

    template <class W = QWidget> W* Find(const char* name) const {
        W* w = window->findChild<W*>(QLatin1String(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QString Text(const char* label) const { return Find<QLabel>(label)->text(); }
    QStringList IdentLines() const {
        return Find<QPlainTextEdit>("mIdent")->toPlainText().split(QLatin1Char('\n'));
    }
    bool Enabled(const char* name) const { return Find(name)->isEnabled(); }
    QAction* MenuAction(const char* name) const {
        auto* a = window->findChild<QAction*>(QLatin1String(name));
        EXPECT_NE(a, nullptr) << name;
        return a;
    }
    QMenu* Menu(const char* name) const {
        auto* m = window->findChild<QMenu*>(QLatin1String(name));
        EXPECT_NE(m, nullptr) << name;
        return m;
    }
    QTabWidget* Tabs() const { return Find<QTabWidget>("TabSetts"); }
    QString CurrentTab() const { return Tabs()->currentWidget()->objectName(); }

    // Saves a picture of the window when VELMAR_SCREENSHOT_DIR is set.
    void Screenshot(const QString& name) const {
        const QString dir = qEnvironmentVariable("VELMAR_SCREENSHOT_DIR");
        if (dir.isEmpty()) return;
        QApplication::processEvents();
        window->grab().save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
    }

    static void ScreenshotOf(QWidget& w, const QString& name) {
        const QString dir = qEnvironmentVariable("VELMAR_SCREENSHOT_DIR");
        if (dir.isEmpty()) return;
        QApplication::processEvents();
        w.grab().save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
    }

    QString TempPath(const QString& name) const { return dir_.filePath(name); }

    bool demoMode = false;
    bool serviceMode = false;
    uint32_t lineTiming = 0; // the simulator's line speed emulation (0: replies at once)
    QString demoImagePath = QStringLiteral("demo_trk.bin");
    std::unique_ptr<sim::BusSimulator> sim;
    std::unique_ptr<ui::Session> session;
    FakePrompts* prompts = nullptr;
    std::unique_ptr<ui::TVelmarMain> window;
    std::unique_ptr<ui::TComSetting> comSetting;
    std::unique_ptr<ui::TfAbout> about;

  private:
    QTemporaryDir dir_;
    QString oldCwd_;
};

} // namespace velmar::test
