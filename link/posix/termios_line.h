// Line settings as termios flags (ptys ignore parity and data bits, so tests check them here).
#pragma once

#include <cstdint>
#include <termios.h>

namespace velmar {

// Speed, data bits, parity letter (N O E M S Z; others leave it) and stop bits (1, 2; others
// leave them) into `tio`. 0, or EINVAL for a speed or data-bit count termios cannot express.
int ApplyLineSettings(termios& tio, uint32_t baud, uint8_t dataBits, char parity, uint8_t stopBits);

} // namespace velmar
