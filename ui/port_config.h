// The UI's view of the port settings file "com.ini" and of port discovery.
#pragma once

#include "link/port_result.h"

#include <QString>
#include <cstdint>
#include <string>
#include <vector>

namespace velmar::ui {

// The first line of com.ini: the only one the program uses. Its second field is always written as
// 0, so it is not kept.
struct ComIniEntry {
    std::string name;
    uint32_t baud = 0;
    int8_t reserved2 = 0;
    bool flagA = true;
    bool flagB = false;
    uint8_t dataBits = 8;
    char parity = 'N';
    uint8_t stopBits = 1;
};

// True when the port settings file at `path` could be opened (even if no line was usable).
bool ReadComIni(const std::string& path, ComIniEntry& first);
// Writes `first` as the file's single line, atomically; false when it could not be written.
bool WriteComIni(const std::string& path, const ComIniEntry& first);
// The defaults when com.ini cannot be read: COM1 4800 8 1 N.
ComIniEntry DefaultComIni();
// `text` followed, on its own line, by the reason of OpenPort's failure `code` when there is one.
QString WithPortErrorReason(const QString& text, const PortResult& port);
// The names of the ports the system offers, in their order (converter names included).
std::vector<std::string> DiscoverPortNames();

} // namespace velmar::ui
