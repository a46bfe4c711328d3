#include "cli/line_fleet.h"

#include "base/atomic_file.h"
#include "cli/backup_changes.h"
#include "cli/backup_manifest.h"
#include "cli/cli_command.h"
#include "cli/json_output.h"
#include "cli/terminal_progress.h"
#include "data/sha256.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <iostream>
#include <iterator>
#include <poll.h>
#include <set>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace velmar::cli {

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kFleetName = "fleet.json";
constexpr int kRedrawMs = 200;
constexpr size_t kStatusWidth = 150; // bytes of a line's status on the terminal
constexpr size_t kFolderHashDigits = 8;
// The signals that stop a multi-line run: passed on to every line process, which the run then
// waits for before it ends the same way.
constexpr int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP};

volatile std::sig_atomic_t gStopSignal = 0;

void NoteStopSignal(int signal) {
    gStopSignal = signal;
}

// Catches the stop signals while it lives (without restarting calls, so that the wait for the
// lines' output ends at once) and puts the earlier handling back.
class StopSignals {
  public:
    StopSignals() {
        gStopSignal = 0;
        struct sigaction action {};
        action.sa_handler = NoteStopSignal;
        sigemptyset(&action.sa_mask);
        for (size_t i = 0; i < std::size(kStopSignals); ++i) {
            ::sigaction(kStopSignals[i], nullptr, &before_[i]);
            // A signal ignored on purpose (nohup) stays ignored.
            if (before_[i].sa_handler != SIG_IGN) ::sigaction(kStopSignals[i], &action, nullptr);
        }
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;
    ~StopSignals() {
        for (size_t i = 0; i < std::size(kStopSignals); ++i)
            ::sigaction(kStopSignals[i], &before_[i], nullptr);
    }

  private:
    struct sigaction before_[std::size(kStopSignals)]{};
};

struct Line {
    std::string port;
    std::string folder; // inside the backup directory (backup, verify)
    pid_t pid = -1;
    int outFd = -1;
    int errFd = -1;
    std::string out;
    std::string errTail; // an unfinished stderr line
    std::vector<std::string> messages;
    std::string status; // the latest progress or message, for the terminal
    Clock::time_point start;
    double seconds = 0;
    int exitCode = -1;
};

std::string SelfPath() {
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return "velmar-cli";
    path[n] = '\0';
    return path;
}

std::string Trim(const std::string& s) {
    const size_t first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

bool Spawn(Line& line, const std::vector<std::string>& argv) {
    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return false;
    if (::pipe2(err, O_CLOEXEC) != 0) {
        ::close(out[0]);
        ::close(out[1]);
        return false;
    }
    std::vector<char*> raw;
    for (const auto& a : argv) raw.push_back(const_cast<char*>(a.c_str()));
    raw.push_back(nullptr);
    const pid_t parent = ::getpid();
    line.pid = ::fork();
    if (line.pid == 0) {
        // A line process ends with the run that started it, however that ends: a line left
        // running would keep its port or gateway busy for the next run.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) _exit(kExitNoAnswer);
        // The run's own handlers are reset by exec; its blocked signals would not be.
        std::signal(SIGTERM, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        ::execv(raw[0], raw.data());
        _exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    if (line.pid < 0) {
        ::close(out[0]);
        ::close(err[0]);
        return false;
    }
    // The parent reads whatever each line has written without waiting on any one of them.
    for (const int fd : {out[0], err[0]}) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    line.outFd = out[0];
    line.errFd = err[0];
    line.start = Clock::now();
    return true;
}

// Reads what a line process wrote; false at the end of that pipe.
bool Drain(int fd, std::string& into) {
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) {
            into.append(buf, static_cast<size_t>(n));
            if (static_cast<size_t>(n) < sizeof buf) return true;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        return n < 0 && errno == EAGAIN;
    }
}

void TakeErrLines(Line& line) {
    size_t end = 0;
    while ((end = line.errTail.find('\n')) != std::string::npos) {
        std::string text = line.errTail.substr(0, end);
        line.errTail.erase(0, end + 1);
        const std::string prefix = TerminalProgress::kLinePrefix;
        if (text.rfind(prefix, 0) == 0) {
            line.status = text.substr(prefix.size());
        } else if (!text.empty()) {
            line.status = text;
            line.messages.push_back(std::move(text));
        }
    }
}

// What the line's own --json output says, in one phrase, plus the figures for fleet.json.
std::string Summarise(const std::string& command, const Json& result, Json& item) {
    if (command == "backup" && result.contains("controllers")) {
        int saved = 0;
        int failed = 0;
        for (const auto& c : result.at("controllers"))
            (c.value("status", "") == "saved" ? saved : failed) += 1;
        item["saved"] = saved;
        item["failed"] = failed;
        item["folder"] = item.value("folder", "") + "/" + result.value("folder", "");
        return "сохранено контроллеров: " + std::to_string(saved) +
               ", не сохранено: " + std::to_string(failed);
    }
    if (command == "scan" && result.contains("found")) {
        item["found"] = result.at("found");
        std::string text = "найдено: " + std::to_string(result.at("found").size());
        if (result.contains("unreached")) {
            item["unreached"] = result.at("unreached");
            text += ", не опрошено: " + std::to_string(result.at("unreached").size());
        }
        return text;
    }
    if (command == "verify" && result.contains("controllers")) {
        int same = 0;
        int other = 0;
        for (const auto& c : result.at("controllers"))
            (c.value("status", "") == "same" ? same : other) += 1;
        item["same"] = same;
        item["different"] = other;
        return "совпадают с копией: " + std::to_string(same) +
               ", отличаются или не считаны: " + std::to_string(other);
    }
    return {};
}

class ProgressBlock {
  public:
    explicit ProgressBlock(bool shown) : shown_(shown) {}
    void Clear() {
        if (!shown_ || drawn_ == 0) return;
        std::fprintf(stderr, "\033[%dA\r\033[J", drawn_);
        drawn_ = 0;
    }
    void Draw(const std::vector<Line*>& active) {
        if (!shown_) return;
        Clear();
        for (const Line* line : active) {
            std::string text = line->port + ": " + (line->status.empty() ? "..." : line->status);
            if (text.size() > kStatusWidth) {
                // Cut before a whole character: Russian texts take two bytes a letter.
                size_t cut = kStatusWidth;
                while (cut > 0 && (static_cast<uint8_t>(text[cut]) & 0xC0) == 0x80) --cut;
                text.resize(cut);
            }
            std::fprintf(stderr, "\r\033[K%s\n", text.c_str());
        }
        drawn_ = static_cast<int>(active.size());
        std::fflush(stderr);
    }

  private:
    bool shown_;
    int drawn_ = 0;
};

// How many of the changes the line's new copies show a journal explains.
void AddChangeCounts(const std::string& lineDir, const Fleet& fleet, Json& item) {
    std::vector<JournalEntry> entries;
    std::string error;
    if (!LoadJournals(fleet.journals, entries, error)) return;
    const ChangesReport report = FindBackupChanges(lineDir, {{}, true}, entries);
    item["changes"] = {{"recorded", report.recorded},
                       {"unrecorded", report.unrecorded},
                       {"operating", report.operating}};
}

} // namespace

bool ReadPortsFile(const std::string& path, std::vector<std::string>& ports, std::string& error) {
    std::vector<uint8_t> bytes;
    if (ReadWholeFile(path, bytes, 1 << 20) != kFileOk) {
        error = "Не удалось прочитать список портов " + path;
        return false;
    }
    const std::string text(bytes.begin(), bytes.end());
    size_t count = 0;
    size_t at = 0;
    while (at <= text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        if (const size_t hash = line.find('#'); hash != std::string::npos) line.resize(hash);
        line = Trim(line);
        if (!line.empty()) {
            ports.push_back(line);
            ++count;
        }
        at = end + 1;
    }
    if (count == 0) {
        error = "В списке портов " + path + " нет ни одного порта";
        return false;
    }
    return true;
}

std::string SafeFolderName(const std::string& port) {
    std::string name;
    for (const char c : port) {
        const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
        name += keep ? c : '_';
    }
    const size_t first = name.find_first_not_of("_.");
    name = first == std::string::npos ? std::string() : name.substr(first);
    return name.empty() ? "port" : name;
}

std::string LineFolderName(const std::string& port) {
    const std::string hash = Sha256Hex(reinterpret_cast<const uint8_t*>(port.data()), port.size());
    return SafeFolderName(port) + "-" + hash.substr(0, kFolderHashDigits);
}

namespace {

// The folder `verify` checks a line against: its own, or where earlier versions filed its
// backups (the safe name, "-2", "-3"... by the order of the port list) when that folder's latest
// backup was made on this line.
std::string FolderToVerify(const std::string& top, const std::string& port, size_t lineCount) {
    const std::string own = LineFolderName(port);
    struct stat st {};
    if (::stat((top + "/" + own).c_str(), &st) == 0) return own;
    for (size_t n = 1; n <= lineCount; ++n) {
        const std::string old = SafeFolderName(port) + (n == 1 ? "" : "-" + std::to_string(n));
        BackupManifest manifest;
        std::string error;
        if (ReadManifest(top + "/" + old + "/latest", manifest, error) &&
            SameLine(manifest.port, port))
            return old;
    }
    return own;
}

} // namespace

int RunFleet(const Fleet& fleet, bool json, const std::string& command,
             const std::vector<std::string>& args) {
    if (command != "scan" && command != "backup" && command != "verify")
        return Fail(kExitUsage, "Несколько линий сразу: только scan, backup и verify");
    const bool withDir = command != "scan";
    if (withDir && (args.empty() || args[0].empty()))
        return Fail(kExitUsage, "Команде " + command + " нужен каталог");
    const std::string top = withDir ? args[0] : std::string();
    if (command == "backup" && ::mkdir(top.c_str(), 0777) != 0 && errno != EEXIST)
        return Fail(kExitFile, "Каталог " + top + " не создан: " + std::strerror(errno));

    std::vector<Line> lines;
    std::set<std::string> seenPorts;
    for (const std::string& port : fleet.ports) {
        if (!seenPorts.insert(port).second) {
            std::cerr << "Порт " << port << " указан дважды: опрашивается один раз\n";
            continue;
        }
        Line line;
        line.port = port;
        lines.push_back(std::move(line));
    }
    for (Line& line : lines) {
        if (command == "backup") line.folder = LineFolderName(line.port);
        if (command == "verify") line.folder = FolderToVerify(top, line.port, lines.size());
    }

    const std::string self = SelfPath();
    const auto fleetStart = Clock::now();
    const std::string created = LocalTime("%Y-%m-%dT%H:%M:%S%z");
    ProgressBlock block(!json && ::isatty(STDERR_FILENO) == 1);
    size_t next = 0;
    std::vector<Line*> running;
    auto finish = [&](Line& line) {
        int status = 0;
        pid_t waited = -1;
        while ((waited = ::waitpid(line.pid, &status, 0)) < 0 && errno == EINTR) {
        }
        line.seconds = std::chrono::duration<double>(Clock::now() - line.start).count();
        line.errTail += '\n';
        TakeErrLines(line);
        // Only a line process that exited with 0 succeeded: one killed by a signal (or lost to
        // the wait) failed, whatever it wrote before.
        line.exitCode =
            waited == line.pid && WIFEXITED(status) ? WEXITSTATUS(status) : kExitNoAnswer;
        if (waited != line.pid)
            line.messages.push_back(std::string("завершение процесса линии неизвестно: ") +
                                    std::strerror(errno));
        else if (WIFSIGNALED(status))
            line.messages.push_back("процесс линии прерван сигналом " +
                                    std::to_string(WTERMSIG(status)));
    };
    const StopSignals stopSignals;
    int forwarded = 0; // the stop signal passed on to the lines
    while (next < lines.size() || !running.empty()) {
        if (gStopSignal != 0 && forwarded == 0) {
            forwarded = gStopSignal;
            for (const Line* line : running) ::kill(line->pid, forwarded);
            for (; next < lines.size(); ++next) {
                lines[next].exitCode = kExitNoAnswer;
                lines[next].messages.push_back("не запущен: работа прервана сигналом " +
                                               std::to_string(forwarded));
            }
        }
        while (static_cast<int>(running.size()) < fleet.jobs && next < lines.size()) {
            Line& line = lines[next++];
            std::vector<std::string> argv{self};
            argv.insert(argv.end(), fleet.passOn.begin(), fleet.passOn.end());
            argv.insert(argv.end(), {"--port", line.port, "--json", "--line-progress", command});
            for (size_t i = 0; i < args.size(); ++i)
                argv.push_back(i == 0 && withDir ? top + "/" + line.folder : args[i]);
            if (!Spawn(line, argv)) {
                line.exitCode = kExitNoAnswer;
                line.messages.push_back(std::string("процесс линии не запущен: ") +
                                        std::strerror(errno));
                continue;
            }
            running.push_back(&line);
        }
        std::vector<pollfd> fds;
        for (const Line* line : running) {
            if (line->outFd >= 0) fds.push_back({line->outFd, POLLIN, 0});
            if (line->errFd >= 0) fds.push_back({line->errFd, POLLIN, 0});
        }
        if (!fds.empty()) ::poll(fds.data(), fds.size(), kRedrawMs);
        for (auto it = running.begin(); it != running.end();) {
            Line& line = **it;
            if (line.outFd >= 0 && !Drain(line.outFd, line.out)) {
                ::close(line.outFd);
                line.outFd = -1;
            }
            if (line.errFd >= 0 && !Drain(line.errFd, line.errTail)) {
                ::close(line.errFd);
                line.errFd = -1;
            }
            TakeErrLines(line);
            if (line.outFd >= 0 || line.errFd >= 0) {
                ++it;
                continue;
            }
            finish(line);
            it = running.erase(it);
            block.Clear();
            for (const std::string& m : line.messages) std::cerr << line.port << ": " << m << '\n';
        }
        block.Draw(running);
    }
    block.Clear();

    Json list = Json::array();
    int exitCode = kExitOk;
    for (Line& line : lines) {
        Json item = {{"port", line.port}};
        if (withDir) item["folder"] = line.folder;
        item["status"] = line.exitCode == kExitOk ? "ok" : "failed";
        item["exitCode"] = line.exitCode;
        const Json result = Json::parse(line.out, nullptr, false);
        const std::string summary =
            result.is_discarded() ? std::string() : Summarise(command, result, item);
        item["seconds"] = static_cast<double>(static_cast<long>(line.seconds * 10)) / 10;
        if (line.exitCode != kExitOk && !line.messages.empty())
            item["message"] = line.messages.back();
        if (command != "backup" && !result.is_discarded()) item["result"] = result;
        if (command == "backup" && withDir) AddChangeCounts(top + "/" + line.folder, fleet, item);
        if (!json) {
            std::cout << line.port << ": "
                      << (summary.empty() ? (line.exitCode == kExitOk ? "готово" : "ошибка")
                                          : summary);
            if (line.exitCode != kExitOk && !line.messages.empty())
                std::cout << " (" << line.messages.back() << ")";
            std::cout << ", " << item["seconds"].get<double>() << " с" << std::endl;
        }
        list.push_back(std::move(item));
        if (line.exitCode == kExitOk) continue;
        if (line.exitCode == kExitFile || exitCode == kExitOk) exitCode = line.exitCode;
        if (exitCode != kExitFile && line.exitCode == kExitUsage) exitCode = kExitUsage;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - fleetStart).count();
    Json doc = {{"command", command},
                {"created", created},
                {"jobs", fleet.jobs},
                {"seconds", static_cast<double>(static_cast<long>(seconds * 10)) / 10},
                {"complete", exitCode == kExitOk},
                {"lines", std::move(list)}};
    if (command == "backup") {
        const std::string text = doc.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
        std::string why;
        if (WriteFileAtomically(top + "/" + kFleetName,
                                reinterpret_cast<const uint8_t*>(text.data()), text.size(),
                                &why) != 0) {
            Fail(kExitFile, "Сводка " + top + "/" + kFleetName + " не записана: " + why);
            exitCode = kExitFile;
        }
    }
    if (json) PrintJson(doc);
    int ok = 0;
    for (const Line& line : lines) ok += line.exitCode == kExitOk ? 1 : 0;
    if (!json) std::cout << "Линий без ошибок: " << ok << " из " << lines.size() << std::endl;
    if (forwarded != 0) {
        // Ended as the signal would have ended it, now that every line has ended.
        std::cout.flush();
        std::signal(forwarded, SIG_DFL);
        ::raise(forwarded);
    }
    return exitCode;
}

} // namespace velmar::cli
