// What a controller does with a complete request addressed to it: the reply it sends and the
// changes to its memory.
#pragma once

#include "sim/core/frame_receiver.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace velmar::sim {

class Controller;
struct Faults;

struct Reply {
    std::vector<uint8_t> bytes;
    bool restart = false; // the controller restarts once the reply has left
    bool applied = false; // a write the controller carried out (restart aside)
};

// The controller's answer to `req`, or nothing when it stays silent (unknown memory space,
// a count it cannot serve, or an injected fault). The content faults of `faults` (identification
// and poll faults, refused writes) are applied here; faults on the reply as a whole are the bus's.
std::optional<Reply> HandleRequest(Controller& c, const Request& req, const Faults& faults);

} // namespace velmar::sim
