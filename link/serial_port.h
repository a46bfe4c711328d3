// The port layer: a table of up to 16 open ports and the byte-level operations on them.
// Every operation is a plain function; a port is named by its slot number 1..16 (0 = no port).
#pragma once

#include <cstddef>
#include <cstdint>

namespace velmar {

using PortSlot = uint16_t;

// TcpGateway: "tcp:HOST:PORT", a raw TCP connection to a serial device server.
// Rfc2217Gateway: "rfc2217:HOST:PORT", a serial device server that lets the tool set its line
// (speed and format follow ConfigurePort, purges reach its buffer).
enum class PortKind : int8_t {
    ComPort = 0,
    UsbKey = 1,
    UsbConverter = 2,
    TcpGateway = 3,
    Rfc2217Gateway = 4
};

// Both kinds of serial device server on the network.
inline bool IsNetworkPortKind(PortKind kind) {
    return kind == PortKind::TcpGateway || kind == PortKind::Rfc2217Gateway;
}

inline constexpr int kPortSlotCount = 16;

// Results of OpenPort / ConfigurePort: a closed set, kept apart from the system's error numbers.
// A device the operating system would not open or set up gives kPortSystemError; its errno is
// kept for PortSystemError and PortErrorReason.
inline constexpr int kPortConverterNoChannelCount = -3; // the converter gave no channel count
inline constexpr int kPortConverterNoAnswer = -2;       // no answer, or no such channel
inline constexpr int kPortConverterNotFound = -1;
inline constexpr int kPortOk = 0;
inline constexpr int kPortTableFull = 1;
inline constexpr int kPortNoSlot = 2;
inline constexpr int kPortEmptyName = 3;
inline constexpr int kPortConverterRequestFailed = 4;
inline constexpr int kPortSystemError = 5;
inline constexpr int kPortNameTooLong = 6;
inline constexpr int kPortBadNetworkName = 7; // a network name without a host and a port 1..65535
inline constexpr int kPortHostNotFound = 8;   // the network name of the gateway is unknown
inline constexpr int kPortLayerNotStarted = 9;
inline constexpr int kPortGatewayRefused = 10;     // an rfc2217: gateway refused to set the line
inline constexpr int kPortGatewayNoAnswer = 11;    // an rfc2217: gateway did not answer in time
inline constexpr int kPortGatewayLineRefused = 12; // it kept another speed or format

void StartPortLayer();
void StopPortLayer();
bool PortLayerStarted();

// kPortOk with `slot` set; else one of the results above (slot 0).
int OpenPort(PortSlot& slot, const char* name);
// baud 0 means 4800. kPortOk, kPortNoSlot, kPortSystemError (the device refused the settings),
// kPortConverterRequestFailed, or for an rfc2217: gateway kPortGatewayRefused,
// kPortGatewayNoAnswer or kPortGatewayLineRefused. A raw tcp: gateway keeps its own settings;
// the speed is only noted there, for timing.
int ConfigurePort(PortSlot slot, uint32_t baud, uint8_t dataBits, char parity, uint8_t stopBits);
int ClosePort(PortSlot slot); // always 1
void WritePort(PortSlot slot, const uint8_t* bytes, size_t count);
void WritePortByte(PortSlot slot, uint8_t byte);
int PortAvailable(PortSlot slot);                     // bytes waiting, 0..255
int ReadPort(PortSlot slot, uint8_t* dst, int count); // 1 when `count` bytes were taken, else 0
void PurgePort(PortSlot slot);

// Waits until the bytes written to `slot` have left for the line, at most `timeoutMs`, so that a
// pause the controller needs after a frame counts from its end, not from when it was queued:
// a converter until the pump has handed every byte over and the converter has had the line time
// to send them; a serial device until the driver's output queue is empty. A network port cannot
// tell and returns at once.
void AwaitPortSent(PortSlot slot, int timeoutMs);

// Waits until bytes may have arrived for `slot` or `timeoutMs` has passed, whichever is first.
// Returns at once when data is already waiting in the device. Used by the protocol instead of
// fixed sleeps, so an exchange goes on as soon as its reply is there.
void WaitPortData(PortSlot slot, int timeoutMs);

// Network ports: each reply may take this much longer than the protocol's budgets allow for the
// line itself (the gateway's own buffering and the network's round trip). Kept for the port open
// on `slot`: each port opened starts with the default, and its caller sets its own.
inline constexpr int kDefaultNetworkAllowanceMs = 50;
void SetNetworkAllowanceMs(PortSlot slot, int ms);
// The allowance that applies to `slot`: its allowance for a network port, else 0.
int PortExtraWaitMs(PortSlot slot);

// Exchange log switch of the whole layer: bit n-1 enables logging for slot n, also while the slot
// is free, so that a port opened later is logged as set.
void SetLogMask(uint16_t mask);
uint16_t GetLogMask();
// Whether the exchange log records `slot`; false for 0 and out-of-range slots.
bool PortLogged(PortSlot slot);

PortKind GetPortKind(PortSlot slot);
// The baud rate last configured on the slot; 0 when none was.
uint32_t PortBaud(PortSlot slot);
// How often a network port's connection was made again since the port was opened (0 for other
// kinds): a gateway may need a moment before it passes bytes on a new connection.
uint32_t PortReconnects(PortSlot slot);
// Bytes dropped because the receive ring was full (never more than 255 wait in a ring).
uint32_t PortDroppedBytes(PortSlot slot);
// The system's error number behind the last kPortSystemError of OpenPort or ConfigurePort.
int PortSystemError();
// A short text an engineer can act on for any result of OpenPort or ConfigurePort ("нет такого
// устройства", "нет доступа ... группа dialout", "все порты заняты" ...); empty for kPortOk.
// For kPortSystemError it explains PortSystemError().
const char* PortErrorReason(int result);
// The same for a system error number.
const char* SystemErrorReason(int err);

// 0 while the slot's device is there; the errno (EIO, ENXIO ...) once it has gone away (a USB
// adapter pulled out). A gone device fails quietly afterwards; ClosePort and OpenPort again
// after re-plugging it. A network port whose connection was lost connects again by itself at
// the next write, and reads 0 from then on.
int PortLastError(PortSlot slot);

// Where StartPortLayer opens the exchange log: `path` when set (null or "" restores the
// default), else $VELMAR_LOG_DIR/port.out, else "port.out" in the working directory.
void SetExchangeLogPath(const char* path);

} // namespace velmar
