// The port table and its life: starting and stopping the layer, opening, configuring and closing
// ports. Moving bytes is in port_transfer.cpp, the network ports' connections in
// port_network.cpp, the figures about a slot in port_figures.cpp.
#include "link/converter_pump.h"
#include "link/exchange_log.h"
#include "link/port_layer_internal.h"
#include "link/port_table.h"
#include "link/rfc2217_link.h"
#include "link/tcp_link.h"
#include "link/usb_converter.h"
#include "link/usb_library.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace velmar {

namespace port_layer {

namespace {

// Per thread: the thread that opened or set up a port reads its own failure right after
// (OpenLine, ConfigureLine), whatever other lines do meanwhile.
thread_local int lastSystemError = 0;

} // namespace

// Keeps the system's error number apart from the port layer's own results.
int SystemFailure(int err) {
    lastSystemError = err;
    return kPortSystemError;
}

void ReportLoss(PortEntry& e, PortSlot slot, int code) {
    if (e.lossLogged) return;
    e.lossLogged = true;
    if (PortLogged(slot)) LogWriteFailure(slot, code);
}

} // namespace port_layer

using namespace port_layer;

std::array<PortEntry, kPortSlotCount> portTable;

namespace {

std::atomic<bool> layerStarted{false};
std::atomic<uint16_t> logMask{0}; // bit n-1: the exchange log records slot n
uint32_t parityErrors = 0;        // shutdown line counters, from the drivers' line error counts
uint32_t frameErrors = 0;
constexpr size_t kMaxNameLength = 99;

uint16_t FirstNumber(const char* name) {
    const char* p = name;
    while (*p != '\0' && (*p < '0' || *p > '9')) ++p;
    uint32_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) value = std::min<uint32_t>(value * 10 + (*p - '0'), 65535);
    return static_cast<uint16_t>(value);
}

void ClosePortEntry(PortEntry& e) {
    if (KindOf(e) == PortKind::UsbConverter) {
        CloseConverter(e);
    } else if (IsNetwork(e)) {
        CloseTcpLink(e.tcp);
    } else if (KindOf(e) == PortKind::ComPort) {
        uint32_t p = 0;
        uint32_t f = 0;
        ComDeviceLineErrors(e.com, p, f);
        parityErrors += p;
        frameErrors += f;
        CloseComDevice(e.com);
    }
    e.Clear();
}

} // namespace

PortEntry* UsedEntry(PortSlot slot) {
    if (slot == 0 || slot > kPortSlotCount || !layerStarted.load(std::memory_order_relaxed)) {
        return nullptr;
    }
    PortEntry& e = portTable[slot - 1];
    return e.used ? &e : nullptr;
}

void DeliverToRx(PortEntry& entry, const uint8_t* bytes, size_t count) {
    const size_t stored = entry.rx.Push(bytes, count);
    if (stored < count) {
        entry.droppedBytes.fetch_add(static_cast<uint32_t>(count - stored),
                                     std::memory_order_relaxed);
    }
    if (stored > 0) {
        entry.delivered.fetch_add(static_cast<uint32_t>(stored), std::memory_order_release);
    }
}

void StartPortLayer() {
    if (layerStarted.load()) return;
    for (PortEntry& e : portTable) e.Clear();
    parityErrors = 0;
    frameErrors = 0;
    StartConverterPump();
    OpenExchangeLog();
    layerStarted.store(true);
}

void StopPortLayer() {
    if (!layerStarted.load()) return;
    // Ports still open are closed so their devices are free again for the next user.
    for (PortEntry& e : portTable) {
        if (e.used) ClosePortEntry(e);
    }
    StopConverterPump();
    CloseExchangeLog(parityErrors, frameErrors, GetLogMask() != 0);
    layerStarted.store(false);
}

bool PortLayerStarted() {
    return layerStarted.load();
}

int PortSystemError() {
    return lastSystemError;
}

