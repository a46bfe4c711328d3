// The velmar-sim program: its first output line, the link, faults from the command line and a
// clean exit on SIGTERM.
#include "sim/raw_line.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace velmar::sim::test {
namespace {

std::string ProgramPath() {
    const char* dir = std::getenv("VELMAR_BINARY_DIR");
    const std::string path = std::string(dir ? dir : ".") + "/sim/velmar-sim";
    return access(path.c_str(), X_OK) == 0 ? path : std::string();
}

// A running velmar-sim with its stdout on a pipe.
class SimProcess {
  public:
    explicit SimProcess(std::vector<std::string> args) {
        int out[2];
        if (pipe(out) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        std::string program = ProgramPath();
        std::vector<char*> argv{program.data()};
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        out_ = out[0];
    }
    ~SimProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) close(out_);
    }
    std::string ReadLine() {
        std::string line;
        char ch;
        while (read(out_, &ch, 1) == 1 && ch != '\n') line.push_back(ch);
        return line;
    }
    // Exit status after `signal` (0 to just wait).
    int Finish(int signal) {
        if (signal) kill(pid_, signal);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

  private:
    pid_t pid_ = -1;
    int out_ = -1;
};

class SimProgram : public ::testing::Test {
  protected:
    void SetUp() override {
        if (ProgramPath().empty()) GTEST_SKIP() << "velmar-sim not built";
    }
};

TEST_F(SimProgram, ServesThroughItsLinkUntilTerminated) {
    const std::string link = testing::TempDir() + "velmar_sim_link_" + std::to_string(getpid());
    symlink("/nonexistent", link.c_str()); // a stale link from an earlier run is replaced
    SimProcess sim({"--address", "3,17", "--link", link, "--fault", "wrong-echo", "--fault",
                    "no-checksum", "--fault", "cut-rate=0", "--fault", "seed=9"});
    const std::string first = sim.ReadLine();
    ASSERT_EQ(first.rfind("PTY /dev/", 0), 0u) << first;
    EXPECT_EQ(sim.ReadLine(), "LINK " + link);

    RawLine line(link);
    ASSERT_TRUE(line.Ok());
    for (int a : {3, 17}) {
        const Bytes r = Poll(line, static_cast<uint8_t>(a));
        ASSERT_EQ(r.size(), 4u);
        EXPECT_EQ(r[0], a);
        EXPECT_NE(r[1], 0x21); // the fault from the command line
    }
    const Bytes m = ReadMem(line, 3, 0x3101, 4);
    ASSERT_EQ(m.size(), 5u);
    EXPECT_EQ(m[4], static_cast<uint8_t>(m[0] + m[1] + m[2] + m[3])) << "a sum, not the checksum";
    EXPECT_EQ(sim.Finish(SIGTERM), 0);
    struct stat st {};
    EXPECT_NE(lstat(link.c_str(), &st), 0); // the link is gone
}

// --record: what the controller took and applied, one JSON line each, as it happens; a write
// whose status was lost is there all the same.
TEST_F(SimProgram, RecordsWhatReallyHappened) {
    const std::string record = testing::TempDir() + "velmar_sim_record_" + std::to_string(getpid());
    SimProcess sim({"--record", record, "--fault", "write-status-loss=1"});
    const std::string first = sim.ReadLine();
    ASSERT_EQ(first.rfind("PTY /dev/", 0), 0u) << first;
    RawLine line(first.substr(4));
    ASSERT_TRUE(line.Ok());
    EXPECT_EQ(WriteMem(line, 1, 0x0010, {0xAB, 0xCD}), -1) << "the status is lost";
    EXPECT_EQ(sim.Finish(SIGTERM), 0);
    std::ifstream in(record);
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    ASSERT_EQ(lines.size(), 3u); // the request, the write applied, the reply lost
    EXPECT_NE(lines[0].find("\"kind\":\"frame\""), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("\"kind\":\"write\""), std::string::npos) << lines[1];
    EXPECT_NE(lines[1].find("\"address\":16"), std::string::npos) << lines[1];
    EXPECT_NE(lines[1].find("\"after\":\"abcd\""), std::string::npos) << lines[1];
    EXPECT_NE(lines[2].find("\"sent\":false"), std::string::npos) << lines[2];
    std::remove(record.c_str());
}

TEST_F(SimProgram, RefusesBadArguments) {
    EXPECT_EQ(SimProcess({"--address", "240"}).Finish(0), 2);
    EXPECT_EQ(SimProcess({"--fault", "sometimes"}).Finish(0), 2);
    EXPECT_EQ(SimProcess({"--fault", "flip-rate=1.5"}).Finish(0), 2);
    EXPECT_EQ(SimProcess({"--fault", "loss-rate=often"}).Finish(0), 2);
    EXPECT_EQ(SimProcess({"--fault", "jitter=-1"}).Finish(0), 2);
    EXPECT_EQ(SimProcess({"--record", "/nonexistent/record.jsonl"}).Finish(0), 1);
    EXPECT_EQ(SimProcess({"--image", "/nonexistent/image.bin"}).Finish(0), 1);
}

} // namespace
} // namespace velmar::sim::test
