// A listening TCP socket on 127.0.0.1 at a free port, for the stand-in gateways of the tests.
#pragma once

#include <arpa/inet.h>
#include <cstdint>
#include <netinet/in.h>
#include <sys/socket.h>

namespace velmar::test {

// The listening socket (-1 when none could be made); `port` takes the port the system chose.
inline int ListenOnLoopback(uint16_t& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(fd, 1) != 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        return fd;
    port = ntohs(a.sin_port);
    return fd;
}

} // namespace velmar::test
