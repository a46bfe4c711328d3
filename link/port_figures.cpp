// What the port layer tells about a slot (its kind, speed, reconnections, dropped bytes, the
// error that took its device) and the extra wait allowed for network ports.
#include "link/port_layer_internal.h"
#include "link/serial_port.h"

#include <atomic>
#include <cerrno>

namespace velmar {

using port_layer::IsNetwork;
using port_layer::KindOf;

void SetNetworkAllowanceMs(PortSlot slot, int ms) {
    if (PortEntry* e = UsedEntry(slot)) e->networkAllowanceMs = ms < 0 ? 0 : ms;
}

int PortExtraWaitMs(PortSlot slot) {
    const PortEntry* e = UsedEntry(slot);
    return e != nullptr && IsNetwork(*e) ? e->networkAllowanceMs : 0;
}

PortKind GetPortKind(PortSlot slot) {
    const PortEntry* e = UsedEntry(slot);
    return e != nullptr ? KindOf(*e) : PortKind::ComPort;
}

uint32_t PortBaud(PortSlot slot) {
    const PortEntry* e = UsedEntry(slot);
    return e != nullptr ? e->baud : 0;
}

uint32_t PortReconnects(PortSlot slot) {
    const PortEntry* e = UsedEntry(slot);
    return e != nullptr ? e->reconnects : 0;
}

uint32_t PortDroppedBytes(PortSlot slot) {
    const PortEntry* e = UsedEntry(slot);
    return e != nullptr ? e->droppedBytes.load(std::memory_order_relaxed) : 0;
}

int PortLastError(PortSlot slot) {
    const PortEntry* e = UsedEntry(slot);
    if (e == nullptr) return 0;
    if (KindOf(*e) == PortKind::ComPort) return e->com.lostError;
    if (IsNetwork(*e)) return e->tcp.fd < 0 ? e->tcp.lostError : 0;
    if (KindOf(*e) == PortKind::UsbConverter && e->usb == nullptr) return ENODEV;
    return 0;
}

} // namespace velmar
