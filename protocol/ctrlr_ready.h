// Waiting for a controller that was just restarted: it ignores the line while it starts, so a
// write sent right after the restart command is lost. The address poll tells when it listens.
#pragma once

#include "link/serial_port.h"

namespace velmar {

// How long a restarted controller is given to answer again.
inline constexpr int kRestartWaitMs = 1000;
// A moment for the controller to begin its restart before the first poll: a poll sent at once
// reaches a controller that is not listening yet and costs a whole silent-poll budget.
inline constexpr int kRestartSettleMs = 30;
// Pause between two polls that were answered wrongly (a silent poll already waits its budget).
inline constexpr int kRestartPollPauseMs = 20;

// Polls the controller at `ctrl` until it answers the address poll or `budgetMs` ran out.
// 1 it answers, -1 it stayed silent (or answered wrongly) for the whole budget.
int AwaitCtrlrAnswer(PortSlot slot, int ctrl, int budgetMs = kRestartWaitMs);

} // namespace velmar
