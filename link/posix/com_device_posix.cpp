// ComDevice over POSIX termios.
#include "link/com_device.h"
#include "link/posix/termios_line.h"

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#ifdef __linux__
#include <linux/serial.h>
#endif

namespace velmar {
namespace {

using Clock = std::chrono::steady_clock;

bool IsComName(const char* name, unsigned long& number) {
    if (std::strlen(name) < 4 || std::toupper(static_cast<unsigned char>(name[0])) != 'C' ||
        std::toupper(static_cast<unsigned char>(name[1])) != 'O' ||
        std::toupper(static_cast<unsigned char>(name[2])) != 'M') {
        return false;
    }
    number = 0;
    for (const char* p = name + 3; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9' || number > 100000) return false;
        number = number * 10 + static_cast<unsigned long>(*p - '0');
    }
    return true;
}

struct SpeedEntry {
    uint32_t baud;
    speed_t code;
};

constexpr SpeedEntry kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

bool SpeedCode(uint32_t baud, speed_t& code) {
    for (const SpeedEntry& e : kSpeeds) {
        if (e.baud == baud) {
            code = e.code;
            return true;
        }
    }
    return false;
}

bool IsLossError(int err) {
    return err == EIO || err == ENXIO || err == ENODEV || err == EBADF;
}

int MarkLost(ComDevice& dev, int err) {
    if (dev.lostError == 0) dev.lostError = err;
    return dev.lostError;
}

void ReadLineErrorCounters(int fd, uint32_t& parity, uint32_t& frame) {
    parity = 0;
    frame = 0;
#if defined(__linux__) && defined(TIOCGICOUNT)
    serial_icounter_struct counts{};
    if (ioctl(fd, TIOCGICOUNT, &counts) == 0) {
        parity = static_cast<uint32_t>(counts.parity);
        frame = static_cast<uint32_t>(counts.frame);
    }
#else
    (void)fd;
#endif
}

// USB serial adapters otherwise hold received bytes up to 16 ms before passing them on.
void AskLowLatency(int fd) {
#if defined(__linux__) && defined(TIOCGSERIAL) && defined(ASYNC_LOW_LATENCY)
    serial_struct ss{};
    if (ioctl(fd, TIOCGSERIAL, &ss) == 0 && (ss.flags & ASYNC_LOW_LATENCY) == 0) {
        ss.flags |= ASYNC_LOW_LATENCY;
        (void)ioctl(fd, TIOCSSERIAL, &ss);
    }
#else
    (void)fd;
#endif
}

// Speeds without a termios constant (the settings dialog offers 256000) through the kernel's
// termios2 interface, on the architectures whose layout is the generic one.
#if defined(__linux__) && (defined(__x86_64__) || defined(__i386__) || defined(__aarch64__) ||     \
                           defined(__arm__) || defined(__riscv))
struct KernelTermios2 {
    tcflag_t c_iflag;
    tcflag_t c_oflag;
    tcflag_t c_cflag;
    tcflag_t c_lflag;
    cc_t c_line;
    cc_t c_cc[19];
    speed_t c_ispeed;
    speed_t c_ospeed;
};
constexpr tcflag_t kKernelCbaud = 0010017;
constexpr tcflag_t kKernelBother = 0010000;

int SetCustomSpeed(int fd, uint32_t baud) {
    KernelTermios2 t{};
    if (ioctl(fd, _IOR('T', 0x2A, KernelTermios2), &t) != 0) return EINVAL;
    t.c_cflag = (t.c_cflag & ~(kKernelCbaud | (kKernelCbaud << 16))) | kKernelBother |
                (kKernelBother << 16);
    t.c_ispeed = baud;
    t.c_ospeed = baud;
    if (ioctl(fd, _IOW('T', 0x2B, KernelTermios2), &t) != 0) return EINVAL;
    return 0;
}
#else
int SetCustomSpeed(int, uint32_t) {
    return EINVAL;
}
#endif

} // namespace

