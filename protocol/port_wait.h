// Waiting for reply bytes on a port against a time budget, waking as soon as bytes arrive.
#pragma once

#include "link/serial_port.h"

#include <chrono>

namespace velmar::detail {

class Deadline {
  public:
    explicit Deadline(int budgetMs) { Restart(budgetMs); }
    void Restart(int budgetMs) {
        end_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(budgetMs);
    }
    bool Expired() const { return std::chrono::steady_clock::now() >= end_; }
    // Whole milliseconds left, rounded up so a wait never spins on a sub-millisecond rest.
    int RemainingMs() const;

  private:
    std::chrono::steady_clock::time_point end_;
};

// Waits until exactly `want` bytes are waiting and no further byte follows within 1.5 character
// times. With `restartOnGrowth` the budget starts again whenever the waiting count exceeds every
// count seen before. A longer reply is never taken: the wait then runs out. True when the count
// equals `want`.
bool AwaitExactCount(PortSlot slot, int want, int budgetMs, bool restartOnGrowth);

// Waits until at least `atLeast` bytes are waiting; returns the count then, or -1 when the
// budget ran out.
int AwaitAtLeast(PortSlot slot, int atLeast, int budgetMs);

void SleepMs(int ms);

} // namespace velmar::detail
