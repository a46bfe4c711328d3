// What the GUI test fixtures share: a session talking to a simulated controller on its
// pseudo-terminal, and the order of tearing both down.
#pragma once

#include "sim/core/bus_simulator.h"
#include "ui/session.h"

#include <gtest/gtest.h>
#include <memory>

namespace velmar::test {

// Opens the bus's line at 4800 baud in `session` and takes controller `address` as identified.
// Call through ASSERT_NO_FATAL_FAILURE.
inline void ConnectSessionToBus(ui::Session& session, const sim::BusSimulator& bus, int address) {
    session.Line().portName = bus.SlavePath();
    session.Line().baud = 4800;
    ASSERT_EQ(session.OpenSessionPort(), 0);
    session.SetPortClosed(false);
    session.Modes().noCtrlrNumber = false;
    session.SetAddress(address);
    session.Modes().ctrlrIdentified = true;
}

// Releases the demo image and the port, then ends the port layer and the bus.
inline void EndSessionAndBus(std::unique_ptr<ui::Session>& session,
                             std::unique_ptr<sim::BusSimulator>& bus) {
    if (session) {
        session->ReleaseDemoImage();
        session->CloseSessionPort();
    }
    session.reset();
    if (bus) {
        StopPortLayer();
        bus->Stop();
    }
}

} // namespace velmar::test
