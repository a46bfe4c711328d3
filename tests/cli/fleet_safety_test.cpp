// Backups of many lines that cannot be mixed up, run as the nightly service runs velmar-cli:
// each line's folder and backups belong to that line whatever the order of the port list, a
// backup of one line is never checked against or written into another, a run that is killed
// leaves its lines ended and its folder marked, `latest` never goes back in time, and --json
// always prints one document.
#include "cli_bus_fixture.h"
#include "sim/core/bus_simulator.h"

#include <chrono>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <nlohmann/json.hpp>
#include <pty.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <thread>

namespace velmar::test {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr auto kLinesStartWithin = std::chrono::seconds(10);
constexpr auto kLinesEndWithin = std::chrono::seconds(3);

// A line whose port opens but where nothing ever answers: its line process runs on until it is
// stopped.
struct SilentLine {
    SilentLine() {
        char name[256] = {};
        EXPECT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
        path = name;
    }
    ~SilentLine() {
        ::close(slave);
        ::close(master);
    }
    int master = -1;
    int slave = -1;
    std::string path;
};

// The processes whose parent is `parent`, found in /proc.
std::vector<pid_t> ChildrenOf(pid_t parent) {
    std::vector<pid_t> children;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) return children;
    while (const dirent* entry = ::readdir(proc)) {
        const std::string stat = SlurpFile(std::string("/proc/") + entry->d_name + "/stat");
        const size_t paren = stat.rfind(')');
        if (paren == std::string::npos) continue;
        char state = 0;
        int ppid = 0;
        if (std::sscanf(stat.c_str() + paren + 1, " %c %d", &state, &ppid) == 2 && ppid == parent &&
            state != 'Z')
            children.push_back(std::stoi(entry->d_name));
    }
    ::closedir(proc);
    return children;
}

// Whether `pid` still runs (a zombie left to an init that does not reap counts as ended).
bool Running(pid_t pid) {
    const std::string stat = SlurpFile("/proc/" + std::to_string(pid) + "/stat");
    const size_t paren = stat.rfind(')');
    return paren != std::string::npos && stat.size() > paren + 2 && stat[paren + 2] != 'Z';
}

