// The port layer on a pseudo-terminal to the in-process controller simulator: the set-up of the
// exchange tests. The port opened has a fresh line context (reply checks, read retries, budgets).
#pragma once

#include "protocol/read_retry.h"
#include "sim/core/bus_simulator.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <vector>

namespace velmar::test {

class SimLineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(sim.Start(), 0);
        StartLayerWithTempLog();
        OpenLineToSim();
    }
    // Opens the port to the simulator again: its line starts afresh, as every port opened does.
    void ReopenLine() {
        ClosePort(slot);
        OpenLineToSim();
    }
    void TearDown() override {
        SetLogMask(0);
        ClosePort(slot);
        StopPortLayer();
        sim.Stop();
    }
    void OpenLineToSim() {
        ASSERT_EQ(OpenPort(slot, sim.SlavePath().c_str()), kPortOk);
        ASSERT_EQ(ConfigurePort(slot, 4800, 8, 'N', 1), kPortOk);
    }
    template <class F> void WithFaults(F change) {
        auto lock = sim.Lock();
        change(sim.GetFaults());
    }
    // Controller 1's memory.
    std::vector<uint8_t> Memory(int address, int n, int space = 0) {
        auto lock = sim.Lock();
        const auto& m = sim.Find(1)->Space(space);
        return {m.begin() + address, m.begin() + address + n};
    }

    sim::BusSimulator sim;
    PortSlot slot = 0;
};

} // namespace velmar::test
