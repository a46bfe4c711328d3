// One seeded run: a station of two controllers on the nemesis line of one row, a seeded
// sequence of the engineer's commands (velmar-cli) and the window's write sequences over it,
// each held against the simulator's truth record by the checker.
#pragma once

#include "nemesis/nemesis_line.h"
#include "nemesis/truth_checker.h"

#include <memory>
#include <string>
#include <vector>

namespace velmar::test {

struct RunTally {
    int counted = 0;                   // commands that count towards the row's share
    int succeeded = 0;                 // ... of which succeeded
    std::vector<std::string> findings; // broken invariants, each with its step
    std::vector<std::string> failures; // counted commands that failed, with their message
};

class NemesisRun {
  public:
    NemesisRun(const NemesisRow& row, uint32_t seed, std::string binary, std::string workDir);
    ~NemesisRun();
    // Runs `steps` commands; what broke is in the tally.
    RunTally Execute(int steps);
    const std::string& Plan() const;

  private:
    struct Station;
    struct Command {
        Step step;
        std::vector<std::string> args;
    };
    void StepOnce(Step step, RunTally& tally);
    int TargetNumber();
    std::vector<uint8_t> TargetImage();
    LineFaults Draw();
    void Apply(const LineFaults& f);
    struct Outcome {
        int exitCode = -1;
        std::string out, err;
        int retries = 0;
        std::vector<sim::TruthEvent> truth;
        std::vector<std::string> journalFindings;
    };
    Outcome Cli(const std::vector<std::string>& args);
    void CheckStep(Step step, const Outcome& r, const std::vector<std::string>& args,
                   RunTally& tally);
    std::string PortName() const;

    const NemesisRow& row_;
    uint32_t seed_;
    NemesisRng rng_;
    std::string binary_, workDir_;
    std::unique_ptr<Station> station_;
    bool haveBackup_ = false;
    bool haveSave_ = false;
    int lastRestarts_ = 0;
};

const char* StepName(Step step);

} // namespace velmar::test
