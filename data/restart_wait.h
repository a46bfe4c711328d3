// Restarting the controller after a record write when something else is written next: the
// controller is deaf while it starts, so the next write waits (bounded) until it answers again.
// Every "write, restart, write again" path goes through here.
#pragma once

#include "data/record_store.h"

namespace velmar {

// Restart results.
inline constexpr int kRestartReady = 1;     // restarted and answering again
inline constexpr int kRestartFailed = -1;   // the restart command was not taken
inline constexpr int kRestartNoAnswer = -2; // restarted, but silent for the whole wait

// Sends the restart; when its status is lost (the restart may or may not have happened), waits
// until the controller answers and sends it once more: a second restart leaves the controller as
// one does, and its status tells. 1 when a restart's status came, else -1.
int RestartConfirmed(RecordStore& store);

// Sends the restart (as RestartConfirmed), then waits until the controller answers the address poll
// again (the demo image needs neither and answers at once).
int RestartAndAwait(RecordStore& store);

} // namespace velmar
