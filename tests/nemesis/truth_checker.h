// Holds one command's truth record (what the simulated controllers really took, carried out and
// applied) against what the operation may do. Each rule broken adds a finding in words; a run
// is sound when none was added.
#pragma once

#include "sim/core/truth_record.h"

#include <cstdint>
#include <string>
#include <vector>

namespace velmar::test {

// Memory a command may write: [first, end) of one space.
struct MemorySpan {
    int space = 0;
    uint32_t first = 0;
    uint32_t end = 0;
};

class TruthChecker {
  public:
    explicit TruthChecker(std::vector<sim::TruthEvent> events) : events_(std::move(events)) {}

    // `action` carried out on `unit` at most `most` times (the sequence sends it that often).
    void ActionsAtMost(sim::TruthAction action, int unit, int most);
    // No controller but `unit` written, and it only inside `allowed`.
    void WritesOnly(int unit, const std::vector<MemorySpan>& allowed);
    // A register or side-state chunk applied again with no read-back of it in between.
    void ChunksOnce();

    // A failure worded as a write error while the controller carried out every write it took
    // for the command: an applied write reported as refused.
    void NoAppliedWriteCalledRefused(int unit, const std::string& message);

    int Actions(sim::TruthAction action, int unit) const;
    // Restarts carried out whose status never left the controller.
    int RestartsWithStatusLost(int unit) const;
    int Writes(int unit) const; // applied writes of stored memory (spaces 0 and 4)
    const std::vector<sim::TruthEvent>& Events() const { return events_; }
    const std::vector<std::string>& Findings() const { return findings_; }
    void Add(std::string finding) { findings_.push_back(std::move(finding)); }

  private:
    std::vector<sim::TruthEvent> events_;
    std::vector<std::string> findings_;
};

// The records of space 0 whose values the controller itself changes: channel registers and
// side states. A chunk written there twice may overwrite what was counted in between.
bool CountingRecord(int space, uint32_t address);

} // namespace velmar::test
