// "com.ini" with any bytes: reading it must stay inside the settings table, and a line the
// settings dialog would write must read back to the same settings.
#include "fuzz_support.h"
#include "link/port_settings.h"

#include <cstring>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace velmar;
    const std::string& path = fuzz::InputPath("com.ini");
    if (!fuzz::WriteInput(path, data, size)) return 0;
    if (ReadPortSettings(path.c_str()) != 1) fuzz::Broken("com.ini could not be read");
    for (const PortSettingsEntry& e : PortSettingsTable()) {
        if (std::memchr(e.name, 0, sizeof e.name) == nullptr) fuzz::Broken("unterminated name");
    }

    PortSettingsEntry entry;
    ParsePortSettingsLine(std::string_view(reinterpret_cast<const char*>(data), size), entry);
    if (std::memchr(entry.name, 0, sizeof entry.name) == nullptr) fuzz::Broken("unterminated");
    // What the writer accepts must read back as written; the rest it refuses.
    if (CheckPortSettingsWritable(entry) == 0) {
        const std::string line = FormatPortSettingsLine(entry);
        PortSettingsEntry again;
        ParsePortSettingsLine(line, again);
        if (std::strcmp(again.name, entry.name) != 0 || again.baud != entry.baud ||
            again.dataBits != entry.dataBits || again.parity != entry.parity ||
            again.stopBits != entry.stopBits)
            fuzz::Broken("a written line does not read back");
    }
    return 0;
}
