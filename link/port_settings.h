// Port settings file "com.ini": one line per port, only the first one is used.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace velmar {

struct PortSettingsEntry {
    uint32_t reserved1 = 0; // written as 0
    char name[100] = {};
    uint32_t baud = 0;
    int8_t reserved2 = 0; // written back as read
    uint8_t flagA = 0;    // lowest bit only; written back
    uint8_t flagB = 0;    // lowest bit only; written back
    uint8_t dataBits = 0;
    char parity = 0;
    uint8_t stopBits = 0;
};

inline constexpr int kPortSettingsCount = 16;
inline constexpr const char* kPortSettingsFile = "com.ini";

// The table the last ReadPortSettings filled (all zero before the first).
std::array<PortSettingsEntry, kPortSettingsCount>& PortSettingsTable();

// Zeroes the table and reads up to 16 lines into it. 1 when the file could be opened (even if
// no line was usable), 0 otherwise.
int ReadPortSettings(const char* path = kPortSettingsFile);

// One line (without its line end) into `entry`; an unusable line leaves it zeroed. Any bytes
// are safe here.
void ParsePortSettingsLine(std::string_view line, PortSettingsEntry& entry);

// The single line the settings dialog stores, e.g. "COM3 0 9600 0 1 0 8 N 1", no line end.
std::string FormatPortSettingsLine(const PortSettingsEntry& entry);

// Replaces the file by that one line, atomically (a temporary file renamed over it): 0, or an
// errno value, in which case the old file is untouched. EINVAL for a name the file cannot
// hold (empty, or with white space), ENAMETOOLONG when the line would exceed the 79 characters
// the reader looks at.
int WritePortSettings(const PortSettingsEntry& entry, const char* path = kPortSettingsFile);
// The checks of WritePortSettings alone: 0 when the entry can be written and read back.
int CheckPortSettingsWritable(const PortSettingsEntry& entry);

} // namespace velmar
