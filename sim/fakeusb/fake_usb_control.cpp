// The control interface of the fake USB library: what a test uses to add, plug and unplug
// converters, connect their channels, inject and take bytes, make transfers fail or lag, and
// look at the requests the tool made.
#include "sim/fakeusb/fake_usb_state.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

using namespace fakeusb;

namespace {

std::vector<std::unique_ptr<Device>> retired; // kept: the tool may still hold their nodes

} // namespace

FAKEUSB_EXPORT FakeUsbDeviceConfig fakeusb_default_config(uint32_t serial, int channels,
                                                          const char* product) {
    FakeUsbDeviceConfig s{};
    s.vendorId = 0x16C0;
    s.manufacturer = "Velmar Devices";
    s.product = product != nullptr ? product : "Tarvi4";
    s.serial = serial;
    s.channels = channels;
    s.clock = 14745600; // 16 x 921600: the usual line speeds divide exactly
    s.identifyBytes = 8;
    s.answersChannelCount = 1;
    s.opens = 1;
    s.simpleStrings = 1;
    return s;
}

FAKEUSB_EXPORT void fakeusb_reset(void) {
    std::lock_guard<std::mutex> lock(mutex);
    for (auto& d : devices) {
        for (Channel& c : d->channels) CloseChannel(c);
        d->present = false;
        retired.push_back(std::move(d));
    }
    devices.clear();
    bus.devices = nullptr;
    failRequest = -1;
    failCount = 0;
    transferDelayMs = 0;
    record.clear();
}

FAKEUSB_EXPORT int fakeusb_add_device(const FakeUsbDeviceConfig* config) {
    if (config == nullptr) return -1;
    std::lock_guard<std::mutex> lock(mutex);
    auto d = std::make_unique<Device>();
    d->config = *config;
    d->manufacturer = config->manufacturer != nullptr ? config->manufacturer : "";
    d->product = config->product != nullptr ? config->product : "";
    d->config.manufacturer = nullptr;
    d->config.product = nullptr;
    d->node.descriptor.bLength = 18;
    d->node.descriptor.bDescriptorType = 1;
    d->node.descriptor.idVendor = config->vendorId;
    d->node.descriptor.idProduct = 0x05DC;
    d->node.descriptor.iManufacturer = 1;
    d->node.descriptor.iProduct = 2;
    d->node.descriptor.iSerialNumber = 3;
    d->node.descriptor.bNumConfigurations = 1;
    std::snprintf(d->node.filename, sizeof d->node.filename, "%03zu", devices.size() + 1);
    devices.push_back(std::move(d));
    return static_cast<int>(devices.size() - 1);
}

FAKEUSB_EXPORT int fakeusb_add_converter(uint32_t serial, int channels, const char* product) {
    const FakeUsbDeviceConfig config = fakeusb_default_config(serial, channels, product);
    return fakeusb_add_device(&config);
}

FAKEUSB_EXPORT void fakeusb_unplug(int id) {
    std::lock_guard<std::mutex> lock(mutex);
    if (Device* d = Find(id)) {
        d->present = false;
        ++d->generation;
        for (Channel& c : d->channels) c.rx.clear();
    }
}

FAKEUSB_EXPORT void fakeusb_plug(int id) {
    std::lock_guard<std::mutex> lock(mutex);
    if (Device* d = Find(id)) d->present = true;
}

