// What the GUI test fixtures share: a session talking to a simulated controller on its
// pseudo-terminal, and the order of tearing both down.
#pragma once

#include "sim/core/bus_simulator.h"
#include "ui/session.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>

namespace velmar::test {

// Opens the bus's line at 4800 baud in `session` and takes controller `address` as identified.
// Call through ASSERT_NO_FATAL_FAILURE.
inline void ConnectSessionToBus(ui::Session& session, const sim::BusSimulator& bus, int address) {
    ui::LineSettings line = session.Line();
    line.portName = bus.SlavePath();
    line.baud = 4800;
    session.UsePortSettings(line);
    ASSERT_TRUE(session.OpenSessionPort().Ok());
    session.SetPortClosed(false);
    session.SetAddress(address);
    session.MarkIdentified({});
}

// Changes the start-up options of `session` as the command line and the installation would.
template <class Change> void Reconfigure(ui::Session& session, Change change) {
    ui::SessionOptions options = session.Options();
    change(options);
    session.Configure(std::move(options));
}

// Demo mode as the program starts it, on the demo image at `imagePath`, identified at controller
// number 1 as the main tab's identification leaves it. Call through ASSERT_NO_FATAL_FAILURE.
inline void StartDemoSession(ui::Session& session, const std::string& imagePath) {
    Reconfigure(session, [&](ui::SessionOptions& o) { o.demoImagePath = imagePath; });
    session.EnterDemo();
    session.SetAddress(1);
    const ui::SessionResult opened = session.OpenDemoImage();
    ASSERT_TRUE(opened.Ok()) << opened.text.toStdString();
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
