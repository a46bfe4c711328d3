// Controller protocol: frames, the checksum, memory transactions and service exchanges.
// Results are small integers: 1 (or a byte count) success, -1 no/short/wrong reply or refused
// write, -2 wrong (address poll) or incomplete (identification) reply, -3 slot above 4,
// -4 write chunk longer than 64 bytes.
#pragma once

#include "link/serial_port.h"

#include <cstddef>
#include <cstdint>
#include <functional>

namespace velmar {

inline constexpr int kReserveAddress = 240;
inline constexpr int kIdentTextSize = 1024; // including the terminating zero
inline constexpr int kMaxChunk = 40;
inline constexpr unsigned kMaxWriteFrame = 64;     // longest write header + data frame
inline constexpr PortSlot kMaxTransactionSlot = 4; // transactions refuse higher slot numbers
inline constexpr int kSelfSizedMax = 255;          // a self-sized record never exceeds this

enum MemSpace : uint8_t { kSpaceER = 0, kSpaceIR = 2, kSpaceIM = 4 };

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
int GetPulseSimulator(PortSlot slot, int ctrl);
int SetPulseSimulator(PortSlot slot, int ctrl, bool on);
bool ReadTempAdc(PortSlot slot, int ctrl, uint8_t out[3]);
int ReadStructSizes(PortSlot slot, int ctrl);
int BlockWriteAcked(PortSlot slot, int ctrl, int address, int length, const uint8_t* data);
// `image` is a saved device image (7-byte sizes header, then the records); `imageLength` bounds
// every read from it.
// `progress`, when given, is called after each record with the image bytes sent so far
// (counted after the 7-byte header), so a window can advance its bar and repaint.
// An image shorter than its header announces is refused with -1 before anything is sent.
using ImageProgress = std::function<void(int bytesDone)>;
int WriteDeviceImage(PortSlot slot, int ctrl, const uint8_t* image, size_t imageLength,
                     const ImageProgress& progress = {});

uint8_t Cp866ToCp1251(uint8_t byte);

} // namespace velmar
