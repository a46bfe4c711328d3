// set-params through restarts that go wrong, as the controller sees them: the simulator's own
// count of restarts carried out, its memory and its line speed, besides what velmar-cli says.
// A restart is sent once; a lost status is awaited; a refused one is reported as refused; after
// a restart that moves the controller nothing is written until it answered as itself.
#include "cli_bus_fixture.h"
#include "data/channel_setts.h"
#include "data/memory_map.h"
#include "data/restart_wait.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace velmar::test {
namespace {

constexpr int kOld = 1;        // the controller written to
constexpr int kNew = 7;        // its new side-A number where that is free
constexpr int kNeighbour = 5;  // another controller on the same line
constexpr int kHosesInUse = 4; // two sides, two hoses each
constexpr uint32_t kNewBaud = 9600;
constexpr int kSpeed9600 = 2;
// A restart slower than the old wait for it, within the slowest allowed.
constexpr int kSlowRestartMs = 3500;
// Slower than the slowest allowed: nothing can tell where the controller is.
constexpr int kTooSlowRestartMs = kSlowestRestartMs + 3000;
constexpr int kMeterType = 1;
constexpr int kExitNoAnswer = 1;   // velmar-cli: the controller did not answer or refused
constexpr int kRecordSlot = 0x100; // room of one record in controller memory

const std::string kWaitNotice = "ожидание ответа контроллера";

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class SetParamsRestartTest : public CliBusTest {
  protected:
    explicit SetParamsRestartTest(std::vector<int> addresses = {kOld})
        : CliBusTest(Controllers(std::move(addresses))) {}

    void WithFaults(auto change) {
        auto lock = sim.Lock();
        change(sim.GetFaults());
    }
    sim::Controller& At(int number) {
        sim::Controller* c = sim.Find(number);
        EXPECT_NE(c, nullptr) << "no controller answers at " << number;
        return *c;
    }
    int Restarts(int number) {
        auto lock = sim.Lock();
        return At(number).restarts;
    }
    // The meter factor of every hose in use is the new meter type's.
    bool ChannelsConverted(int number) {
        auto lock = sim.Lock();
        const auto& er = At(number).Space(0);
        for (int n = 0; n < kHosesInUse; ++n) {
            const auto* s = er.data() + addr::kChannelSettsBase + n * kRecordSlot;
            const ChannelSetts record(std::span<const uint8_t>(s, setts::kLength));
            if (record.ImpLit() != setts::MeterFactor(kMeterType)) return false;
        }
        return true;
    }
};

// Case: the number changes and the meter type with it. A clean run restarts twice (the block,
// then the converted channels); a lost status changes nothing of that, however many are lost and
// however slow the controller comes back within the allowed time: it is awaited, not restarted
// again.
TEST_F(SetParamsRestartTest, LostStatusesAreAwaitedNotRepeated) {
    struct Row {
        const char* name;
        int lost;
        int deafMs;
    };
    const Row rows[] = {
        {"clean", 0, 0},
        {"block's status lost", 1, 0},
        {"both statuses lost", 2, 0},
        {"both lost, slow restarts", 2, kSlowRestartMs},
    };
    int number = kOld;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const int target = number == kOld ? kNew : kOld;
        const int restartsBefore = Restarts(number);
        WithFaults([&](sim::Faults& f) {
            f = {};
            f.loseRestartStatus = row.lost;
            f.deafAfterRestartMs = row.deafMs;
        });
        // Back to the old meter type first, through the simulator, so each row converts.
        {
            auto lock = sim.Lock();
            sim::Controller& c = At(number);
            for (int n = 0; n < kHosesInUse; ++n) {
                const int at = addr::kChannelSettsBase + n * kRecordSlot + setts::kImpLit.offset;
                c.Space(0)[static_cast<size_t>(at)] = setts::MeterFactor(0) & 0xFF;
                c.Space(0)[static_cast<size_t>(at) + 1] = setts::MeterFactor(0) >> 8;
            }
        }
        const CliOutcome r =
            Run({"-a", std::to_string(number), "set-params", "AdrTrk_1=" + std::to_string(target),
                 "MeterType=" + std::to_string(kMeterType)});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_TRUE(Has(r.out, "Параметры успешно записаны")) << r.out;
        EXPECT_TRUE(Has(r.out, "Работа с Адресом №" + std::to_string(target))) << r.out;
        EXPECT_EQ(Has(r.err, kWaitNotice), row.lost > 0) << r.err;
        EXPECT_EQ(Restarts(target) - restartsBefore, 2) << "the block's and the channels'";
        EXPECT_TRUE(ChannelsConverted(target));
        number = target;
    }
}

