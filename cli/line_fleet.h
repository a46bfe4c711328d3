// Many lines at once: `scan`, `backup` and `verify` over several ports (--port repeated, or
// --ports-file). Each line runs in its own velmar-cli process, up to --jobs at a time.
//
// Processes rather than threads: the port layer is a process-wide table meant for one caller
// thread (slots are taken without locks, the transactions accept slot numbers up to 4 only, and
// the retry counters, reply-check state and exchange log are per process). A process per line
// keeps every line's state its own, and a line that hangs or crashes cannot stop another: the
// parent only watches pipes and exit codes.
#pragma once

#include <string>
#include <vector>

namespace velmar::cli {

inline constexpr int kMaxJobs = 64;
inline constexpr int kDefaultJobs = 16;

struct Fleet {
    std::vector<std::string> ports;
    bool fromFile = false;
    int jobs = kDefaultJobs;
    std::vector<std::string> passOn; // options handed to every line process
    // The journals of changes a backup's new copies are checked against (fleet.json counts).
    std::vector<std::string> journals;
};

// Appends the ports of FILE (one per line, '#' starts a comment, blank lines skipped); false with
// `error` set when it cannot be read or names no port.
bool ReadPortsFile(const std::string& path, std::vector<std::string>& ports, std::string& error);

// A port name as a folder name: letters, digits, '.', '-' and '_' kept, anything else '_'.
std::string SafeFolderName(const std::string& port);
// The folder of a line's backups in a multi-line backup directory: the safe name and a short
// hash of the exact port name, so that it depends on that line alone ("/tmp/x/l:1" and
// "/tmp/x/l_1" share a safe name but not a folder), whatever the order of the port list.
std::string LineFolderName(const std::string& port);

// Runs `command` on every line of `fleet`; the exit code is 0 only when every line's was.
int RunFleet(const Fleet& fleet, bool json, const std::string& command,
             const std::vector<std::string>& args);

} // namespace velmar::cli
