// The one way the window talks to the controller. Every exchange (identification, the search
// tick, record reads and writes, restarts, image transfers, service commands) is handed over as
// a plain function and runs away from the window thread; the caller reads as a straight sequence
// of steps and gets the function's result back.
//
//   const int n = session.Exchange([&] { return session.Store().Read(addr, len, buf); });
//
// Long reads report progress and may be cancelled between transactions; the work's own result
// says how it ended:
//
//   const ReadResult read = session.LongExchange("Чтение образа", total, Cancel::Allowed,
//                                                [&](ExchangeProgress& p) {
//                                                    for (...) { if (p.Cancelled())
//                                                                    return ReadResult::Cancelled;
//                                                                ... p.Step(done); }
//                                                    return ReadResult::Read; });
#pragma once

#include <QString>
#include <atomic>
#include <functional>
#include <type_traits>

namespace velmar::ui {

enum class Cancel { NotAllowed, Allowed };

// Handed to the work of a long exchange: called from the exchange thread.
class ExchangeProgress {
  public:
    virtual ~ExchangeProgress() = default;
    // Units done so far (of the total given to LongExchange).
    virtual void Step(int done) = 0;
    // True once the engineer asked to cancel; the work stops between transactions.
    virtual bool Cancelled() const = 0;
};

class ExchangeRunner {
  public:
    virtual ~ExchangeRunner() = default;
    // Runs `work` and waits for it, also when the application is quitting; the window repaints
    // meanwhile but takes no input.
    virtual int Run(const std::function<int()>& work) = 0;
    // As Run, with a progress indication of `total` units and, where allowed, a cancel button
    // ("Прервать", or Esc). With an empty `what` and no cancel the runner shows nothing of its
    // own: the caller draws its own bar from the session's progress signal.
    virtual int RunLong(const QString& what, int total, Cancel cancel,
                        const std::function<int(ExchangeProgress&)>& work) = 0;
    // True while an exchange runs (a timer firing meanwhile must not start one of its own).
    virtual bool Busy() const { return false; }
    // True when the engineer closed a window during an exchange of the handler under way: the
    // close follows once the handler has returned to its event loop, so the caller skips its
    // closing message.
    virtual bool CloseRequested() const { return false; }

    // Told the units done of a long exchange, on the window thread (the session passes them on
    // to the screens that draw their own bar).
    void SetProgressSink(std::function<void(int)> sink) { progressSink_ = std::move(sink); }

  protected:
    void ReportProgress(int done) const {
        if (progressSink_) progressSink_(done);
    }

  private:
    std::function<void(int)> progressSink_;
};

// Runs everything at once on the calling thread (velmar-cli style); the window's own runner
// replaces it.
class DirectRunner : public ExchangeRunner {
  public:
    int Run(const std::function<int()>& work) override { return work(); }
    int RunLong(const QString&, int, Cancel,
                const std::function<int(ExchangeProgress&)>& work) override {
        struct Direct : ExchangeProgress {
            explicit Direct(const DirectRunner& r) : runner(r) {}
            void Step(int done) override { runner.ReportProgress(done); }
            bool Cancelled() const override { return false; }
            const DirectRunner& runner;
        } progress(*this);
        return work(progress);
    }
};

} // namespace velmar::ui