// Case: a speed change whose restart status is lost and whose controller takes seconds to come
// back. The tool keeps listening at the new speed for as long as a restart may take; slower
// than that, it says it does not know and writes nothing more.
TEST_F(SetParamsRestartTest, SlowRestartAfterASpeedChangeIsFoundAtTheNewSpeed) {
    WithFaults([](sim::Faults& f) {
        f.loseRestartStatus = 1;
        f.deafAfterRestartMs = kSlowRestartMs;
    });
    const CliOutcome r = Run({"set-params", "SpeedTrk=" + std::to_string(kSpeed9600)});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Has(r.out, "Скорость порта: " + std::to_string(kNewBaud))) << r.out;
    EXPECT_TRUE(Has(r.err, kWaitNotice)) << r.err;
    {
        auto lock = sim.Lock();
        EXPECT_EQ(At(kOld).LineBaud(), kNewBaud);
        EXPECT_EQ(At(kOld).restarts, 1);
    }
    // The controller is where the tool said: at the new speed.
    WithFaults([](sim::Faults& f) { f = {}; });
    const CliOutcome ident = Run({"-b", std::to_string(kNewBaud), "identify"});
    EXPECT_EQ(ident.exitCode, 0) << ident.err;
}

TEST_F(SetParamsRestartTest, RestartSlowerThanAllowedIsNotClaimedFoundAnywhere) {
    std::vector<uint8_t> before;
    {
        auto lock = sim.Lock();
        before = At(kOld).Space(0);
    }
    WithFaults([](sim::Faults& f) {
        f.loseRestartStatus = 1;
        f.deafAfterRestartMs = kTooSlowRestartMs;
    });
    const CliOutcome r = Run({"set-params", "SpeedTrk=" + std::to_string(kSpeed9600),
                              "MeterType=" + std::to_string(kMeterType)});
    EXPECT_EQ(r.exitCode, kExitNoAnswer);
    EXPECT_TRUE(Has(r.err, "не отвечает ни на новых, ни на прежних")) << r.err;
    EXPECT_FALSE(Has(r.err + r.out, "отвечает только на прежних")) << r.err;
    EXPECT_FALSE(Has(r.out, "Скорость порта")) << r.out;
    auto lock = sim.Lock();
    EXPECT_EQ(At(kOld).restarts, 1);
    // Only the parameter block was written: no channel was converted.
    const auto& now = At(kOld).Space(0);
    for (size_t a = 0; a < now.size(); ++a) {
        if (a >= static_cast<size_t>(addr::kParamsLength) &&
            a < static_cast<size_t>(addr::kParamsLength + kRecordSlot))
            continue;
        ASSERT_EQ(now[a], before[a]) << "byte " << a;
    }
}

// Case: nothing moves (the meter type alone) and the restart status is lost: the controller is
// awaited where it is and the channels are converted once it answers.
TEST_F(SetParamsRestartTest, LostStatusWithNothingMovingStillConvertsTheChannels) {
    WithFaults([](sim::Faults& f) {
        f.loseRestartStatus = 1;
        f.deafAfterRestartMs = kSlowRestartMs;
    });
    const CliOutcome r = Run({"set-params", "MeterType=" + std::to_string(kMeterType)});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Has(r.out, "Ответ на команду рестарта потерян; контроллер снова отвечает"))
        << r.out;
    EXPECT_TRUE(ChannelsConverted(kOld));
    EXPECT_EQ(Restarts(kOld), 2);
}

// Case: controller 1 is to take number 5, where another controller already answers. Whatever
// becomes of its restart, the other controller is never written nor restarted: refused, the
// restart is reported as refused; carried out with its status lost, the two answer together and
// the tool says it does not know where controller 1 is.
class TwoControllersRestartTest : public SetParamsRestartTest {
  protected:
    TwoControllersRestartTest() : SetParamsRestartTest({kOld, kNeighbour}) {}

    CliOutcome MoveOntoTheNeighbour(void (*fault)(sim::Faults&), const std::string& said,
                                    int restartsOfFirst) {
        sim::Controller* first = sim.Find(kOld);
        sim::Controller* other = sim.Find(kNeighbour);
        if (first == nullptr || other == nullptr) {
            ADD_FAILURE() << "controllers missing";
            return {};
        }
        std::vector<uint8_t> otherBefore;
        {
            auto lock = sim.Lock();
            otherBefore = other->Space(0);
            fault(sim.GetFaults());
        }
        const CliOutcome r = Run({"set-params", "AdrTrk_1=" + std::to_string(kNeighbour),
                                  "MeterType=" + std::to_string(kMeterType)});
        EXPECT_EQ(r.exitCode, kExitNoAnswer);
        EXPECT_TRUE(Has(r.err, said)) << r.err;
        EXPECT_FALSE(Has(r.out, "Параметры успешно записаны")) << r.out;
        auto lock = sim.Lock();
        EXPECT_EQ(first->restarts, restartsOfFirst);
        EXPECT_EQ(other->restarts, 0);
        EXPECT_TRUE(other->Space(0) == otherBefore) << "the other controller was written";
        return r;
    }
};

TEST_F(TwoControllersRestartTest, RefusedRestartIsReportedAsRefusedAndNothingFollows) {
    const CliOutcome r = MoveOntoTheNeighbour(
        [](sim::Faults& f) {
            f.refuseRestart = -1;
            f.refuseRestartController = kOld;
        },
        "Контроллер отказался выполнить рестарт", 0);
    EXPECT_FALSE(Has(r.err, "потерян")) << r.err;
}

TEST_F(TwoControllersRestartTest, MovedOntoAnotherControllerIsNotTakenForItself) {
    MoveOntoTheNeighbour([](sim::Faults& f) { f.loseRestartStatus = 1; }, "Где он, неизвестно", 1);
}

} // namespace
} // namespace velmar::test
