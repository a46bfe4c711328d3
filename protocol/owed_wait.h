// Waiting out the replies a line still owes (owed_replies.h) before a request that is not one
// more attempt of theirs goes out.
#pragma once

#include "link/serial_port.h"
#include "protocol/owed_replies.h"

#include <cstdint>

namespace velmar::detail {

// Listens to the line, taking off whatever comes, until no reply is owed but to requests with
// key `next` (none at all when `next` is null): each owed reply has come whole or its window
// has passed. The window of a request is the longer of its own wait and the slowest reply seen,
// with the late-reply allowance of the timeouts.
void SettleOwedReplies(PortSlot slot, const RequestKey* next);

// The command frame as SendCtrlrCmd sends it, without waiting out owed replies first: for the
// attempts of one read request, which settles them itself.
void SendCommandFrame(PortSlot slot, int ctrl, uint8_t code);

// A request on `slot` whose whole reply did not come (a write's status block).
void NoteOwedReply(PortSlot slot, const OwedReplies::Entry& entry);

// A reply came whole while no other was owed on `slot` (a write's status block).
void NoteAnsweredInTime(PortSlot slot);

// The steady clock in microseconds, as the owed replies keep it.
int64_t SteadyNowUs();

} // namespace velmar::detail
