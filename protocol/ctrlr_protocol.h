// Controller protocol: frames, the checksum, memory transactions and service exchanges.
// Results are small integers: 1 (or a byte count) success, -1 no/short/wrong reply or refused
// write, -2 wrong (address poll) or incomplete (identification) reply, -3 slot above 4,
// -4 write chunk longer than 64 bytes.
#pragma once

#include "link/serial_port.h"

#include <cstddef>
#include <cstdint>

namespace velmar {

inline constexpr int kReserveAddress = 240;
inline constexpr int kIdentTextSize = 1024; // including the terminating zero
inline constexpr int kMaxChunk = 40;
inline constexpr unsigned kMaxWriteFrame = 64;     // longest write header + data frame
inline constexpr PortSlot kMaxTransactionSlot = 4; // transactions refuse higher slot numbers
inline constexpr int kSelfSizedMax = 255;          // a self-sized record never exceeds this

enum MemSpace : uint8_t { kSpaceER = 0, kSpaceIR = 2, kSpaceIM = 4 };

// Where the fixed service exchanges reach the controller.
namespace service {
inline constexpr int kStatusIR = 0x24;  // space IR: bit 0x40 is the pulse simulator
inline constexpr int kTempAdcIR = 0x25; // space IR: 3 bytes of the temperature sensor
inline constexpr int kSizes = 0x3040;   // the 7-byte sizes record
inline constexpr int kSizesLength = 7;
inline constexpr int kRestart = 0x88FFFF;
} // namespace service

uint8_t ChecksumRot8(const uint8_t* bytes, size_t count);

int SendCtrlrCmd(PortSlot slot, int ctrl, uint8_t code);
int SendReadHeader(PortSlot slot, uint32_t address, uint8_t count);
int SendWriteFrames(PortSlot slot, uint32_t address, unsigned count, const uint8_t* data);

// length <= 0 reads a self-sized record (first byte = length of what follows; that byte is not
// stored, and `dst` must then hold kSelfSizedMax bytes). Returns bytes stored (> 0, or 0 for an
// empty self-sized record), -1 or -3. Works in chunks of kMaxChunk bytes.
int ReadCtrlrMem(PortSlot slot, int ctrl, int address, int length, uint8_t* dst, uint8_t space);
// 1 (also for length 0), -1 or -3.
int WriteCtrlrMem(PortSlot slot, int ctrl, int address, int length, const uint8_t* data,
                  uint8_t space);

int PollCtrlrAddress(PortSlot slot, int ctrl, uint8_t reply[4], int& ctrlrNumber);
// `text` holds kIdentTextSize bytes; it is always zero-terminated on return.
int ReadIdentText(PortSlot slot, int ctrl, char* text);
int RestartCtrlr(PortSlot slot, int ctrl);

// What became of one restart request. Its status block is the only sign that the controller took
// it, and the request is never repeated: a second restart is a second restart.
enum class RestartStatus {
    NotSent,  // the frames did not go out (the port, or a slot above the transactions')
    Accepted, // status 0: the controller restarts
    Refused,  // a status block of the right shape with a nonzero status: not carried out
    Lost,     // no status block, or bytes that are none: it may or may not have restarted
};
// Sends the restart request once and tells what its status said.
RestartStatus SendRestart(PortSlot slot, int ctrl);
int GetPulseSimulator(PortSlot slot, int ctrl);
int SetPulseSimulator(PortSlot slot, int ctrl, bool on);
bool ReadTempAdc(PortSlot slot, int ctrl, uint8_t out[3]);
// The 7 bytes of the sizes record: 1, or -1 with `sizes` zeroed.
int ReadStructSizes(PortSlot slot, int ctrl, uint8_t sizes[service::kSizesLength]);
int BlockWriteAcked(PortSlot slot, int ctrl, int address, int length, const uint8_t* data);

uint8_t Cp866ToCp1251(uint8_t byte);

} // namespace velmar
