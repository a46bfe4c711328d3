// The simulator's truth record: off, it keeps nothing; on, it keeps what the controller took,
// applied and carried out, including what the tool could not see (a write whose status was
// lost, a restart without its status).
#include "sim/core/controller_layout.h"
#include "sim/core/truth_record.h"
#include "sim/sim_fixture.h"

#include <algorithm>

namespace velmar::sim::test {
namespace {

namespace L = layout;

int Count(const std::vector<TruthEvent>& events, TruthKind kind) {
    return static_cast<int>(std::count_if(events.begin(), events.end(),
                                          [kind](const TruthEvent& e) { return e.kind == kind; }));
}

const TruthEvent* First(const std::vector<TruthEvent>& events, TruthKind kind) {
    for (const TruthEvent& e : events)
        if (e.kind == kind) return &e;
    return nullptr;
}

TEST_F(BusTest, TruthRecordKeepsNothingUntilEnabled) {
    StartBus();
    EXPECT_EQ(WriteMem(*line, 1, L::kOptionalBlockA, {0x01, 0x02}), 0);
    EXPECT_TRUE(bus->Truth().Snapshot().empty());
}

TEST_F(BusTest, TruthRecordKeepsWritesActionsAndLostStatuses) {
    StartBus();
    const Bytes before = Peek(1, L::kOptionalBlockA, 2);
    bus->Truth().Enable(true);
    // A write whose status is lost: applied all the same, and recorded so.
    WithFaults([](Faults& f) { f.dropReplies = 1; });
    EXPECT_EQ(WriteMem(*line, 1, L::kOptionalBlockA, {0xA1, 0xA2}), -1);
    // The pulse simulator on, a restart whose status is lost.
    EXPECT_EQ(WriteMem(*line, 1, L::kStatusReg, {L::kPulseSimulatorBit}, 2), 0);
    WithFaults([](Faults& f) { f.loseRestartStatus = 1; });
    EXPECT_EQ(WriteMem(*line, 1, L::kRestartTarget, {0x01}), -1);

    const auto events = bus->Truth().Snapshot();
    const TruthEvent* w = First(events, TruthKind::Write);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->unit, 0);
    EXPECT_EQ(w->number, 1);
    EXPECT_EQ(w->space, 0);
    EXPECT_EQ(w->address, L::kOptionalBlockA);
    EXPECT_EQ(w->before, before);
    EXPECT_EQ(w->bytes, (Bytes{0xA1, 0xA2}));
    std::vector<TruthAction> actions;
    std::vector<int> values;
    for (const TruthEvent& e : events) {
        if (e.kind != TruthKind::Action) continue;
        actions.push_back(e.action);
        values.push_back(e.value);
    }
    EXPECT_EQ(actions,
              (std::vector<TruthAction>{TruthAction::PulseSimulator, TruthAction::Restart}));
    EXPECT_EQ(values, (std::vector<int>{L::kPulseSimulatorBit, 0})) << "the restart's status lost";
    EXPECT_EQ(Count(events, TruthKind::Frame), 3);
    // Each reply is recorded, the lost ones as not sent.
    int lost = 0;
    for (const TruthEvent& e : events) lost += e.kind == TruthKind::Reply && !e.sent ? 1 : 0;
    EXPECT_EQ(lost, 2);
    EXPECT_NE(ToJsonLine(*w).find("\"kind\":\"write\""), std::string::npos);
    EXPECT_NE(ToJsonLine(*w).find("\"after\":\"a1a2\""), std::string::npos);
}

TEST_F(BusTest, TruthRecordHookSeesEachWriteBeforeItsReply) {
    StartBus();
    int seen = 0;
    bus->Truth().OnWrite([&seen](const TruthEvent&) { ++seen; });
    bus->Truth().Enable(true);
    EXPECT_EQ(WriteMem(*line, 1, L::kOptionalBlockA, {0x01, 0x02}), 0);
    EXPECT_EQ(seen, 1) << "the reply left after the hook ran";
}

} // namespace
} // namespace velmar::sim::test
