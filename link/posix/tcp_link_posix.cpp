// TCP links on POSIX sockets: non-blocking, Nagle off so that every frame leaves at once.
#include "link/tcp_link.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace velmar {

namespace {

constexpr int kConnectTimeoutMs = 3000;

int Lose(TcpLink& link, int err) {
    CloseTcpLink(link);
    link.lostError = err;
    return err;
}

// Connects one address; 0 or errno.
int ConnectTo(const addrinfo& ai, int& fd) {
    fd = ::socket(ai.ai_family, ai.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai.ai_protocol);
    if (fd < 0) return errno;
    int err = 0;
    if (::connect(fd, ai.ai_addr, ai.ai_addrlen) != 0) {
        err = errno;
        if (err == EINPROGRESS) {
            pollfd pfd{fd, POLLOUT, 0};
            int r = 0;
            do {
                r = ::poll(&pfd, 1, kConnectTimeoutMs);
            } while (r < 0 && errno == EINTR);
            socklen_t len = sizeof err;
            if (r == 0)
                err = ETIMEDOUT;
            else if (r < 0 || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
                err = errno;
        }
    }
    if (err != 0) {
        ::close(fd);
        fd = -1;
        return err;
    }
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    return 0;
}

} // namespace

int OpenTcpLink(const char* name, TcpLink& link) {
    CloseTcpLink(link);
    std::string host;
    std::string port;
    if (!ParseNetworkPortName(name, host, port)) return kTcpBadName;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (::getaddrinfo(host.c_str(), port.c_str(), &hints, &list) != 0 || list == nullptr)
        return kTcpHostNotFound;
    int err = ECONNREFUSED;
    for (const addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) {
        int fd = -1;
        err = ConnectTo(*ai, fd);
        if (err == 0) {
            link.fd = fd;
            link.lostError = 0;
            break;
        }
    }
    ::freeaddrinfo(list);
    return err;
}

void CloseTcpLink(TcpLink& link) {
    if (link.fd >= 0) ::close(link.fd);
    link.fd = -1;
}

bool TcpLinkDropped(TcpLink& link) {
    if (link.fd < 0) return link.lostError != 0;
    uint8_t byte = 0;
    const ssize_t n = ::recv(link.fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n == 0) return Lose(link, ECONNRESET) != 0;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
        return Lose(link, errno) != 0;
    return false;
}

int WriteTcpLink(TcpLink& link, const uint8_t* bytes, size_t count) {
    if (link.fd < 0) return link.lostError != 0 ? link.lostError : ENOTCONN;
    size_t done = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (done < count) {
        const ssize_t n = ::send(link.fd, bytes + done, count - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) &&
            std::chrono::steady_clock::now() < deadline) {
            pollfd pfd{link.fd, POLLOUT, 0};
            ::poll(&pfd, 1, 10);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return Lose(link, errno);
        return ETIMEDOUT;
    }
    return 0;
}

int ReadTcpLink(TcpLink& link, uint8_t* dst, size_t max, size_t& got) {
    got = 0;
    if (link.fd < 0) return link.lostError;
#ifdef TCP_QUICKACK
    // Acknowledge at once rather than after the usual delay: a gateway that sends a short
    // answer (an RFC 2217 one, say) and then the reply would otherwise hold the reply back
    // until our acknowledgement came, some 40 ms per exchange. The kernel leaves this mode by
    // itself, so it is asked for at every read.
    const int on = 1;
    ::setsockopt(link.fd, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
#endif
    while (got < max) {
        const ssize_t n = ::recv(link.fd, dst + got, max - got, MSG_DONTWAIT);
        if (n > 0) {
            got += static_cast<size_t>(n);
            continue;
        }
        if (n == 0) return Lose(link, ECONNRESET);
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
        return Lose(link, errno);
    }
    return 0;
}

void WaitTcpLink(TcpLink& link, int timeoutMs) {
    if (timeoutMs <= 0) return;
    if (link.fd < 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
        return;
    }
    pollfd pfd{link.fd, POLLIN, 0};
    while (::poll(&pfd, 1, timeoutMs) < 0 && errno == EINTR) {
    }
}

} // namespace velmar
