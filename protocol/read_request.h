// One read request of the memory transactions (command frame, read header, reply), repeated as
// read_retry.h says: a lost, short, overlong, unverified or unconfirmed reply is asked for again,
// since reading changes nothing in the controller.
#pragma once

#include "link/serial_port.h"

#include <cstdint>

namespace velmar::detail {

// Reads `count` bytes (1..kMaxChunk) at `lineAddress` into `dst` with read command `cmd`;
// `firstByteMs` is the full wait for the reply to begin. True when the bytes were taken.
bool ReadRequest(PortSlot slot, int ctrl, uint8_t cmd, uint32_t lineAddress, int count,
                 int firstByteMs, uint8_t* dst);

} // namespace velmar::detail
