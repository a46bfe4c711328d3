// The fake USB library: libusb 0.1 entries over emulated converters of our family.
#include "link/usb_library.h"
#include "sim/fakeusb/fake_usb_control.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#define FAKEUSB_EXPORT extern "C" __attribute__((visibility("default")))

struct usb_dev_handle {
    int device;
    int generation;
};

namespace {

constexpr int kEnodev = -19;
constexpr int kEtimedout = -110;
constexpr int kEpipe = -32;
constexpr size_t kFifoSize = 128;        // the converter's receive FIFO
constexpr size_t kRequestRecord = 65536; // newest transfers kept for tests

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

std::mutex mutex;
std::vector<std::unique_ptr<Device>> devices;
std::vector<std::unique_ptr<Device>> retired; // kept: the tool may still hold their nodes
usb_bus bus{};
bool bussesFound = false;
int scans = 0;
int openHandles = 0;
int failRequest = -1;
int failCount = 0;
std::atomic<int> transferDelayMs{0};
std::deque<FakeUsbRequest> record;
char errorText[] = "fake usb error";

Device* Find(int id) {
    return id >= 0 && static_cast<size_t>(id) < devices.size() ? devices[id].get() : nullptr;
}

Device* Live(usb_dev_handle* h) {
    Device* d = h != nullptr ? Find(h->device) : nullptr;
    return d != nullptr && d->present && d->generation == h->generation ? d : nullptr;
}

void CloseChannel(Channel& c) {
    if (c.fd >= 0) close(c.fd);
    c.fd = -1;
}

speed_t NearestSpeed(long baud) {
    static const struct {
        long baud;
        speed_t code;
    } speeds[] = {{1200, B1200},     {2400, B2400},     {4800, B4800},    {9600, B9600},
                  {19200, B19200},   {38400, B38400},   {57600, B57600},  {115200, B115200},
                  {230400, B230400}, {460800, B460800}, {921600, B921600}};
    speed_t best = B0;
    long bestDiff = baud / 50 + 1; // within 2 %
    for (const auto& s : speeds) {
        const long diff = s.baud > baud ? s.baud - baud : baud - s.baud;
        if (diff < bestDiff) {
            bestDiff = diff;
            best = s.code;
        }
    }
    return best;
}

void ApplySpeed(Device& d, Channel& c) {
    if (c.fd < 0 || c.divisor < 0) return;
    const long baud = static_cast<long>(d.config.clock / 16 / static_cast<uint32_t>(c.divisor + 1));
    const speed_t code = NearestSpeed(baud);
    termios tio{};
    if (code == B0 || tcgetattr(c.fd, &tio) != 0) return;
    cfsetispeed(&tio, code);
    cfsetospeed(&tio, code);
    tcsetattr(c.fd, TCSANOW, &tio);
}

// Moves what the line has sent into the FIFO, as far as it has room.
void ReadLine(Channel& c) {
    if (c.fd < 0) return;
    uint8_t buf[kFifoSize];
    while (c.rx.size() < kFifoSize) {
        const ssize_t n = read(c.fd, buf, kFifoSize - c.rx.size());
        if (n <= 0) break;
        c.rx.insert(c.rx.end(), buf, buf + n);
    }
}

void Transmit(Channel& c, const uint8_t* bytes, size_t count) {
    if (c.fd >= 0) {
        size_t done = 0;
        for (int tries = 0; done < count && tries < 100; ++tries) {
            const ssize_t n = write(c.fd, bytes + done, count - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
                continue;
            }
            pollfd p{c.fd, POLLOUT, 0};
            poll(&p, 1, 1);
        }
    } else if (c.loopback) {
        for (size_t i = 0; i < count && c.rx.size() < kFifoSize; ++i) c.rx.push_back(bytes[i]);
    } else {
        c.sent.insert(c.sent.end(), bytes, bytes + count);
    }
}

int StringDescriptor(const Device& d, int index, std::string& text) {
    switch (index) {
    case 1:
        text = d.manufacturer;
        return 0;
    case 2:
        text = d.product;
        return 0;
    case 3:
        text = std::to_string(d.config.serial);
        return 0;
    default:
        return kEpipe;
    }
}

// One control transfer on a live device; caller holds the mutex.
int Control(Device& d, int type, int request, int value, int index, char* bytes, int size) {
    auto* out = reinterpret_cast<uint8_t*>(bytes);
    if (type == 0x80 && request == 6) { // GET_DESCRIPTOR, string
        std::string text;
        if ((value >> 8) != 3 || StringDescriptor(d, value & 0xFF, text) != 0) return kEpipe;
        std::vector<uint8_t> desc{0, 3};
        for (const char ch : text) {
            desc.push_back(static_cast<uint8_t>(ch));
            desc.push_back(0);
        }
        desc[0] = static_cast<uint8_t>(desc.size());
        const int n = static_cast<int>(desc.size()) < size ? static_cast<int>(desc.size()) : size;
        std::memcpy(out, desc.data(), static_cast<size_t>(n));
        return n;
    }
    if ((type & 0x60) != 0x40) return kEpipe; // vendor requests only
    if (request >= 0x30 && request <= 0x3F) { // transmit 1..4 bytes
        Channel& c = d.channels[request & 1];
        const int bits = request & 0x0E;
        const size_t count = bits == 0x08 ? 2 : bits == 0x04 ? 3 : bits == 0x02 ? 4 : 1;
        const uint8_t b[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                              static_cast<uint8_t>(index), static_cast<uint8_t>(index >> 8)};
        Transmit(c, b, count);
        return 0;
    }
    switch (request) {
    case 0x20: {
        const uint8_t ident[8] = {static_cast<uint8_t>(d.config.serial),
                                  static_cast<uint8_t>(d.config.serial >> 8),
                                  static_cast<uint8_t>(d.config.serial >> 16),
                                  static_cast<uint8_t>(d.config.serial >> 24),
                                  static_cast<uint8_t>(d.config.clock),
                                  static_cast<uint8_t>(d.config.clock >> 8),
                                  static_cast<uint8_t>(d.config.clock >> 16),
                                  static_cast<uint8_t>(d.config.clock >> 24)};
        int n = d.config.identifyBytes < size ? d.config.identifyBytes : size;
        if (n > 8) n = 8;
        if (n > 0) std::memcpy(out, ident, static_cast<size_t>(n));
        return n;
    }
    case 0x21: {
        if (size < 1) return kEpipe;
        Channel& c = d.channels[value != 0 ? 1 : 0];
        ReadLine(c);
        out[0] = static_cast<uint8_t>(c.rx.size() < 255 ? c.rx.size() : 255);
        return 1;
    }
    case 0x22: {
        Channel& c = d.channels[(value & 0xFF) != 0 ? 1 : 0];
        int n = value >> 8;
        if (n > size) n = size;
        if (n > static_cast<int>(c.rx.size())) n = static_cast<int>(c.rx.size());
        for (int i = 0; i < n; ++i) {
            out[i] = c.rx.front();
            c.rx.pop_front();
        }
        return n;
    }
    case 0x23:
        if (!d.config.answersChannelCount || size < 1) return kEtimedout;
        out[0] = static_cast<uint8_t>(d.config.channels);
        return 1;
    case 0x24:
    case 0x25: {
        if (value != 0 && value != 1) return kEpipe;
        Channel& c = d.channels[value];
        if (request == 0x24) {
            c.divisor = index;
            ApplySpeed(d, c);
        } else {
            c.format = index;
        }
        return 0;
    }
    default:
        return kEpipe;
    }
}

void Record(int device, int type, int request, int value, int index, int size, int result) {
    const long long atUs = std::chrono::duration_cast<std::chrono::microseconds>(
                               std::chrono::steady_clock::now().time_since_epoch())
                               .count();
    record.push_back(FakeUsbRequest{device, type, request, value, index, size, result, atUs});
    if (record.size() > kRequestRecord) record.pop_front();
}

} // namespace

