// Everything one line keeps for its exchanges besides the port itself: the time budgets, the
// retry policy with its count of retried requests, and what its replies have taught.
//
// The window thread may set the retry count or forget the replies while the exchange thread runs
// an exchange on the same line: the count and the counter are atomic, ReplyChecks guards itself.
// The budgets are set before exchanges run (tests shorten them) and only read during them.
#pragma once

#include "link/serial_port.h"
#include "protocol/reply_checks.h"
#include "protocol/timeouts.h"

#include <algorithm>
#include <atomic>
#include <cstdint>

namespace velmar {

inline constexpr int kDefaultReadRetries = 2;
inline constexpr int kMaxReadRetries = 10;

class RetryPolicy {
  public:
    // Clamped to 0..kMaxReadRetries.
    void SetRetries(int retries) { retries_.store(std::clamp(retries, 0, kMaxReadRetries)); }
    int Retries() const { return retries_.load(); }

    void CountRetried() { retried_.fetch_add(1); }
    uint64_t Retried() const { return retried_.load(); }
    void ResetRetried() { retried_.store(0); }

  private:
    std::atomic<int> retries_{kDefaultReadRetries};
    std::atomic<uint64_t> retried_{0};
};

struct LineContext {
    ProtocolTimeouts timeouts;
    RetryPolicy retry;
    ReplyChecks replies;
};

// The context of the line on `slot`. Slot 0 and slots out of range share one context that no
// port uses: an exchange there fails at the port, and what it notes is never asked for.
LineContext& LineOf(PortSlot slot);

// Every line's context, for settings that apply to all lines.
template <typename Fn> void ForEachLine(Fn&& fn) {
    for (PortSlot slot = 0; slot <= kPortSlotCount; ++slot) fn(LineOf(slot));
}

} // namespace velmar
