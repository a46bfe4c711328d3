#include "ui/thread_runner.h"

#include "ui/exchange_progress_panel.h"
#include "ui/exchange_worker.h"

#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QKeyEvent>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <atomic>

namespace velmar::ui {

struct ThreadRunner::Job final : ExchangeProgress {
    explicit Job(ThreadRunner& r) : runner(r) {}

    void Step(int done) override {
        // Queued behind nothing the worker posts later, so it arrives before the job's end.
        QMetaObject::invokeMethod(
            &runner, [this, done] { runner.Progressed(this, done); }, Qt::QueuedConnection);
    }
    bool Cancelled() const override { return cancelled.load(); }

    ThreadRunner& runner;
    ExchangeWorker::Task task;
    bool cancellable = false;
    std::atomic<bool> cancelled{false};
    ExchangeProgressPanel* panel = nullptr;
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
        QMetaObject::invokeMethod(
            this, [this, &job] { Finished(&job); }, Qt::QueuedConnection);
    };
    worker_->Submit(job.task);
    if (!job.finished) {
        QEventLoop loop;
        job.loop = &loop;
        loop.exec();
    }
    stack_.pop_back();
    if (--depth_ == 0) End();
    if (job.task.error) std::rethrow_exception(job.task.error);
    return job.task.result;
}

void ThreadRunner::Finished(Job* job) {
    job->finished = true;
    if (job->loop != nullptr) job->loop->quit();
}

void ThreadRunner::Progressed(Job* job, int done) {
    if (job->panel != nullptr) job->panel->SetDone(done);
    ReportProgress(done);
}

void ThreadRunner::Begin() {
    qApp->installEventFilter(this);
    cursorTimer_.start();
}

void ThreadRunner::End() {
    qApp->removeEventFilter(this);
    cursorTimer_.stop();
    if (cursorShown_) QApplication::restoreOverrideCursor();
    cursorShown_ = false;
    DeliverHeldCloses();
}

// Stops every cancellable exchange of the stack after its current transaction.
void ThreadRunner::RequestCancel() {
    for (Job* job : stack_) {
        if (!job->cancellable || job->cancelled.load()) continue;
        job->cancelled.store(true);
        if (job->panel != nullptr) job->panel->ShowCancelling();
    }
}

void ThreadRunner::DeliverHeldCloses() {
    if (heldCloses_.empty()) return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            const auto windows = std::move(heldCloses_);
            heldCloses_.clear();
            for (const QPointer<QWidget>& w : windows)
                if (w) w->close();
        },
        Qt::QueuedConnection);
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