// ---- libusb 0.1 entries ----

FAKEUSB_EXPORT void usb_init(void) {}
FAKEUSB_EXPORT void usb_set_debug(int) {}
FAKEUSB_EXPORT char* usb_strerror(void) {
    return errorText;
}

FAKEUSB_EXPORT int usb_find_busses(void) {
    std::lock_guard<std::mutex> lock(mutex);
    const int changes = bussesFound ? 0 : 1;
    bussesFound = true;
    std::strcpy(bus.dirname, "001");
    return changes;
}

FAKEUSB_EXPORT int usb_find_devices(void) {
    std::lock_guard<std::mutex> lock(mutex);
    ++scans;
    usb_device* head = nullptr;
    usb_device* tail = nullptr;
    int count = 0;
    for (auto& d : devices) {
        if (!d->present) continue;
        usb_device& n = d->node;
        n.next = nullptr;
        n.prev = tail;
        n.bus = &bus;
        if (tail != nullptr) tail->next = &n;
        if (head == nullptr) head = &n;
        tail = &n;
        ++count;
    }
    bus.devices = head;
    return count;
}

FAKEUSB_EXPORT usb_bus* usb_get_busses(void) {
    std::lock_guard<std::mutex> lock(mutex);
    return bussesFound ? &bus : nullptr;
}

