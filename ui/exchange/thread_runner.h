// The window's exchange runner: the work runs on one worker thread, the only thread of the
// window that touches the port table, while the window thread waits in a local event loop.
// Meanwhile the window repaints and its timers fire, user input is held off (nothing can start
// a second exchange or close a window half-way), the busy cursor shows after 150 ms, and a long
// exchange shows its progress with "Прервать" (or Esc) where cancelling is allowed.
//
// Exchanges queue on the worker one at a time in the order they were started. A close asked
// for during an exchange is held back and delivered once the handler that ran the exchange has
// returned to the event loop it was called from, so no handler sees its window close half-way.
// Run returns only when its work has ended, also once the application was asked to quit.
#pragma once

#include "ui/exchange/exchange_runner.h"

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

class QWidget;

namespace velmar::ui {

class ExchangeWorker;

class ThreadRunner : public QObject, public ExchangeRunner {
    Q_OBJECT
  public:
    static constexpr int kBusyCursorDelayMs = 150;
    static constexpr int kCloseRetryMs = 20;

    explicit ThreadRunner(QObject* parent = nullptr);
    ~ThreadRunner() override; // lets the exchange under way finish, then ends the worker

    int Run(const std::function<int()>& work) override;
    int RunLong(const QString& what, int total, Cancel cancel,
                const std::function<int(ExchangeProgress&)>& work) override;
    bool Busy() const override { return depth_ > 0; }
    bool CloseRequested() const override { return !heldCloses_.empty(); }

    // The progress panel of the long exchange under way (nullptr when none): for tests.
    QWidget* ProgressPanel() const;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    struct Job;
    int Wait(Job& job);
    void WakeWindowThread();
    Q_INVOKABLE void TakeNews();
    void Begin();
    void End();
    void RequestCancel();
    void DeliverHeldCloses();

    // Declared before the worker: the worker's last task still signals through them.
    std::mutex mutex_;              // guards what the worker hands over in the jobs
    std::condition_variable ended_; // a job's work has ended
    std::unique_ptr<ExchangeWorker> worker_;
    int depth_ = 0;
    std::vector<Job*> stack_; // the exchanges the window thread waits for, innermost last
    QTimer cursorTimer_;      // brings up the busy cursor once an exchange has run 150 ms
    bool cursorShown_ = false;
    std::vector<QPointer<QWidget>> heldCloses_;
    // The event-loop depth the held closes wait for: that of the handler's first exchange.
    int closeLevel_ = 0;
    QTimer closeTimer_; // tries again to deliver the held closes
};

} // namespace velmar::ui
