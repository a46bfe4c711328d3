// What really happened on the simulated line, from the controllers' side: every request a
// controller took, every reply and when it left, every action it carried out and every write it
// applied with the memory before and after. Tests hold the tool's results against it; velmar-sim
// writes it as JSON lines (--record) so that a run of a separate program can be checked too.
//
// Off by default: while off, the bus only tests one flag per event.
#pragma once

#include "sim/core/frame_receiver.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace velmar::sim {

enum class TruthKind { Frame, Reply, Action, Write };
enum class TruthAction { None, Restart, PulseSimulator, DisplayMode, RelayTest };

struct TruthEvent {
    TruthKind kind = TruthKind::Frame;
    int64_t atNs = 0; // steady clock: a frame's end, a reply's last byte, a write's application
    int unit = -1;    // the controller's place on the bus (stable over a restart)
    int number = -1;  // its side-A number at the time
    // Frame: the request taken. Write: where it landed. Action: the register written.
    RequestKind request = RequestKind::Poll;
    int lineAddress = -1;
    int space = -1;
    uint32_t address = 0;
    std::vector<uint8_t> bytes;  // request data, reply bytes as sent, bytes written
    std::vector<uint8_t> before; // Write: memory before
    bool sent = true;            // Reply: false when lost on the way (fault or noise)
    TruthAction action = TruthAction::None;
    int value = 0; // Action: the value written; Restart: 1 when its status left, 0 when lost
};

std::string ToJsonLine(const TruthEvent& e);

class TruthRecord {
  public:
    void Enable(bool on) { on_ = on; }
    bool On() const { return on_.load(std::memory_order_relaxed); }
    // Each event is written to `out` as it happens instead of being kept (a long-running
    // program's record does not grow in memory); nullptr: kept in memory.
    void StreamTo(std::FILE* out);
    // Called with each applied write, on the bus's thread, before its reply leaves.
    void OnWrite(std::function<void(const TruthEvent&)> hook);

    void Add(TruthEvent e);
    std::vector<TruthEvent> Snapshot() const;
    void Clear();

  private:
    std::atomic<bool> on_{false};
    mutable std::mutex mutex_;
    std::vector<TruthEvent> events_;
    std::FILE* out_ = nullptr;
    std::function<void(const TruthEvent&)> onWrite_;
};

} // namespace velmar::sim
