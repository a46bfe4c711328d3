// Port discovery: the system's serial devices, then the USB devices of our converter family.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmar {

inline constexpr int kPortListMax = 16;
inline constexpr size_t kPortListNameMax = 19;

// Device kinds by USB product string; 0 for a system serial port.
inline constexpr uint8_t kDeviceSystemPort = 0;
inline constexpr uint8_t kDeviceTarvi4 = 1;
inline constexpr uint8_t kDeviceOblen220 = 2;
inline constexpr uint8_t kDeviceMurik = 3;
inline constexpr uint8_t kDeviceZelta3 = 4;
inline constexpr uint8_t kDeviceOther = 255;

struct DeviceRecord {
    uint8_t kind = 0;
    uint8_t channels = 0; // reported by the device; 0 for system ports
    uint32_t serial = 0;  // 0xFFFFFFFF when the device did not say
};

struct PortListEntry {
    char name[kPortListNameMax + 1] = {};
    DeviceRecord record;
};

struct PortList {
    int count = 0;
    std::array<PortListEntry, kPortListMax> entries{};
};

// The platform's serial devices by name ("ttyS0", "ttyUSB0"; full paths outside /dev).
std::vector<std::string> ListSystemSerialPorts();
// Where the system's serial ports come from (tests give a fixed list).
using SystemPortSource = std::vector<std::string> (*)();

// Rebuilds the list; always 1.
int DiscoverPorts(SystemPortSource source = ListSystemSerialPorts);
const PortList& GetPortList();

uint8_t DeviceKindOfProduct(const char* product);

// Ascending list order: names that continue a common prefix with a number compare by that
// number (ttyS2 before ttyS10, COM2 before COM10, U_999 before U_1234_1); otherwise byte by byte.
bool PortNameLess(const char* a, const char* b);

} // namespace velmar
