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

// What became of the restart that puts a written block in effect. Where the block moves the
// controller (speed or number), "found" means that it answered with its own identification text
// and holds the block just written.
enum class RestartSeen {
    Answered,     // its status came (and a moved controller was found at its new place)
    FoundAtNew,   // its status was lost; the controller answers at the new speed and number
    FoundAtOld,   // its status was lost; the controller answers only at the old ones: back there
    Lost,         // its status was lost and the controller answers at neither
    Refused,      // the controller refused it; it answers where it was, the block not in effect
    AnswersAgain, // its status was lost (nothing moves); the controller answers again
    Silent,       // its status was lost (nothing moves); the controller stayed silent
    Unknown,      // another controller answers where it should be, or it is not where it was
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

// How long the controller is looked for at its old speed and number once it was not found at the
// new ones (it answers at once when it never restarted).
inline constexpr int kOldPlaceWaitMs = 1000;

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
// once and carries out what follows, stopping at the first step that fails. When the block moves
// the controller, its identification text is read first, and after the restart (confirmed or
// with its status lost) the port and the number follow it, the controller is awaited there for
// up to kSlowestRestartMs and must answer with that text, and hold the block just written, before
// anything more is written; not
// found there, it is looked for at the old speed and number, and the port and number go back
// (RestartFailed, FoundAtOld, Lost or Unknown). A refused restart moves nothing and writes
// nothing more (RestartFailed, Refused). Nothing moving, a lost status is awaited at the number
// in use and the channels converted once the controller answers (AnswersAgain).
ParamsWriteOutcome WriteCtrlrParams(const ParamsWriteRequest& request, const CtrlrParams& params,
                                    CtrlrParams& shadow);

} // namespace velmar
