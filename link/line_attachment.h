// What the layers above keep for the line on an open port (the protocol's time budgets, retry
// policy and what the replies taught), held by the port table next to the port itself, as a
// connection's context holds all of a connection. It is made on first use after the port was
// opened and dropped when the port is closed or another port is opened on the slot, so a new line
// never inherits what an earlier line on the slot was set to or learnt.
#pragma once

#include "link/serial_port.h"

#include <memory>

namespace velmar {

class LineAttachment {
  public:
    virtual ~LineAttachment() = default;
};

using MakeLineAttachment = std::unique_ptr<LineAttachment> (*)();

// The attachment of the port open on `slot`, made with `make` when it has none yet; null for 0,
// out-of-range and free slots. Called by the thread that runs the slot's port operations; the
// attachment lives until that thread closes the port or opens another on the slot.
LineAttachment* AttachmentOf(PortSlot slot, MakeLineAttachment make);

} // namespace velmar
