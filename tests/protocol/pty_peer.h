// A raw pseudo-terminal peer standing where the controller would be: the test reads exactly what
// the tool sent and answers byte by byte, without any simulator logic in between.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace velmar::test {

class PtyPeer {
  public:
    PtyPeer() {
        char name[256] = {};
        if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) return;
        termios tio{};
        tcgetattr(slave_, &tio);
        cfmakeraw(&tio);
        tcsetattr(slave_, TCSANOW, &tio);
        path_ = name;
    }
    ~PtyPeer() {
        if (master_ >= 0) close(master_);
        if (slave_ >= 0) close(slave_);
    }
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    bool Ok() const { return !path_.empty(); }
    const std::string& Path() const { return path_; }

    // Up to `n` bytes, waiting at most `timeoutMs` in all.
    std::vector<uint8_t> Read(size_t n, int timeoutMs = 3000) {
        std::vector<uint8_t> got;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (got.size() < n) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  end - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0) break;
            pollfd p{master_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
            uint8_t buf[512];
            const size_t want = std::min(sizeof buf, n - got.size());
            const ssize_t r = read(master_, buf, want);
            if (r > 0) got.insert(got.end(), buf, buf + r);
        }
        return got;
    }

    // Everything that arrives until `quietMs` pass without a byte.
    std::vector<uint8_t> ReadUntilQuiet(int quietMs) {
        std::vector<uint8_t> got;
        for (;;) {
            pollfd p{master_, POLLIN, 0};
            if (poll(&p, 1, quietMs) <= 0) return got;
            uint8_t buf[512];
            const ssize_t r = read(master_, buf, sizeof buf);
            if (r <= 0) return got;
            got.insert(got.end(), buf, buf + r);
        }
    }

    void Write(const std::vector<uint8_t>& bytes) {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t r = write(master_, bytes.data() + done, bytes.size() - done);
            if (r <= 0) return;
            done += static_cast<size_t>(r);
        }
    }

    // Writes in pieces, each after the tool has taken the previous one, so that a long text
    // never piles up beyond the tool's receive ring.
    void WriteDrained(const std::vector<uint8_t>& bytes, size_t piece = 100) {
        for (size_t at = 0; at < bytes.size(); at += piece) {
            WaitDrained(3000);
            const size_t end = std::min(bytes.size(), at + piece);
            Write(std::vector<uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                       bytes.begin() + static_cast<std::ptrdiff_t>(end)));
        }
    }

    // Waits until the tool has read everything written to it so far.
    void WaitDrained(int timeoutMs) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        int pending = 0;
        while (ioctl(slave_, FIONREAD, &pending) == 0 && pending > 0 &&
               std::chrono::steady_clock::now() < end)
            SleepMs(1);
    }

    static void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

} // namespace velmar::test
