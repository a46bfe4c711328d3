// A serial line reached through a serial device server that lets its client set the line
// (RFC 2217): "rfc2217:HOST:PORT" (an IPv6 host in brackets). The connection is a TcpLink; this
// is the Telnet conversation on it. Results are 0, an errno value or one of the results below.
#pragma once

#include "link/tcp_link.h"
#include "link/telnet_com_port.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace velmar {

inline constexpr int kRfc2217Refused = -3;     // the gateway will not let us set the line
inline constexpr int kRfc2217NoAnswer = -4;    // nothing came back within the wait
inline constexpr int kRfc2217LineRefused = -5; // it answered with another speed or format
// The longest wait for the gateway to take up COM-PORT-OPTION on a new connection. A gateway
// still letting its previous client go may accept the next one seconds later (pyserial's client
// waits 3 s); a raw gateway never answers and is named after this wait.
inline constexpr int kRfc2217ConnectMs = 5000;
// The longest wait for the answers to the line settings, once the gateway took the option.
inline constexpr int kRfc2217AnswerMs = 2000;

// The conversation on one connection; StartRfc2217 begins it afresh on each new connection.
struct Rfc2217Link {
    TelnetComPort telnet;
    std::vector<uint8_t> pending; // data that came while an answer was awaited
};

// Begins the conversation on the connected `tcp` and waits (kRfc2217ConnectMs) until the gateway
// takes COM-PORT-OPTION; then asks for no flow control and DTR and RTS low, without waiting for
// them.
int StartRfc2217(TcpLink& tcp, Rfc2217Link& link);
// Sets speed and format and waits (kRfc2217AnswerMs) until the gateway reports them in effect.
int ConfigureRfc2217(TcpLink& tcp, Rfc2217Link& link, uint32_t baud, uint8_t dataBits, char parity,
                     uint8_t stopBits);
int WriteRfc2217(TcpLink& tcp, Rfc2217Link& link, const uint8_t* bytes, size_t count);
// The data that has arrived, at most `max` bytes, without waiting; as ReadTcpLink.
int ReadRfc2217(TcpLink& tcp, Rfc2217Link& link, uint8_t* dst, size_t max, size_t& got);
// Asks the gateway to drop what it received from the line and has not passed on yet.
void PurgeRfc2217(TcpLink& tcp, Rfc2217Link& link);

} // namespace velmar
