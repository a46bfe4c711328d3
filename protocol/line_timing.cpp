#include "protocol/line_timing.h"

// The configured speed lives in the port table; the serial port interface does not hand it out.
#include "link/port_table.h"

namespace velmar::detail {

std::chrono::microseconds CharTime(PortSlot slot) {
    const PortEntry* entry = UsedEntry(slot);
    const uint32_t baud = entry != nullptr && entry->baud != 0 ? entry->baud : 4800;
    return std::chrono::microseconds(10'000'000 / baud);
}

} // namespace velmar::detail