int ApplyLineSettings(termios& tio, uint32_t baud, uint8_t dataBits, char parity,
                      uint8_t stopBits) {
    speed_t speed = B0;
    if (!SpeedCode(baud, speed)) return EINVAL;
    if (cfsetispeed(&tio, speed) != 0 || cfsetospeed(&tio, speed) != 0) return EINVAL;
    tcflag_t size = 0;
    switch (dataBits) {
    case 5:
        size = CS5;
        break;
    case 6:
        size = CS6;
        break;
    case 7:
        size = CS7;
        break;
    case 8:
        size = CS8;
        break;
    default:
        return EINVAL;
    }
    tio.c_cflag = (tio.c_cflag & ~CSIZE) | size;
    if (stopBits == 1) tio.c_cflag &= ~CSTOPB;
    if (stopBits == 2) tio.c_cflag |= CSTOPB;
    const tcflag_t parityBits = PARENB | PARODD | CMSPAR;
    switch (parity) {
    case 'N':
        tio.c_cflag &= ~parityBits;
        break;
    case 'O':
        tio.c_cflag = (tio.c_cflag & ~parityBits) | PARENB | PARODD;
        break;
    case 'E':
        tio.c_cflag = (tio.c_cflag & ~parityBits) | PARENB;
        break;
    case 'M':
        tio.c_cflag = (tio.c_cflag & ~parityBits) | PARENB | CMSPAR | PARODD;
        break;
    case 'S':
    case 'Z':
        tio.c_cflag = (tio.c_cflag & ~parityBits) | PARENB | CMSPAR;
        break;
    default:
        break;
    }
    return 0;
}

std::string ComDevicePath(const char* name) {
    unsigned long number = 0;
    if (std::strchr(name, '/') != nullptr) return name;
    if (IsComName(name, number) && number >= 1) return "/dev/ttyS" + std::to_string(number - 1);
    return std::string("/dev/") + name;
}

int OpenComDevice(const char* name, ComDevice& dev) {
    dev = ComDevice{};
    unsigned long number = 0;
    if (IsComName(name, number) && number == 0) return ENOENT;
    const std::string path = ComDevicePath(name);
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno;
    if (!isatty(fd)) {
        ::close(fd);
        return ENOTTY;
    }
    // Root is not stopped by TIOCEXCL, so the advisory lock is what keeps a second user out.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(fd);
        return err;
    }
    (void)ioctl(fd, TIOCEXCL);

    termios tio{};
    if (tcgetattr(fd, &tio) != 0) {
        const int err = errno;
        (void)ioctl(fd, TIOCNXCL);
        ::close(fd);
        return err;
    }
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~(CRTSCTS | PARENB | PARODD | CMSPAR | CSTOPB | CSIZE);
    tio.c_cflag |= CS8;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    tio.c_iflag |= INPCK;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    cfsetispeed(&tio, B4800);
    cfsetospeed(&tio, B4800);
    if (tcsetattr(fd, TCSANOW, &tio) != 0) {
        const int err = errno;
        (void)ioctl(fd, TIOCNXCL);
        ::close(fd);
        return err;
    }
    // DTR and RTS stay low, as the converters in the field expect (not supported on ptys).
    int lines = TIOCM_DTR | TIOCM_RTS;
    (void)ioctl(fd, TIOCMBIC, &lines);
    AskLowLatency(fd);
    dev.fd = fd;
    ReadLineErrorCounters(fd, dev.parityErrorsAtOpen, dev.frameErrorsAtOpen);
    return 0;
}

void CloseComDevice(ComDevice& dev) {
    if (dev.fd >= 0) {
        // Lift the exclusive mode so the tty can be opened again (also by whoever holds it too).
        (void)ioctl(dev.fd, TIOCNXCL);
        ::close(dev.fd);
    }
    dev = ComDevice{};
}

