// A real serial device server for tests: Debian's ser2net, started by the test on 127.0.0.1 in
// front of a serial device (the simulator's pseudo-terminal), in telnet(rfc2217) mode or raw.
// ser2net opens the device at its own configured speed on every new connection, as a gateway in
// the field does. It can be stopped and started again on the same port (a gateway restarted).
#pragma once

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace velmar::test {

class Ser2NetGateway {
  public:
    enum class Mode { Rfc2217, Raw };

    ~Ser2NetGateway() { Stop(); }

    // The installed program, or empty.
    static std::string Program() {
        for (const char* path : {"/usr/sbin/ser2net", "/usr/bin/ser2net"})
            if (::access(path, X_OK) == 0) return path;
        return {};
    }

    // Serves `device`, opened at `baud` 8N1, on 127.0.0.1 (a free port the first time, the same
    // port when started again), its messages appended to `logPath`. False when it does not
    // listen within a few seconds.
    bool Start(const std::string& device, uint32_t baud, Mode mode, const std::string& logPath) {
        if (port_ == 0) port_ = FreePort();
        const std::string accepter = std::string(mode == Mode::Rfc2217 ? "telnet(rfc2217)," : "") +
                                     "tcp,127.0.0.1," + std::to_string(port_);
        // '#' stands for a line end in ser2net's -Y strings.
        const std::string yaml = "connection: &line#  accepter: " + accepter +
                                 "#  connector: serialdev," + device + "," + std::to_string(baud) +
                                 "n81,local" + "#  options:#    kickolduser: true";
        pidFile_ = "/tmp/velmar-ser2net-" + std::to_string(port_) + ".pid";
        const std::string program = Program();
        pid_ = ::fork();
        if (pid_ == 0) {
            const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
            ::dup2(log, 1);
            ::dup2(log, 2);
            ::execl(program.c_str(), program.c_str(), "-n", "-u", "-P", pidFile_.c_str(), "-Y",
                    yaml.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < deadline) {
            if (Listening()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    void Stop() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        ::unlink(pidFile_.c_str());
    }

    uint16_t Port() const { return port_; }

  private:
    static uint16_t FreePort() {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        ::close(fd);
        return ntohs(a.sin_port);
    }

    // Whether the port is being listened on, without connecting (a connection would make
    // ser2net open the device).
    bool Listening() const {
        char wanted[16];
        std::snprintf(wanted, sizeof wanted, ":%04X ", port_);
        const std::string table = ReadAll("/proc/net/tcp");
        for (size_t at = table.find(wanted); at != std::string::npos;
             at = table.find(wanted, at + 1)) {
            // local address, remote address, then the state: 0A is LISTEN.
            const size_t state = table.find(' ', table.find(' ', at + 1) + 1);
            if (state != std::string::npos && table.compare(state + 1, 2, "0A") == 0) return true;
        }
        return false;
    }

    static std::string ReadAll(const char* path) {
        std::string out;
        const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0) return out;
        char buf[4096];
        for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) out.append(buf, size_t(n));
        ::close(fd);
        return out;
    }

    pid_t pid_ = -1;
    uint16_t port_ = 0;
    std::string pidFile_;
};

} // namespace velmar::test
