#include "ui/exchange/exchange_worker.h"

namespace velmar::ui {

ExchangeWorker::~ExchangeWorker() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void ExchangeWorker::Submit(Task& task) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(&task);
        // Started with the first task, so a session that never talks to a controller has no
        // thread.
        if (!thread_.joinable()) thread_ = std::thread([this] { Loop(); });
    }
    wake_.notify_all();
}

void ExchangeWorker::Loop() {
    for (;;) {
        Task* task = nullptr;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (queue_.empty()) return; // stopping with nothing left
            task = queue_.front();
            queue_.pop_front();
        }
        try {
            task->result = task->work();
        } catch (...) {
            task->error = std::current_exception();
        }
        task->done();
    }
}

} // namespace velmar::ui