int ConfigureComDevice(ComDevice& dev, uint32_t baud, uint8_t dataBits, char parity,
                       uint8_t stopBits) {
    if (dev.fd < 0) return EBADF;
    if (dev.lostError != 0) return dev.lostError;
    termios tio{};
    if (tcgetattr(dev.fd, &tio) != 0) return errno;
    const termios before = tio;
    speed_t code = B0;
    const bool custom = baud != 0 && !SpeedCode(baud, code);
    if (const int err = ApplyLineSettings(tio, custom ? 9600 : baud, dataBits, parity, stopBits);
        err != 0) {
        return err;
    }
    if (tcsetattr(dev.fd, TCSANOW, &tio) != 0) {
        const int err = errno;
        return IsLossError(err) ? MarkLost(dev, err) : err;
    }
    if (custom && SetCustomSpeed(dev.fd, baud) != 0) {
        (void)tcsetattr(dev.fd, TCSANOW, &before); // refused: the line stays as it was
        return EINVAL;
    }
    return 0;
}

void AwaitComDeviceSent(ComDevice& dev, int timeoutMs) {
    if (dev.fd < 0 || dev.lostError != 0) return;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    // Polled rather than tcdrain(): that has no time limit.
    int queued = 0;
    while (::ioctl(dev.fd, TIOCOUTQ, &queued) == 0 && queued > 0 && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

int WriteComDevice(ComDevice& dev, const uint8_t* bytes, size_t count) {
    if (dev.fd < 0) return EBADF;
    if (dev.lostError != 0) return dev.lostError;
    // The same bound the line would need at its slowest: 20 ms a byte plus 20 ms.
    const auto deadline = Clock::now() + std::chrono::milliseconds(20 + 20 * count);
    size_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(dev.fd, bytes + done, count - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            const int err = errno;
            return IsLossError(err) ? MarkLost(dev, err) : err;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return ETIMEDOUT;
        pollfd pfd{dev.fd, POLLOUT, 0};
        const int r = ::poll(&pfd, 1, static_cast<int>(left));
        if (r < 0 && errno != EINTR) return errno;
        if (r > 0 && (pfd.revents & (POLLHUP | POLLNVAL)) != 0) return MarkLost(dev, EIO);
    }
    return 0;
}

int ReadComDevice(ComDevice& dev, uint8_t* dst, size_t max, size_t& got) {
    got = 0;
    if (dev.fd < 0) return EBADF;
    if (dev.lostError != 0) return dev.lostError;
    while (got < max) {
        const ssize_t n = ::read(dev.fd, dst + got, max - got);
        if (n > 0) {
            got += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        if (n < 0) {
            const int err = errno;
            if (got > 0) break; // hand out what came first; the failure shows on the next call
            return IsLossError(err) ? MarkLost(dev, err) : err;
        }
        // 0: nothing waiting, or a hung-up tty (a USB adapter pulled out, the far side of a
        // pty closed) - only poll tells them apart.
        pollfd pfd{dev.fd, POLLIN, 0};
        if (got == 0 && ::poll(&pfd, 1, 0) > 0 && (pfd.revents & (POLLHUP | POLLNVAL)) != 0) {
            return MarkLost(dev, EIO);
        }
        break;
    }
    return 0;
}

void WaitComDevice(ComDevice& dev, int timeoutMs) {
    if (timeoutMs <= 0) return;
    if (dev.fd < 0 || dev.lostError != 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
        return;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return;
        pollfd pfd{dev.fd, POLLIN, 0};
        const int r = ::poll(&pfd, 1, static_cast<int>(left));
        if (r < 0 && errno == EINTR) continue;
        if (r > 0 && (pfd.revents & (POLLHUP | POLLNVAL)) != 0) {
            // Hung up: the next read reports it; until then do not spin on the event.
            std::this_thread::sleep_until(deadline);
        }
        return;
    }
}

void ComDeviceLineErrors(const ComDevice& dev, uint32_t& parity, uint32_t& frame) {
    parity = 0;
    frame = 0;
    if (dev.fd < 0 || dev.lostError != 0) return;
    uint32_t p = 0;
    uint32_t f = 0;
    ReadLineErrorCounters(dev.fd, p, f);
    parity = p - dev.parityErrorsAtOpen;
    frame = f - dev.frameErrorsAtOpen;
}

} // namespace velmar
