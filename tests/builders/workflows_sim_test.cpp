// Identification and the settings write sequence, end to end over a pseudo-terminal against the
// controller simulator: what they report and what the controller and the port hold afterwards.
#include "../data/data_test_support.h"
#include "data/ident_sequence.h"
#include "data/live_store.h"
#include "data/memory_map.h"
#include "data/params_write.h"
#include "data/restart_wait.h"
#include "link/serial_port.h"
#include "protocol/ctrlr_protocol.h"
#include "protocol/ctrlr_ready.h"
#include "sim/core/bus_simulator.h"

#include <gtest/gtest.h>

namespace velmar {
namespace {

using Stage = IdentOutcome::Stage;

class WorkflowsOnSimulator : public ::testing::Test {
  protected:
    void SetUp() override {
        SetExchangeLogPath(dir.File("port.out").c_str());
        StartPortLayer();
    }
    void TearDown() override {
        if (slot != 0) ClosePort(slot);
        bus.reset();
        StopPortLayer();
    }

    // One-sided controllers at `addresses`; the tool's end at 4800 baud.
    void StartBus(std::vector<int> addresses) {
        sim::Options options;
        options.addresses = std::move(addresses);
        options.sides = 1;
        bus = std::make_unique<sim::BusSimulator>(options);
        ASSERT_EQ(bus->Start(), 0);
        ASSERT_EQ(OpenPort(slot, bus->SlavePath().c_str()), 0);
        ASSERT_EQ(ConfigurePort(slot, 4800, 8, 'N', 1), 0);
        store.Retarget(slot, ctrl);
    }

    CtrlrParams ReadBlock() {
        uint8_t bytes[params::kAreaLength] = {};
        const int got = store.Read(addr::kParamsLength, -1, bytes, 0).Length();
        EXPECT_GT(got, 0);
        return CtrlrParams(bytes, got);
    }

    ParamsWriteOutcome Write(const CtrlrParams& params, CtrlrParams& shadow, int newAddress) {
        const ParamsWriteRequest request{store,
                                         slot,
                                         {},
                                         shadow.Length(),
                                         ctrl,
                                         newAddress,
                                         params.SpeedTrk() != shadow.SpeedTrk()};
        return WriteCtrlrParams(request, params, shadow);
    }

    void Fault(auto&& change) {
        auto lock = bus->Lock();
        change(bus->GetFaults());
    }

