// The state of the fake USB library, shared by its libusb entries (fake_usb.cpp), its control
// interface (fake_usb_control.cpp) and the emulated converters (fake_usb_converter.cpp).
// Internal to the library; every access holds `mutex`.
#pragma once

#include "link/usb_library.h"
#include "sim/fakeusb/fake_usb_control.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#define FAKEUSB_EXPORT extern "C" __attribute__((visibility("default")))

struct usb_dev_handle {
    int device;
    int generation;
};

namespace fakeusb {

inline constexpr int kEnodev = -19;
inline constexpr int kEtimedout = -110;
inline constexpr int kEpipe = -32;
inline constexpr size_t kFifoSize = 128;        // the converter's receive FIFO
inline constexpr size_t kRequestRecord = 65536; // newest transfers kept for tests

struct Channel {
    int fd = -1;
    bool loopback = false;
    std::deque<uint8_t> rx;    // line -> host
    std::vector<uint8_t> sent; // host -> line when nothing is connected
    long divisor = -1;
    long format = -1;
};

struct Device {
    FakeUsbDeviceConfig config{};
    std::string manufacturer;
    std::string product;
    bool present = true;
    int generation = 0; // bumped by unplug: older handles are dead
    usb_device node{};
    Channel channels[2];
};

extern std::mutex mutex;
extern std::vector<std::unique_ptr<Device>> devices;
extern usb_bus bus;
extern int scans;
extern int openHandles;
extern int failRequest;
extern int failCount;
extern std::atomic<int> transferDelayMs;
extern std::deque<FakeUsbRequest> record;

Device* Find(int id);
// The device behind a handle, while it is plugged in and the handle is of its generation.
Device* Live(usb_dev_handle* h);
void CloseChannel(Channel& c);

// The emulated converter (fake_usb_converter.cpp).
void ApplySpeed(Device& d, Channel& c);
int StringDescriptor(const Device& d, int index, std::string& text);
// One control transfer on a live device; caller holds the mutex.
int Control(Device& d, int type, int request, int value, int index, char* bytes, int size);

} // namespace fakeusb
