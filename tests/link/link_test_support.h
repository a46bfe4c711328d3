// Helpers for the port layer tests: a pseudo-terminal standing in for the serial device, a
// fresh port layer logging into a temporary directory, and file reading.
#pragma once

#include "link/serial_port.h"

#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <pty.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace velmar::test {

class PtyPair {
  public:
    PtyPair() {
        char name[256] = {};
        if (openpty(&master_, &slave_, name, nullptr, nullptr) == 0) {
            path_ = name;
            termios tio{};
            tcgetattr(master_, &tio);
            cfmakeraw(&tio);
            tcsetattr(master_, TCSANOW, &tio);
        }
    }
    ~PtyPair() {
        CloseMaster();
        if (slave_ >= 0) close(slave_);
    }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ok() const { return master_ >= 0; }
    const std::string& path() const { return path_; }
    int master() const { return master_; }
    // The device "goes away": the tool's side of the line hangs up. Our own slave descriptor
    // goes too, or the tty would stay alive.
    void CloseMaster() {
        if (master_ >= 0) close(master_);
        master_ = -1;
        if (slave_ >= 0) close(slave_);
        slave_ = -1;
    }
    void Send(const std::vector<uint8_t>& bytes) const {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
    }
    // Reads until `count` bytes came or a second passed.
    std::vector<uint8_t> Receive(size_t count) const {
        std::vector<uint8_t> out;
        for (int i = 0; i < 1000 && out.size() < count; ++i) {
            uint8_t buf[512];
            fcntl(master_, F_SETFL, O_NONBLOCK);
            const ssize_t n = read(master_, buf, sizeof buf);
            if (n > 0) {
                out.insert(out.end(), buf, buf + n);
            } else {
                usleep(1000);
            }
        }
        return out;
    }
    termios LineSettings() const {
        termios tio{};
        tcgetattr(master_, &tio);
        return tio;
    }

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

inline std::string ReadWholeFile(const std::filesystem::path& path) {
    std::string out;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        char buf[4096];
        for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) out.append(buf, n);
        std::fclose(f);
    }
    return out;
}

// Each test gets its own directory, port layer and log.
class PortLayerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("velmar-link-" + std::to_string(getpid()) + "-" + std::to_string(counter_++));
        std::filesystem::create_directories(dir_);
        logPath_ = dir_ / "port.out";
        SetExchangeLogPath(logPath_.c_str());
        SetLogMask(0);
        StartPortLayer();
    }
    void TearDown() override {
        StopPortLayer();
        SetLogMask(0);
        SetExchangeLogPath(nullptr);
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    std::string Log() const { return ReadWholeFile(logPath_); }

    std::filesystem::path dir_;
    std::filesystem::path logPath_;
    static inline int counter_ = 0;
};

} // namespace velmar::test
