// Backups that share what they write or lose their gateway under way: two multi-line backups
// into one folder at once, and a gateway that goes away for longer than the reconnection series
// while a controller's image is read.
#include "cli_bus_fixture.h"
#include "gateway_stand_in.h"
#include "sim/core/bus_simulator.h"
#include "sim/core/tcp_bridge.h"

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <set>
#include <sys/file.h>
#include <thread>

namespace velmar::test {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

constexpr int kLastNumber = 8;
constexpr auto kRunLimit = std::chrono::seconds(60);
// Longer than the link's whole reconnection series (0 + 250 + 500 + 1000 + 1500 ms): back just
// after it, and well after it.
constexpr int kLongOutagesMs[] = {3700, 4500};
// The memory header of a read of the first channel record: the read that meets the outage.
const std::vector<uint8_t> kChannelReadHeader = {0x01, 0x00, 0x21, 0x00, 0x00};

class SharedBackupTest : public CliBusTest {
  protected:
    SharedBackupTest() : CliBusTest(Controllers({1, 3}, 1)), second(Controllers({7}, 1)) {}
    void SetUp() override {
        CliBusTest::SetUp();
        if (IsSkipped()) return;
        ASSERT_EQ(second.Start(), 0);
        for (const char* run : {"a", "b"}) fs::create_directory(Path(run));
        std::ofstream(Path("a/ports")) << sim.SlavePath() << '\n';
        std::ofstream(Path("b/ports")) << second.SlavePath() << '\n';
    }
    void TearDown() override {
        second.Stop();
        CliBusTest::TearDown();
    }
    // A multi-line backup of the run folder's ports into the shared folder.
    std::future<CliOutcome> Start(const std::string& run) {
        return std::async(std::launch::async, [this, run] {
            return RunCliProgram(binary, Path(run),
                                 {"-b", "4800", "--json", "--ports-file", "ports", "backup",
                                  Path("fleet"), "1", std::to_string(kLastNumber)});
        });
    }
    std::set<std::string> RecordedPorts() {
        std::set<std::string> ports;
        const json record = Parse(SlurpFile(Path("fleet/fleet.json")));
        for (const json& line : record.at("lines")) {
            EXPECT_EQ(line.at("status"), "ok") << line.dump();
            ports.insert(line.at("port").get<std::string>());
        }
        EXPECT_TRUE(record.at("complete").get<bool>()) << record.dump();
        return ports;
    }

    sim::BusSimulator second;
};

TEST_F(SharedBackupTest, TwoLinesBackedUpAtOnceBothStayInTheRecord) {
    auto a = Start("a");
    auto b = Start("b");
    ASSERT_EQ(a.wait_for(kRunLimit), std::future_status::ready);
    ASSERT_EQ(b.wait_for(kRunLimit), std::future_status::ready);
    const CliOutcome ra = a.get(), rb = b.get();
    EXPECT_EQ(ra.exitCode, 0) << ra.err;
    EXPECT_EQ(rb.exitCode, 0) << rb.err;
    EXPECT_EQ(RecordedPorts(), (std::set<std::string>{sim.SlavePath(), second.SlavePath()}));
}

TEST_F(SharedBackupTest, ARecordWrittenWhileARunWaitsForTheFolderIsKept) {
    // The test holds the folder's lock: the run must wait for it before it reads the record, so
    // that what another run wrote meanwhile is merged, not overwritten.
    fs::create_directory(Path("fleet"));
    const int fd = ::open(Path("fleet").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    auto a = Start("a");
    // Its line is done once the line's folder names a latest backup; the record comes after.
    const auto until = std::chrono::steady_clock::now() + kRunLimit;
    bool lineDone = false;
    while (!lineDone && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        for (const auto& entry : fs::directory_iterator(Path("fleet")))
            lineDone = lineDone || fs::is_symlink(entry.path() / "latest");
    }
    ASSERT_TRUE(lineDone);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const json other = {{"command", "backup"},
                        {"complete", true},
                        {"lines", {{{"port", second.SlavePath()}, {"status", "ok"}}}}};
    std::ofstream(Path("fleet/fleet.json")) << other.dump(2) << '\n';
    ::close(fd); // releases the lock
    ASSERT_EQ(a.wait_for(kRunLimit), std::future_status::ready);
    const CliOutcome ra = a.get();
    EXPECT_EQ(ra.exitCode, 0) << ra.err;
    EXPECT_EQ(RecordedPorts(), (std::set<std::string>{sim.SlavePath(), second.SlavePath()}));
}

// ---- a gateway lost while an image is read

class LostGatewayTest : public CliBusTest {
  protected:
    LostGatewayTest() : CliBusTest(Controllers({1}, 1)) {}
    void SetUp() override {
        CliBusTest::SetUp();
        if (IsSkipped()) return;
        ASSERT_EQ(bridge.Start(sim.SlavePath(), 0), 0);
        gateway = std::make_unique<GatewayStandIn>(bridge.Port());
    }
    void TearDown() override {
        if (gateway) gateway->Stop();
        bridge.Stop();
        CliBusTest::TearDown();
    }
    sim::TcpBridge bridge;
    std::unique_ptr<GatewayStandIn> gateway;
};

TEST_F(LostGatewayTest, AnImageReadFailedByALostGatewayNamesTheLostConnection) {
    // Back before the read gives up, or still away when it does: the reason names the gateway.
    for (const int outageMs : kLongOutagesMs) {
        gateway->Stop();
        gateway = std::make_unique<GatewayStandIn>(bridge.Port());
        gateway->outageAtBytes = kChannelReadHeader;
        gateway->outageMs = outageMs;
        ASSERT_TRUE(gateway->Start());
        const std::string name = "tcp:127.0.0.1:" + std::to_string(gateway->Port());
        const std::string dir = "st" + std::to_string(outageMs);
        const auto r = Run(name, {"--json", "backup", dir, "1", "1"});
        const json manifest = Parse(r.out);
        ASSERT_EQ(manifest.at("controllers").size(), 1u) << r.out;
        const json& one = manifest.at("controllers")[0];
        // A gateway back in time for the owed replies to come lets the read finish: then the
        // image is the controller's own.
        if (one.at("status") == "saved") {
            EXPECT_EQ(r.exitCode, 0) << outageMs << ": " << r.err;
            const std::string file = Path(dir + "/" + manifest.value("folder", "?") + "/" +
                                          one.at("file").get<std::string>());
            std::vector<uint8_t> image;
            {
                auto lock = sim.Lock();
                image = sim.Controllers()[0]->ImageBytes();
            }
            EXPECT_EQ(SlurpFile(file), std::string(image.begin(), image.end())) << outageMs;
            continue;
        }
        EXPECT_EQ(r.exitCode, 1) << outageMs << ": " << r.err;
        EXPECT_EQ(one.at("status"), "failed") << one.dump();
        const std::string reason = one.value("reason", "");
        EXPECT_NE(reason.find("шлюз"), std::string::npos) << outageMs << ": " << reason;
        EXPECT_NE(reason.find(name), std::string::npos) << outageMs << ": " << reason;
    }
}

} // namespace
} // namespace velmar::test
