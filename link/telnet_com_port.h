// The Telnet side of a serial device server that lets its client set the line (RFC 2217, Telnet
// COM Port Control): option negotiation, the COM-PORT-OPTION commands and the doubling of the
// byte 0xFF in the data. No sockets here: the state of one connection, what it has to send and
// what it made of the bytes received, so that it can be checked byte by byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace velmar {

namespace telnet {
inline constexpr uint8_t kIac = 255;
inline constexpr uint8_t kDont = 254;
inline constexpr uint8_t kDo = 253;
inline constexpr uint8_t kWont = 252;
inline constexpr uint8_t kWill = 251;
inline constexpr uint8_t kSb = 250;
inline constexpr uint8_t kSe = 240;

inline constexpr uint8_t kBinary = 0;
inline constexpr uint8_t kSuppressGoAhead = 3;
inline constexpr uint8_t kComPortOption = 44;

// COM-PORT-OPTION commands from the client; the server answers with the same number + 100.
inline constexpr uint8_t kSignature = 0;
inline constexpr uint8_t kSetBaudRate = 1;
inline constexpr uint8_t kSetDataSize = 2;
inline constexpr uint8_t kSetParity = 3;
inline constexpr uint8_t kSetStopSize = 4;
inline constexpr uint8_t kSetControl = 5;
inline constexpr uint8_t kPurgeData = 12;
inline constexpr uint8_t kServerOffset = 100;

inline constexpr uint8_t kPurgeServerReceive = 1; // what the line sent and the client has not had
inline constexpr uint8_t kControlNoFlowControl = 1;
inline constexpr uint8_t kControlDtrOff = 9;
inline constexpr uint8_t kControlRtsOff = 12;
} // namespace telnet

// Where the server stands on COM-PORT-OPTION.
enum class ComPortState : uint8_t { Offered, Accepted, Refused };

// One line setting the client asked for and what the server answered.
struct LineSettingAnswer {
    bool awaited = false; // asked, no answer yet
    uint32_t asked = 0;   // the value asked for; 0 asks only for the value in effect
    uint32_t value = 0;   // the value the server reports in effect
};

// The state of one connection; a new connection starts from a fresh one.
struct TelnetComPort {
    ComPortState comPort = ComPortState::Offered;
    bool localOn[256] = {};  // options we perform (WILL given and accepted)
    bool remoteOn[256] = {}; // options the server performs (DO given and accepted)
    bool localAsked[256] = {};
    bool remoteAsked[256] = {};

    // Decoder state, kept between chunks: a command may be cut anywhere.
    enum class Rx : uint8_t { Data, Iac, Option, Sub, SubIac } rx = Rx::Data;
    uint8_t verb = 0;              // WILL/WONT/DO/DONT waiting for its option byte
    std::vector<uint8_t> sub;      // the subnegotiation being received, without IAC SB / IAC SE
    std::vector<uint8_t> replies;  // what the decoder has to send back (negotiation answers)
    LineSettingAnswer settings[5]; // by command: baud rate, data size, parity, stop size (1..4)
};

// What opens the conversation: the client offers COM-PORT-OPTION and binary transmission both
// ways, and suppresses go-ahead.
void StartTelnetComPort(TelnetComPort& state, std::vector<uint8_t>& out);

// Data bytes as they go on the wire: each 0xFF doubled.
void EncodeTelnetData(const uint8_t* bytes, size_t count, std::vector<uint8_t>& out);

// Takes `count` received bytes: the data among them is appended to `data`; commands update
// `state`, answers the negotiation needs are appended to `state.replies`.
void DecodeTelnet(TelnetComPort& state, const uint8_t* bytes, size_t count,
                  std::vector<uint8_t>& data);

// The requests that set the line: speed, data bits, parity letter (N, O, E, M, S) and stop
// bits; each is marked awaited until the server answers it.
void RequestLineSettings(TelnetComPort& state, uint32_t baud, uint8_t dataBits, char parity,
                         uint8_t stopBits, std::vector<uint8_t>& out);
// True once every awaited setting has been answered.
bool LineSettingsAnswered(const TelnetComPort& state);
// Whether an answered setting differs from the one asked for (a speed the server cannot set).
bool LineSettingsDiffer(const TelnetComPort& state);

// Empties the server's buffer of bytes received from the line and not yet sent on; nothing is
// awaited.
void RequestPurge(std::vector<uint8_t>& out);
// No flow control, DTR and RTS low, as a local port is set on opening. Nothing is awaited: many
// servers never answer the modem-line requests.
void RequestModemLines(std::vector<uint8_t>& out);

// Wire values of the settings (RFC 2217), and 0 for anything the option cannot say.
uint8_t TelnetParityCode(char parity);
uint8_t TelnetStopSizeCode(uint8_t stopBits);

} // namespace velmar
