// The thread exchanges run on: takes jobs one at a time in the order they came and tells the
// submitter when each is done. No Qt: the runner decides how the news reaches the window.
#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace velmar::ui {

class ExchangeWorker {
  public:
    struct Task {
        std::function<int()> work;
        // Called on the worker after `work`, with `result` set; the task may be gone as soon as
        // `done` has told the submitter, so the worker touches it no more afterwards.
        std::function<void()> done;
        int result = 0;
        std::exception_ptr error; // what `work` threw, handed back to the submitter
    };

    ExchangeWorker() = default;
    ~ExchangeWorker(); // finishes the queued tasks, then joins
    ExchangeWorker(const ExchangeWorker&) = delete;
    ExchangeWorker& operator=(const ExchangeWorker&) = delete;

    // `task` must live until its `done` was called.
    void Submit(Task& task);

  private:
    void Loop();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Task*> queue_;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace velmar::ui
