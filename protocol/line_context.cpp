#include "protocol/line_context.h"

#include <array>

namespace velmar {
namespace {

// One context per slot of the port table, and one for slot 0.
std::array<LineContext, kPortSlotCount + 1> lines;

} // namespace

LineContext& LineOf(PortSlot slot) {
    return lines[slot <= kPortSlotCount ? slot : 0];
}

ProtocolTimeouts& Timeouts(PortSlot slot) {
    return LineOf(slot).timeouts;
}

} // namespace velmar
