// One line of a multi-line run: its own velmar-cli process, started with the line's port, and
// what the run reads from it (its --json output on stdout, its progress and messages on stderr).
#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

namespace velmar::cli::fleet {

using Clock = std::chrono::steady_clock;

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
    std::string finished; // when its process ended, local time as in the manifests
    int exitCode = -1;
};

// This program's own path, to start the line processes with.
std::string SelfPath();
// Starts the line's process with `argv`, its stdout and stderr on pipes the run reads without
// waiting; false when it could not be started (errno says why).
bool Spawn(Line& line, const std::vector<std::string>& argv);
// Reads what a line process wrote; false at the end of that pipe.
bool Drain(int fd, std::string& into);
// Takes the finished stderr lines: progress lines become the status, others messages.
void TakeErrLines(Line& line);

} // namespace velmar::cli::fleet
