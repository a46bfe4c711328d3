// The time one character takes on a port's line, for telling a finished reply from one that is
// still arriving.
#pragma once

#include "link/serial_port.h"

#include <chrono>

namespace velmar::detail {

// 10 bit times at the slot's configured speed (4800 baud when none is known).
std::chrono::microseconds CharTime(PortSlot slot);

} // namespace velmar::detail
