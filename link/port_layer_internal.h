// What the port layer's own files share: the slot helpers, the loss and failure reporting, and
// the network ports' connection handling. Internal to the port layer (port_layer.cpp,
// port_transfer.cpp, port_network.cpp, port_figures.cpp).
#pragma once

#include "link/port_table.h"
#include "link/serial_port.h"

#include <cstddef>
#include <cstdint>

namespace velmar::port_layer {

inline PortKind KindOf(const PortEntry& e) {
    return e.kind.load(std::memory_order_relaxed);
}

inline bool IsNetwork(const PortEntry& e) {
    return IsNetworkPortKind(KindOf(e));
}

// Records once that the slot's device has gone (PortLastError says which way).
void ReportLoss(PortEntry& e, PortSlot slot, int code);

// Keeps the system's error number apart from the port layer's own results.
int SystemFailure(int err);

// The port layer's result for a failure of a network link.
int NetworkFailure(int err);

// Connects a network port and, for an rfc2217: gateway, sets its line.
int ConnectNetwork(PortEntry& e);

// Takes off what the gateway still held from before the connection.
void PurgeAfterConnect(PortEntry& e, PortSlot slot);

// The data a network port has received.
int ReadNetwork(PortEntry& e, uint8_t* dst, size_t max, size_t& got);

void WaitNetwork(PortEntry& e, int timeoutMs);

// Sends on a network port, connecting again first when the connection dropped.
void WriteTcp(PortEntry& e, PortSlot slot, const uint8_t* bytes, size_t count, bool logFailure);

} // namespace velmar::port_layer
