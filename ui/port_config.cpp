#include "ui/port_config.h"

#include "link/port_discovery.h"
#include "link/port_settings.h"
#include "link/serial_port.h"

#include <algorithm>
#include <cstring>

namespace velmar::ui {

bool ReadComIni(const std::string& path, ComIniEntry& first) {
    if (ReadPortSettings(path.c_str()) != 1) return false;
    const PortSettingsEntry& e = PortSettingsTable()[0];
    first.name.assign(e.name, strnlen(e.name, sizeof e.name));
    first.baud = e.baud;
    first.reserved2 = e.reserved2;
    first.flagA = (e.flagA & 1) != 0;
    first.flagB = (e.flagB & 1) != 0;
    first.dataBits = e.dataBits;
    first.parity = e.parity;
    first.stopBits = e.stopBits;
    return true;
}

bool WriteComIni(const std::string& path, const ComIniEntry& first) {
    PortSettingsEntry e;
    const size_t n = std::min(first.name.size(), sizeof e.name - 1);
    std::memcpy(e.name, first.name.data(), n);
    e.baud = first.baud;
    e.reserved2 = first.reserved2;
    e.flagA = first.flagA ? 1 : 0;
    e.flagB = first.flagB ? 1 : 0;
    e.dataBits = first.dataBits;
    e.parity = first.parity;
    e.stopBits = first.stopBits;
    PortSettingsTable()[0] = e;
    return WritePortSettings(e, path.c_str()) == 0;
}

ComIniEntry DefaultComIni() {
    ComIniEntry entry;
    entry.name = "COM1";
    entry.baud = 4800;
    return entry;
}

QString WithPortErrorReason(const QString& text, const PortResult& port) {
    if (port.text.empty()) return text;
    return text + QStringLiteral("\n") + QString::fromStdString(port.text);
}

std::vector<std::string> DiscoverPortNames() {
    DiscoverPorts();
    const PortList& list = GetPortList();
    std::vector<std::string> names;
    for (int i = 0; i < list.count; ++i) {
        const PortListEntry& e = list.entries[static_cast<size_t>(i)];
        names.emplace_back(e.name, strnlen(e.name, sizeof e.name));
    }
    return names;
}

} // namespace velmar::ui
