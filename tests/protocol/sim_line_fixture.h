// The port layer on a pseudo-terminal to the in-process controller simulator, with the reply
// checks and read retries as a fresh program has them: the set-up of the exchange tests.
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
        ASSERT_EQ(OpenPort(slot, sim.SlavePath().c_str()), 0);
        ASSERT_EQ(ConfigurePort(slot, 4800, 8, 'N', 1), 0);
        ForgetReplyChecks();
        SetReadRetries(kDefaultReadRetries);
    }
    void TearDown() override {
        SetReadRetries(kDefaultReadRetries);
        SetLogMask(0);
        ClosePort(slot);
        StopPortLayer();
        sim.Stop();
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
