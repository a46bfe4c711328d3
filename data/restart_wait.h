// Restarting the controller after a record write when something else is written next: the
// controller is deaf while it starts, so the next write waits (bounded) until it answers again.
// Every "write, restart, write again" path goes through here.
#pragma once

#include "data/record_store.h"

namespace velmar {

// What became of a restart. A value-initialised result is a failure, never a restart.
enum class RestartResult {
    Failed,   // the restart command was not taken
    NoAnswer, // restarted, but silent for the whole wait
    Ready,    // restarted (and, after RestartAndAwait, answering again)
};

// Sends the restart; when its status is lost (the restart may or may not have happened), waits
// until the controller answers and sends it once more: a second restart leaves the controller as
// one does, and its status tells. Ready when a restart's status came, else Failed.
RestartResult RestartConfirmed(RecordStore& store);

// Sends the restart (as RestartConfirmed), then waits until the controller answers the address poll
// again (the demo image needs neither and answers at once). Ready, Failed or NoAnswer.
RestartResult RestartAndAwait(RecordStore& store);

} // namespace velmar
