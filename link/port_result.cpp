#include "link/port_result.h"

namespace velmar {

PortResult PortResultOf(int code, int osError) {
    PortResult r;
    const bool known = code >= kPortConverterNoChannelCount && code <= kPortGatewayLineRefused;
    r.code = known ? static_cast<PortCode>(code) : PortCode::SystemError;
    if (r.code == PortCode::SystemError) r.osError = known ? osError : code;
    r.text = r.code == PortCode::SystemError ? SystemErrorReason(r.osError) : PortErrorReason(code);
    return r;
}

PortResult OpenLine(PortSlot& slot, const char* name) {
    const int code = OpenPort(slot, name);
    return PortResultOf(code, code == kPortSystemError ? PortSystemError() : 0);
}

PortResult ConfigureLine(PortSlot slot, const LineFormat& format) {
    const int code =
        ConfigurePort(slot, format.baud, format.dataBits, format.parity, format.stopBits);
    return PortResultOf(code, code == kPortSystemError ? PortSystemError() : 0);
}

} // namespace velmar