bool EndsWithin(const std::vector<pid_t>& pids, Clock::duration limit) {
    const auto until = Clock::now() + limit;
    for (;;) {
        if (std::none_of(pids.begin(), pids.end(), Running)) return true;
        if (Clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

class FleetSafetyTest : public CliBusTest {
  protected:
    FleetSafetyTest() : CliBusTest(Controllers({1}, 1)) {}

    // Starts velmar-cli without waiting for it; its output goes to files in the work folder.
    pid_t Start(const std::vector<std::string>& args) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (::chdir(workDir.c_str()) != 0) _exit(126);
            const int out = ::open("stdout", O_WRONLY | O_CREAT | O_TRUNC, 0600);
            const int err = ::open("stderr", O_WRONLY | O_CREAT | O_TRUNC, 0600);
            ::dup2(out, 1);
            ::dup2(err, 2);
            for (const int signal : {SIGTERM, SIGINT, SIGHUP}) std::signal(signal, SIG_DFL);
            std::vector<char*> argv{const_cast<char*>(binary.c_str())};
            for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            ::execv(binary.c_str(), argv.data());
            _exit(127);
        }
        return pid;
    }
    // The line processes of run `parent`, once `count` of them run.
    std::vector<pid_t> LineProcesses(pid_t parent, size_t count) {
        const auto until = Clock::now() + kLinesStartWithin;
        std::vector<pid_t> lines;
        while ((lines = ChildrenOf(parent)).size() < count && Clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return lines;
    }
    CliOutcome Fleet(const std::vector<std::string>& ports, std::vector<std::string> args) {
        // Every poll waits its full time: two lines at once on a busy machine answer late.
        std::vector<std::string> all{"-b", "4800", "--json", "--thorough"};
        for (const std::string& port : ports) all.insert(all.end(), {"--port", port});
        all.insert(all.end(), args.begin(), args.end());
        return RunCliProgram(binary, workDir, all);
    }
    void SetManifestPort(const std::string& dir, const std::string& port) {
        json manifest = Parse(SlurpFile(dir + "/manifest.json"));
        manifest["port"] = port;
        std::ofstream(dir + "/manifest.json") << manifest.dump(2);
    }
};

TEST_F(FleetSafetyTest, EachLineKeepsItsOwnFolderWhateverTheOrderOfThePortList) {
    sim::BusSimulator other(Controllers({1}, 1));
    ASSERT_EQ(other.Start(), 0);
    // Two ports with one safe name: the order of the list must not decide whose folder is whose.
    const std::string a = Path("l:1");
    const std::string b = Path("l_1");
    fs::create_symlink(sim.SlavePath(), a);
    fs::create_symlink(other.SlavePath(), b);
    {
        auto lock = other.Lock();
        other.Find(1)->Space(0)[0x1000 + 4] ^= 0x01; // the two controllers differ
    }
    std::map<std::string, std::string> folderOf;
    for (const auto& order : {std::vector{a, b}, std::vector{b, a}}) {
        const auto r = Fleet(order, {"backup", "fleet", "1", "1"});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const json lines = Parse(r.out).at("lines");
        ASSERT_EQ(lines.size(), 2u) << r.out;
        for (const json& line : lines) {
            const std::string port = line.value("port", "");
            // The line's folder, then the run's own.
            const std::string folder = fs::path(line.value("folder", "")).parent_path().string();
            EXPECT_EQ(folderOf.emplace(port, folder).first->second, folder) << port;
            const json manifest =
                Parse(SlurpFile(Path("fleet/" + folder + "/latest/manifest.json")));
            EXPECT_EQ(manifest.at("port"), port);
        }
    }
    ASSERT_EQ(folderOf.size(), 2u);
    EXPECT_NE(folderOf[a], folderOf[b]);

    // A folder of the earlier naming (the safe name alone) is still found for its own line.
    const std::string earlier = "tmp_" + fs::path(workDir).filename().string() + "_l_1";
    fs::rename(Path("fleet/" + folderOf[b]), Path("fleet/" + earlier));
    const auto r = Fleet({b, a}, {"verify", "fleet"});
    EXPECT_EQ(r.exitCode, 0) << r.err << r.out;
    const json doc = Parse(r.out);
    for (const json& line : doc.at("lines")) EXPECT_EQ(line.at("same"), 1) << line.dump();
    other.Stop();
}

TEST_F(FleetSafetyTest, VerifyAndRestoreRefuseABackupMadeOnAnotherLine) {
    auto r = Run({"--json", "backup", "st", "1", "1"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string file = Parse(r.out).at("controllers")[0].at("file");
    SetManifestPort(Path("st/latest"), "/dev/ttyOther");
    const std::vector<std::vector<std::string>> refused = {
        {"--json", "verify", "st"},
        {"--json", "image", "load", "st/latest/" + file},
    };
    for (const auto& args : refused) {
        r = Run(args);
        EXPECT_EQ(r.exitCode, 2) << args[1];
        EXPECT_NE(r.err.find("сделана на линии /dev/ttyOther"), std::string::npos) << r.err;
        EXPECT_FALSE(Parse(r.out).value("error", "").empty()) << r.out;
    }
    // The same port written another way is the same line.
    SetManifestPort(Path("st/latest"), sim.SlavePath().substr(std::string("/dev/").size()));
    r = Run({"verify", "st"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
}

TEST_F(FleetSafetyTest, JsonAlwaysPrintsOneDocumentWithTheError) {
    std::ofstream(Path("plain")) << "x";
    struct Case {
        std::vector<std::string> args;
        int exitCode;
    };
    const std::vector<Case> cases = {
        {{"-p", sim.SlavePath(), "backup", "plain/st"}, 3},
        {{"-p", sim.SlavePath(), "backup"}, 2},
        {{"-p", sim.SlavePath(), "verify", "missing"}, 3},
        {{"-p", "/dev/velmar-none", "backup", "st"}, 1},
        {{"diff", "missing-a.bin", "missing-b.bin"}, 3},
        {{"--port", "/dev/velmar-none", "--port", "plain/none", "verify"}, 2},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args{"-b", "4800", "--json"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const auto r = RunCliProgram(binary, workDir, args);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.args.back() << ": " << r.err;
        const json doc = Parse(r.out);
        EXPECT_FALSE(doc.value("error", "").empty()) << r.out;
        EXPECT_EQ(doc.value("exitCode", -1), c.exitCode) << r.out;
    }
}

TEST_F(FleetSafetyTest, KilledRunsAreNamedAndLatestOnlyMovesForward) {
    fs::create_directories(Path("st/20200101-000000.partial"));
    std::ofstream(Path("st/20200101-000000.partial/trk1_20200101-000000.bin")) << "image";
    fs::create_directories(Path("st/20200101-000001.partial"));
    // A run still in progress holds its folder: it is left alone.
    fs::create_directories(Path("st/20200101-000002.partial"));
    const int held = ::open(Path("st/20200101-000002.partial").c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    // A complete backup from later than now (another run that finished first).
    fs::create_directories(Path("st/29991231-235959"));
    fs::create_symlink("29991231-235959", Path("st/latest"));

    const auto r = Run({"--json", "backup", "st", "1", "1"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    ::close(held);
    EXPECT_NE(r.err.find("20200101-000000.partial оставлена как"), std::string::npos) << r.err;
    EXPECT_TRUE(fs::exists(Path("st/20200101-000000.interrupted/trk1_20200101-000000.bin")));
    EXPECT_FALSE(fs::exists(Path("st/20200101-000001.partial")));
    EXPECT_TRUE(fs::exists(Path("st/20200101-000002.partial")));
    const std::string folder = Parse(r.out).at("folder");
    EXPECT_TRUE(fs::exists(Path("st/" + folder + "/manifest.json")));
    EXPECT_FALSE(fs::exists(Path("st/" + folder + ".partial")));
    EXPECT_EQ(fs::read_symlink(Path("st/latest")), "29991231-235959");
}

TEST_F(FleetSafetyTest, RunInProgressIsMarkedUntilItsManifestIsWritten) {
    {
        auto lock = sim.Lock();
        sim.GetFaults().mutedReadController = 1; // the image read stalls on its retries
        sim.GetFaults().mutedReadAddress = 0x2000;
    }
    const pid_t pid = Start({"-p", sim.SlavePath(), "-b", "4800", "backup", "st", "1", "1"});
    const auto until = Clock::now() + kLinesStartWithin;
    std::vector<std::string> names;
    while (Clock::now() < until) {
        names.clear();
        if (fs::exists(Path("st")))
            for (const auto& entry : fs::directory_iterator(Path("st")))
                names.push_back(entry.path().filename());
        if (!names.empty()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(fs::path(names[0]).extension(), ".partial");
    EXPECT_NE(Run({"verify", "st"}).exitCode, 0); // nothing complete to check
}

// A line process that dies by a signal failed, and the lines end with the run however it ends.
TEST_F(FleetSafetyTest, LineProcessesEndWithTheirRun) {
    struct Case {
        const char* what;
        bool killLine; // else the run itself gets the signal
        int signal;
    };
    const std::vector<Case> cases = {
        {"a line killed", true, SIGKILL},
        {"the run stopped", false, SIGTERM},
        {"the run interrupted", false, SIGINT},
        {"the run killed", false, SIGKILL},
    };
    for (const Case& c : cases) {
        SilentLine first;
        SilentLine second;
        const pid_t run = Start({"-b", "4800", "--json", "--thorough", "--port", first.path,
                                 "--port", second.path, "scan"});
        const std::vector<pid_t> lines = LineProcesses(run, 2);
        ASSERT_EQ(lines.size(), 2u) << c.what;
        if (c.killLine) {
            ::kill(lines[0], c.signal);
            ::kill(lines[1], SIGTERM);
        } else {
            ::kill(run, c.signal);
        }
        int status = 0;
        ::waitpid(run, &status, 0);
        EXPECT_TRUE(EndsWithin(lines, kLinesEndWithin)) << c.what;
        if (c.killLine) {
            ASSERT_TRUE(WIFEXITED(status)) << c.what;
            EXPECT_EQ(WEXITSTATUS(status), 1) << c.what;
            const json doc = Parse(SlurpFile(Path("stdout")));
            EXPECT_EQ(doc.at("complete"), false);
            for (const json& line : doc.at("lines")) {
                EXPECT_EQ(line.at("status"), "failed") << line.dump();
                EXPECT_NE(line.value("message", "").find("прерван сигналом"), std::string::npos)
                    << line.dump();
            }
        } else {
            ASSERT_TRUE(WIFSIGNALED(status)) << c.what;
            EXPECT_EQ(WTERMSIG(status), c.signal) << c.what;
        }
    }
}

} // namespace
} // namespace velmar::test
