// Finding the controllers of a line, run as a script would run velmar-cli: controllers that take
// anything up to the address poll's wait to answer, garbled poll replies, the reserve address in
// a backup's range, a controller gone since the last backup, and a line process that dies.
#include "cli_bus_fixture.h"
#include "sim/core/bus_simulator.h"

#include <chrono>
#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <thread>

namespace velmar::test {
namespace {

using nlohmann::json;

constexpr int kFast = 2;     // ms: a controller that answers at once
constexpr int kSlow = 15;    // ms: slower than a quick search poll waits at 38400
constexpr int kLimit = 110;  // ms: near the end of the address poll's 120 ms
constexpr int kSilent = 400; // ms: beyond the address poll's wait: never found

// Two-sided controllers 1 and 17 (second sides 2 and 18) on a line timed at 38400 baud.
class LineSearchTest : public CliBusTest {
  protected:
    LineSearchTest() : CliBusTest(Options()) {}
    static sim::Options Options() {
        sim::Options o = Controllers({1, 17});
        o.emulateBaud = 38400;
        o.checkBaud = false;
        return o;
    }
    void SetTurnaround(int number, int ms) {
        auto lock = sim.Lock();
        sim.Find(number)->turnaroundMs = ms;
    }
    CliOutcome Run38400(std::vector<std::string> args) {
        args.insert(args.begin(), {"-b", "38400"});
        return Run(args);
    }
    std::vector<int> Found(std::vector<std::string> options, const std::string& first,
                           const std::string& last) {
        options.insert(options.end(), {"--json", "scan", first, last});
        const auto r = Run38400(options);
        return Parse(r.out).value("found", std::vector<int>{});
    }
};

TEST_F(LineSearchTest, ScanFindsEveryControllerThatAnswersWithinThePollWait) {
    struct Case {
        int turnaround1, turnaround17;
        std::vector<int> found;
    };
    const std::vector<Case> cases = {
        {kFast, kSlow, {1, 2, 17, 18}},  {kSlow, kFast, {1, 2, 17, 18}},
        {kSlow, kLimit, {1, 2, 17, 18}}, {kLimit, kLimit, {1, 2, 17, 18}},
        {kFast, kSilent, {1, 2}},
    };
    for (const Case& c : cases) {
        SetTurnaround(1, c.turnaround1);
        SetTurnaround(17, c.turnaround17);
        for (const bool thorough : {false, true}) {
            const auto opts =
                thorough ? std::vector<std::string>{"--thorough"} : std::vector<std::string>{};
            // Replies later than the poll's wait would reach the next run's polls.
            if (c.turnaround17 == kSilent)
                std::this_thread::sleep_for(std::chrono::milliseconds(2 * kSilent));
            EXPECT_EQ(Found(opts, "1", "20"), c.found)
                << c.turnaround1 << "/" << c.turnaround17 << (thorough ? " thorough" : "");
        }
    }
}

TEST_F(LineSearchTest, GarbledPollRepliesArePolledAgain) {
    for (const bool thorough : {false, true}) {
        {
            auto lock = sim.Lock();
            sim.GetFaults().corruptReplies = 2; // two garbled replies in a row
        }
        const auto opts =
            thorough ? std::vector<std::string>{"--thorough"} : std::vector<std::string>{};
        EXPECT_EQ(Found(opts, "1", "1"), std::vector<int>{1}) << thorough;
    }
    // Never readable: the scan does not pass it off as an empty number.
    {
        auto lock = sim.Lock();
        sim.GetFaults().wrongPollEcho = true;
    }
    const auto r = Run38400({"scan", "1", "1"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "Трк №1 не найдено: ответ искажен.\n");
    EXPECT_NE(r.err.find("Искажен ответ номеров: 1"), std::string::npos) << r.err;
}

TEST_F(LineSearchTest, BackupFindsTheSlowControllerAndMissesNoneLater) {
    SetTurnaround(17, kSlow);
    auto r = Run38400({"--json", "backup", "st", "1", "20"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::vector<int> saved;
    const json first = Parse(r.out);
    for (const json& c : first.at("controllers")) saved.push_back(c.at("number"));
    EXPECT_EQ(saved, (std::vector<int>{1, 17})) << r.out;

    // The next backup polls both with the full wait; gone silent, 17 is reported, not left out.
    SetTurnaround(17, kSlow);
    r = Run38400({"backup", "st", "1", "20"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    SetTurnaround(17, kSilent);
    r = Run38400({"--json", "backup", "st", "1", "20"});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find("Трк №17: не сохранен: нет ответа"), std::string::npos) << r.err;
    const json last = Parse(r.out);
    bool reported = false;
    for (const json& c : last.at("controllers"))
        if (c.at("number") == 17) reported = c.at("status") == "failed";
    EXPECT_TRUE(reported) << last.dump();
}

// At 4800 baud the poll frame and its reply take some 17 ms of the line: a controller that
// answers late within the address poll's wait is heard only by a poll that waits for the line
// time on top of the wait.
constexpr uint32_t kSlowLineBaud = 4800; // the speed Run talks at
constexpr int kLateAtSlowLine = 112;     // ms: within the poll's 120 ms, not within 120 - 17

class SlowLineSearchTest : public CliBusTest {
  protected:
    SlowLineSearchTest() : CliBusTest(Options()) {}
    static sim::Options Options() {
        sim::Options o = Controllers({1, 5});
        o.emulateBaud = kSlowLineBaud;
        return o;
    }
};

TEST_F(SlowLineSearchTest, ALateControllerIsFoundAtTheSlowestSpeed) {
    {
        auto lock = sim.Lock();
        sim.Find(5)->turnaroundMs = kLateAtSlowLine;
    }
    for (const bool thorough : {true, false}) {
        std::vector<std::string> args = {"--json"}; // Run talks at 4800
        if (thorough) args.emplace_back("--thorough");
        args.insert(args.end(), {"scan", "1", "8"});
        const auto r = Run(args);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(Parse(r.out).value("found", std::vector<int>{}), (std::vector<int>{1, 2, 5, 6}))
            << r.out << (thorough ? " thorough" : "");
    }
}

using ReserveBackupTest = CliBusTest;

TEST_F(ReserveBackupTest, BackupRangeLeavesTheReserveAddressOut) {
    // The one-sided controller 5 answers 240 as well: polled there, it would be saved again.
    sim::BusSimulator one(Controllers({5}, 1));
    ASSERT_EQ(one.Start(), 0);
    auto r = Run(one.SlavePath(), {"backup", "st", "238", "242"});
    EXPECT_EQ(r.exitCode, 1) << r.out;
    EXPECT_NE(r.err.find("Ни один контроллер не ответил"), std::string::npos) << r.err;
    r = Run(one.SlavePath(), {"--reserve", "--json", "backup", "st", "238", "242"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Parse(r.out).at("controllers").size(), 1u);
    one.Stop();
}

using FleetSignalTest = CliBusTest;

TEST_F(FleetSignalTest, ALineKilledBySignalIsAFailedLine) {
    std::ofstream(Path("ports")) << sim.SlavePath() << '\n';
    const pid_t parent = ::fork();
    if (parent == 0) {
        if (::chdir(workDir.c_str()) != 0) _exit(126);
        const int out = ::open("stdout", O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open("stderr", O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::execl(binary.c_str(), binary.c_str(), "-b", "4800", "--ports-file", "ports", "--json",
                "--thorough", "scan", "1", "255", static_cast<char*>(nullptr));
        _exit(127);
    }
    // The line process, once it runs, is killed from outside.
    pid_t line = 0;
    const std::string children =
        "/proc/" + std::to_string(parent) + "/task/" + std::to_string(parent) + "/children";
    for (int i = 0; i < 500 && line == 0; ++i) {
        std::ifstream(children) >> line;
        if (line == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_GT(line, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ::kill(line, SIGKILL);
    int status = 0;
    ::waitpid(parent, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_NE(WEXITSTATUS(status), 0);
    const json summary = Parse(SlurpFile(Path("stdout")));
    EXPECT_EQ(summary.at("complete"), false);
    EXPECT_EQ(summary.at("lines")[0].at("status"), "failed");
    EXPECT_NE(SlurpFile(Path("stderr")).find("сигналом 9"), std::string::npos);
}

} // namespace
} // namespace velmar::test
