// Starting a line's process and reading what it writes.
#include "cli/fleet_line_process.h"

#include "cli/cli_command.h"
#include "cli/terminal_progress.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace velmar::cli::fleet {

std::string SelfPath() {
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return "velmar-cli";
    path[n] = '\0';
    return path;
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

} // namespace velmar::cli::fleet
