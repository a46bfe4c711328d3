// The search for controllers on a line (velmar-cli scan, and the search step of backup and
// verify): a silent number is passed after a budget fitted to the line instead of the address
// poll's full budget, while every number that answers is confirmed with the full poll.
#pragma once

#include "link/serial_port.h"

namespace velmar {

enum class SearchAnswer {
    Absent,     // silence within the budget on a working line
    Answered,   // the full address poll answered
    BadReply,   // a reply came, but not as our controllers answer
    NotReached, // the line or the connection failed: nothing is known about the number
};

// The no-answer budget of one search poll: the poll frame and its reply at the port's speed,
// plus a turnaround allowance; a network port's allowance is added when waiting.
int SearchBudgetMs(PortSlot slot);

// Polls `ctrl`. With `thorough` every number gets the full budget of the address poll. Otherwise
// silence within SearchBudgetMs means absent; a reply that began but did not complete in time is
// polled again with the full budget, and a complete one is confirmed with the full poll.
// `number` receives the answering controller's number (for the reserve address).
SearchAnswer SearchPoll(PortSlot slot, int ctrl, bool thorough, int& number);

} // namespace velmar
