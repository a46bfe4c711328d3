#include "link/converter_pump.h"

#include "link/usb_library.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace velmar {
namespace {

using std::chrono::milliseconds;

enum class PumpPhase : uint8_t { Transmit, PollCount, Fetch, Paused };

constexpr int kTimeoutMs = 1000;
constexpr int kRunning = 0;
constexpr int kPauseRequested = 1;
constexpr int kInitialPause = 2;

std::thread pumpThread;
std::atomic<bool> runFlag{false};
std::atomic<int> pauseRequest{kInitialPause};
std::atomic<PumpPhase> phase{PumpPhase::Transmit};

void Nap(int ms) {
    std::this_thread::sleep_for(milliseconds(ms));
}

constexpr int32_t kFailuresBeforeReconnect = 100;

bool IsLiveConverter(const PortEntry& e) {
    return e.kind.load(std::memory_order_acquire) == PortKind::UsbConverter && e.usb != nullptr &&
           !e.reconnectWanted.load(std::memory_order_acquire);
}

void CountTransfer(PortEntry& e, bool ok) {
    if (ok) {
        e.converterErrors.store(0, std::memory_order_relaxed);
    } else if (e.converterErrors.fetch_add(1, std::memory_order_relaxed) + 1 >
               kFailuresBeforeReconnect) {
        // Latched, so a transfer that happens to succeed afterwards cannot hide it.
        e.reconnectWanted.store(true, std::memory_order_release);
    }
}

int ChannelBit(const PortEntry& e) {
    return e.channel != 0 ? 1 : 0;
}

void TransmitPhase(bool& anyConverter) {
    for (PortEntry& e : portTable) {
        if (!IsLiveConverter(e)) continue;
        anyConverter = true;
        while (e.tx.Count() != 0 && IsLiveConverter(e) && runFlag.load(std::memory_order_relaxed)) {
            uint8_t b[4] = {};
            // In flight before the bytes leave the ring: the caller never sees the ring empty
            // while its bytes have not reached the converter.
            e.txInFlight.store(true);
            // The request says how many bytes it carries: count what was taken, not what was
            // waiting before, since the caller thread may add bytes in between.
            const size_t n = e.tx.Take(b, 4);
            int code = kReqTransmit + ChannelBit(e);
            if (n == 2) code += 0x08;
            if (n == 3) code += 0x04;
            if (n == 4) code += 0x02;
            const int r = UsbControlMsg(e.usb, kVendorIn, code, b[0] + 256 * b[1],
                                        b[2] + 256 * b[3], nullptr, 0, kTimeoutMs);
            CountTransfer(e, r >= 0);
            e.txHandedNs.store(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
            e.txInFlight.store(false);
            Nap(2);
        }
        Nap(2);
    }
}

void PollCountPhase() {
    for (PortEntry& e : portTable) {
        if (!IsLiveConverter(e)) continue;
        unsigned char count = 0;
        const int r = UsbControlMsg(e.usb, kVendorIn, kReqRxCount, ChannelBit(e), 0,
                                    reinterpret_cast<char*>(&count), 1, kTimeoutMs);
        if (r >= 1) e.announced = count;
        CountTransfer(e, r >= 1);
        Nap(2);
    }
}

void FetchPhase() {
    for (PortEntry& e : portTable) {
        if (!IsLiveConverter(e)) continue;
        while (e.announced != 0 && IsLiveConverter(e) && runFlag.load(std::memory_order_relaxed)) {
            const int size = e.announced < 8 ? e.announced : 8;
            uint8_t bytes[8] = {};
            const int r = UsbControlMsg(e.usb, kVendorIn, kReqFetch, size * 256 + ChannelBit(e), 0,
                                        reinterpret_cast<char*>(bytes), size, kTimeoutMs);
            // A failed fetch loses its bytes: the converter has handed them out already.
            CountTransfer(e, r >= 0);
            if (r > 0) {
                DeliverToRx(e, bytes, static_cast<size_t>(r < size ? r : size));
                { std::lock_guard<std::mutex> lock(e.deliveryMutex); }
                e.deliveryCv.notify_all();
            }
            e.announced = static_cast<uint8_t>(e.announced - size);
            Nap(2);
        }
        Nap(2);
    }
}

void PumpLoop() {
    while (runFlag.load()) {
        // Pause handshake: the phase reads Paused only while the pump sits in this loop, and
        // the request is looked at again after the phase is restored, so a pause requested
        // meanwhile is never missed.
        if (pauseRequest.load() != kRunning) {
            const PumpPhase was = phase.load();
            phase.store(PumpPhase::Paused);
            while (pauseRequest.load() != kRunning && runFlag.load()) Nap(10);
            phase.store(was);
            continue;
        }
        switch (phase.load()) {
        case PumpPhase::Transmit: {
            bool anyConverter = false;
            TransmitPhase(anyConverter);
            if (anyConverter) {
                phase.store(PumpPhase::PollCount);
            } else {
                Nap(5);
            }
            break;
        }
        case PumpPhase::PollCount:
            PollCountPhase();
            phase.store(PumpPhase::Fetch);
            break;
        case PumpPhase::Fetch:
        case PumpPhase::Paused:
            FetchPhase();
            phase.store(PumpPhase::Transmit);
            break;
        }
    }
    phase.store(PumpPhase::Paused);
}

} // namespace

void StartConverterPump() {
    if (pumpThread.joinable()) return;
    phase.store(PumpPhase::Transmit);
    pauseRequest.store(kInitialPause);
    runFlag.store(true);
    pumpThread = std::thread(PumpLoop);
}

void StopConverterPump() {
    if (!pumpThread.joinable()) return;
    runFlag.store(false);
    pumpThread.join();
}

void PauseConverterPump() {
    if (pauseRequest.load() == kInitialPause) return; // never ran: nothing to wait for
    pauseRequest.store(kPauseRequested);
    while (pumpThread.joinable() && runFlag.load() && phase.load() != PumpPhase::Paused) Nap(1);
}

void ResumeConverterPump() {
    pauseRequest.store(kRunning);
}

bool ConverterPumpInInitialPause() {
    return pauseRequest.load() == kInitialPause;
}

void WaitConverterData(PortEntry& entry, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + milliseconds(timeoutMs);
    std::unique_lock<std::mutex> lock(entry.deliveryMutex);
    entry.deliveryCv.wait_until(lock, deadline, [&] {
        return entry.delivered.load(std::memory_order_acquire) != entry.deliveredSeen;
    });
}

} // namespace velmar
