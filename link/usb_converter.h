// USB-to-RS485 converters of our own family as ports: the search by name, line settings by
// vendor requests, close and reconnect. caller thread only; the bytes move in the converter pump.
#pragma once

#include "link/port_table.h"

#include <cstdint>

namespace velmar {

// Name "U_<serial>[_<channel>]". 0 with the entry's handle, clock and channel set; -1 no such
// converter (or it does not open), -2 no clock reply or no such channel, -3 no channel count.
int OpenConverter(PortEntry& entry, const char* name);
// 0, or kPortConverterRequestFailed.
int ConfigureConverter(PortEntry& entry, uint32_t baud, uint8_t dataBits, char parity,
                       uint8_t stopBits);
// Pauses the pump, closes the device, lets the pump go on when other converters remain.
void CloseConverter(PortEntry& entry);
// Resets and reopens a converter after too many failed transfers, restoring its settings.
void ReconnectConverter(PortEntry& entry);

} // namespace velmar
