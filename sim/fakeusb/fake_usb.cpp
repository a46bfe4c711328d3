// The fake USB library: libusb 0.1 entries over emulated converters of our family, and the
// state they share with the control interface.
#include "sim/fakeusb/fake_usb_state.h"

#include <chrono>
#include <cstring>
#include <thread>
#include <unistd.h>

namespace fakeusb {

std::mutex mutex;
std::vector<std::unique_ptr<Device>> devices;
usb_bus bus{};
int scans = 0;
int openHandles = 0;
int failRequest = -1;
int failCount = 0;
std::atomic<int> transferDelayMs{0};
std::deque<FakeUsbRequest> record;

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

} // namespace fakeusb

using namespace fakeusb;

namespace {

bool bussesFound = false;
char errorText[] = "fake usb error";

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
