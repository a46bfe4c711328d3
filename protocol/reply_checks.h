// What one line has learnt from its replies: per controller whether the trailing reply byte is
// the checksum (see read_retry.h for how it is learnt and used), and for the line itself how late
// replies come, whether they keep the line time, and whether a reply given up on may still come.
//
// The exchange thread notes and reads all of it while the window thread may forget it (a port was
// opened or closed): the controllers' states are guarded, the line's figures atomic.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
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

    int LatencyUs() const { return latencyUs_.load(); }
    void NoteLatency(int microseconds);
    void NotePace(bool keptLineTime);
    bool KeepsLineTime() const { return pace_.load() == kPaceKept; }
    void NoteOwed(int64_t sentAtUs) { owedSinceUs_.store(sentAtUs); }
    int64_t OwedSinceUs() const { return owedSinceUs_.load(); }

    void Forget();

  private:
    struct Controller {
        Trailer trailer = Trailer::Unknown;
        std::vector<std::vector<uint8_t>> passes; // distinct passing replies, while Unknown
    };
    // Nothing known yet; replies keep the line time; a reply came sooner (sticky).
    static constexpr int kPaceUnknown = 0, kPaceKept = 1, kPaceFaster = 2;

    mutable std::mutex mutex_;
    std::map<int, Controller> controllers_; // by the number's low byte; guarded by mutex_
    std::atomic<int> latencyUs_{0};
    std::atomic<int> pace_{kPaceUnknown};
    std::atomic<int64_t> owedSinceUs_{0};
};

} // namespace velmar