FAKEUSB_EXPORT usb_dev_handle* usb_open(usb_device* dev) {
    std::lock_guard<std::mutex> lock(mutex);
    for (size_t i = 0; i < devices.size(); ++i) {
        Device& d = *devices[i];
        if (&d.node != dev) continue;
        if (!d.present || !d.config.opens) return nullptr;
        ++openHandles;
        return new usb_dev_handle{static_cast<int>(i), d.generation};
    }
    return nullptr;
}

FAKEUSB_EXPORT int usb_close(usb_dev_handle* h) {
    if (h == nullptr) return -22;
    std::lock_guard<std::mutex> lock(mutex);
    --openHandles;
    delete h;
    return 0;
}

FAKEUSB_EXPORT int usb_get_string_simple(usb_dev_handle* h, int index, char* buf, size_t size) {
    std::lock_guard<std::mutex> lock(mutex);
    Device* d = Live(h);
    if (d == nullptr) return kEnodev;
    if (!d->config.simpleStrings) return -5;
    std::string text;
    if (StringDescriptor(*d, index, text) != 0 || size == 0) return kEpipe;
    const size_t n = text.size() < size - 1 ? text.size() : size - 1;
    std::memcpy(buf, text.data(), n);
    buf[n] = '\0';
    return static_cast<int>(n);
}

FAKEUSB_EXPORT int usb_control_msg(usb_dev_handle* h, int type, int request, int value, int index,
                                   char* bytes, int size, int timeout) {
    (void)timeout;
    if (const int delay = transferDelayMs.load(); delay > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    std::lock_guard<std::mutex> lock(mutex);
    Device* d = Live(h);
    const int device = h != nullptr ? h->device : -1;
    int result = 0;
    if (d == nullptr) {
        result = kEnodev;
    } else if (failCount > 0 && (failRequest < 0 || failRequest == request)) {
        --failCount;
        if (request == 0x22) { // the bytes left the converter, the reply got lost
            char scratch[256];
            Control(*d, type, request, value, index, scratch, size < 256 ? size : 256);
        }
        result = kEtimedout;
    } else {
        result = Control(*d, type, request, value, index, bytes, size);
    }
    Record(device, type, request, value, index, size, result);
    return result;
}

FAKEUSB_EXPORT int usb_reset(usb_dev_handle* h) {
    std::lock_guard<std::mutex> lock(mutex);
    Device* d = Live(h);
    if (d == nullptr) return kEnodev;
    for (Channel& c : d->channels) c.rx.clear();
    return 0;
}

// ---- control interface ----

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
