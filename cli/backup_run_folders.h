// The run folders of a backup directory. A run writes into NAME.partial while it is in progress
// and renames it to NAME (its date and time) once its manifest is written, so a folder named like
// a complete run always is one. A lock on the directory orders the runs that share it; a lock on
// a run's folder tells a run in progress from one that was killed, whose folder the next run
// renames to NAME.interrupted (or removes when it holds nothing). Each run is given the next
// number of the directory's sequence as it starts (kept in its folder, NAME/.sequence, and in its
// manifest); DIR/latest names the complete run of the highest number and never moves back,
// whatever the clock said when each was made (a run made while the clock was ahead does not keep
// it for good).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velmar::cli {

inline constexpr const char* kLatestName = "latest";
inline constexpr const char* kPartialSuffix = ".partial";
inline constexpr const char* kInterruptedSuffix = ".interrupted";
inline constexpr const char* kSequenceName = ".sequence";

// An exclusive lock (flock) on a directory, held while the object lives.
class DirLock {
  public:
    DirLock() = default;
    // Waits for the lock unless `wait` is false; Held() tells whether it was got.
    explicit DirLock(const std::string& dir, bool wait = true);
    DirLock(DirLock&& other) noexcept;
    DirLock& operator=(DirLock&& other) noexcept;
    DirLock(const DirLock&) = delete;
    DirLock& operator=(const DirLock&) = delete;
    ~DirLock();
    bool Held() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

struct RunFolder {
    std::string name;     // the complete run's name, DATE-TIME[-N]
    int64_t sequence = 0; // its number in the directory's sequence, from 1
    std::string path;     // where it is written meanwhile: DIR/NAME.partial
    DirLock lock;         // held until the run ends
};

// Creates DIR when missing, deals with the folders of killed runs (one message each in
// `notes`) and starts a new run named by the local time. False with `error` set.
bool StartRun(const std::string& dir, RunFolder& run, std::vector<std::string>& notes,
              std::string& error);
// Renames the run's folder to its complete name. False with `error` set.
bool FinishRun(const std::string& dir, const RunFolder& run, std::string& error);
// Points DIR/latest at the complete run `name` of number `sequence` unless it already names one
// of a higher number (a folder that is no run of this tool: of a later name). False with `error`
// set.
bool AdvanceLatest(const std::string& dir, const std::string& name, int64_t sequence,
                   std::string& error);
// Whether run name `a` is later in time than `b`; names not of the DATE-TIME[-N] form count as
// earlier than any that is.
bool RunNameLater(const std::string& a, const std::string& b);

} // namespace velmar::cli
