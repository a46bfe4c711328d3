// A controller's receiver: turns the bytes it hears on the line into complete requests.
//
// The receiver follows the structure of every transaction, whatever controller it is addressed
// to, so that the header and data frames of a transaction for another controller are never taken
// for command frames. Anything that does not fit (a bad checksum, a header that is not a header,
// a byte other than 0x31 after an identification request) is treated as garbage: the receiver
// drops bytes until a 0x60 that starts a valid command frame. A pause longer than kFrameGap in
// the middle of a transaction abandons it.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

namespace velmar::sim {

using SimClock = std::chrono::steady_clock;

// Longest pause the receiver waits between the frames of one transaction (the tool pauses
// 20..50 ms between them) before it abandons the transaction.
inline constexpr std::chrono::milliseconds kFrameGap{500};

enum class RequestKind { Poll, Ident, Read, Write };

struct Request {
    RequestKind kind = RequestKind::Poll;
    uint8_t lineAddress = 0;   // byte 1 of the command frame
    uint8_t code = 0;          // byte 2 of the command frame
    uint32_t address = 0;      // memory address (24 bits) of a read or write
    int count = 0;             // bytes to read, or data bytes n of a write
    std::vector<uint8_t> data; // write data (n bytes)

    int Space() const { return code & 0x07; } // read 0x48 + space, write 0x40 + space
};

class FrameReceiver {
  public:
    // Takes one byte heard at line time `t`; appends the requests it completes to `out`.
    void Feed(uint8_t byte, SimClock::time_point t, std::vector<Request>& out);
    // Drops whatever was partly received (bytes at a wrong speed garble the frame).
    void Reset();
    // Abandons a transaction when the line was quiet for longer than kFrameGap.
    void Expire(SimClock::time_point now);
    // True when no transaction is in progress.
    bool Idle() const { return expect_ == Expect::Command && pending_.empty(); }
    // Valid command frames seen, whatever their address.
    uint64_t CommandFrames() const { return commandFrames_; }

  private:
    enum class Expect { Command, IdentByte, ReadHeader, WriteHeader, WriteData };
    void Process(std::vector<Request>& out);
    bool TakeHeader(Request& req); // validates and consumes an 8-byte memory header

    Expect expect_ = Expect::Command;
    std::vector<uint8_t> pending_; // bytes heard but not yet part of an accepted frame
    Request current_;
    SimClock::time_point lastByte_{};
    uint64_t commandFrames_ = 0;
};

} // namespace velmar::sim
