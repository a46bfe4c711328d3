// Restarting the controller after a record write when something else is written next: the
// controller is deaf while it starts, so the next write waits (bounded) until it answers again.
// Every "write, restart, write again" path goes through here. The restart request is sent once:
// when its status is lost the restart may have happened, and a second one would be a second
// restart, so the wait for the controller's answer is what tells.
#pragma once

#include "data/record_store.h"

#include <functional>

namespace velmar {

// The longest a controller is allowed to stay deaf after a restart: the wait for its answer after
// a lost status covers it.
inline constexpr int kSlowestRestartMs = 5000;

// What became of a restart. A value-initialised result is a failure, never a restart.
enum class RestartResult {
    Failed,   // no restart is known to have been carried out
    Refused,  // the controller refused it (nonzero status): not carried out
    NoAnswer, // its status lost, or restarted, and silent for the whole wait
    Ready,    // restarted (its status came, or it answers again after a lost one)
};

// Tells the engineer that the tool waits for a controller whose restart status was lost: the
// window puts it on its status line, the command line on its error stream. Called on the thread
// of the exchange; none by default.
using RestartNotice = std::function<void(const char* text)>;
void SetRestartNotice(RestartNotice notice);
// The wait's text, through the notice set.
void NoteRestartWait();

// Polls until the controller answers at the store's number, for up to `budgetMs`.
bool AwaitRestarted(RecordStore& store, int budgetMs = kSlowestRestartMs);

// Sends the restart once. Ready when its status came; when the status was lost, waits (up to
// kSlowestRestartMs) until the controller answers: Ready, else NoAnswer. Refused as the
// controller said it.
RestartResult RestartConfirmed(RecordStore& store);

// Sends the restart (as RestartConfirmed), then waits until the controller answers the address poll
// again (the demo image needs neither and answers at once). Ready, Refused or NoAnswer.
RestartResult RestartAndAwait(RecordStore& store);

} // namespace velmar
