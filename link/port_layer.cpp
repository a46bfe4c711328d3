// The port table and its operations.
#include "link/converter_pump.h"
#include "link/exchange_log.h"
#include "link/port_table.h"
#include "link/rfc2217_link.h"
#include "link/tcp_link.h"
#include "link/usb_converter.h"
#include "link/usb_library.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>
#include <vector>

namespace velmar {

std::array<PortEntry, kPortSlotCount> portTable;

namespace {

std::atomic<bool> layerStarted{false};
std::atomic<uint16_t> logMask{0};
uint32_t parityErrors = 0; // shutdown line counters, from the drivers' line error counts
uint32_t frameErrors = 0;

std::atomic<int> lastSystemError{0};
std::atomic<int> networkAllowanceMs{50};

// Keeps the system's error number apart from the port layer's own results.
int SystemFailure(int err) {
    lastSystemError.store(err);
    return kPortSystemError;
}

// The port layer's result for a failure of a network link.
int NetworkFailure(int err) {
    switch (err) {
    case kTcpBadName:
        return kPortBadNetworkName;
    case kTcpHostNotFound:
        return kPortHostNotFound;
    case kRfc2217Refused:
        return kPortGatewayRefused;
    case kRfc2217NoAnswer:
        return kPortGatewayNoAnswer;
    case kRfc2217LineRefused:
        return kPortGatewayLineRefused;
    default:
        return SystemFailure(err);
    }
}

constexpr size_t kMaxNameLength = 99;
constexpr int kConverterWriteWaitMs = 2000;
constexpr auto kDetachedRetryInterval = std::chrono::seconds(1);

bool Logged(PortSlot slot) {
    return (logMask.load(std::memory_order_relaxed) >> (slot - 1) & 1u) != 0;
}

uint16_t FirstNumber(const char* name) {
    const char* p = name;
    while (*p != '\0' && (*p < '0' || *p > '9')) ++p;
    uint32_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) value = std::min<uint32_t>(value * 10 + (*p - '0'), 65535);
    return static_cast<uint16_t>(value);
}

PortKind KindOf(const PortEntry& e) {
    return e.kind.load(std::memory_order_relaxed);
}

// Moves what the device holds into the ring, as much as fits; the rest waits in the driver
// for the next call, so nothing is lost to a full ring. A device that has gone is recorded in
// the slot (PortLastError); reading then returns nothing.
void ReportLoss(PortEntry& e, PortSlot slot, int code) {
    if (e.lossLogged) return;
    e.lossLogged = true;
    if (Logged(slot)) LogWriteFailure(slot, code);
}

bool IsNetwork(const PortEntry& e) {
    return IsNetworkPortKind(KindOf(e));
}

// The data a network port has received: the bytes themselves from a raw gateway, what is left
// of them once the Telnet commands are taken out from an rfc2217: one.
int ReadNetwork(PortEntry& e, uint8_t* dst, size_t max, size_t& got) {
    if (KindOf(e) == PortKind::Rfc2217Gateway) return ReadRfc2217(e.tcp, e.rfc, dst, max, got);
    return ReadTcpLink(e.tcp, dst, max, got);
}

void WaitNetwork(PortEntry& e, int timeoutMs) {
    if (KindOf(e) == PortKind::Rfc2217Gateway && !e.rfc.pending.empty()) return;
    WaitTcpLink(e.tcp, timeoutMs);
}

void Pull(PortEntry& e, PortSlot slot) {
    const unsigned room = e.rx.Free();
    if (room == 0) return;
    uint8_t buf[ByteRing::kSize];
    size_t got = 0;
    if (IsNetwork(e)) {
        if (const int err = ReadNetwork(e, buf, room, got); err != 0) ReportLoss(e, slot, err);
    } else {
        (void)ReadComDevice(e.com, buf, room, got);
    }
    if (got > 0) DeliverToRx(e, buf, got);
}

// Bytes the gateway still held from before the connection (the tail of a reply to the previous
// session, line noise it buffered) arrive right after connecting: they are taken off once,
// before the first frame, so no reply is mistaken for them. Waits until the connection has been
// quiet for a moment, bounded in case the gateway keeps talking.
constexpr auto kConnectQuiet = std::chrono::milliseconds(20);
constexpr auto kConnectPurgeLimit = std::chrono::milliseconds(300);

void PurgeAfterConnect(PortEntry& e, PortSlot slot) {
    e.rx.Reset();
    std::vector<uint8_t> dropped;
    uint8_t buf[ByteRing::kSize];
    const auto start = std::chrono::steady_clock::now();
    auto quietSince = start;
    for (;;) {
        const auto now = std::chrono::steady_clock::now();
        if (now - quietSince >= kConnectQuiet || now - start >= kConnectPurgeLimit) break;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(kConnectQuiet -
                                                                                (now - quietSince));
        WaitNetwork(e, static_cast<int>(std::max<long long>(1, left.count())));
        size_t got = 0;
        if (ReadNetwork(e, buf, sizeof buf, got) != 0) break;
        if (got > 0) {
            dropped.insert(dropped.end(), buf, buf + got);
            quietSince = std::chrono::steady_clock::now();
        }
    }
    if (!dropped.empty() && Logged(slot))
        LogExchange(LogEvent::Purge, slot, dropped.data(), dropped.size());
}

// A gateway that refused or reset the connection is often back within a second or two (it was
// restarted, or the previous client was still being let go): connecting again waits between a
// few attempts before the exchange is given up. Once such a series failed, later exchanges try
// once each until a connection is made again, so a dead gateway does not cost every exchange
// the whole series.
constexpr int kReconnectPauseMs[] = {0, 250, 500, 1000, 1500};

// Connects and, for an rfc2217: gateway, begins the conversation and sets the line again: a
// gateway takes every new connection at its own configured speed.
int ConnectNetwork(PortEntry& e) {
    int err = OpenTcpLink(e.name, e.tcp);
    if (err != 0 || KindOf(e) != PortKind::Rfc2217Gateway) return err;
    err = StartRfc2217(e.tcp, e.rfc);
    if (err == 0 && e.baud != 0)
        err = ConfigureRfc2217(e.tcp, e.rfc, e.baud, e.dataBits, e.parity, e.stopBits);
    if (err != 0) CloseTcpLink(e.tcp);
    return err;
}

int ConnectTcp(PortEntry& e, PortSlot slot, bool patient) {
    int err = 0;
    for (const int pause : kReconnectPauseMs) {
        if (pause > 0) std::this_thread::sleep_for(std::chrono::milliseconds(pause));
        err = ConnectNetwork(e);
        if (err == 0) {
            e.reconnectFailed = false;
            ++e.reconnects;
            PurgeAfterConnect(e, slot);
            return 0;
        }
        if (!patient || err < 0) break; // a bad name, or a gateway that will not set the line
    }
    e.reconnectFailed = true;
    // A gateway that connects but will not set the line is named as one that does not answer
    // or breaks off.
    e.tcp.lostError = err > 0                                                ? err
                      : err == kRfc2217NoAnswer                              ? ETIMEDOUT
                      : err == kRfc2217Refused || err == kRfc2217LineRefused ? ECONNABORTED
                                                                             : ECONNREFUSED;
    return err;
}

// A network port whose connection dropped connects again before it sends, so one lost
// connection costs at most the exchange under way when it went.
void WriteTcp(PortEntry& e, PortSlot slot, const uint8_t* bytes, size_t count, bool logFailure) {
    if (TcpLinkDropped(e.tcp)) ReportLoss(e, slot, e.tcp.lostError);
    if (e.tcp.fd < 0) {
        if (ConnectTcp(e, slot, !e.reconnectFailed) != 0) return;
        e.lossLogged = false;
    }
    const int err = KindOf(e) == PortKind::Rfc2217Gateway ? WriteRfc2217(e.tcp, e.rfc, bytes, count)
                                                          : WriteTcpLink(e.tcp, bytes, count);
    if (err != 0 && e.tcp.fd < 0) {
        ReportLoss(e, slot, err);
    } else if (err != 0 && logFailure && Logged(slot)) {
        LogWriteFailure(slot, err);
    }
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

void WriteBytes(PortSlot slot, const uint8_t* bytes, size_t count, bool logFailure) {
    PortEntry* e = UsedEntry(slot);
    if (e == nullptr || bytes == nullptr || count == 0) return;
    switch (KindOf(*e)) {
    case PortKind::UsbKey:
        return;
    case PortKind::UsbConverter: {
        const auto sending = [e] {
            return e->usb != nullptr && !e->reconnectWanted.load(std::memory_order_acquire);
        };
        size_t done = e->usb != nullptr ? e->tx.Push(bytes, count) : 0;
        e->txUnsent += static_cast<uint32_t>(count);
        // The pump empties the ring a few bytes per transfer; wait for room rather than lose the
        // end of a frame, but never for long.
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(kConverterWriteWaitMs);
        while (done < count && sending() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            done += e->tx.Push(bytes + done, count - done);
        }
        if (done < count && logFailure && Logged(slot)) LogWriteFailure(slot, ETIMEDOUT);
        break;
    }
    case PortKind::TcpGateway:
    case PortKind::Rfc2217Gateway:
        WriteTcp(*e, slot, bytes, count, logFailure);
        break;
    case PortKind::ComPort: {
        if (e->com.lostError != 0 && e->lossLogged) return; // gone, said so already
        const int err = WriteComDevice(e->com, bytes, count);
        if (err != 0 && e->com.lostError != 0) {
            ReportLoss(*e, slot, err);
        } else if (err != 0 && logFailure && Logged(slot)) {
            LogWriteFailure(slot, err);
        }
        break;
    }
    }
    if (Logged(slot)) LogExchange(LogEvent::Write, slot, bytes, count);
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
    CloseExchangeLog(parityErrors, frameErrors, logMask.load() != 0);
    layerStarted.store(false);
}

bool PortLayerStarted() {
    return layerStarted.load();
}

int PortSystemError() {
    return lastSystemError.load();
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

void WritePort(PortSlot slot, const uint8_t* bytes, size_t count) {
    WriteBytes(slot, bytes, count, true);
}

void WritePortByte(PortSlot slot, uint8_t byte) {
    WriteBytes(slot, &byte, 1, false);
}

int PortAvailable(PortSlot slot) {
    PortEntry* e = UsedEntry(slot);
    if (e == nullptr) return 0;
    switch (KindOf(*e)) {
    case PortKind::UsbKey:
        return 0;
    case PortKind::UsbConverter: {
        const auto now = std::chrono::steady_clock::now();
        if (e->reconnectWanted.load(std::memory_order_acquire) ||
            (e->usb == nullptr && now >= e->nextReconnectTry)) {
            ReconnectConverter(*e);
            if (e->usb == nullptr) e->nextReconnectTry = now + kDetachedRetryInterval;
            return 0;
        }
        e->deliveredSeen = e->delivered.load(std::memory_order_acquire);
        break;
    }
    case PortKind::ComPort:
    case PortKind::TcpGateway:
    case PortKind::Rfc2217Gateway:
        Pull(*e, slot);
        break;
    }
    return static_cast<int>(e->rx.Count());
}

int ReadPort(PortSlot slot, uint8_t* dst, int count) {
    PortEntry* e = UsedEntry(slot);
    if (e == nullptr || count < 0 || (dst == nullptr && count > 0)) return 0;
    const PortKind kind = KindOf(*e);
    if (kind == PortKind::UsbKey) return 0;
    if (kind == PortKind::ComPort || IsNetworkPortKind(kind)) Pull(*e, slot);
    if (kind == PortKind::UsbConverter) {
        e->deliveredSeen = e->delivered.load(std::memory_order_acquire);
    }
    if (count == 0) return 1;
    if (e->rx.Count() < static_cast<unsigned>(count)) return 0;
    e->rx.Take(dst, static_cast<size_t>(count));
    if (Logged(slot)) LogExchange(LogEvent::Read, slot, dst, static_cast<size_t>(count));
    return 1;
}

void PurgePort(PortSlot slot) {
    PortEntry* e = UsedEntry(slot);
    if (e == nullptr || KindOf(*e) == PortKind::UsbKey) return;
    std::vector<uint8_t> dropped(ByteRing::kSize);
    size_t n = e->rx.Take(dropped.data(), ByteRing::kCapacity);
    dropped.resize(n);
    if (KindOf(*e) == PortKind::ComPort || IsNetwork(*e)) {
        // Whatever the driver holds right now; bounded, in case the line keeps talking.
        uint8_t buf[ByteRing::kSize];
        for (int round = 0; round < 64; ++round) {
            size_t got = 0;
            if (IsNetwork(*e))
                (void)ReadNetwork(*e, buf, sizeof buf, got);
            else
                ReadComDevice(e->com, buf, sizeof buf, got);
            if (got == 0) break;
            dropped.insert(dropped.end(), buf, buf + got);
        }
    }
    // What the gateway holds from the line and has not sent yet goes as well.
    if (KindOf(*e) == PortKind::Rfc2217Gateway && e->tcp.fd >= 0) PurgeRfc2217(e->tcp, e->rfc);
    if (!dropped.empty() && Logged(slot)) {
        LogExchange(LogEvent::Purge, slot, dropped.data(), dropped.size());
    }
}

void AwaitPortSent(PortSlot slot, int timeoutMs) {
    PortEntry* e = UsedEntry(slot);
    if (e == nullptr || timeoutMs <= 0) return;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    switch (KindOf(*e)) {
    case PortKind::UsbConverter: {
        const uint32_t unsent = e->txUnsent;
        e->txUnsent = 0;
        // The ring first, then the flag: the pump raises the flag before it empties the ring.
        while ((e->tx.Count() != 0 || e->txInFlight.load()) && Clock::now() < deadline &&
               e->usb != nullptr)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        // The converter sends what it was handed at the line's pace: when the pump handed the
        // bytes over faster than that, the last of them leave up to this long after the last
        // transfer.
        const Clock::time_point handed{
            std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(e->txHandedNs))};
        const int64_t bits = 2 + (e->dataBits > 0 ? e->dataBits : 8) +
                             (e->parity != 0 && e->parity != 'N' ? 1 : 0) +
                             (e->stopBits > 1 ? 1 : 0);
        const auto lineTime = std::chrono::microseconds(
            e->baud > 0 ? static_cast<int64_t>(unsent) * bits * 1'000'000 / e->baud : 0);
        std::this_thread::sleep_until(std::min(handed + lineTime, deadline));
        break;
    }
    case PortKind::ComPort:
        AwaitComDeviceSent(e->com, timeoutMs);
        break;
    case PortKind::TcpGateway: // the gateway's own queue cannot be seen from here
    case PortKind::Rfc2217Gateway:
    case PortKind::UsbKey:
        break;
    }
}

void WaitPortData(PortSlot slot, int timeoutMs) {
    if (timeoutMs <= 0) return;
    PortEntry* e = UsedEntry(slot);
    const PortKind kind = e != nullptr ? KindOf(*e) : PortKind::UsbKey;
    switch (kind) {
    case PortKind::ComPort:
        WaitComDevice(e->com, timeoutMs);
        break;
    case PortKind::UsbConverter:
        WaitConverterData(*e, timeoutMs);
        break;
    case PortKind::TcpGateway:
    case PortKind::Rfc2217Gateway:
        WaitNetwork(*e, timeoutMs);
        break;
    case PortKind::UsbKey:
        std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
        break;
    }
}

void SetNetworkAllowanceMs(int ms) {
    networkAllowanceMs.store(ms < 0 ? 0 : ms);
}
int NetworkAllowanceMs() {
    return networkAllowanceMs.load();
}
int PortExtraWaitMs(PortSlot slot) {
    const PortEntry* e = UsedEntry(slot);
    return e != nullptr && IsNetwork(*e) ? networkAllowanceMs.load() : 0;
}

void SetLogMask(uint16_t mask) {
    logMask.store(mask);
}
uint16_t GetLogMask() {
    return logMask.load();
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
