// velmar-cli through a network port (tcp:127.0.0.1:PORT) to the simulated line served as a serial
// device server serves it: the same results as on the pseudo-terminal, and a connection the
// gateway drops in the middle of an exchange costs that exchange only.
#include "cli_bus_fixture.h"
#include "sim/core/tcp_bridge.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace velmar::test {
namespace {

class NetworkPortTest : public CliBusTest {
  protected:
    NetworkPortTest() : CliBusTest(Controllers({1, 3, 5})) {}
    void SetUp() override {
        CliBusTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        ASSERT_EQ(bridge.Start(sim.SlavePath(), 0), 0);
        tcpName = "tcp:127.0.0.1:" + std::to_string(bridge.Port());
    }
    void TearDown() override {
        bridge.Stop();
        CliBusTest::TearDown();
    }

    sim::TcpBridge bridge;
    std::string tcpName;
};

TEST_F(NetworkPortTest, SameResultsAsOnTheSerialLine) {
    const std::vector<std::vector<std::string>> commands = {
        {"-a", "3", "identify"}, {"report", "--extended"}, {"image", "save", "tcp.bin"}};
    for (const auto& args : commands) {
        const auto serial = Run(sim.SlavePath(), args);
        const auto network = Run(tcpName, args);
        EXPECT_EQ(network.exitCode, 0) << args.back() << ": " << network.err;
        EXPECT_EQ(network.out, serial.out) << args.back();
        EXPECT_EQ(network.err, serial.err) << args.back();
    }
    auto lock = sim.Lock();
    const auto image = sim.Find(1)->ImageBytes();
    EXPECT_EQ(SlurpFile(workDir + "/tcp.bin"), std::string(image.begin(), image.end()));
}

TEST_F(NetworkPortTest, DroppedConnectionIsReportedOnceAndReopened) {
    // The gateway hangs up while the image of controller 1 is being read (no retries: a
    // repeated read would get through on the reopened connection).
    bridge.DropAfterBytes(200);
    const auto r = Run(tcpName, {"--log", "--retries", "0", "--json", "backup", "st", "1", "5"});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    const auto manifest = nlohmann::json::parse(r.out, nullptr, false);
    ASSERT_FALSE(manifest.is_discarded()) << r.out;
    std::vector<std::pair<int, std::string>> outcome;
    for (const auto& item : manifest.at("controllers"))
        outcome.emplace_back(item.at("number").get<int>(), item.at("status").get<std::string>());
    EXPECT_EQ(outcome, (std::vector<std::pair<int, std::string>>{
                           {1, "failed"}, {3, "saved"}, {5, "saved"}}));
    EXPECT_EQ(bridge.Connections(), 2);

    // One line in the exchange log for the loss (code 104, ECONNRESET), however many exchanges
    // met the closed connection before it was opened again.
    const std::string log = SlurpFile(workDir + "/port.out");
    size_t lines = 0;
    for (size_t at = log.find("(\xAA\xAE\xA4 104)"); at != std::string::npos;
         at = log.find("(\xAA\xAE\xA4 104)", at + 1))
        ++lines;
    EXPECT_EQ(lines, 1u) << log.size();
}

TEST_F(NetworkPortTest, BadNamesAndRefusedConnections) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"tcp:127.0.0.1", "сетевой порт задается как tcp:АДРЕС:ПОРТ"},
        {"tcp:127.0.0.1:70000", "сетевой порт задается как tcp:АДРЕС:ПОРТ"},
        {"tcp::4001", "сетевой порт задается как tcp:АДРЕС:ПОРТ"},
    };
    for (const auto& [name, reason] : cases) {
        const auto r = Run(name, {"identify"});
        EXPECT_EQ(r.exitCode, 1) << name;
        EXPECT_NE(r.err.find(reason), std::string::npos) << name << ": " << r.err;
    }
    bridge.Stop(); // nobody listens on the port any more
    const auto r = Run(tcpName, {"identify"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("шлюз не принимает соединение"), std::string::npos) << r.err;
}

} // namespace
} // namespace velmar::test
