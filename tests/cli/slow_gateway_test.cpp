// velmar-cli through a serial device server whose latency lies around the reply waits: every
// reply must still be taken for its own request, so each image save is right byte for byte or
// fails; none is wrong. The network allowance reaches the memory reads too.
#include "cli_bus_fixture.h"
#include "gateway_stand_in.h"
#include "sim/core/tcp_bridge.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <memory>

namespace velmar::test {
namespace {

class SlowGatewayTest : public CliBusTest {
  protected:
    SlowGatewayTest() : CliBusTest(Controllers({1}, 1)) {}
    void SetUp() override {
        CliBusTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        ASSERT_EQ(bridge.Start(sim.SlavePath(), 0), 0);
        gateway = std::make_unique<GatewayStandIn>(bridge.Port());
    }
    void TearDown() override {
        if (gateway) gateway->Stop();
        bridge.Stop();
        CliBusTest::TearDown();
    }
    std::string GatewayPort() const { return "tcp:127.0.0.1:" + std::to_string(gateway->Port()); }
    std::string ControllerImage() {
        auto lock = sim.Lock();
        const auto bytes = sim.Find(1)->ImageBytes();
        return {bytes.begin(), bytes.end()};
    }

    sim::TcpBridge bridge;
    std::unique_ptr<GatewayStandIn> gateway;
};

TEST_F(SlowGatewayTest, EachImageSaveIsRightOrFailsWhileTheLatencySweepsAcrossTheWaits) {
    gateway->latencyMs = 150;
    gateway->latencySweepMs = 150;
    gateway->sweepPeriodMs = 2600;
    gateway->jitterMs = 25;
    ASSERT_TRUE(gateway->Start());
    const std::string image = ControllerImage();
    constexpr int kSaves = 2;
    int right = 0;
    for (int i = 0; i < kSaves; ++i) {
        const std::string name = "save" + std::to_string(i) + ".bin";
        const auto r = Run(GatewayPort(), {"--log", "image", "save", name});
        SCOPED_TRACE(r.out + r.err);
        if (r.exitCode == 0) {
            EXPECT_EQ(SlurpFile(Path(name)), image) << "a saved image must be the controller's";
            ++right;
        } else {
            EXPECT_FALSE(std::filesystem::exists(Path(name)));
        }
    }
    EXPECT_GT(right, 0) << "the line is slow, not broken";
}

TEST_F(SlowGatewayTest, NetworkAllowanceReachesMemoryReads) {
    // Replies 600 ms late: beyond the reads' own wait and the watch after it, within the
    // allowance given. Without retries the first wait must be long enough.
    gateway->latencyMs = 600;
    ASSERT_TRUE(gateway->Start());
    const auto r = Run(GatewayPort(), {"--retries", "0", "--net-allowance", "700", "sizes"});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
}

} // namespace
} // namespace velmar::test
