// One way for opening and setting up a port to fail: a code from a closed set, the system's error
// number where the system gave one, and the text an engineer can act on. The codes keep the
// numbers OpenPort and ConfigurePort return, so a message that shows the number stays the same.
#pragma once

#include "link/serial_port.h"

#include <cstdint>
#include <string>

namespace velmar {

enum class PortCode : int {
    ConverterNoChannelCount = kPortConverterNoChannelCount,
    ConverterNoAnswer = kPortConverterNoAnswer,
    ConverterNotFound = kPortConverterNotFound,
    Ok = kPortOk,
    TableFull = kPortTableFull,
    NoSlot = kPortNoSlot,
    EmptyName = kPortEmptyName,
    ConverterRequestFailed = kPortConverterRequestFailed,
    SystemError = kPortSystemError,
    NameTooLong = kPortNameTooLong,
    BadNetworkName = kPortBadNetworkName,
    HostNotFound = kPortHostNotFound,
    LayerNotStarted = kPortLayerNotStarted,
    GatewayRefused = kPortGatewayRefused,
    GatewayNoAnswer = kPortGatewayNoAnswer,
    GatewayLineRefused = kPortGatewayLineRefused,
};

struct PortResult {
    PortCode code = PortCode::Ok;
    int osError = 0;  // the system's error number behind SystemError, else 0
    std::string text; // PortErrorReason of the code (of `osError` for SystemError); empty for Ok

    bool Ok() const { return code == PortCode::Ok; }
    int Number() const { return static_cast<int>(code); }
};

// The result for `code` of OpenPort or ConfigurePort; `osError` counts for kPortSystemError only.
// A number outside the set (none is returned today) is taken as a system error.
PortResult PortResultOf(int code, int osError);

struct LineFormat {
    uint32_t baud = 0; // 0 means 4800
    uint8_t dataBits = 8;
    char parity = 'N';
    uint8_t stopBits = 1;
};

// OpenPort with its result: `slot` is the new port's slot when it is Ok, else 0.
PortResult OpenLine(PortSlot& slot, const char* name);
// ConfigurePort with its result.
PortResult ConfigureLine(PortSlot slot, const LineFormat& format);

} // namespace velmar
