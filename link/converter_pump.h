// The converter pump: the one thread that moves bytes between the converters and the rings.
#pragma once

#include "link/port_table.h"

#include <cstdint>

namespace velmar {

void StartConverterPump(); // starts in its initial pause, until the first converter opens
void StopConverterPump();  // waits for the thread to end

// Pause handshake: after PauseConverterPump returns, the pump makes no USB transfer until
// ResumeConverterPump. Calls nest by being idempotent, not counted.
void PauseConverterPump();
void ResumeConverterPump();
bool ConverterPumpInInitialPause();

// Waits until the pump delivered bytes for `entry` since the caller thread last looked, or
// `timeoutMs`.
void WaitConverterData(PortEntry& entry, int timeoutMs);

} // namespace velmar
