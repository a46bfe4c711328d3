// Moving bytes through an open port: writing, taking in what the device holds, reading, purging,
// and waiting for data to arrive or for what was written to leave.
#include "link/converter_pump.h"
#include "link/exchange_log.h"
#include "link/port_layer_internal.h"
#include "link/rfc2217_link.h"
#include "link/usb_converter.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>
#include <vector>

namespace velmar {

using namespace port_layer;

namespace {

constexpr int kConverterWriteWaitMs = 2000;
constexpr auto kDetachedRetryInterval = std::chrono::seconds(1);

// Moves what the device holds into the ring, as much as fits; the rest waits in the driver
// for the next call, so nothing is lost to a full ring. A device that has gone is recorded in
// the slot (PortLastError); reading then returns nothing.
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
        if (done < count && logFailure && PortLogged(slot)) LogWriteFailure(slot, ETIMEDOUT);
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
        } else if (err != 0 && logFailure && PortLogged(slot)) {
            LogWriteFailure(slot, err);
        }
        break;
    }
    }
    if (PortLogged(slot)) LogExchange(LogEvent::Write, slot, bytes, count);
}

} // namespace

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
    if (PortLogged(slot)) LogExchange(LogEvent::Read, slot, dst, static_cast<size_t>(count));
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
    if (!dropped.empty() && PortLogged(slot)) {
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

} // namespace velmar
