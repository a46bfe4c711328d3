// The converter pump: the one thread that moves bytes between the converters and the rings.
#pragma once

#include "link/port_table.h"

#include <cstdint>

namespace velmar {

enum class PumpPhase : uint8_t { Transmit = 0, PollCount = 1, Fetch = 2, Paused = 0xFF };

void StartConverterPump(); // starts in its initial pause, until the first converter opens
void StopConverterPump();  // waits for the thread to end

// Pause handshake: after PauseConverterPump returns, the pump makes no USB transfer until
// ResumeConverterPump. Calls nest by being idempotent, not counted.
void PauseConverterPump();
void ResumeConverterPump();
bool ConverterPumpInInitialPause();
PumpPhase GetPumpPhase();

// Waits until the pump delivered bytes for `entry` since the GUI last looked, or `timeoutMs`.
void WaitConverterData(PortEntry& entry, int timeoutMs);

} // namespace velmar
