// Everything one line keeps for its exchanges besides the port itself: the time budgets, the
// retry policy with its count of retried requests, and what its replies have taught. The port
// table holds it with the port open on the slot (link/line_attachment.h): a port opened on a slot
// starts with a fresh context, and closing the port ends it, so no line inherits another line's
// settings or learning.
//
// The context is used by the thread that runs the line's exchanges; the caller sets the
// budgets and the retry count right after opening the port.
#pragma once

#include "link/line_attachment.h"
#include "link/serial_port.h"
#include "protocol/reply_checks.h"
#include "protocol/timeouts.h"

#include <algorithm>
#include <cstdint>

namespace velmar {

inline constexpr int kDefaultReadRetries = 2;
inline constexpr int kMaxReadRetries = 10;

class RetryPolicy {
  public:
    // Clamped to 0..kMaxReadRetries.
    void SetRetries(int retries) { retries_ = std::clamp(retries, 0, kMaxReadRetries); }
    int Retries() const { return retries_; }

    void CountRetried() { ++retried_; }
    uint64_t Retried() const { return retried_; }

  private:
    int retries_ = kDefaultReadRetries;
    uint64_t retried_ = 0;
};

struct LineContext : LineAttachment {
    ProtocolTimeouts timeouts;
    RetryPolicy retry;
    ReplyChecks replies;
};

// The context of the port open on `slot`; null for 0, out-of-range and free slots (an exchange
// there fails at the port, and what it would note is dropped).
LineContext* LineOf(PortSlot slot);

} // namespace velmar
