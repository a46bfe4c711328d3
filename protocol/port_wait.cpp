#include "protocol/port_wait.h"

#include "protocol/timeouts.h"

#include <thread>

namespace velmar {

ProtocolTimeouts& Timeouts() {
    static ProtocolTimeouts timeouts;
    return timeouts;
}

namespace detail {

int Deadline::RemainingMs() const {
    const auto left = end_ - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) return 0;
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(left).count();
    return static_cast<int>((us + 999) / 1000);
}

bool AwaitExactCount(PortSlot slot, int want, int budgetMs, bool restartOnGrowth) {
    Deadline deadline(budgetMs);
    int maxSeen = 0;
    for (;;) {
        const int n = PortAvailable(slot);
        if (n == want) return true;
        if (restartOnGrowth && n > maxSeen) {
            maxSeen = n;
            deadline.Restart(budgetMs);
        }
        if (deadline.Expired()) return false;
        WaitPortData(slot, deadline.RemainingMs());
    }
}

int AwaitAtLeast(PortSlot slot, int atLeast, int budgetMs) {
    Deadline deadline(budgetMs);
    for (;;) {
        const int n = PortAvailable(slot);
        if (n >= atLeast) return n;
        if (deadline.Expired()) return -1;
        WaitPortData(slot, deadline.RemainingMs());
    }
}

void SleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

} // namespace detail
} // namespace velmar
