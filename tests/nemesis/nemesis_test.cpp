// The nemesis suite: every row of the line that tries to break the tool (nemesis_line.cpp) runs
// seeded stations through seeded sequences of velmar-cli commands and the window's write
// sequences. Every command is held against the simulator's truth record (truth_checker.h), and
// each row must see at least its stated share of commands succeed: a tool that only fails
// loudly does not pass.
//
// VELMAR_NEMESIS_RUNS=N runs N seeds per row (default 1), VELMAR_NEMESIS_SEED=S starts at S,
// VELMAR_NEMESIS_STEPS=N commands per run (default 5), VELMAR_NEMESIS_AWAITING=1 runs the rows
// that await a fix elsewhere, VELMAR_NEMESIS_LOG=1 keeps each
// command's exchange log (port.out) in the run's folder. A failure prints its seed and the
// command line that replays it.
#include "nemesis/nemesis_run.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

namespace velmar::test {
namespace {

int EnvInt(const char* name, int fallback) {
    const char* v = std::getenv(name);
    return v != nullptr && *v != '\0' ? std::atoi(v) : fallback;
}

const AwaitingFix* Awaiting(const char* row) {
    for (const AwaitingFix& a : NemesisAwaitingFix())
        if (std::string(a.row) == row) return &a;
    return nullptr;
}

class Nemesis : public ::testing::TestWithParam<size_t> {};

TEST_P(Nemesis, TruthKeptAndTheStatedShareSucceeds) {
    const NemesisRow& row = NemesisRows()[GetParam()];
    if (const AwaitingFix* a = Awaiting(row.name);
        a != nullptr && EnvInt("VELMAR_NEMESIS_AWAITING", 0) == 0)
        GTEST_SKIP() << "awaits " << a->fix << " (VELMAR_NEMESIS_AWAITING=1 runs it)";
    const char* dir = std::getenv("VELMAR_BINARY_DIR");
    if (dir == nullptr) GTEST_SKIP() << "VELMAR_BINARY_DIR is not set (run through ctest)";
    const std::string binary = std::string(dir) + "/cli/velmar-cli";
    const int runs = EnvInt("VELMAR_NEMESIS_RUNS", 1);
    const int first = EnvInt("VELMAR_NEMESIS_SEED", 1);
    const int steps = std::max(1, EnvInt("VELMAR_NEMESIS_STEPS", 5) * row.stepsPercent / 100);
    const std::string filter =
        std::string("Rows/Nemesis.TruthKeptAndTheStatedShareSucceeds/") + row.name;
    const auto start = std::chrono::steady_clock::now();
    int counted = 0, succeeded = 0, sound = 0;
    for (int i = 0; i < runs; ++i) {
        const auto seed = static_cast<uint32_t>(first + i);
        char tmpl[] = "/tmp/velmar-nemesis-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        const std::string work = tmpl;
        NemesisRun run(row, seed, binary, work);
        const RunTally t = run.Execute(steps);
        counted += t.counted;
        succeeded += t.succeeded;
        const std::string replay = "VELMAR_NEMESIS_SEED=" + std::to_string(seed) +
                                   " VELMAR_NEMESIS_RUNS=1 VELMAR_BINARY_DIR=" + dir + " " +
                                   ::testing::internal::GetArgvs()[0] + " --gtest_filter=" + filter;
        for (const std::string& f : t.failures)
            std::printf("row %s, seed %u: %s\n", row.name, seed, f.c_str());
        if (t.findings.empty()) {
            ++sound;
            std::system(("rm -rf '" + work + "'").c_str());
            continue;
        }
        for (const std::string& f : t.findings)
            ADD_FAILURE() << "row " << row.name << ", seed " << seed << ", " << run.Plan() << ": "
                          << f;
        std::printf("row %s failed at seed %u, files in %s; replay:\n  %s\n", row.name, seed,
                    work.c_str(), replay.c_str());
    }
    const double took =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("row %s: %d run(s) from seed %d, %d sound, %d of %d counted commands succeeded "
                "(%d %% required) in %.1f s\n",
                row.name, runs, first, sound, succeeded, counted, row.requiredPercent, took);
    EXPECT_GE(succeeded * 100, row.requiredPercent * counted)
        << "row " << row.name << ": " << succeeded << " of " << counted << " commands succeeded, "
        << row.requiredPercent << " % required (seeds " << first << ".." << first + runs - 1 << ")";
}

INSTANTIATE_TEST_SUITE_P(Rows, Nemesis, ::testing::Range<size_t>(0, NemesisRows().size()),
                         [](const ::testing::TestParamInfo<size_t>& row) {
                             return std::string(NemesisRows()[row.param].name);
                         });

} // namespace
} // namespace velmar::test
