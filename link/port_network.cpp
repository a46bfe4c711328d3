// The network ports (serial device servers): connecting and connecting again, taking off what a
// gateway held from before the connection, and reading, waiting and writing over the connection.
#include "link/exchange_log.h"
#include "link/port_layer_internal.h"
#include "link/rfc2217_link.h"
#include "link/tcp_link.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>
#include <vector>

namespace velmar::port_layer {

// The port layer's result for a failure of a network link.
int NetworkFailure(int err) {
    switch (err) {
    case kTcpBadName:
        return kPortBadNetworkName;
    case kTcpHostNotFound:
        return kPortHostNotFound;
    case kRfc2217Refused:
        return kPortGatewayRefused;
    case kRfc2217NoAnswer:
        return kPortGatewayNoAnswer;
    case kRfc2217LineRefused:
        return kPortGatewayLineRefused;
    default:
        return SystemFailure(err);
    }
}

// The data a network port has received: the bytes themselves from a raw gateway, what is left
// of them once the Telnet commands are taken out from an rfc2217: one.
int ReadNetwork(PortEntry& e, uint8_t* dst, size_t max, size_t& got) {
    if (KindOf(e) == PortKind::Rfc2217Gateway) return ReadRfc2217(e.tcp, e.rfc, dst, max, got);
    return ReadTcpLink(e.tcp, dst, max, got);
}

void WaitNetwork(PortEntry& e, int timeoutMs) {
    if (KindOf(e) == PortKind::Rfc2217Gateway && !e.rfc.pending.empty()) return;
    WaitTcpLink(e.tcp, timeoutMs);
}

// Bytes the gateway still held from before the connection (the tail of a reply to the previous
// session, line noise it buffered) arrive right after connecting: they are taken off once,
// before the first frame, so no reply is mistaken for them. Waits until the connection has been
// quiet for a moment, bounded in case the gateway keeps talking.
constexpr auto kConnectQuiet = std::chrono::milliseconds(20);
constexpr auto kConnectPurgeLimit = std::chrono::milliseconds(300);

void PurgeAfterConnect(PortEntry& e, PortSlot slot) {
    e.rx.Reset();
    std::vector<uint8_t> dropped;
    uint8_t buf[ByteRing::kSize];
    const auto start = std::chrono::steady_clock::now();
    auto quietSince = start;
    for (;;) {
        const auto now = std::chrono::steady_clock::now();
        if (now - quietSince >= kConnectQuiet || now - start >= kConnectPurgeLimit) break;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(kConnectQuiet -
                                                                                (now - quietSince));
        WaitNetwork(e, static_cast<int>(std::max<long long>(1, left.count())));
        size_t got = 0;
        if (ReadNetwork(e, buf, sizeof buf, got) != 0) break;
        if (got > 0) {
            dropped.insert(dropped.end(), buf, buf + got);
            quietSince = std::chrono::steady_clock::now();
        }
    }
    if (!dropped.empty() && PortLogged(slot))
        LogExchange(LogEvent::Purge, slot, dropped.data(), dropped.size());
}

// A gateway that refused or reset the connection is often back within a second or two (it was
// restarted, or the previous client was still being let go): connecting again waits between a
// few attempts before the exchange is given up. Once such a series failed, later exchanges try
// once each until a connection is made again, so a dead gateway does not cost every exchange
// the whole series.
constexpr int kReconnectPauseMs[] = {0, 250, 500, 1000, 1500};

// Connects and, for an rfc2217: gateway, begins the conversation and sets the line again: a
// gateway takes every new connection at its own configured speed.
int ConnectNetwork(PortEntry& e) {
    int err = OpenTcpLink(e.name, e.tcp);
    if (err != 0 || KindOf(e) != PortKind::Rfc2217Gateway) return err;
    err = StartRfc2217(e.tcp, e.rfc);
    if (err == 0 && e.baud != 0)
        err = ConfigureRfc2217(e.tcp, e.rfc, e.baud, e.dataBits, e.parity, e.stopBits);
    if (err != 0) CloseTcpLink(e.tcp);
    return err;
}

namespace {

int ConnectTcp(PortEntry& e, PortSlot slot, bool patient) {
    int err = 0;
    for (const int pause : kReconnectPauseMs) {
        if (pause > 0) std::this_thread::sleep_for(std::chrono::milliseconds(pause));
        err = ConnectNetwork(e);
        if (err == 0) {
            e.reconnectFailed = false;
            ++e.reconnects;
            PurgeAfterConnect(e, slot);
            return 0;
        }
        if (!patient || err < 0) break; // a bad name, or a gateway that will not set the line
    }
    e.reconnectFailed = true;
    // A gateway that connects but will not set the line is named as one that does not answer
    // or breaks off.
    e.tcp.lostError = err > 0                                                ? err
                      : err == kRfc2217NoAnswer                              ? ETIMEDOUT
                      : err == kRfc2217Refused || err == kRfc2217LineRefused ? ECONNABORTED
                                                                             : ECONNREFUSED;
    return err;
}

} // namespace

// A network port whose connection dropped connects again before it sends, so one lost
// connection costs at most the exchange under way when it went.
void WriteTcp(PortEntry& e, PortSlot slot, const uint8_t* bytes, size_t count, bool logFailure) {
    if (TcpLinkDropped(e.tcp)) ReportLoss(e, slot, e.tcp.lostError);
    if (e.tcp.fd < 0) {
        if (ConnectTcp(e, slot, !e.reconnectFailed) != 0) return;
        e.lossLogged = false;
    }
    const int err = KindOf(e) == PortKind::Rfc2217Gateway ? WriteRfc2217(e.tcp, e.rfc, bytes, count)
                                                          : WriteTcpLink(e.tcp, bytes, count);
    if (err != 0 && e.tcp.fd < 0) {
        ReportLoss(e, slot, err);
    } else if (err != 0 && logFailure && PortLogged(slot)) {
        LogWriteFailure(slot, err);
    }
}

} // namespace velmar::port_layer
