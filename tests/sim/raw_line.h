// The tool's end of the simulator's line, driven with plain termios: raw frames in, raw bytes out.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <termios.h>
#include <vector>

namespace velmar::sim::test {

using Bytes = std::vector<uint8_t>;

class RawLine {
  public:
    explicit RawLine(const std::string& path, speed_t speed = B4800);
    ~RawLine();
    RawLine(const RawLine&) = delete;
    RawLine& operator=(const RawLine&) = delete;

    bool Ok() const { return fd_ >= 0; }
    int Fd() const { return fd_; }
    // Changes the line settings (speed; and 8N1 or 8E1).
    void Configure(speed_t speed, bool evenParity = false);
    void Send(const Bytes& bytes);
    // Waits until `count` bytes arrived or `timeoutMs` passed; returns what arrived.
    Bytes Read(size_t count, int timeoutMs = 2000);
    // Reads until the line stays quiet for `quietMs` (or `maxMs` passed).
    Bytes ReadQuiet(int quietMs = 150, int maxMs = 3000);
    // Drops whatever waits on the line.
    void Purge();

    // Arrival times of the bytes of the last Read, for timing checks.
    std::vector<std::chrono::steady_clock::time_point> arrivals;

  private:
    int fd_ = -1;
};

// Frame builders.
uint8_t Checksum(const Bytes& bytes);
Bytes Command(uint8_t address, uint8_t code);
Bytes ReadHeader(uint32_t address, uint8_t count);
// The write header and, for two or more bytes, the data frame.
Bytes WriteFrames(uint32_t address, const Bytes& data);
Bytes Join(Bytes a, const Bytes& b);

// Whole transactions as the tool runs them. ReadMem returns the reply (count data bytes and the
// trailing byte), or what arrived when it was short. WriteMem returns the status byte, -1 when
// the reply did not come or had the wrong size.
Bytes ReadMem(RawLine& line, uint8_t ctrl, uint32_t address, uint8_t count, uint8_t space = 0);
int WriteMem(RawLine& line, uint8_t ctrl, uint32_t address, const Bytes& data, uint8_t space = 0);
Bytes Poll(RawLine& line, uint8_t ctrl);

} // namespace velmar::sim::test
