#include "protocol/line_context.h"

namespace velmar {
namespace {

std::unique_ptr<LineAttachment> MakeLineContext() {
    return std::make_unique<LineContext>();
}

constexpr ProtocolTimeouts kDefaultTimeouts{};

} // namespace

LineContext* LineOf(PortSlot slot) {
    // Only this file attaches to a port, and always a LineContext.
    return static_cast<LineContext*>(AttachmentOf(slot, MakeLineContext));
}

const ProtocolTimeouts& Timeouts(PortSlot slot) {
    const LineContext* line = LineOf(slot);
    return line != nullptr ? line->timeouts : kDefaultTimeouts;
}

void SetTimeouts(PortSlot slot, const ProtocolTimeouts& timeouts) {
    if (LineContext* line = LineOf(slot)) line->timeouts = timeouts;
}

} // namespace velmar
