#include "protocol/port_wait.h"

#include "protocol/ctrlr_protocol.h"
#include "protocol/line_timing.h"
#include "protocol/timeouts.h"

#include <thread>

namespace velmar {

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

void AwaitQuiet(PortSlot slot, std::chrono::microseconds settle, int budgetMs) {
    using Clock = std::chrono::steady_clock;
    const Deadline limit(budgetMs);
    int count = PortAvailable(slot);
    auto quietSince = Clock::now();
    while (!limit.Expired()) {
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
            settle - (Clock::now() - quietSince));
        if (left.count() <= 0) return;
        if (left.count() >= 1000)
            WaitPortData(slot, static_cast<int>(left.count() / 1000));
        else
            std::this_thread::yield();
        const int now = PortAvailable(slot);
        if (now != count) {
            count = now;
            quietSince = Clock::now();
        }
    }
}

ReplyEnd AwaitReadReply(PortSlot slot, uint8_t* dst, int want, bool checked,
                        const ReplyLimits& limits, int& firstByteUs) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    Deadline deadline(limits.firstByteMs);
    const auto settle = CharTime(slot) * Timeouts(slot).replySettlePercent / 100;
    int maxSeen = 0;
    for (;;) {
        const int n = PortAvailable(slot);
        if (n > maxSeen) {
            if (maxSeen == 0) {
                firstByteUs = static_cast<int>(
                    std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start)
                        .count());
            }
            maxSeen = n;
            deadline.Restart(limits.stallMs);
        }
        if (n > want) {
            AwaitQuiet(slot, settle, limits.stallMs);
            return ReplyEnd::TooLong;
        }
        if (n == want && checked) {
            if (ReadPort(slot, dst, want) != 1) return ReplyEnd::Short;
            // Verified at the expected length: complete, whatever may still follow it.
            if (ChecksumRot8(dst, static_cast<size_t>(want - 1)) == dst[want - 1])
                return ReplyEnd::Complete;
            if (!StaysAt(slot, 0, settle)) {
                AwaitQuiet(slot, settle, limits.stallMs);
                return ReplyEnd::TooLong;
            }
            return ReplyEnd::CheckFailed;
        }
        if (n == want && StaysAt(slot, want, settle)) {
            return ReadPort(slot, dst, want) == 1 ? ReplyEnd::Complete : ReplyEnd::Short;
        }
        if (deadline.Expired()) return n == 0 ? ReplyEnd::NoReply : ReplyEnd::Short;
        WaitPortData(slot, deadline.RemainingMs());
    }
}

bool AwaitExactCount(PortSlot slot, int want, int budgetMs, bool restartOnGrowth) {
    budgetMs += PortExtraWaitMs(slot);
    Deadline deadline(budgetMs);
    int maxSeen = 0;
    // A byte that follows the expected ones comes about one character time later; the reply is
    // taken only when none does, so a longer reply is never mistaken for the one awaited.
    const auto settle = CharTime(slot) * Timeouts(slot).replySettlePercent / 100;
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
