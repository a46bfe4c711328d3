// The simulated line served over TCP, as a serial device server serves its RS-485 port: one
// client at a time on 127.0.0.1, bytes passed unchanged between the connection and the bus's
// pseudo-terminal. Lets the tools' network ports be tested end to end.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace velmar::sim {

class TcpBridge {
  public:
    TcpBridge() = default;
    ~TcpBridge();
    TcpBridge(const TcpBridge&) = delete;
    TcpBridge& operator=(const TcpBridge&) = delete;

    // Opens `ptyPath` (the bus's slave side) and listens on 127.0.0.1:`port` (0: any free port).
    // 0 or an errno value.
    int Start(const std::string& ptyPath, uint16_t port);
    void Stop();
    uint16_t Port() const { return port_; }

    // Closes the client's connection once this many more bytes came from it (a gateway that
    // drops the connection in the middle of an exchange); -1: never.
    void DropAfterBytes(long count);
    // Connections accepted so far.
    int Connections() const { return connections_; }

  private:
    void Run();

    int listenFd_ = -1;
    int ptyFd_ = -1;
    int wakeFd_[2] = {-1, -1};
    uint16_t port_ = 0;
    std::thread thread_;
    std::atomic<bool> running_{false};
    std::atomic<long> dropAfter_{-1};
    std::atomic<int> connections_{0};
};

} // namespace velmar::sim
