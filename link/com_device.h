// The operating system's serial device behind a ComPort slot. Thin platform layer: the POSIX
// version lives in link/posix/, a Windows one would go to link/win/. Results are 0 or an errno
// value; nothing here blocks for long.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace velmar {

struct ComDevice {
    int fd = -1;
    int lostError = 0; // errno of the failure that showed the device gone; 0 while it is there
    uint32_t parityErrorsAtOpen = 0;
    uint32_t frameErrorsAtOpen = 0;
};

// Device path for a port name: "/dev/ttyUSB0" and other paths as given, "ttyUSB0" under /dev,
// "COM3"/"com3" as /dev/ttyS2 (so settings written on Windows keep working).
std::string ComDevicePath(const char* name);

// Opens the device for exclusive use, raw, 4800 8N1, no flow control, reads never blocking.
// EBUSY when another program holds it.
int OpenComDevice(const char* name, ComDevice& dev);
void CloseComDevice(ComDevice& dev);

// Line settings; parity letters N O E M S Z (others leave the parity), stop bits 1 or 2 (others
// leave them). EINVAL for a speed or data-bit count the device cannot take.
int ConfigureComDevice(ComDevice& dev, uint32_t baud, uint8_t dataBits, char parity,
                       uint8_t stopBits);

// Writes all `count` bytes, waiting a bounded time when the driver takes them in parts.
int WriteComDevice(ComDevice& dev, const uint8_t* bytes, size_t count);
// Waits until the driver's output queue is empty, at most `timeoutMs`.
void AwaitComDeviceSent(ComDevice& dev, int timeoutMs);

// Reads what the driver holds now, at most `max` bytes, without waiting; `got` = bytes read.
// A device that has gone returns its errno (and records it in lostError) once; afterwards
// every call returns the same code without touching the device.
int ReadComDevice(ComDevice& dev, uint8_t* dst, size_t max, size_t& got);

// Waits until the driver has bytes to read (or the device hangs up) or `timeoutMs` passes.
void WaitComDevice(ComDevice& dev, int timeoutMs);

// Parity and framing errors the driver counted since the device was opened (0 when unknown).
void ComDeviceLineErrors(const ComDevice& dev, uint32_t& parity, uint32_t& frame);

} // namespace velmar
