// One chunk of a memory write, sent again when its status did not come clear. A write that
// makes the controller act (restart, pulse simulator, relay test) is sent once, whatever becomes
// of its status. A memory chunk whose status was lost or garbled is first read back: when the
// controller already holds it, it was written and is not sent again; only otherwise is it sent
// again, within the retry count. A refusal is no lost status: the chunk is sent once more to be
// sure of it. Where the controller counts by itself (the caller says so), every status but a
// clear acceptance is followed by a read back, a refusal's too: the chunk goes again only while
// the controller still holds the bytes it held before; bytes it counted since are never written
// over.
#pragma once

#include "link/serial_port.h"

#include <cstdint>
#include <functional>

namespace velmar::detail {

// What one sending of a chunk brought back.
enum class ChunkStatus {
    Accepted, // a status block of the expected shape, status 0
    Refused,  // a status block of the expected shape, nonzero status
    NoStatus, // nothing within the budget
    Garbled,  // bytes that are no status block of this chunk
};

// Sends the chunk once (frames and the wait for its status); `status` gets the status byte when
// the result is Refused.
using ChunkSend = std::function<ChunkStatus(uint8_t& status)>;

// The chunk as it goes to the controller.
struct ChunkTarget {
    PortSlot slot = 0;
    int ctrl = 0;
    uint8_t space = 0;
    uint32_t lineAddress = 0;
    int count = 0; // 1..kMaxChunk
    const uint8_t* data = nullptr;
    bool repeatable = false;         // memory, not a command
    bool counted = false;            // the controller changes these bytes by itself
    const uint8_t* before = nullptr; // `count` bytes it held before, as last read; null: unknown
};

enum class ChunkOutcome {
    Written,   // accepted, or found held when read back
    Failed,    // refused, or no clear status within the retries
    Overtaken, // counted bytes found changed by the controller since: not sent again
};

// Sends a chunk through `send`; once when not repeatable, else as the header says. A nonzero
// status is taken as a refusal only when the controller gives it again: one flipped bit turns
// the status 0 into a plausible refusal code.
ChunkOutcome WriteChunk(const ChunkTarget& target, const ChunkSend& send);

// Waits for a status block: `expected` bytes within `budgetMs` (fewer when no more come within
// the stall budget), then until the line is quiet. Takes all of it into `bytes` (at most
// `capacity`); the count taken, 0 when nothing came. A block that did not begin within the
// budget is watched for a while longer, so that it never meets the next request.
int AwaitStatusBlock(PortSlot slot, uint8_t* bytes, int capacity, int expected, int budgetMs);

} // namespace velmar::detail
