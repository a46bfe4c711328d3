#include "protocol/port_wait.h"

#include "protocol/line_timing.h"
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

namespace {

// After the waiting count reached `want`: true when it stays there for `settle`, false as soon
// as another byte comes (the reply is longer than expected). Waits in whole milliseconds where
// it can and checks the sub-millisecond rest by polling, so a fast line loses no whole tick.
bool StaysAt(PortSlot slot, int want, std::chrono::microseconds settle) {
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + settle;
    for (;;) {
        if (PortAvailable(slot) != want) return false;
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(end - Clock::now());
        if (left.count() <= 0) return true;
        if (left.count() >= 1000)
            WaitPortData(slot, static_cast<int>(left.count() / 1000));
        else
            std::this_thread::yield();
    }
}

} // namespace

bool AwaitExactCount(PortSlot slot, int want, int budgetMs, bool restartOnGrowth) {
    budgetMs += PortExtraWaitMs(slot);
    Deadline deadline(budgetMs);
    int maxSeen = 0;
    // A byte that follows the expected ones comes about one character time later; the reply is
    // taken only when none does, so a longer reply is never mistaken for the one awaited.
    const auto settle = CharTime(slot) * Timeouts().replySettlePercent / 100;
    for (;;) {
        const int n = PortAvailable(slot);
        if (n == want && StaysAt(slot, want, settle)) return true;
        if (restartOnGrowth && n > maxSeen) {
            maxSeen = n;
            deadline.Restart(budgetMs);
        }
        if (deadline.Expired()) return false;
        WaitPortData(slot, deadline.RemainingMs());
    }
}

int AwaitAtLeast(PortSlot slot, int atLeast, int budgetMs) {
    budgetMs += PortExtraWaitMs(slot);
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
