// One chunk of a memory write, sent again when its status block was lost or garbled. Writing the
// same bytes to the same address twice leaves the controller as once, so a memory write may be
// repeated; a write that makes the controller act (restart, pulse simulator, relay test) is sent
// once, whatever becomes of its status.
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

// Sends a chunk through `send`; once when not `repeatable`, else as often as the retry count
// allows while its status is missing or garbled. A nonzero status is taken as a refusal only when
// the controller gives it again: one flipped bit turns the status 0 into a plausible refusal
// code. True when the chunk was accepted.
bool WriteChunk(PortSlot slot, uint32_t lineAddress, int count, bool repeatable,
                const ChunkSend& send);

// Waits for a status block: its first byte within `budgetMs`, then until the line is quiet.
// Takes all of it into `bytes` (at most `capacity`); the count taken, 0 when nothing came.
int AwaitStatusBlock(PortSlot slot, uint8_t* bytes, int capacity, int budgetMs);

} // namespace velmar::detail
