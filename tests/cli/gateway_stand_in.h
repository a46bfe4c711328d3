// A serial device server that misbehaves, for tests (its sockets are close-on-exec, so that the
// programs a test starts do not keep its listener alive during an outage): it passes bytes between
// its client and a gateway on 127.0.0.1 (the simulated line's TcpBridge), but can greet every new
// connection with stale bytes, and can go down (connection closed, new ones refused) when the
// client polls a given controller number, for a while or for good. It can also hold back what the
// line sends for a latency that sweeps between two values, with jitter, as a slow relay does, and
// take its time to accept each connection, as one still letting the previous client go does.
#pragma once

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <deque>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace velmar::test {

class GatewayStandIn {
  public:
    std::vector<uint8_t> staleOnConnect; // sent 5 ms after each connection is accepted
    int outageAtPoll = -1;               // going down when the client polls this number
    int outageMs = -1;                   // for this long; -1: for good
    std::vector<uint8_t> outageAtBytes;  // or when the client sends these bytes (once)
    // Bytes from the line reach the client this late: from `latencyMs` up to `latencyMs` +
    // `latencySweepMs` and back within `sweepPeriodMs`, plus up to `jitterMs` drawn per piece.
    int latencyMs = 0;
    int latencySweepMs = 0;
    int sweepPeriodMs = 1000;
    int jitterMs = 0;
    int acceptDelayMs = 0; // a connection waits this long before it is accepted
    // A relay that packs what the line sends until more comes from the client: what it holds
    // (for the latency above) leaves at once when the next request arrives, just before it.
    bool holdUntilRequest = false;
    // What the line sends leaves in bursts, on the next multiple of this period (0: at once).
    int burstMs = 0;

    explicit GatewayStandIn(uint16_t target) : target_(target) {}
    ~GatewayStandIn() { Stop(); }
    bool Start() {
        listen_ = Listen(0);
        if (listen_ < 0) return false;
        sockaddr_in a{};
        socklen_t len = sizeof a;
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        running_ = true;
        thread_ = std::thread([this] { Run(); });
        return true;
    }
    void Stop() {
        running_ = false;
        if (thread_.joinable()) thread_.join();
        for (int* fd : {&listen_, &client_, &upstream_}) CloseFd(*fd);
    }
    uint16_t Port() const { return port_; }
    int Connections() const { return connections_; }

  private:
    static void CloseFd(int& fd) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    static int Connect(uint16_t port) {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) CloseFd(fd);
        return fd;
    }
    static int Listen(uint16_t port) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 4) != 0) {
            ::close(fd);
            return -1;
        }
        return fd;
    }
    bool PollsOutageNumber(const uint8_t* b, ssize_t n) const {
        for (ssize_t i = 0; i + 2 < n; ++i)
            if (b[i] == 0x60 && b[i + 1] == outageAtPoll && b[i + 2] == 0x21) return true;
        return false;
    }
    bool SendsOutageBytes(const uint8_t* b, ssize_t n) const {
        return !outageAtBytes.empty() &&
               std::search(b, b + n, outageAtBytes.begin(), outageAtBytes.end()) != b + n;
    }
    using Clock = std::chrono::steady_clock;
    int LatencyNowMs() {
        if (latencyMs <= 0 && jitterMs <= 0) return 0;
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started_).count();
        const int period = sweepPeriodMs > 0 ? sweepPeriodMs : 1;
        const int phase = static_cast<int>(ms % period);
        const int half = period / 2 > 0 ? period / 2 : 1;
        const int rise = phase < half ? phase : period - phase; // 0..half..0
        const int jitter =
            jitterMs > 0 ? std::uniform_int_distribution<int>(0, jitterMs)(random_) : 0;
        return latencyMs + latencySweepMs * rise / half + jitter;
    }
    void Run() {
        Clock::time_point reopenAt{};
        std::optional<Clock::time_point> acceptAt;
        bool down = false;
        while (running_) {
            if (down && outageMs >= 0 && Clock::now() >= reopenAt) {
                listen_ = Listen(port_);
                down = listen_ < 0;
            }
            pollfd fds[3] = {{listen_, POLLIN, 0}, {client_, POLLIN, 0}, {upstream_, POLLIN, 0}};
            ::poll(fds, 3, held_.empty() ? 10 : 1);
            if (listen_ < 0) acceptAt.reset(); // gone down before it was accepted
            if (listen_ >= 0 && (fds[0].revents & POLLIN) && client_ < 0 && !acceptAt)
                acceptAt = Clock::now() + std::chrono::milliseconds(acceptDelayMs);
            if (acceptAt && Clock::now() < *acceptAt) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            } else if (acceptAt) {
                acceptAt.reset();
                client_ = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
                upstream_ = Connect(target_);
                ++connections_;
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                if (!staleOnConnect.empty())
                    (void)::send(client_, staleOnConnect.data(), staleOnConnect.size(), 0);
            }
            uint8_t buf[512];
            if (client_ >= 0 && (fds[1].revents & (POLLIN | POLLHUP))) {
                const ssize_t n = ::recv(client_, buf, sizeof buf, 0);
                if (n > 0 && (PollsOutageNumber(buf, n) || SendsOutageBytes(buf, n))) {
                    outageAtPoll = -1; // once
                    outageAtBytes.clear();
                    for (int* fd : {&listen_, &client_, &upstream_}) CloseFd(*fd);
                    held_.clear(); // what the line sent goes down with the connection
                    down = true;
                    reopenAt = Clock::now() + std::chrono::milliseconds(outageMs);
                    continue;
                }
                if (n <= 0) {
                    CloseFd(client_);
                    CloseFd(upstream_);
                    held_.clear();
                } else if (upstream_ >= 0) {
                    if (holdUntilRequest)
                        for (Held& h : held_) h.due = Clock::now();
                    FlushHeld();
                    (void)::send(upstream_, buf, static_cast<size_t>(n), MSG_NOSIGNAL);
                }
            }
            if (upstream_ >= 0 && client_ >= 0 && (fds[2].revents & POLLIN)) {
                const ssize_t n = ::recv(upstream_, buf, sizeof buf, 0);
                if (n > 0) {
                    // In order: a piece never overtakes the one before it.
                    auto due = Clock::now() + std::chrono::milliseconds(LatencyNowMs());
                    if (burstMs > 0) {
                        const auto period = std::chrono::milliseconds(burstMs);
                        const auto since = due - started_;
                        due = started_ + (since / period + 1) * period;
                    }
                    if (!held_.empty()) due = std::max(due, held_.back().due);
                    held_.push_back({due, std::vector<uint8_t>(buf, buf + n)});
                }
            }
            FlushHeld();
        }
    }
    void FlushHeld() {
        while (!held_.empty() && held_.front().due <= Clock::now()) {
            if (client_ >= 0)
                (void)::send(client_, held_.front().bytes.data(), held_.front().bytes.size(),
                             MSG_NOSIGNAL);
            held_.pop_front();
        }
    }

    uint16_t target_;
    uint16_t port_ = 0;
    int listen_ = -1;
    int client_ = -1;
    int upstream_ = -1;
    std::atomic<bool> running_{false};
    std::atomic<int> connections_{0};
    std::thread thread_;
    struct Held {
        Clock::time_point due;
        std::vector<uint8_t> bytes;
    };
    std::deque<Held> held_;
    Clock::time_point started_ = Clock::now();
    std::mt19937 random_{29};
};

} // namespace velmar::test
