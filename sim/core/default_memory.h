// The memory of a controller as it leaves the workshop after a little use: every record present
// and consistent with the topology, distinct totalisers per hose, a plausible temperature reading.
#pragma once

#include <string>

namespace velmar::sim {

class Controller;

// Fills all three memory spaces of `c` (they must already be 64 KiB each). `address` is side A;
// side B is `sideB` when `sides` is 2.
void FillDefaultMemory(Controller& c, int address, int sideB, int sides, int hosesPerSide);

// The identification text (code page 866) of the controller with factory number `serial`.
std::string DefaultIdentText(int serial);

} // namespace velmar::sim
