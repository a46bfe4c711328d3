// The table of open ports, shared by the port operations and the converter pump. The operations
// on one slot are made by one thread at a time, the slot's caller thread: in the window the
// exchange thread of its runner (nothing else of the window touches the table), in velmar-cli its
// main thread; lines on different slots may run on different threads. Opening and closing ports
// (and starting and stopping the layer) are made by one thread at a time. Internal to link/.
#pragma once

#include "link/byte_ring.h"
#include "link/com_device.h"
#include "link/line_attachment.h"
#include "link/rfc2217_link.h"
#include "link/serial_port.h"
#include "link/tcp_link.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

struct usb_dev_handle;

namespace velmar {

struct PortEntry {
    // Set and cleared by the caller thread. A slot is in use while `used` is set: the port number
    // alone cannot mark it, since "ttyUSB0" or "/dev/pts/0" give number 0.
    bool used = false;
    char name[100] = {};
    uint16_t portNumber = 0; // first run of decimal digits in the name
    // Read by the pump (acquire) to find converter slots; every other field of a converter is
    // written before the kind is published (release).
    std::atomic<PortKind> kind{PortKind::ComPort};

    ComDevice com;                // ComPort
    TcpLink tcp;                  // TcpGateway, Rfc2217Gateway
    Rfc2217Link rfc;              // Rfc2217Gateway: the conversation on the current connection
    bool lossLogged = false;      // caller thread: the loss of the device is in the log already
    bool reconnectFailed = false; // network: the last series of connection attempts failed
    uint32_t reconnects = 0;      // network: connections made again since the port was opened

    // UsbConverter. The handle is changed only while the pump is paused (or for a slot the pump
    // does not see yet); null for a converter that was lost and not found again.
    usb_dev_handle* usb = nullptr;
    uint8_t channel = 0;
    uint32_t clock = 0;
    std::atomic<int32_t> converterErrors{0};
    // Set by the pump past 100 failed transfers in a row; the pump leaves the converter alone
    // from then on, until the next PortAvailable has reconnected it.
    std::atomic<bool> reconnectWanted{false};
    uint8_t announced = 0; // pump only: bytes the converter said it holds
    std::chrono::steady_clock::time_point nextReconnectTry{};

    uint32_t baud = 0;
    uint8_t dataBits = 0;
    char parity = 0;
    uint8_t stopBits = 0;

    ByteRing rx; // producer: pull (ComPort, caller thread) or the pump; consumer: caller thread
    ByteRing tx; // UsbConverter: producer caller thread, consumer the pump
    std::atomic<uint32_t> droppedBytes{0}; // written by the rx producer only
    std::atomic<uint32_t> delivered{0};    // bytes the pump has put into rx, ever
    uint32_t deliveredSeen = 0;            // caller thread: `delivered` at the last look
    // Pump: set before it takes bytes from `tx`, cleared once their transfer has returned, with
    // the time it returned in `txHandedNs` (steady clock), so that the caller can tell when the
    // bytes it queued have reached the converter.
    std::atomic<bool> txInFlight{false};
    std::atomic<int64_t> txHandedNs{0};
    uint32_t txUnsent = 0; // caller thread: bytes queued since the last AwaitPortSent
    // Wakes WaitConverterData when the pump has delivered bytes; left alone by Clear().
    std::mutex deliveryMutex;
    std::condition_variable deliveryCv;

    // What the line on this port keeps: both start afresh with each port opened on the slot.
    // Caller thread only.
    int networkAllowanceMs = kDefaultNetworkAllowanceMs;
    std::unique_ptr<LineAttachment> attachment; // made on first use (AttachmentOf)

    // Only while nobody else looks at the slot (start, or the pump paused / not seeing it).
    void Clear() {
        used = false;
        name[0] = '\0';
        portNumber = 0;
        kind.store(PortKind::ComPort, std::memory_order_relaxed);
        com = ComDevice{};
        tcp = TcpLink{};
        rfc = Rfc2217Link{};
        lossLogged = false;
        reconnectFailed = false;
        reconnects = 0;
        usb = nullptr;
        channel = 0;
        clock = 0;
        converterErrors.store(0, std::memory_order_relaxed);
        reconnectWanted.store(false, std::memory_order_relaxed);
        announced = 0;
        nextReconnectTry = {};
        baud = 0;
        dataBits = 0;
        parity = 0;
        stopBits = 0;
        rx.Reset();
        tx.Reset();
        droppedBytes.store(0, std::memory_order_relaxed);
        delivered.store(0, std::memory_order_relaxed);
        deliveredSeen = 0;
        txInFlight.store(false, std::memory_order_relaxed);
        txHandedNs.store(0, std::memory_order_relaxed);
        txUnsent = 0;
        networkAllowanceMs = kDefaultNetworkAllowanceMs;
        attachment.reset();
    }
};

extern std::array<PortEntry, kPortSlotCount> portTable;

// Entry for a slot number, or null for 0, out-of-range and free slots.
PortEntry* UsedEntry(PortSlot slot);

// Stores bytes a producer received; what does not fit is counted as dropped.
void DeliverToRx(PortEntry& entry, const uint8_t* bytes, size_t count);

} // namespace velmar