FAKEUSB_EXPORT int fakeusb_connect_channel(int id, int channel, const char* ttyPath) {
    std::lock_guard<std::mutex> lock(mutex);
    Device* d = Find(id);
    if (d == nullptr || channel < 0 || channel > 1 || ttyPath == nullptr) return EINVAL;
    Channel& c = d->channels[channel];
    CloseChannel(c);
    const int fd = open(ttyPath, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno;
    termios tio{};
    if (tcgetattr(fd, &tio) == 0) {
        cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        tcsetattr(fd, TCSANOW, &tio);
    }
    c.fd = fd;
    ApplySpeed(*d, c);
    return 0;
}

FAKEUSB_EXPORT void fakeusb_set_loopback(int id, int channel, int on) {
    std::lock_guard<std::mutex> lock(mutex);
    if (Device* d = Find(id); d != nullptr && channel >= 0 && channel <= 1) {
        d->channels[channel].loopback = on != 0;
    }
}

FAKEUSB_EXPORT void fakeusb_inject(int id, int channel, const uint8_t* bytes, size_t count) {
    std::lock_guard<std::mutex> lock(mutex);
    Device* d = Find(id);
    if (d == nullptr || channel < 0 || channel > 1 || bytes == nullptr) return;
    Channel& c = d->channels[channel];
    for (size_t i = 0; i < count && c.rx.size() < kFifoSize; ++i) c.rx.push_back(bytes[i]);
}

FAKEUSB_EXPORT size_t fakeusb_rx_pending(int id, int channel) {
    std::lock_guard<std::mutex> lock(mutex);
    Device* d = Find(id);
    return d != nullptr && channel >= 0 && channel <= 1 ? d->channels[channel].rx.size() : 0;
}

FAKEUSB_EXPORT size_t fakeusb_take_sent(int id, int channel, uint8_t* out, size_t max) {
    std::lock_guard<std::mutex> lock(mutex);
    Device* d = Find(id);
    if (d == nullptr || channel < 0 || channel > 1) return 0;
    std::vector<uint8_t>& sent = d->channels[channel].sent;
    const size_t n = sent.size() < max ? sent.size() : max;
    if (n > 0) std::memcpy(out, sent.data(), n);
    sent.erase(sent.begin(), sent.begin() + static_cast<std::ptrdiff_t>(n));
    return n;
}

FAKEUSB_EXPORT long fakeusb_divisor(int id, int channel) {
    std::lock_guard<std::mutex> lock(mutex);
    Device* d = Find(id);
    return d != nullptr && channel >= 0 && channel <= 1 ? d->channels[channel].divisor : -1;
}

FAKEUSB_EXPORT long fakeusb_baud(int id, int channel) {
    const long divisor = fakeusb_divisor(id, channel);
    std::lock_guard<std::mutex> lock(mutex);
    Device* d = Find(id);
    if (d == nullptr || divisor < 0) return -1;
    return static_cast<long>(d->config.clock / 16 / static_cast<uint32_t>(divisor + 1));
}

FAKEUSB_EXPORT long fakeusb_format(int id, int channel) {
    std::lock_guard<std::mutex> lock(mutex);
    Device* d = Find(id);
    return d != nullptr && channel >= 0 && channel <= 1 ? d->channels[channel].format : -1;
}

FAKEUSB_EXPORT void fakeusb_fail_requests(int request, int count) {
    std::lock_guard<std::mutex> lock(mutex);
    failRequest = request;
    failCount = count;
}

FAKEUSB_EXPORT void fakeusb_fail_transfers(int count) {
    fakeusb_fail_requests(-1, count);
}

FAKEUSB_EXPORT void fakeusb_set_transfer_delay_ms(int ms) {
    transferDelayMs = ms > 0 ? ms : 0;
}

FAKEUSB_EXPORT size_t fakeusb_requests(FakeUsbRequest* out, size_t max) {
    std::lock_guard<std::mutex> lock(mutex);
    const size_t n = record.size() < max ? record.size() : max;
    for (size_t i = 0; i < n; ++i) out[i] = record[i];
    return n;
}

FAKEUSB_EXPORT void fakeusb_clear_requests(void) {
    std::lock_guard<std::mutex> lock(mutex);
    record.clear();
}

FAKEUSB_EXPORT int fakeusb_open_handles(void) {
    std::lock_guard<std::mutex> lock(mutex);
    return openHandles;
}

FAKEUSB_EXPORT int fakeusb_scans(void) {
    std::lock_guard<std::mutex> lock(mutex);
    return scans;
}
