// The bus simulator's inner state, shared by its setup (bus_simulator.cpp), its service thread
// (bus_service_thread.cpp) and the way replies go on the line (bus_replies.cpp).
#pragma once

#include "sim/core/bus_simulator.h"
#include "sim/core/frame_receiver.h"
#include "sim/core/line_settings.h"
#include "sim/core/request_handler.h"
#include "sim/core/truth_record.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace velmar::sim {

inline int64_t ToNs(SimClock::time_point t) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

struct BusSimulator::Impl {
    Options options;
    std::string setupError;
    std::vector<std::unique_ptr<Controller>> controllers;
    Faults faults;
    std::mutex mutex; // guards controllers and faults

    int masterFd = -1;
    int slaveFd = -1; // kept open: shares the tool's termios and keeps the master readable
    int wakeFd[2] = {-1, -1};
    std::string slavePath;
    std::string linkPath;
    std::thread thread;
    std::atomic<bool> running{false};

    std::atomic<uint64_t> framesSeen{0}, ignoredForBaud{0}, repliesSent{0}, collisions{0},
        noisyReplies{0};
    std::atomic<uint64_t> pollsSeen{0}, identsSeen{0}, readsSeen{0}, writesSeen{0};
    std::mt19937 noise;
    std::optional<uint32_t> noiseSeed; // the seed `noise` was started from
    std::mt19937 jitter;               // the turnaround's jitter, its own sequence
    std::optional<uint32_t> jitterSeed;
    TruthRecord truth;

    // Service-thread state.
    struct InByte {
        uint8_t byte;
        SimClock::time_point at; // when its last bit has been on the line
        LineSettings line;       // the tool's settings when it was sent
    };
    struct OutByte {
        SimClock::time_point due;
        uint8_t byte;
    };
    std::deque<InByte> input;
    std::deque<OutByte> output;
    SimClock::duration byteTime{0};
    SimClock::time_point rxFree{}, txFree{};
    bool writeBlocked = false; // the terminal's input queue is full
    FrameReceiver monitor;     // counts command frames on the line, whatever their speed

    void Run();
    void ReadLine();
    void ProcessInput(SimClock::time_point now);
    void CountKind(RequestKind kind);
    void Answer(std::vector<std::pair<Controller*, Reply>>& answers, SimClock::time_point at);
    // Serves one request to `c` (place `unit` on the bus), noting it in the truth record.
    std::optional<Reply> Serve(Controller& c, int unit, const Request& req,
                               SimClock::time_point at);
    int UnitOf(const Controller* c) const;
    int JitterMs();
    bool LoseWriteStatus(); // drawn per applied write (Faults::writeStatusLossRate)
    bool AddNoise(std::vector<uint8_t>& bytes); // false when the reply is lost
    void FlushOutput(SimClock::time_point now);
    void CloseFds();
};

} // namespace velmar::sim