    test::TempDir dir;
    std::unique_ptr<sim::BusSimulator> bus;
    PortSlot slot = 0;
    int ctrl = 1;
    LiveRecordStore store{slot, ctrl};
};

TEST_F(WorkflowsOnSimulator, IdentificationStopsAtTheFirstFailingStep) {
    struct Case {
        const char* name;
        int address;
        void (*fault)(sim::Faults&);
        Stage stage;
        int ctrlrAddress;
        bool complete;
    };
    const Case cases[] = {
        {"plain", 5, [](sim::Faults&) {}, Stage::Identified, 5, true},
        {"reserve", kReserveAddress, [](sim::Faults&) {}, Stage::Identified, 5, true},
        {"no zero", 5, [](sim::Faults& f) { f.identWithoutZero = true; }, Stage::Identified, 5,
         false},
        {"silent", 5, [](sim::Faults& f) { f.noAnswer = true; }, Stage::NoAnswer, 5, false},
        {"echo", 5, [](sim::Faults& f) { f.wrongPollEcho = true; }, Stage::Unsupported, 5, false},
        {"no text", 5, [](sim::Faults& f) { f.noIdentAnswer = true; }, Stage::TimeOut, 5, false},
    };
    StartBus({5});
    for (const Case& c : cases) {
        Fault([&](sim::Faults& f) {
            f = {};
            c.fault(f);
        });
        const IdentOutcome out = IdentifyController(slot, c.address);
        EXPECT_EQ(out.stage, c.stage) << c.name;
        EXPECT_EQ(out.ctrlrAddress, c.ctrlrAddress) << c.name;
        EXPECT_EQ(out.complete, c.complete) << c.name;
        EXPECT_EQ(out.text.empty(), c.stage != Stage::Identified) << c.name;
        EXPECT_EQ(out.pulseSimulator, c.stage == Stage::Identified ? 0 : -1) << c.name;
    }
}

// The probe asks the new side-A address again only while it is silent: an answer ends it.
TEST_F(WorkflowsOnSimulator, AddressProbeStopsAtTheFirstAnswer) {
    StartBus({1, 9});
    CtrlrParams params = ReadBlock();
    params.SetAdrTrk_1(9);
    uint64_t before = bus->FramesSeen();
    EXPECT_TRUE(SideAddressInUse(slot, params));
    EXPECT_EQ(bus->FramesSeen() - before, 1u);

    params.SetAdrTrk_1(20);
    params.SetAdrTrk_2(21);
    before = bus->FramesSeen();
    EXPECT_FALSE(SideAddressInUse(slot, params));
    EXPECT_EQ(bus->FramesSeen() - before, static_cast<uint64_t>(kAddressProbeAttempts + 1));
}

TEST_F(WorkflowsOnSimulator, WriteFollowsTheNewSpeedAndAddress) {
    StartBus({1});
    CtrlrParams shadow = ReadBlock();
    CtrlrParams params = shadow;

    uint64_t before = bus->FramesSeen();
    EXPECT_EQ(Write(params, shadow, ctrl).result, ParamsWriteResult::NoChanges);
    EXPECT_EQ(bus->FramesSeen(), before);

    {
        auto lock = bus->Lock();
        bus->Find(1)->Space(0)[addr::kChannelSettsBase + 14] = 200; // meter factor 200
        bus->Find(1)->Space(0)[addr::kChannelSettsBase + 15] = 0;
    }
    params.SetSpeedTrk(2); // 9600
    params.SetAdrTrk_1(12);
    params.SetMeterType(1);
    params.UpdateKsm();
    // While it starts again the controller hears nothing: the channel writes wait for it.
    Fault([](sim::Faults& f) { f.deafAfterRestartMs = 400; });
    const ParamsWriteOutcome out = Write(params, shadow, 12);
    EXPECT_EQ(out.result, ParamsWriteResult::Written);
    EXPECT_EQ(out.newBaud, 9600u);
    EXPECT_EQ(PortBaud(slot), 9600u);
    EXPECT_EQ(out.address, 12);
    EXPECT_EQ(store.Address(), 12);
    ctrl = out.address;
    EXPECT_TRUE(shadow.SameBlock(params));
    {
        auto lock = bus->Lock();
        const sim::Controller* c = bus->Find(12);
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(c->LineBaud(), 9600u);
        EXPECT_GE(c->restarts, 2); // the block's, then the converted channels'
        EXPECT_EQ(c->Space(0)[addr::kChannelSettsBase + 14], 0x00); // factor 512 for 256 imp
        EXPECT_EQ(c->Space(0)[addr::kChannelSettsBase + 15], 0x02);
    }
    EXPECT_TRUE(store.AwaitAnswer().Ok()); // deaf once more after the channels' restart
    EXPECT_EQ(IdentifyController(slot, ctrl).stage, Stage::Identified);
}

TEST_F(WorkflowsOnSimulator, FailedStepsStopTheSequence) {
    StartBus({1});
    CtrlrParams shadow = ReadBlock();
    const CtrlrParams read = shadow;
    CtrlrParams params = shadow;
    params.SetSpeedTrk(2);
    params.UpdateKsm();

    Fault([](sim::Faults& f) { f.writeStatusAddress = addr::kParams; });
    EXPECT_EQ(Write(params, shadow, ctrl).result, ParamsWriteResult::WriteFailed);
    EXPECT_TRUE(shadow.SameBlock(read));

    // Written but not restarted: the controller still listens at the old speed, so the port
    // stays there too.
    Fault([](sim::Faults& f) { f.writeStatusAddress = addr::kRestart; });
    const ParamsWriteOutcome out = Write(params, shadow, 7);
    EXPECT_EQ(out.result, ParamsWriteResult::RestartFailed);
    EXPECT_TRUE(shadow.SameBlock(params));
    EXPECT_EQ(PortBaud(slot), 4800u);
    EXPECT_EQ(out.address, 1);
    EXPECT_EQ(store.Address(), 1);
    // A status that says no is a refusal, not a lost status.
    EXPECT_EQ(out.restart, RestartSeen::Refused);
}

// The restart's status lost: the sequence follows what the restart may have done, then looks for
// the controller there; found only at the old speed and number, it goes back there. The port and
// the store always end where the controller answers, and the outcome says which.
TEST_F(WorkflowsOnSimulator, LostRestartStatusStillEndsTheSequenceWhereTheControllerIs) {
    struct Case {
        const char* name;
        void (*fault)(sim::Faults&);
        ParamsWriteResult result;
        RestartSeen seen;
        uint32_t baud;
        int address;
    };
    const Case cases[] = {
        {"restarted, status lost",
         [](sim::Faults& f) {
             f.loseRestartStatus = 1;
             f.deafAfterRestartMs = 400;
         },
         ParamsWriteResult::Written, RestartSeen::FoundAtNew, 9600, 12},
        {"restarted late, status lost",
         [](sim::Faults& f) {
             f.loseRestartStatus = 1;
             f.deafAfterRestartMs = 1500; // longer than one wait for the answer
         },
         ParamsWriteResult::Written, RestartSeen::FoundAtNew, 9600, 12},
        {"restarted within the slowest allowed, status lost",
         [](sim::Faults& f) {
             f.loseRestartStatus = 1;
             f.deafAfterRestartMs = 3500;
         },
         ParamsWriteResult::Written, RestartSeen::FoundAtNew, 9600, 12},
        {"not restarted, refused", [](sim::Faults& f) { f.writeStatusAddress = addr::kRestart; },
         ParamsWriteResult::RestartFailed, RestartSeen::Refused, 4800, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ctrl = 1;
        StartBus({1});
        CtrlrParams shadow = ReadBlock();
        CtrlrParams params = shadow;
        params.SetSpeedTrk(2); // 9600
        params.SetAdrTrk_1(12);
        params.SetMeterType(1);
        params.UpdateKsm();
        Fault(c.fault);
        const ParamsWriteOutcome out = Write(params, shadow, 12);
        Fault([](sim::Faults& f) { f = sim::Faults{}; });
        EXPECT_EQ(out.result, c.result);
        EXPECT_EQ(out.restart, c.seen);
        EXPECT_EQ(PortBaud(slot), c.baud);
        EXPECT_EQ(out.address, c.address);
        EXPECT_EQ(store.Address(), c.address);
        // The controller answers where the tool now is (once the conversion's restart is over).
        EXPECT_EQ(AwaitCtrlrAnswer(slot, c.address, kSlowestRestartMs), 1);
        if (c.result == ParamsWriteResult::Written) {
            auto lock = bus->Lock();
            const sim::Controller* ctl = bus->Find(12);
            ASSERT_NE(ctl, nullptr);
            EXPECT_EQ(ctl->Space(0)[addr::kChannelSettsBase + 15], 0x02) << "channels converted";
        }
        ClosePort(slot);
        slot = 0;
        bus.reset();
    }
}

// A restart is sent once, whatever its status: a lost one is awaited (up to the slowest restart
// allowed, and said), a refused one reported. The simulator counts the restarts carried out; a
// refusal that is only given once would let a second request through.
TEST_F(WorkflowsOnSimulator, RestartIsSentOnceAndALostStatusAwaited) {
    constexpr int kSlowMs = 3500;
    constexpr int kTooSlowMs = kSlowestRestartMs + 2000;
    struct Row {
        const char* name;
        void (*fault)(sim::Faults&);
        RestartResult confirmed;
        RestartResult awaited;
        int restarts;
        bool waitTold;
    };
    const Row rows[] = {
        {"clean", [](sim::Faults&) {}, RestartResult::Ready, RestartResult::Ready, 1, false},
        {"status lost", [](sim::Faults& f) { f.loseRestartStatus = 1; }, RestartResult::Ready,
         RestartResult::Ready, 1, true},
        {"status lost, slow restart",
         [](sim::Faults& f) {
             f.loseRestartStatus = 1;
             f.deafAfterRestartMs = kSlowMs;
         },
         RestartResult::Ready, RestartResult::Ready, 1, true},
        {"refused once", [](sim::Faults& f) { f.refuseRestart = 1; }, RestartResult::Refused,
         RestartResult::Refused, 0, false},
        {"status lost, slower than allowed",
         [](sim::Faults& f) {
             f.loseRestartStatus = 1;
             f.deafAfterRestartMs = kTooSlowMs;
         },
         RestartResult::NoAnswer, RestartResult::NoAnswer, 1, true},
    };
    std::vector<std::string> told;
    SetRestartNotice([&told](const char* text) { told.emplace_back(text); });
    for (const bool await : {false, true}) {
        for (const Row& row : rows) {
            SCOPED_TRACE(std::string(row.name) + (await ? ", awaited" : ""));
            StartBus({1});
            told.clear();
            Fault(row.fault);
            const RestartResult got = await ? RestartAndAwait(store) : RestartConfirmed(store);
            EXPECT_EQ(got, await ? row.awaited : row.confirmed);
            EXPECT_EQ(told.size(), row.waitTold ? 1u : 0u);
            // Whatever follows would now be heard: the controller answers (unless it is slower
            // than allowed).
            Fault([](sim::Faults& f) { f = sim::Faults{}; });
            if (got == RestartResult::Ready) {
                EXPECT_EQ(AwaitCtrlrAnswer(slot, ctrl, 0), 1);
            }
            {
                auto lock = bus->Lock();
                EXPECT_EQ(bus->Find(1)->restarts, row.restarts);
            }
            ClosePort(slot);
            slot = 0;
            bus.reset();
        }
    }
    SetRestartNotice(nullptr);
}

// After a restart that moves the controller, it must answer as itself: another controller at the
// new number is no sign that it moved, and nothing is written to that one. Nowhere to be found,
// it is never reported found at the old place.
TEST_F(WorkflowsOnSimulator, MovedControllerIsKnownByItsIdentificationText) {
    constexpr int kNeighbour = 5;
    struct Row {
        const char* name;
        void (*fault)(sim::Faults&);
        bool newSpeed;
        RestartSeen seen;
        int restartsOfFirst;
    };
    const Row rows[] = {
        {"refused",
         [](sim::Faults& f) {
             f.refuseRestart = -1;
             f.refuseRestartController = 1;
         },
         false, RestartSeen::Refused, 0},
        {"status lost, two answer at the new number",
         [](sim::Faults& f) { f.loseRestartStatus = 1; }, false, RestartSeen::Unknown, 1},
        {"status lost, answers nowhere",
         [](sim::Faults& f) {
             f.loseRestartStatus = 1;
             f.deafAfterRestartMs = kSlowestRestartMs + kOldPlaceWaitMs + 2000;
         },
         true, RestartSeen::Lost, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ctrl = 1;
        StartBus({1, kNeighbour});
        CtrlrParams shadow = ReadBlock();
        CtrlrParams params = shadow;
        params.SetAdrTrk_1(kNeighbour);
        if (row.newSpeed) params.SetSpeedTrk(2); // 9600
        params.SetMeterType(1);
        params.UpdateKsm();
        std::vector<uint8_t> neighbourBefore;
        {
            auto lock = bus->Lock();
            neighbourBefore = bus->Find(kNeighbour)->Space(0);
        }
        Fault(row.fault);
        const ParamsWriteOutcome out = Write(params, shadow, kNeighbour);
        EXPECT_EQ(out.result, ParamsWriteResult::RestartFailed);
        EXPECT_EQ(out.restart, row.seen);
        EXPECT_EQ(out.address, 1);
        EXPECT_EQ(store.Address(), 1);
        EXPECT_EQ(PortBaud(slot), 4800u);
        {
            auto lock = bus->Lock();
            const auto& c = bus->Controllers();
            EXPECT_EQ(c[0]->restarts, row.restartsOfFirst);
            EXPECT_EQ(c[1]->restarts, 0);
            EXPECT_TRUE(c[1]->Space(0) == neighbourBefore) << "the other controller was written";
        }
        ClosePort(slot);
        slot = 0;
        bus.reset();
    }
}

} // namespace
} // namespace velmar
