// Throughput of a USB converter channel through the converter pump, measured against the fake
// converter library (no line time: the converter side is infinitely fast, so the figures are
// what the pump itself can move). Prints bytes per second host->line, line->host and both at
// once (loopback), and the bound the pump's timing sets.
#include "link/serial_port.h"
#include "sim/fakeusb/fake_usb_control.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using velmar::PortSlot;

struct Fake {
    decltype(&fakeusb_add_converter) addConverter = nullptr;
    decltype(&fakeusb_set_loopback) setLoopback = nullptr;
    decltype(&fakeusb_inject) inject = nullptr;
    decltype(&fakeusb_take_sent) takeSent = nullptr;
    decltype(&fakeusb_rx_pending) rxPending = nullptr;
    decltype(&fakeusb_reset) reset = nullptr;
};

std::string FakeLibraryPath(const char* argv0) {
    if (const char* env = std::getenv("VELMAR_LIBUSB")) return env;
    char exe[4096] = {};
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    std::string dir = n > 0 ? std::string(exe, static_cast<size_t>(n)) : std::string(argv0);
    dir = dir.substr(0, dir.rfind('/'));
    return dir + "/../sim/fakeusb/libvelmar_fakeusb.so";
}

template <typename Fn> bool Bind(void* lib, const char* name, Fn& fn) {
    fn = reinterpret_cast<Fn>(dlsym(lib, name));
    if (fn == nullptr) std::fprintf(stderr, "fake library lacks %s\n", name);
    return fn != nullptr;
}

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// Host -> line: the pump sends everything the ring holds, 4 bytes a request.
double MeasureSend(const Fake& fake, int dev, PortSlot slot, size_t total) {
    std::vector<uint8_t> chunk(200, 0x55);
    size_t written = 0;
    size_t arrived = 0;
    const auto start = Clock::now();
    while (arrived < total) {
        if (written < total) {
            velmar::WritePort(slot, chunk.data(), chunk.size()); // waits while the ring is full
            written += chunk.size();
        }
        uint8_t buf[4096];
        arrived += fake.takeSent(dev, 0, buf, sizeof buf);
        if (written >= total) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return static_cast<double>(total) / Seconds(Clock::now() - start);
}

// Line -> host: a feeder keeps the converter's FIFO topped up; the caller reads as the
// protocol does (PortAvailable, ReadPort, WaitPortData).
double MeasureReceive(const Fake& fake, int dev, PortSlot slot, size_t total) {
    std::atomic<bool> run{true};
    std::thread feeder([&] {
        std::vector<uint8_t> bytes(32, 0xAA);
        while (run.load()) {
            if (fake.rxPending(dev, 0) <= 96) fake.inject(dev, 0, bytes.data(), bytes.size());
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    size_t got = 0;
    uint8_t buf[256];
    const auto start = Clock::now();
    while (got < total) {
        const int n = velmar::PortAvailable(slot);
        if (n > 0 && velmar::ReadPort(slot, buf, n) == 1) {
            got += static_cast<size_t>(n);
        } else {
            velmar::WaitPortData(slot, 50);
        }
    }
    const double rate = static_cast<double>(total) / Seconds(Clock::now() - start);
    run.store(false);
    feeder.join();
    return rate;
}

// Both ways at once: everything sent comes back (loopback), frames of `frame` bytes. Frames
// stay below the converter's 128-byte FIFO: the pump fetches nothing while it is sending.
double MeasureEcho(PortSlot slot, size_t frame, int frames) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100)); // what is still on its way
    velmar::PurgePort(slot);
    std::vector<uint8_t> out(frame, 0x3C);
    std::vector<uint8_t> in(frame);
    const auto start = Clock::now();
    for (int i = 0; i < frames; ++i) {
        velmar::WritePort(slot, out.data(), out.size());
        while (velmar::PortAvailable(slot) < static_cast<int>(frame)) {
            velmar::WaitPortData(slot, 100);
        }
        velmar::ReadPort(slot, in.data(), static_cast<int>(frame));
    }
    return static_cast<double>(frame) * frames / Seconds(Clock::now() - start);
}

} // namespace

int main(int, char** argv) {
    const std::string path = FakeLibraryPath(argv[0]);
    setenv("VELMAR_LIBUSB", path.c_str(), 1);
    void* lib = dlopen(path.c_str(), RTLD_NOW);
    if (lib == nullptr) {
        std::fprintf(stderr, "cannot load the fake USB library %s (build velmar_fakeusb)\n",
                     path.c_str());
        return 1;
    }
    Fake fake;
    if (!Bind(lib, "fakeusb_add_converter", fake.addConverter) ||
        !Bind(lib, "fakeusb_set_loopback", fake.setLoopback) ||
        !Bind(lib, "fakeusb_inject", fake.inject) ||
        !Bind(lib, "fakeusb_take_sent", fake.takeSent) ||
        !Bind(lib, "fakeusb_rx_pending", fake.rxPending) ||
        !Bind(lib, "fakeusb_reset", fake.reset)) {
        return 1;
    }
    const std::string logDir = "/tmp/velmar-bench-" + std::to_string(getpid());
    const std::string logPath = logDir + ".port.out";
    velmar::SetExchangeLogPath(logPath.c_str());
    velmar::StartPortLayer();
    const int dev = fake.addConverter(1234, 2, "Tarvi4");
    PortSlot slot = 0;
    if (velmar::OpenPort(slot, "U_1234_1") != 0 || velmar::ConfigurePort(slot, 115200, 8, 'N', 1)) {
        std::fprintf(stderr, "the fake converter does not open\n");
        return 1;
    }

    const double send = MeasureSend(fake, dev, slot, 4000);
    const double receive = MeasureReceive(fake, dev, slot, 8000);
    fake.setLoopback(dev, 0, 1);
    const double echo41 = MeasureEcho(slot, 41, 40);
    const double echo100 = MeasureEcho(slot, 100, 20);
    velmar::ClosePort(slot);
    velmar::StopPortLayer();
    fake.reset();
    std::remove(logPath.c_str());

    std::printf("converter channel throughput through the pump (fake converter, no line time)\n");
    std::printf("  host -> line:               %7.0f bytes/s\n", send);
    std::printf("  line -> host:               %7.0f bytes/s\n", receive);
    std::printf("  both ways, 41-byte frames:  %7.0f bytes/s each way\n", echo41);
    std::printf("  both ways, 100-byte frames: %7.0f bytes/s each way\n", echo100);
    std::printf("bounds set by the pump's timing:\n");
    std::printf(
        "  sending: one request per 4 bytes, 2 ms sleep after each -> at most 2000 bytes/s;\n"
        "           while the transmit ring holds bytes nothing is received\n");
    std::printf(
        "  receiving: per cycle 2 ms (transmit pass) + 2 ms (count poll) + 2 ms per fetch\n"
        "           of at most 8 bytes + 2 ms: 128 waiting bytes take 38 ms (3370 bytes/s),\n"
        "           never more than 4000 bytes/s; a reply's first byte waits about 6 ms\n");
    std::printf("  line speeds for comparison (10 bits a byte): 4800 baud = 480 bytes/s, 19200 = "
                "1920, 115200 = 11520\n");
    return 0;
}
