#include "sim/core/tcp_bridge.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace velmar::sim {

namespace {

// Writes everything, waiting for room; false when `fd` failed.
bool WriteAll(int fd, const uint8_t* bytes, size_t count) {
    while (count > 0) {
        const ssize_t n = ::write(fd, bytes, count);
        if (n > 0) {
            bytes += n;
            count -= static_cast<size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd pfd{fd, POLLOUT, 0};
            ::poll(&pfd, 1, 100);
        } else {
            return false;
        }
    }
    return true;
}

} // namespace

TcpBridge::~TcpBridge() {
    Stop();
}

int TcpBridge::Start(const std::string& ptyPath, uint16_t port) {
    ptyFd_ = ::open(ptyPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (ptyFd_ < 0) return errno;
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int err = listenFd_ < 0 ? errno : 0;
    if (err == 0) {
        const int on = 1;
        ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(listenFd_, 1) != 0 ||
            ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
            err = errno;
        port_ = ntohs(addr.sin_port);
    }
    if (err == 0 && ::pipe2(wakeFd_, O_CLOEXEC | O_NONBLOCK) != 0) err = errno;
    if (err != 0) {
        Stop();
        return err;
    }
    running_ = true;
    thread_ = std::thread([this] { Run(); });
    return 0;
}

void TcpBridge::Stop() {
    if (running_.exchange(false)) {
        const char wake = 1;
        (void)!::write(wakeFd_[1], &wake, 1);
        thread_.join();
    }
    for (int* fd : {&listenFd_, &ptyFd_, &wakeFd_[0], &wakeFd_[1]}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
}

void TcpBridge::DropAfterBytes(long count) {
    dropAfter_ = count;
}

void TcpBridge::Run() {
    int client = -1;
    uint8_t buf[4096];
    auto closeClient = [&] {
        if (client >= 0) ::close(client);
        client = -1;
    };
    while (running_) {
        // While nobody is connected the line's bytes wait in the terminal, as on a gateway
        // whose serial side keeps its buffer.
        pollfd fds[3] = {{wakeFd_[0], POLLIN, 0},
                         {client >= 0 ? client : listenFd_, POLLIN, 0},
                         {client >= 0 ? ptyFd_ : -1, POLLIN, 0}};
        if (::poll(fds, 3, -1) < 0 && errno != EINTR) break;
        if (!running_) break;
        if (client < 0) {
            if ((fds[1].revents & POLLIN) != 0) {
                client = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
                if (client >= 0) {
                    const int on = 1;
                    ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                    ++connections_;
                }
            }
            continue;
        }
        if ((fds[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            const ssize_t n = ::read(client, buf, sizeof buf);
            if (n <= 0) {
                closeClient();
                continue;
            }
            size_t pass = static_cast<size_t>(n);
            const long limit = dropAfter_.load();
            const bool drop = limit >= 0 && n >= limit;
            if (drop) pass = static_cast<size_t>(limit);
            if (limit >= 0) dropAfter_ = drop ? -1 : limit - n;
            WriteAll(ptyFd_, buf, pass);
            if (drop) {
                closeClient();
                continue;
            }
        }
        if ((fds[2].revents & POLLIN) != 0) {
            const ssize_t n = ::read(ptyFd_, buf, sizeof buf);
            if (n > 0 && !WriteAll(client, buf, static_cast<size_t>(n))) closeClient();
        }
    }
    closeClient();
}

} // namespace velmar::sim
