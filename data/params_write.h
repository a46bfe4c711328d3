// Writing the controller parameter block and what follows it: the restart, the port following
// a new line speed, the new side-A address taken into use, and the channels' meter settings
// brought in line. The check whether a new side-A address is already answered comes before, as
// its own step, since the engineer is asked in between. No widgets: the settings tab and
// velmar-cli both run it and word the outcome.
#pragma once

#include "data/ctrlr_params.h"
#include "data/record_results.h"
#include "data/record_store.h"
#include "link/port_result.h"
#include "link/serial_port.h"

#include <cstdint>

namespace velmar {

// Attempts at the new side-A address before it counts as free; the first answer ends them.
inline constexpr int kAddressProbeAttempts = 2;

// Whether a controller already answers at the block's new side-A address, or at its side-B
// address. Only asked with one side.
bool SideAddressInUse(PortSlot slot, const CtrlrParams& params);

using ParamsWriteResult = WriteResult;

// What became of the restart that puts a written block in effect.
enum class RestartSeen {
    Answered,   // its status came
    FoundAtNew, // its status was lost; the controller answers at the new speed and number
    FoundAtOld, // its status was lost; the controller answers only at the old ones: back there
    Lost,       // its status was lost and the controller answers at neither
};

struct ParamsWriteOutcome {
    ParamsWriteResult result = ParamsWriteResult::NoChanges;
    uint32_t newBaud = 0; // the port's new speed once it followed the controller's; else 0
    PortResult port;      // why the port refused the new speed (PortFailed)
    // The number the controller answers at once the written block is in effect (the old one
    // when the write did not get that far).
    int address = 0;
    RestartSeen restart = RestartSeen::Answered;
};

// What the engineer is told of a restart whose status was lost (empty for Answered): where the
// controller was found, and so where the tool now talks to it.
const char* RestartSeenText(RestartSeen seen);

// Attempts (each AwaitAnswer long) at the new speed and number when the restart's status was
// lost, before the old ones are tried: the restart may take the controller longer than usual.
inline constexpr int kUnconfirmedRestartAwaits = 2;

struct ParamsWriteRequest {
    RecordStore& store;
    PortSlot slot = 0;
    LineFormat line; // the speed is the port's: the write may change it
    // The block last received (its length, the checksum byte's place) is `paramsLength`
    // bytes; 0 or out of range takes the working copy's own length.
    int paramsLength = 0;
    // The controller number in use, and the one it answers at once the written block is in
    // effect (the store follows it there, so the channels are converted at the new number).
    int ctrlrAddress = 0;
    int newAddress = 0;
    bool followSpeed = false; // the speed changed: the port follows after the restart
};

// Sends `params` when it differs from `shadow` (which then takes it), restarts the controller
// and carries out what follows, stopping at the first step that fails. A restart whose status
// was lost may still have happened: the port and the number follow it all the same, and the
// controller is looked for there; when it answers only at the old speed and number, the port
// and the number go back (RestartFailed, FoundAtOld), so the caller is never left where the
// controller is not.
ParamsWriteOutcome WriteCtrlrParams(const ParamsWriteRequest& request, const CtrlrParams& params,
                                    CtrlrParams& shadow);

} // namespace velmar
