#include "protocol/line_timing.h"

#include "link/serial_port.h"

namespace velmar::detail {

std::chrono::microseconds CharTime(PortSlot slot) {
    const uint32_t configured = PortBaud(slot);
    const uint32_t baud = configured != 0 ? configured : 4800;
    return std::chrono::microseconds(10'000'000 / baud);
}

} // namespace velmar::detail
