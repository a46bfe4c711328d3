#include "ui/exchange/thread_runner.h"

#include "ui/exchange/exchange_progress_panel.h"
#include "ui/exchange/exchange_worker.h"

#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QKeyEvent>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <atomic>

namespace velmar::ui {

struct ThreadRunner::Job final : ExchangeProgress {
    explicit Job(ThreadRunner& r) : runner(r) {}

    void Step(int done) override {
        {
            const std::lock_guard<std::mutex> lock(runner.mutex_);
            progress.push_back(done);
        }
        runner.WakeWindowThread();
    }
    bool Cancelled() const override { return cancelled.load(); }

    ThreadRunner& runner;
    ExchangeWorker::Task task;
    bool cancellable = false;
    std::atomic<bool> cancelled{false};
    ExchangeProgressPanel* panel = nullptr;
    // Handed from the worker under the runner's mutex.
    std::vector<int> progress;
    bool workDone = false;
    // Window thread only.
    QEventLoop* loop = nullptr;
    bool finished = false;
};

namespace {

bool IsHeldInput(QEvent::Type type) {
    switch (type) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
        return true;
    default:
        return false;
    }
}

} // namespace

ThreadRunner::ThreadRunner(QObject* parent)
    : QObject(parent), worker_(std::make_unique<ExchangeWorker>()) {
    cursorTimer_.setSingleShot(true);
    cursorTimer_.setInterval(kBusyCursorDelayMs);
    connect(&cursorTimer_, &QTimer::timeout, this, [this] {
        QApplication::setOverrideCursor(Qt::BusyCursor);
        cursorShown_ = true;
    });
}

ThreadRunner::~ThreadRunner() = default;

int ThreadRunner::Run(const std::function<int()>& work) {
    Job job(*this);
    job.task.work = work;
    return Wait(job);
}

int ThreadRunner::RunLong(const QString& what, int total, Cancel cancel,
                          const std::function<int(ExchangeProgress&)>& work) {
    Job job(*this);
    job.cancellable = cancel == Cancel::Allowed;
    job.task.work = [&job, &work] { return work(job); };
    std::unique_ptr<ExchangeProgressPanel> panel;
    if (!what.isEmpty() || job.cancellable) {
        panel = std::make_unique<ExchangeProgressPanel>(what, total, job.cancellable,
                                                        QApplication::activeWindow());
        connect(panel.get(), &ExchangeProgressPanel::cancelRequested, this,
                &ThreadRunner::RequestCancel);
        job.panel = panel.get();
        panel->show();
    }
    return Wait(job);
}

QWidget* ThreadRunner::ProgressPanel() const {
    return stack_.empty() ? nullptr : stack_.back()->panel;
}

int ThreadRunner::Wait(Job& job) {
    if (depth_++ == 0) Begin();
    stack_.push_back(&job);
    job.task.done = [this, &job] {
        // Once workDone is seen the window thread may return and the job with this closure be
        // gone: nothing of it is read after the lock is released.
        ThreadRunner* runner = this;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            job.workDone = true;
        }
        runner->ended_.notify_all();
        runner->WakeWindowThread();
    };
    worker_->Submit(job.task);
    if (!job.finished) { // the loop is entered before any news can arrive (same thread)
        QEventLoop loop;
        job.loop = &loop;
        loop.exec();
        job.loop = nullptr;
    }
    if (!job.finished) {
        // Once the application was asked to quit, exec returns at once: the work still uses the
        // job and the caller's locals, so wait for it without the window.
        std::unique_lock<std::mutex> lock(mutex_);
        ended_.wait(lock, [&job] { return job.workDone; });
        job.finished = true;
    }
    stack_.pop_back();
    if (--depth_ == 0) End();
    if (job.task.error) std::rethrow_exception(job.task.error);
    return job.task.result;
}

// The worker's news reaches the window thread as a bare queued call: the job's state itself is
// handed over under the mutex, so nothing but the wake-up depends on Qt's event queue.
void ThreadRunner::WakeWindowThread() {
    QMetaObject::invokeMethod(this, "TakeNews", Qt::QueuedConnection);
}

void ThreadRunner::TakeNews() {
    for (Job* job : std::vector<Job*>(stack_)) {
        std::vector<int> steps;
        bool done = false;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            steps.swap(job->progress);
            done = job->workDone;
        }
        for (const int step : steps) {
            if (job->panel != nullptr) job->panel->SetDone(step);
            ReportProgress(step);
        }
        if (done && !job->finished) {
            job->finished = true;
            if (job->loop != nullptr) job->loop->quit();
        }
    }
}

void ThreadRunner::Begin() {
    const int level = QThread::currentThread()->loopLevel();
    closeLevel_ = heldCloses_.empty() ? level : std::min(closeLevel_, level);
    qApp->installEventFilter(this);
    cursorTimer_.start();
}

void ThreadRunner::End() {
    qApp->removeEventFilter(this);
    cursorTimer_.stop();
    if (cursorShown_) QApplication::restoreOverrideCursor();
    cursorShown_ = false;
    if (!heldCloses_.empty())
        QMetaObject::invokeMethod(this, &ThreadRunner::DeliverHeldCloses, Qt::QueuedConnection);
}

// Stops every cancellable exchange of the stack after its current transaction.
void ThreadRunner::RequestCancel() {
    for (Job* job : stack_) {
        if (!job->cancellable || job->cancelled.load()) continue;
        job->cancelled.store(true);
        if (job->panel != nullptr) job->panel->ShowCancelling();
    }
}

// Runs as a queued call or from a timer, so only once the handler has given control back to an
// event loop; a nested loop (a message box of the handler, its next exchange) is not the
// handler's end: the closes wait for the loop the handler was called from.
void ThreadRunner::DeliverHeldCloses() {
    if (heldCloses_.empty()) return;
    if (depth_ > 0 || QThread::currentThread()->loopLevel() > closeLevel_) {
        closeTimer_.start(kCloseRetryMs);
        return;
    }
    const auto windows = std::move(heldCloses_);
    heldCloses_.clear();
    for (const QPointer<QWidget>& w : windows)
        if (w) w->close();
}

bool ThreadRunner::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type == QEvent::Shortcut) return true; // menu shortcuts and quick keys
    if (!watched->isWidgetType()) return false;
    auto* widget = static_cast<QWidget*>(watched);
    const bool onPanel = qobject_cast<ExchangeProgressPanel*>(widget->window()) != nullptr;

    // Main windows and dialogs; tool tips and popups close as they like.
    const Qt::WindowType kind = widget->windowType();
    if (type == QEvent::Close && (kind == Qt::Window || kind == Qt::Dialog)) {
        event->ignore();
        if (!onPanel &&
            std::find(heldCloses_.begin(), heldCloses_.end(), widget) == heldCloses_.end())
            heldCloses_.emplace_back(widget);
        RequestCancel(); // a read that may stop does so; a write finishes first
        return true;
    }
    if (type == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        RequestCancel();
        return true;
    }
    if (onPanel) return false;
    if (IsHeldInput(type)) {
        event->ignore();
        return true;
    }
    return false;
}

} // namespace velmar::ui
