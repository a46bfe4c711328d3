// A running bus simulator with the tool's end of its line open.
#pragma once

#include "sim/core/bus_simulator.h"
#include "sim/raw_line.h"

#include <gtest/gtest.h>
#include <memory>

namespace velmar::sim::test {

class BusTest : public ::testing::Test {
  protected:
    void StartBus(Options options = {}) {
        bus = std::make_unique<BusSimulator>(std::move(options));
        ASSERT_EQ(bus->Start(), 0);
        line = std::make_unique<RawLine>(bus->SlavePath());
        ASSERT_TRUE(line->Ok());
    }
    Controller& At(int address) {
        Controller* c = bus->Find(address);
        EXPECT_NE(c, nullptr);
        return *c;
    }
    // Changes the faults under the bus lock.
    template <class F> void WithFaults(F change) {
        auto lock = bus->Lock();
        change(bus->GetFaults());
    }
    void TearDown() override {
        line.reset();
        if (bus) bus->Stop();
    }

    std::unique_ptr<BusSimulator> bus;
    std::unique_ptr<RawLine> line;
};

} // namespace velmar::sim::test
