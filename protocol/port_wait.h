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

// How a read reply ended.
enum class ReplyEnd {
    Complete,    // taken: checked and verified, or (unchecked) exact length followed by silence
    CheckFailed, // taken at the exact length, but its trailing byte is not the data's checksum
    NoReply,     // not a byte within the first-byte budget
    Short,       // bytes came, then stopped short of the expected length
    TooLong,     // more bytes than expected (taken off the line only by the next purge)
    Unconfirmed, // complete, but not yet confirmed by a second read (not returned by a wait)
    Early,       // complete sooner than the request could have been answered: owed to an
                 // earlier one (not returned by a wait)
};

struct ReplyLimits {
    int firstByteMs; // until the first byte of the reply
    int stallMs;     // without growth once bytes are arriving
};

// Waits for a read reply of `want` bytes (data, then the trailing byte) and stores it in `dst`.
// With `checked`, a reply whose trailing byte is ChecksumRot8 of the data before it is complete
// the moment its last byte is in (bytes that come after it go in the next request's purge); one
// that fails the check counts as such only after 1.5 character times of silence, so that a longer
// reply is not mistaken for it. Unchecked replies always wait for that silence. More bytes than
// expected, seen at once, are never taken. `firstByteUs`
// receives the time from the call to the first byte (unchanged when none came).
ReplyEnd AwaitReadReply(PortSlot slot, uint8_t* dst, int want, bool checked,
                        const ReplyLimits& limits, int& firstByteUs);

// Waits until no further byte has come for `settle`, at most `budgetMs`: what is left of a reply
// that was refused then goes in the next request's purge instead of into its reply.
void AwaitQuiet(PortSlot slot, std::chrono::microseconds settle, int budgetMs);

// Waits until at least `atLeast` bytes are waiting; returns the count then, or -1 when the
// budget ran out.
int AwaitAtLeast(PortSlot slot, int atLeast, int budgetMs);

void SleepMs(int ms);

} // namespace velmar::detail
