// How the window fares while it talks to the controller. The main window runs offscreen against
// the in-process simulator with line timing at 4800 baud; for identification, a settings read
// and a whole-image save it prints
//   - the longest gap between two ticks of a 5 ms timer of the window thread while the
//     exchange runs (goal: under 50 ms), and
//   - the wall time spent in the window's exchanges (the window's own work before and after,
//     such as filling the controls, not counted) against the same exchanges made directly on
//     the calling thread, as velmar-cli makes them (goal: at most 1.03 x).
//
// Usage: window_exchange_bench [RUNS]   (median of RUNS runs, 3 by default)
#include "data/device_image.h"
#include "data/ident_sequence.h"
#include "data/live_store.h"
#include "data/memory_map.h"
#include "link/serial_port.h"
#include "sim/core/bus_simulator.h"
#include "ui/exchange/thread_runner.h"
#include "ui/fields/prompts.h"
#include "ui/session.h"
#include "ui/velmar_main.h"

#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

namespace {

using namespace velmar;
using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Answers the number query with 1 and every save dialog with `savePath`; shows nothing.
class BenchPrompts final : public ui::Prompts {
  public:
    explicit BenchPrompts(QString savePath) : savePath_(std::move(savePath)) {}
    void Message(QWidget*, const QString&) override {}
    bool Confirm(QWidget*, const QString&) override { return false; }
    bool InputQuery(QWidget*, const QString&, const QString&, QString& value) override {
        value = QStringLiteral("1");
        return true;
    }
    QString SaveFileName(QWidget*, const QString&, const QString&, const QString&) override {
        return savePath_;
    }
    QString OpenFileName(QWidget*, const QString&, const QString&, const QString&) override {
        return {};
    }
    int ExecDialog(QDialog&) override { return 0; }

  private:
    QString savePath_;
};

// Passes every exchange to the window's own runner and adds up the time spent in them.
class TimedRunner final : public ui::ExchangeRunner {
  public:
    explicit TimedRunner(std::unique_ptr<ui::ExchangeRunner> inner) : inner_(std::move(inner)) {
        inner_->SetProgressSink([this](int done) { ReportProgress(done); });
    }
    int Run(const std::function<int()>& work) override {
        return Timed([&] { return inner_->Run(work); });
    }
    int RunLong(const QString& what, int total, ui::Cancel cancel,
                const std::function<int(ui::ExchangeProgress&)>& work) override {
        return Timed([&] { return inner_->RunLong(what, total, cancel, work); });
    }
    bool Busy() const override { return inner_->Busy(); }
    bool CloseRequested() const override { return inner_->CloseRequested(); }

    double spentMs = 0;

  private:
    int Timed(const std::function<int()>& run) {
        const bool outer = !inner_->Busy();
        const auto start = Clock::now();
        const int result = run();
        if (outer) spentMs += MsSince(start);
        return result;
    }
    std::unique_ptr<ui::ExchangeRunner> inner_;
};

struct WindowFigures {
    double exchangeMs = 0;   // inside the exchanges
    double longestGapMs = 0; // between two ticks while an exchange ran
};

// Runs `action` (which starts an exchange of the window) with a 5 ms timer ticking.
WindowFigures MeasureWindow(ui::Session& session, TimedRunner& runner,
                            const std::function<void()>& action) {
    WindowFigures f;
    QTimer timer;
    timer.setInterval(5);
    Clock::time_point lastTick = Clock::now();
    bool lastBusy = false;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        const bool busy = session.ExchangeBusy();
        if (busy && lastBusy) f.longestGapMs = std::max(f.longestGapMs, MsSince(lastTick));
        lastTick = Clock::now();
        lastBusy = busy;
    });
    timer.start();
    runner.spentMs = 0;
    action();
    f.exchangeMs = runner.spentMs;
    timer.stop();
    return f;
}

double MeasureDirect(const std::function<void()>& action) {
    const auto start = Clock::now();
    action();
    return MsSince(start);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    QApplication app(argc, argv);
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    const QString imagePath = dir.filePath(QStringLiteral("image.bin"));

    sim::Options options;
    options.addresses = {1};
    options.emulateBaud = 4800;
    sim::BusSimulator bus(options);
    if (bus.Start() != 0) {
        std::fprintf(stderr, "simulator did not start\n");
        return 1;
    }

    ui::Session session;
    auto timed = std::make_unique<TimedRunner>(std::make_unique<ui::ThreadRunner>());
    TimedRunner& runner = *timed;
    session.SetRunner(std::move(timed));
    session.SetPrompts(std::make_unique<BenchPrompts>(imagePath));
    ui::TVelmarMain window(session);
    ui::StartOptions start;
    start.portName = QString::fromStdString(bus.SlavePath());
    start.baud = 4800;
    window.FormCreate(start);
    window.show();
    if (!session.Identified()) {
        std::fprintf(stderr, "the window did not identify the controller\n");
        return 1;
    }
    auto* tabs = window.findChild<QTabWidget*>(QStringLiteral("TabSetts"));
    auto* ident = window.findChild<QPushButton*>(QStringLiteral("bCallIdent"));
    auto* save = window.findChild<QPushButton*>(QStringLiteral("bSaveImage"));
    QWidget* settings = window.findChild<QWidget*>(QStringLiteral("TabCtrlrSetts"));

    struct Case {
        const char* name;
        std::function<void()> window;
        std::function<void()> direct;
    };
    const std::vector<Case> cases = {
        {"identification", [&] { ident->click(); },
         [&] { IdentifyController(session.Slot(), session.Address()); }},
        {"settings read",
         [&] {
             tabs->setCurrentIndex(0);
             tabs->setCurrentWidget(settings);
         },
         [&] {
             uint8_t block[256] = {};
             session.Store().Read(addr::kParamsLength, -1, block, 0);
         }},
        // The window's save identifies first, as the engineer's tools always did; the direct
        // path does the same steps.
        {"image save", [&] { save->click(); },
         [&] {
             IdentifyController(session.Slot(), session.Address());
             session.Store().ReadSizes();
             SaveDeviceImage(session.Store(), imagePath.toStdString());
         }},
    };

    std::printf("%-16s %12s %12s %8s %16s\n", "exchange", "window ms", "direct ms", "ratio",
                "longest gap ms");
    for (const Case& c : cases) {
        std::vector<double> windowMs, directMs, gaps;
        for (int r = 0; r < runs; ++r) {
            const WindowFigures w = MeasureWindow(session, runner, c.window);
            windowMs.push_back(w.exchangeMs);
            gaps.push_back(w.longestGapMs);
            directMs.push_back(MeasureDirect(c.direct));
        }
        const double wm = Median(windowMs);
        const double dm = Median(directMs);
        std::printf("%-16s %12.1f %12.1f %8.3f %16.1f\n", c.name, wm, dm, wm / dm,
                    *std::max_element(gaps.begin(), gaps.end()));
    }
    window.close();
    return 0;
}
