// One identification of a controller on the line: the address poll, the status register, the
// identification text and the pulse-simulator state, in that order, stopping at the first
// failure. Shared by the window and velmar-cli; the callers word the outcome.
#pragma once

#include "link/serial_port.h"

#include <string>

namespace velmar {

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
    std::string text;        // the identification text, code page 1251 (Identified)
    bool complete = false;   // the text ended with its zero byte
    int pulseSimulator = -1; // 1 on, 0 off, -1 read failed (Identified)
};

IdentOutcome IdentifyController(PortSlot slot, int ctrlrAddress);

} // namespace velmar
