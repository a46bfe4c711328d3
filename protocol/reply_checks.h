// What one line has learnt from its replies: per controller whether the trailing reply byte is
// the checksum (see read_retry.h for how it is learnt and used), and for the line itself how late
// replies come, whether they keep the line time, and whether a reply given up on may still come.
// Kept in the line's context and used by the thread that runs the line's exchanges.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

namespace velmar {

enum class Trailer { Unknown, Checksum, NotChecksum };

class ReplyChecks {
  public:
    Trailer TrailerOf(int ctrl) const;
    // True when the trailing byte is now known to be the checksum.
    bool NotePassed(int ctrl, const uint8_t* reply, size_t size);
    // True the first time for this controller.
    bool NoteNotChecksum(int ctrl);
    // The numbers (low byte) of the controllers whose replies are confirmed by rereading.
    std::vector<int> ConfirmedByRereading() const;

    int LatencyUs() const { return latencyUs_; }
    void NoteLatency(int microseconds);
    void NotePace(bool keptLineTime);
    bool KeepsLineTime() const { return pace_ == kPaceKept; }
    void NoteOwed(int64_t sentAtUs) { owedSinceUs_ = sentAtUs; }
    int64_t OwedSinceUs() const { return owedSinceUs_; }

  private:
    struct Controller {
        Trailer trailer = Trailer::Unknown;
        std::vector<std::vector<uint8_t>> passes; // distinct passing replies, while Unknown
    };
    // Nothing known yet; replies keep the line time; a reply came sooner (sticky).
    static constexpr int kPaceUnknown = 0, kPaceKept = 1, kPaceFaster = 2;

    std::map<int, Controller> controllers_; // by the number's low byte
    int latencyUs_ = 0;
    int pace_ = kPaceUnknown;
    int64_t owedSinceUs_ = 0;
};

} // namespace velmar
