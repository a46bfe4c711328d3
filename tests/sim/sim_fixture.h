// A running bus simulator with the tool's end of its line open.
#pragma once

#include "sim/core/bus_simulator.h"
#include "sim/raw_line.h"

#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>
#include <string>

namespace velmar::sim::test {

class BusTest : public ::testing::Test {
  protected:
    void StartBus(Options options = {}) {
        bus = std::make_unique<BusSimulator>(std::move(options));
        ASSERT_EQ(bus->Start(), 0);
        line = std::make_unique<RawLine>(bus->SlavePath());
        ASSERT_TRUE(line->Ok());
    }
    // A controller held under the bus lock for as long as the returned object lives. Use it
    // within one expression (At(1)->restarts); never twice in the same expression.
    struct Locked {
        std::unique_lock<std::mutex> lock;
        Controller* controller;
        Controller* operator->() const { return controller; }
    };
    Locked At(int address) {
        auto lock = bus->Lock();
        Controller* c = bus->Find(address);
        if (c == nullptr) throw std::runtime_error("no controller at " + std::to_string(address));
        return {std::move(lock), c};
    }
    // A copy of controller memory, taken under the bus lock.
    Bytes Peek(int address, uint32_t at, size_t count, int space = 0) {
        const auto& mem = At(address)->Space(space);
        return Bytes(mem.begin() + at, mem.begin() + at + count);
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
