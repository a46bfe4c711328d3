#include "sim/raw_line.h"

#include <fcntl.h>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace velmar::sim::test {

using Clock = std::chrono::steady_clock;

RawLine::RawLine(const std::string& path, speed_t speed) {
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ >= 0) Configure(speed);
}

RawLine::~RawLine() {
    if (fd_ >= 0) ::close(fd_);
}

void RawLine::Configure(speed_t speed, bool evenParity) {
    termios t{};
    tcgetattr(fd_, &t);
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    if (evenParity) t.c_cflag |= PARENB;
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    tcsetattr(fd_, TCSANOW, &t);
}

void RawLine::Send(const Bytes& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n > 0)
            done += static_cast<size_t>(n);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

Bytes RawLine::Read(size_t count, int timeoutMs) {
    Bytes out;
    arrivals.clear();
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
        if (left.count() <= 0) break;
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
        uint8_t buf[256];
        const size_t want = std::min(sizeof buf, count - out.size());
        const ssize_t n = ::read(fd_, buf, want);
        if (n <= 0) continue;
        const auto now = Clock::now();
        for (ssize_t i = 0; i < n; ++i) {
            out.push_back(buf[i]);
            arrivals.push_back(now);
        }
    }
    return out;
}

Bytes RawLine::ReadQuiet(int quietMs, int maxMs) {
    Bytes out;
    const auto end = Clock::now() + std::chrono::milliseconds(maxMs);
    while (Clock::now() < end) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, quietMs) <= 0) break;
        uint8_t buf[256];
        const ssize_t n = ::read(fd_, buf, sizeof buf);
        if (n > 0) out.insert(out.end(), buf, buf + n);
    }
    return out;
}

void RawLine::Purge() {
    tcflush(fd_, TCIFLUSH);
}

uint8_t Checksum(const Bytes& bytes) {
    unsigned s = 0xFF;
    for (uint8_t b : bytes) {
        s ^= b;
        s = ((s << 1) | (s >> 7)) & 0xFF;
    }
    return static_cast<uint8_t>(s);
}

Bytes Command(uint8_t address, uint8_t code) {
    Bytes f{0x60, address, code};
    f.push_back(Checksum(f));
    return f;
}

Bytes ReadHeader(uint32_t address, uint8_t count) {
    Bytes h{0x01,
            0x00,
            static_cast<uint8_t>(address >> 8),
            static_cast<uint8_t>(address >> 16),
            static_cast<uint8_t>(address),
            0x00,
            count};
    h.push_back(Checksum(h));
    return h;
}

Bytes WriteFrames(uint32_t address, const Bytes& data) {
    Bytes h{0x01,
            0x00,
            static_cast<uint8_t>(address >> 8),
            static_cast<uint8_t>(address >> 16),
            static_cast<uint8_t>(address),
            data.empty() ? uint8_t{0} : data[0],
            static_cast<uint8_t>(data.size())};
    h.push_back(Checksum(h));
    if (data.size() >= 2) {
        Bytes rest(data.begin() + 1, data.end());
        rest.push_back(Checksum(rest));
        h.insert(h.end(), rest.begin(), rest.end());
    }
    return h;
}

Bytes Join(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes ReadMem(RawLine& line, uint8_t ctrl, uint32_t address, uint8_t count, uint8_t space) {
    line.Purge();
    line.Send(Join(Command(ctrl, static_cast<uint8_t>(0x48 + space)), ReadHeader(address, count)));
    return line.Read(count + 1u);
}

int WriteMem(RawLine& line, uint8_t ctrl, uint32_t address, const Bytes& data, uint8_t space) {
    line.Purge();
    line.Send(Join(Command(ctrl, static_cast<uint8_t>(0x40 + space)), WriteFrames(address, data)));
    const size_t expected = data.size() == 1 ? 2 : 1;
    const Bytes reply = line.Read(expected);
    if (reply.size() != expected) return -1;
    return reply.back();
}

Bytes Poll(RawLine& line, uint8_t ctrl) {
    line.Purge();
    line.Send(Command(ctrl, 0x21));
    return line.Read(4, 500);
}

} // namespace velmar::sim::test
