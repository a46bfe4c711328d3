// Running scan, backup and verify over several lines at once, each in its own process.
#include "cli/line_fleet.h"

#include "base/atomic_file.h"
#include "cli/cli_command.h"
#include "cli/fleet_line_process.h"
#include "cli/fleet_progress_block.h"
#include "cli/fleet_record.h"
#include "cli/fleet_stop_signals.h"
#include "cli/fleet_summary.h"
#include "cli/json_output.h"
#include "data/backup_manifest.h"
#include "data/sha256.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <iostream>
#include <poll.h>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace velmar::cli {

using namespace fleet;

namespace {

constexpr int kRedrawMs = 200;
constexpr size_t kFolderHashDigits = 8;

std::string Trim(const std::string& s) {
    const size_t first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

} // namespace

bool ReadPortsFile(const std::string& path, std::vector<std::string>& ports, std::string& error) {
    std::vector<uint8_t> bytes;
    if (ReadWholeFile(path, bytes, 1 << 20) != FileReadResult::Read) {
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
        line.finished = LocalTime("%Y-%m-%dT%H:%M:%S%z");
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
        if (!line.finished.empty()) item["finished"] = line.finished;
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
        std::string why;
        if (!WriteFleetRecord(top, doc, why)) {
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