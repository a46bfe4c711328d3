// Backups of many lines at once. Starts N simulated serial device servers (velmar-sim --tcp,
// line time of 38400 baud, two controllers each) for N = 1, 8, 16 and 32, backs all of them up with
// one velmar-cli run (--ports-file, --jobs 16) and prints its wall time against one line's, and
// the peak memory of velmar-cli with its line processes (summed resident sizes). Then it prints
// the time of `scan 1 255` on a simulated line of three controllers at 38400 and 4800 baud, and
// whether every controller was found; and the same scan at 38400 with controllers that answer
// after 2, 15 and 110 ms, quick against --thorough.
//
// Usage: fleet_backup [JOBS|scan]   (16 jobs by default; "scan": the scan figures only). Uses
// velmar-sim and velmar-cli of its build tree.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::string BuildDir() {
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return ".";
    std::string exe(path, static_cast<size_t>(n));
    exe = exe.substr(0, exe.rfind('/')); // bench/
    return exe.substr(0, exe.rfind('/'));
}

struct Sim {
    pid_t pid = -1;
    std::string pty;
    std::string tcp;
};

// Starts velmar-sim and reads the lines naming its pseudo-terminal and TCP port. `turnaroundMs`
// is every controller's reply delay.
Sim StartSim(const std::string& binary, uint32_t baud, const std::string& addresses, bool tcp,
             int turnaroundMs = 0) {
    int out[2];
    if (::pipe(out) != 0) return {};
    Sim sim;
    std::fflush(stdout);
    std::vector<std::string> args{binary,
                                  "--address",
                                  addresses,
                                  "--baud",
                                  std::to_string(baud),
                                  "--no-baud-check",
                                  "--turnaround",
                                  std::to_string(turnaroundMs)};
    if (tcp) args.insert(args.end(), {"--tcp", "0"});
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    sim.pid = ::fork();
    if (sim.pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::close(out[0]);
        ::execv(binary.c_str(), argv.data());
        _exit(127);
    }
    ::close(out[1]);
    std::FILE* in = ::fdopen(out[0], "r");
    char line[256];
    while ((sim.pty.empty() || (tcp && sim.tcp.empty())) && std::fgets(line, sizeof line, in)) {
        std::string text(line);
        if (!text.empty() && text.back() == '\n') text.pop_back();
        if (text.rfind("PTY ", 0) == 0) sim.pty = text.substr(4);
        if (text.rfind("TCP ", 0) == 0) sim.tcp = "tcp:" + text.substr(4);
    }
    // The simulator goes on writing a line per controller; let the pipe take it.
    std::thread([in] {
        char rest[256];
        while (std::fgets(rest, sizeof rest, in)) {
        }
        std::fclose(in);
    }).detach();
    return sim;
}

void StopSim(Sim& sim) {
    if (sim.pid > 0) {
        ::kill(sim.pid, SIGTERM);
        ::waitpid(sim.pid, nullptr, 0);
    }
    sim.pid = -1;
}

long RssKb(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            long kb = 0;
            status >> kb;
            return kb;
        }
        status.ignore(4096, '\n');
    }
    return 0;
}

// Resident memory of `pid` and all its descendants, in kB.
long TreeRssKb(pid_t pid) {
    long total = RssKb(pid);
    std::ifstream children("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) +
                           "/children");
    pid_t child = 0;
    while (children >> child) total += TreeRssKb(child);
    return total;
}

struct RunResult {
    int exitCode = -1;
    double seconds = 0;
    long peakKb = 0;
    std::string out;
};

// Runs velmar-cli with `args`, sampling the memory of its process tree every 10 ms.
RunResult RunCli(const std::string& binary, const std::vector<std::string>& args,
                 const std::string& workDir) {
    RunResult r;
    const std::string outPath = workDir + "/cli.out";
    const auto start = Clock::now();
    std::fflush(stdout);
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::chdir(workDir.c_str()) != 0) _exit(126);
        std::FILE* out = std::freopen(outPath.c_str(), "w", stdout);
        std::FILE* err = std::freopen("/dev/null", "w", stderr);
        (void)out;
        (void)err;
        std::vector<char*> argv{const_cast<char*>(binary.c_str())};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(binary.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        r.peakKb = std::max(r.peakKb, TreeRssKb(pid));
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream in(outPath);
    std::stringstream s;
    s << in.rdbuf();
    r.out = s.str();
    return r;
}

} // namespace

constexpr const char* kAllSix = "\"found\": [\n    1,\n    2,\n    3,\n    4,\n    5,\n    6\n  ]";

