// The emulated converter of our family: its vendor requests (identify, line status, receive,
// transmit, speed and format), its string descriptors, and its channels' line side: a terminal,
// a loopback, or a buffer a test looks at.
#include "sim/fakeusb/fake_usb_state.h"

#include <cstring>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace fakeusb {

namespace {

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

} // namespace

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

namespace {

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

} // namespace

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

} // namespace fakeusb
