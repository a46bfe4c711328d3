// Fixture for the converter tests: the fake USB library bound, no system serial ports unless a
// test names some, a fresh port layer logging into a temporary directory.
#pragma once

#include "link/port_discovery.h"
#include "link/serial_port.h"
#include "link/usb_library.h"
#include "sim/fakeusb/fake_usb_control.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace velmar::test {

inline std::vector<std::string> NoSystemPorts() {
    return {};
}

// Polls `done` every millisecond for up to 20 s (CI runs loaded and under sanitizers).
inline bool Eventually(const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < end) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return done();
}

inline std::vector<FakeUsbRequest> Requests() {
    std::vector<FakeUsbRequest> all(65536);
    all.resize(fakeusb_requests(all.data(), all.size()));
    return all;
}

inline std::vector<FakeUsbRequest> RequestsWithCode(int low, int high) {
    std::vector<FakeUsbRequest> out;
    for (const FakeUsbRequest& r : Requests()) {
        if (r.request >= low && r.request <= high) out.push_back(r);
    }
    return out;
}

class UsbTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("VELMAR_LIBUSB", VELMAR_FAKEUSB_PATH, 1);
        StopUsbLibrary(); // bind afresh with the variable as set here
        fakeusb_reset();
        dir_ = std::filesystem::temp_directory_path() /
               ("velmar-usb-" + std::to_string(getpid()) + "-" + std::to_string(counter_++));
        std::filesystem::create_directories(dir_);
        SetExchangeLogPath((dir_ / "port.out").c_str());
        StartPortLayer();
    }
    void TearDown() override {
        StopPortLayer();
        SetExchangeLogPath(nullptr);
        fakeusb_reset();
        StopUsbLibrary();
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    // Waits until `n` bytes wait in `slot`, the way the protocol does.
    static bool AwaitAvailable(PortSlot slot, int n) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < end) {
            if (PortAvailable(slot) >= n) return true;
            WaitPortData(slot, 50);
        }
        return PortAvailable(slot) >= n;
    }
    static std::vector<uint8_t> Sent(int device, int channel, size_t n) {
        std::vector<uint8_t> out;
        Eventually([&] {
            uint8_t buf[1024];
            const size_t got = fakeusb_take_sent(device, channel, buf, sizeof buf);
            out.insert(out.end(), buf, buf + got);
            return out.size() >= n;
        });
        return out;
    }

    std::filesystem::path dir_;
    static inline int counter_ = 0;
};

} // namespace velmar::test