// `scan 1 255` at 38400 baud, quick and --thorough, with every controller answering after
// `turnaroundMs`; false when a controller was missed or the quick scan took too long.
bool ScanAgainstThorough(const std::string& simBinary, const std::string& cli,
                         const std::string& work, int turnaroundMs) {
    Sim sim = StartSim(simBinary, 38400, "1,3,5", false, turnaroundMs);
    double seconds[2] = {};
    bool all[2] = {};
    for (const int thorough : {0, 1}) {
        std::vector<std::string> args{"-q", "-b", "38400", "-p", sim.pty, "--json"};
        if (thorough == 1) args.push_back("--thorough");
        args.insert(args.end(), {"scan", "1", "255"});
        const RunResult scan = RunCli(cli, args, work);
        seconds[thorough] = scan.seconds;
        all[thorough] = scan.exitCode == 0 && scan.out.find(kAllSix) != std::string::npos;
    }
    StopSim(sim);
    const double ratio = seconds[0] / seconds[1];
    std::printf("%10d %10.2f %8s %10.2f %8s %8.2f\n", turnaroundMs, seconds[0],
                all[0] ? "all" : "MISSED", seconds[1], all[1] ? "all" : "MISSED", ratio);
    std::fflush(stdout);
    return all[0] && all[1];
}

int main(int argc, char** argv) {
    // "scan": only the scan figures.
    const bool scanOnly = argc > 1 && std::string(argv[1]) == "scan";
    const int jobs = argc > 1 && !scanOnly ? std::atoi(argv[1]) : 16;
    const std::string build = BuildDir();
    const std::string simBinary = build + "/sim/velmar-sim";
    const std::string cli = build + "/cli/velmar-cli";
    char tmpl[] = "/tmp/velmar-fleet-XXXXXX";
    if (::mkdtemp(tmpl) == nullptr) return 1;
    const std::string work = tmpl;
    int status = 0;

    if (!scanOnly) {
        std::printf("Fleet backup: simulated serial device servers, 38400 baud, two controllers "
                    "each, --jobs %d\n",
                    jobs);
        std::printf("%6s %10s %10s %8s %10s %6s\n", "lines", "fleet s", "one s", "ratio", "peak MB",
                    "exit");
        double oneLine = 0;
        for (const int n : {1, 8, 16, 32}) {
            std::vector<Sim> sims;
            std::ofstream ports(work + "/ports");
            for (int i = 0; i < n; ++i) {
                sims.push_back(StartSim(simBinary, 38400, "1,3", true));
                ports << sims.back().tcp << '\n';
            }
            ports.close();
            if (oneLine == 0) {
                const RunResult one =
                    RunCli(cli, {"-q", "-b", "38400", "-p", sims[0].tcp, "backup", "one"}, work);
                oneLine = one.seconds;
                if (one.exitCode != 0) status = 1;
            }
            const RunResult fleet =
                RunCli(cli,
                       {"-q", "-b", "38400", "--jobs", std::to_string(jobs), "--ports-file",
                        "ports", "--json", "backup", "fleet" + std::to_string(n)},
                       work);
            if (fleet.exitCode != 0) {
                status = 1;
                std::istringstream lines(fleet.out);
                for (std::string line; std::getline(lines, line);)
                    if (line.find("\"message\"") != std::string::npos)
                        std::printf("  failed line:%s\n", line.c_str());
            }
            std::printf("%6d %10.2f %10.2f %8.2f %10.1f %6d\n", n, fleet.seconds, oneLine,
                        fleet.seconds / oneLine, static_cast<double>(fleet.peakKb) / 1024,
                        fleet.exitCode);
            std::fflush(stdout);
            for (Sim& s : sims) StopSim(s);
        }
    }
    std::printf("\nscan 1 255, three two-sided controllers (numbers 1..6) on a pseudo-terminal\n");
    std::printf("%8s %10s %8s %6s\n", "baud", "seconds", "found", "exit");
    for (const uint32_t baud : {38400u, 4800u}) {
        Sim sim = StartSim(simBinary, baud, "1,3,5", false);
        const RunResult scan = RunCli(
            cli, {"-q", "-b", std::to_string(baud), "-p", sim.pty, "--json", "scan", "1", "255"},
            work);
        const bool all = scan.out.find(kAllSix) != std::string::npos;
        std::printf("%8u %10.2f %8s %6d\n", baud, scan.seconds, all ? "all" : "MISSED",
                    scan.exitCode);
        if (!all || scan.exitCode != 0) status = 1;
        StopSim(sim);
    }

    std::printf("\nscan 1 255 at 38400, controllers 1..6 answering after a turnaround: quick "
                "against --thorough\n");
    std::printf("%10s %10s %8s %10s %8s %8s\n", "turn ms", "quick s", "found", "thorough s",
                "found", "ratio");
    for (const int turnaround : {2, 15, 110})
        if (!ScanAgainstThorough(simBinary, cli, work, turnaround)) status = 1;
    std::system(("rm -rf '" + work + "'").c_str());
    return status;
}
