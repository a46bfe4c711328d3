// A serial line reached through the network: a TCP connection to a serial device server (or
// ser2net). "tcp:HOST:PORT" passes the bytes to and from its RS-485 port unchanged;
// "rfc2217:HOST:PORT" carries them in a Telnet conversation that also sets the line
// (rfc2217_link.h). An IPv6 host is written in brackets: "tcp:[::1]:4001". Results are 0 or an
// errno value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace velmar {

struct TcpLink {
    int fd = -1;
    int lostError = 0; // errno of the loss; 0 while connected (or never connected)
};

inline constexpr const char* kTcpPortPrefix = "tcp:";
inline constexpr const char* kRfc2217PortPrefix = "rfc2217:";

bool IsTcpPortName(const char* name);
bool IsRfc2217PortName(const char* name);
// Either kind of network port name.
bool IsNetworkPortName(const char* name);
// Host and port of "tcp:HOST:PORT" or "rfc2217:HOST:PORT"; false for anything else (no host,
// an IPv6 host without its brackets, port not 1..65535).
bool ParseNetworkPortName(const char* name, std::string& host, std::string& port);

// Results besides errno values.
inline constexpr int kTcpBadName = -1;
inline constexpr int kTcpHostNotFound = -2;

// Connects, waiting at most a few seconds; 0, kTcpBadName, kTcpHostNotFound or an errno value.
int OpenTcpLink(const char* name, TcpLink& link); // either kind of name
void CloseTcpLink(TcpLink& link);
// True when the peer has closed the connection or it failed while idle (checked without
// waiting); the link is then closed and lostError set.
bool TcpLinkDropped(TcpLink& link);
int WriteTcpLink(TcpLink& link, const uint8_t* bytes, size_t count);
// What has arrived, at most `max` bytes, without waiting. The end of the connection closes the
// link and returns its errno (ECONNRESET for an orderly close).
int ReadTcpLink(TcpLink& link, uint8_t* dst, size_t max, size_t& got);
void WaitTcpLink(TcpLink& link, int timeoutMs);

} // namespace velmar
