// What one line has learnt from its replies: per controller whether the trailing reply byte is
// the checksum (see read_retry.h for how it is learnt and used), and for the line itself how late
// replies come and whether they keep the line time.
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
    // A reply that was its request's own: whether it took at least the line time. The line is
    // known to keep its time after kRepliesToKnowPace such replies in a row; one sooner before
    // that starts the count again, and none changes it once known (a reply sooner than the
    // line allows is more likely owed to another request than proof of a faster line).
    void NoteTiming(bool keptLineTime);

  private:
    struct Controller {
        Trailer trailer = Trailer::Unknown;
        std::vector<std::vector<uint8_t>> passes; // distinct passing replies, while Unknown
    };
    // Nothing known yet; replies keep the line time; a reply came sooner (sticky).
    static constexpr int kPaceUnknown = 0, kPaceKept = 1, kPaceFaster = 2;
    static constexpr int kRepliesToKnowPace = 3;

    std::map<int, Controller> controllers_; // by the number's low byte
    int latencyUs_ = 0;
    int pace_ = kPaceUnknown;
    int keptInARow_ = 0;
};

} // namespace velmar
