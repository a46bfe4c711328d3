// Linux keeps the exact speed of a terminal in the termios2 record, which also covers speeds
// without a Bnnn constant (the tool may set 256000). Elsewhere the plain termios speed is used.
#include "sim/core/line_settings.h"

#include <cerrno>

#if defined(__linux__)
#include <asm/ioctls.h>
#include <asm/termbits.h> // termios2; must not meet <termios.h> in this file
extern "C" int ioctl(int fd, unsigned long request, ...);
#else
#include <termios.h>
#endif

namespace velmar::sim {

namespace {

struct SpeedCode {
    unsigned code;
    uint32_t baud;
};

constexpr SpeedCode kSpeeds[] = {
    {B0, 0},         {B50, 50},       {B75, 75},         {B110, 110},       {B134, 134},
    {B150, 150},     {B200, 200},     {B300, 300},       {B600, 600},       {B1200, 1200},
    {B1800, 1800},   {B2400, 2400},   {B4800, 4800},     {B9600, 9600},     {B19200, 19200},
    {B38400, 38400}, {B57600, 57600}, {B115200, 115200}, {B230400, 230400},
};

uint32_t BaudOfCode(unsigned code) {
    for (const auto& s : kSpeeds)
        if (s.code == code) return s.baud;
    return 0;
}

unsigned CodeOfBaud(uint32_t baud) {
    for (const auto& s : kSpeeds)
        if (s.baud == baud) return s.code;
    return 0;
}

} // namespace

#if defined(__linux__)

bool ReadLineSettings(int fd, LineSettings& out) {
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0) return false;
    const unsigned code = t.c_cflag & CBAUD;
    out.baud = code == BOTHER ? t.c_ospeed : BaudOfCode(code);
    out.format8N = (t.c_cflag & CSIZE) == CS8 && (t.c_cflag & PARENB) == 0;
    return true;
}

int SetRawLine(int fd, uint32_t baud) {
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0) return errno;
    t.c_iflag &= ~static_cast<unsigned>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                        IXON | IXOFF);
    t.c_oflag &= ~static_cast<unsigned>(OPOST);
    t.c_lflag &= ~static_cast<unsigned>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~static_cast<unsigned>(CSIZE | PARENB | CSTOPB | CBAUD | CRTSCTS);
    t.c_cflag |= CS8 | CREAD | CLOCAL;
    const unsigned code = CodeOfBaud(baud);
    t.c_cflag |= code != 0 ? code : BOTHER;
    t.c_ispeed = t.c_ospeed = baud;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (ioctl(fd, TCSETS2, &t) != 0) return errno;
    return 0;
}

#else

bool ReadLineSettings(int fd, LineSettings& out) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) return false;
    out.baud = BaudOfCode(static_cast<unsigned>(cfgetospeed(&t)));
    out.format8N = (t.c_cflag & CSIZE) == CS8 && (t.c_cflag & PARENB) == 0;
    return true;
}

int SetRawLine(int fd, uint32_t baud) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) return errno;
    cfmakeraw(&t);
    t.c_cflag |= CREAD | CLOCAL;
    const speed_t code = CodeOfBaud(baud);
    cfsetispeed(&t, code);
    cfsetospeed(&t, code);
    if (tcsetattr(fd, TCSANOW, &t) != 0) return errno;
    return 0;
}

#endif

} // namespace velmar::sim