int OpenPort(PortSlot& slot, const char* name) {
    slot = 0;
    if (!layerStarted.load()) return kPortLayerNotStarted;
    auto it = std::find_if(portTable.begin(), portTable.end(),
                           [](const PortEntry& e) { return !e.used; });
    if (it == portTable.end()) return kPortTableFull;
    if (name == nullptr || *name == '\0') return kPortEmptyName;
    // A cut device path could name another device: refuse instead.
    if (std::strlen(name) > kMaxNameLength) return kPortNameTooLong;
    PortEntry& e = *it;
    const auto index = static_cast<PortSlot>(it - portTable.begin());
    e.Clear();
    std::memcpy(e.name, name, std::strlen(name) + 1);
    e.portNumber = FirstNumber(name);

    if (std::strcmp(name, "UKEY") == 0) {
        StartUsbLibrary();
        e.kind.store(PortKind::UsbKey, std::memory_order_relaxed);
    } else if (std::strncmp(name, "U_", 2) == 0) {
        StartUsbLibrary();
        const int r = OpenConverter(e, name);
        if (r != 0) {
            e.Clear();
            return r;
        }
        e.kind.store(PortKind::UsbConverter, std::memory_order_release);
        ResumeConverterPump();
    } else if (IsNetworkPortName(name)) {
        e.kind.store(IsRfc2217PortName(name) ? PortKind::Rfc2217Gateway : PortKind::TcpGateway,
                     std::memory_order_relaxed);
        const int r = ConnectNetwork(e);
        if (r != 0) {
            e.Clear();
            return NetworkFailure(r);
        }
        PurgeAfterConnect(e, static_cast<PortSlot>(index + 1));
    } else {
        const int err = OpenComDevice(name, e.com);
        if (err != 0) {
            e.Clear();
            return SystemFailure(err);
        }
        e.kind.store(PortKind::ComPort, std::memory_order_relaxed);
    }
    e.used = true;
    slot = static_cast<PortSlot>(index + 1);
    return kPortOk;
}

int ConfigurePort(PortSlot slot, uint32_t baud, uint8_t dataBits, char parity, uint8_t stopBits) {
    PortEntry* e = UsedEntry(slot);
    if (e == nullptr) return kPortNoSlot;
    if (baud == 0) baud = 4800;
    int r = 0;
    switch (KindOf(*e)) {
    case PortKind::UsbKey:
        return 0;
    case PortKind::TcpGateway:
        break; // the gateway's serial port keeps its own settings; the speed is noted for timing
    case PortKind::Rfc2217Gateway:
        // The settings are kept first: a connection that is down now, or is lost while they are
        // sent, applies them when it is made again (at the next write); only a gateway that
        // answers and will not set the line fails here.
        e->baud = baud;
        e->dataBits = dataBits;
        e->parity = parity;
        e->stopBits = stopBits;
        if (TcpLinkDropped(e->tcp)) ReportLoss(*e, slot, e->tcp.lostError);
        if (e->tcp.fd >= 0) r = ConfigureRfc2217(e->tcp, e->rfc, baud, dataBits, parity, stopBits);
        if (r < 0) return NetworkFailure(r);
        if (r > 0) ReportLoss(*e, slot, r);
        return kPortOk;
    case PortKind::ComPort:
        r = ConfigureComDevice(e->com, baud, dataBits, parity, stopBits);
        if (r != 0) r = SystemFailure(r);
        break;
    case PortKind::UsbConverter:
        r = ConfigureConverter(*e, baud, dataBits, parity, stopBits);
        break;
    }
    if (r != 0) return r;
    e->baud = baud;
    e->dataBits = dataBits;
    e->parity = parity;
    e->stopBits = stopBits;
    return 0;
}

int ClosePort(PortSlot slot) {
    PortEntry* e = UsedEntry(slot);
    if (e != nullptr) ClosePortEntry(*e);
    return 1;
}

void SetLogMask(uint16_t mask) {
    logMask.store(mask);
}

uint16_t GetLogMask() {
    return logMask.load();
}

bool PortLogged(PortSlot slot) {
    return slot != 0 && slot <= kPortSlotCount &&
           (logMask.load(std::memory_order_relaxed) >> (slot - 1) & 1u) != 0;
}

LineAttachment* AttachmentOf(PortSlot slot, MakeLineAttachment make) {
    PortEntry* e = UsedEntry(slot);
    if (e == nullptr) return nullptr;
    if (!e->attachment) e->attachment = make();
    return e->attachment.get();
}

} // namespace velmar
