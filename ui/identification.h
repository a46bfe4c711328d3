// The exchanges of one identification of a controller on the line: the address poll, the status
// register, the identification text and the pulse-simulator state. No widgets: the main tab shows
// the outcome.
#pragma once

#include "link/serial_port.h"

#include <QString>

namespace velmar::ui {

struct IdentOutcome {
    enum class Stage {
        NoAnswer,       // the address poll got no reply
        Unsupported,    // the address poll got a wrong reply
        RegisterFailed, // the status register could not be read
        TimeOut,        // no identification text came
        Identified,     // the text came (complete or partial)
    };
    Stage stage = Stage::NoAnswer;
    int ctrlrAddress = 0;    // the number in use afterwards: the reserve address is replaced
    QString text;            // the identification text (Identified)
    int pulseSimulator = -1; // GetPulseSimulator: 1 on, 0 off, -1 read failed (Identified)
};

IdentOutcome IdentifyLive(PortSlot slot, int ctrlrAddress);

} // namespace velmar::ui
