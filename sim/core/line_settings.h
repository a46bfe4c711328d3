// The line settings the tool gave the pseudo-terminal, as a controller on the line would feel
// them: the speed it sends at and whether the character format is the controller's 8N1.
#pragma once

#include <cstdint>

namespace velmar::sim {

struct LineSettings {
    uint32_t baud = 0; // the speed the tool transmits at
    // 8 data bits, no parity (the stop bits do not matter to a receiver). Linux pseudo-terminals
    // always report 8 bits without parity, so there only the speed can differ.
    bool format8N = true;
};

// Reads the settings of the terminal `fd` (either side of the pseudo-terminal); false on error.
// Custom speeds set through the kernel's arbitrary-baud interface are reported as set.
bool ReadLineSettings(int fd, LineSettings& out);

// Puts the terminal `fd` into raw 8N1 mode at `baud`; 0 or errno.
int SetRawLine(int fd, uint32_t baud);

} // namespace velmar::sim
