// Backups a station can rely on, run as a script would run velmar-cli: gateway outages between
// and under controllers, stale bytes after a connect, repeated backups, backups with nothing to
// check, save targets that are not plain files, controllers reporting impossible sizes, the
// reserve address in ranges and several lines at once.
#include "cli_bus_fixture.h"
#include "gateway_stand_in.h"
#include "sim/core/bus_simulator.h"
#include "sim/core/tcp_bridge.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <regex>
#include <sys/stat.h>

namespace velmar::test {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

class CliFixture : public CliBusTest {
  protected:
    explicit CliFixture(sim::Options options = Controllers({1, 3, 5}))
        : CliBusTest(std::move(options)) {}
};

// ---- gateways that drop, stay away or hand over stale bytes

// One-sided controllers 1, 3 and 5: what the gateway does is all that varies.
class GatewayTest : public CliFixture {
  protected:
    GatewayTest() : CliFixture(Controllers({1, 3, 5}, 1)) {}
    void SetUp() override {
        CliFixture::SetUp();
        if (IsSkipped()) return;
        ASSERT_EQ(bridge.Start(sim.SlavePath(), 0), 0);
        gateway = std::make_unique<GatewayStandIn>(bridge.Port());
    }
    void TearDown() override {
        if (gateway) gateway->Stop();
        bridge.Stop();
        CliFixture::TearDown();
    }
    std::string Name() const { return "tcp:127.0.0.1:" + std::to_string(gateway->Port()); }

    sim::TcpBridge bridge;
    std::unique_ptr<GatewayStandIn> gateway;
};

TEST_F(GatewayTest, OutageBetweenControllersIsWaitedOutOrReportedNeverTakenForAbsence) {
    struct Case {
        int outageMs;
        int exitCode;
        std::vector<std::pair<int, std::string>> outcome;
    };
    const std::vector<Case> cases = {
        {-1, 1, {{1, "saved"}, {3, "unreached"}, {4, "unreached"}, {5, "unreached"}}},
        {1000, 0, {{1, "saved"}, {3, "saved"}, {5, "saved"}}},
    };
    for (const Case& c : cases) {
        gateway->Stop();
        gateway = std::make_unique<GatewayStandIn>(bridge.Port());
        gateway->outageAtPoll = 3;
        gateway->outageMs = c.outageMs;
        ASSERT_TRUE(gateway->Start());
        // The relay runs in this busy test process: repeated reads absorb its delays.
        const auto r = Run(Name(), {"--retries", "10", "--json", "backup", "st", "1", "5"});
        EXPECT_EQ(r.exitCode, c.exitCode) << c.outageMs << ": " << r.err;
        std::vector<std::pair<int, std::string>> outcome;
        const json manifest = Parse(r.out);
        for (const auto& item : manifest.at("controllers")) {
            outcome.emplace_back(item.at("number").get<int>(),
                                 item.at("status").get<std::string>());
            if (item.at("status") == "unreached") {
                EXPECT_NE(
                    item.at("reason").get<std::string>().find("нет связи со шлюзом " + Name()),
                    std::string::npos)
                    << item.dump();
            }
        }
        // A gateway gone for good may go before controller 1's image is read: the search can
        // have polled the next numbers first, on a slow machine. Then 1 fails with the reason;
        // it is never absent.
        if (c.outageMs < 0 && !outcome.empty() &&
            outcome.front() == std::pair<int, std::string>{1, "failed"})
            outcome.front().second = "saved";
        EXPECT_EQ(outcome, c.outcome) << c.outageMs << ": " << r.err;
    }
}

TEST_F(GatewayTest, StaleBytesAfterConnectAndReconnectAreNotTakenForReplies) {
    // The gateway greets every connection with a poll reply of controller 9, and goes down for a
    // moment at the first poll of 7: neither greeting may turn into a controller.
    gateway->staleOnConnect = {9, 0x21, 0x00, 0x3B};
    gateway->outageAtPoll = 7;
    gateway->outageMs = 300;
    ASSERT_TRUE(gateway->Start());
    const auto r = Run(Name(), {"--thorough", "scan", "7", "8"});
    EXPECT_EQ(r.out, "Трк №7 не найдено.\nТрк №8 не найдено.\n") << r.err;
    EXPECT_EQ(gateway->Connections(), 2);
}

// ---- backups on the pseudo-terminal

using BackupTrustTest = CliFixture;

TEST_F(BackupTrustTest, RepeatedBackupsKeepTheEarlierOneAndLatestNamesTheLastComplete) {
    auto r = Run({"--json", "backup", "st", "1", "6"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string first = Parse(r.out).at("folder");
    EXPECT_EQ(fs::read_symlink(Path("st/latest")), first);
    const std::string firstManifest = SlurpFile(Path("st/" + first + "/manifest.json"));

    {
        auto lock = sim.Lock();
        sim.GetFaults().mutedReadController = 3;
        sim.GetFaults().mutedReadAddress = 0x2000;
    }
    r = Run({"--json", "backup", "st", "1", "6"});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    const std::string second = Parse(r.out).at("folder");
    EXPECT_NE(second, first);
    EXPECT_TRUE(fs::exists(Path("st/" + second + "/manifest.json")));
    EXPECT_EQ(fs::read_symlink(Path("st/latest")), first); // the incomplete run is not latest
    EXPECT_EQ(SlurpFile(Path("st/" + first + "/manifest.json")), firstManifest);

    {
        auto lock = sim.Lock();
        sim.GetFaults().mutedReadController = -1;
    }
    r = Run({"verify", "st"}); // the top folder: its latest run is checked
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Трк №1: совпадает с копией\nТрк №3: совпадает с копией\n"
                     "Трк №5: совпадает с копией\n");
}

TEST_F(BackupTrustTest, VerifyRefusesBackupsWithNothingToCheck) {
    const std::vector<std::pair<std::string, std::string>> manifests = {
        {R"([{"number": 1, "status": "failed", "reason": "x"}])", "проверять нечего"},
        {"[]", "проверять нечего"},
        {R"([{"number": 4294967297, "status": "saved", "file": "a.bin", "size": 1,
              "sha256": "00"}])",
         "поврежден"},
    };
    fs::create_directory(Path("b"));
    for (const auto& [controllers, message] : manifests) {
        std::ofstream(Path("b/manifest.json"))
            << R"({"first": 1, "last": 31, "controllers": )" << controllers << "}";
        const auto r = Run({"verify", "b"});
        EXPECT_EQ(r.exitCode, 3) << controllers;
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    }
    // A copy that is a FIFO is reported, not waited on.
    ::mkfifo(Path("b/trk1.bin").c_str(), 0600);
    std::ofstream(Path("b/manifest.json"))
        << R"({"port": ")" << sim.SlavePath()
        << R"(", "first": 1, "last": 1, "controllers": [{"number": 1, "status": "saved",
              "file": "trk1.bin", "size": 1810, "sha256": "00"}]})";
    const auto r = Run({"verify", "b"});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.out.rfind("Трк №1: копия повреждена", 0), 0u) << r.out;
}

TEST_F(BackupTrustTest, ImageSaveRefusesTargetsThatAreNotPlainFiles) {
    ::mkfifo(Path("fifo").c_str(), 0600);
    std::ofstream(Path("good.bin")) << "good";
    fs::create_symlink("good.bin", Path("link.bin"));
    fs::create_directory(Path("dir.bin"));
    const std::vector<std::pair<std::string, std::string>> targets = {
        {"fifo", "канал (FIFO)"},
        {"link.bin", "символическая ссылка"},
        {"dir.bin", "каталог"},
    };
    for (const auto& [name, reason] : targets) {
        const auto r = Run({"image", "save", name});
        EXPECT_EQ(r.exitCode, 3) << name;
        EXPECT_NE(r.err.find(reason), std::string::npos) << name << ": " << r.err;
    }
    EXPECT_TRUE(fs::is_fifo(Path("fifo")));
    EXPECT_TRUE(fs::is_symlink(Path("link.bin")));
    EXPECT_EQ(SlurpFile(Path("good.bin")), "good");
}

TEST_F(BackupTrustTest, ImpossibleSizesAndFileLimitsNeverReplaceAGoodFile) {
    std::ofstream(Path("img.bin")) << "good";
    // A write killed before its rename left a temporary file; its process is gone.
    const pid_t gone = ::fork();
    if (gone == 0) _exit(0);
    ::waitpid(gone, nullptr, 0);
    const std::string leftover = Path("img.bin.tmp" + std::to_string(gone) + "_0");
    std::ofstream(leftover) << "half";

    // A file size limit: the write fails cleanly instead of the program being killed.
    auto r = RunCliProgram("/bin/sh", workDir,
                           {"-c", "ulimit -f 1; exec '" + binary + "' -p " + sim.SlavePath() +
                                      " -b 4800 image save img.bin"});
    EXPECT_EQ(r.exitCode, 3) << r.err;
    EXPECT_EQ(SlurpFile(Path("img.bin")), "good");
    for (const auto& entry : fs::directory_iterator(workDir))
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();

    {
        auto lock = sim.Lock();
        for (int i = 0; i < 7; ++i) sim.Find(1)->Space(0)[0x3040 + i] = 0;
    }
    r = Run({"image", "save", "img.bin"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("неверные размеры записей"), std::string::npos) << r.err;
    EXPECT_EQ(SlurpFile(Path("img.bin")), "good");
}

TEST_F(BackupTrustTest, ReserveAddressOnlyOnPurposeAndAnIncompleteReplyIsPolledAgain) {
    auto r = Run({"scan", "239", "241"});
    EXPECT_EQ(r.out.find("Трк №240"), std::string::npos) << r.out;
    r = Run({"--reserve", "scan", "239", "241"});
    EXPECT_NE(r.out.find("Трк №240"), std::string::npos) << r.out;

    // The first reply is cut short: the search gives it the full poll instead of passing on.
    {
        auto lock = sim.Lock();
        sim.GetFaults().truncateReplies = 1;
    }
    r = Run({"scan", "1", "1"});
    EXPECT_EQ(r.out, "Трк №1 найдено.\n") << r.err;
}

TEST_F(BackupTrustTest, SeveralLinesAtOnceEachInItsOwnFolder) {
    sim::BusSimulator second(Controllers({7}));
    ASSERT_EQ(second.Start(), 0);
    std::ofstream(Path("ports")) << "# station 2\n" << second.SlavePath() << "  # pump room\n\n";
    const auto r =
        RunCliProgram(binary, workDir,
                      {"-b", "4800", "--json", "--port", sim.SlavePath(), "--ports-file", "ports",
                       "--port", "/dev/velmar-none", "backup", "fleet", "1", "8"});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    const json summary = Parse(r.out);
    EXPECT_EQ(summary, Parse(SlurpFile(Path("fleet/fleet.json"))));
    const json& lines = summary.at("lines");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].at("saved"), 3);
    EXPECT_EQ(lines[1].at("saved"), 1);
    EXPECT_EQ(lines[2].at("status"), "failed");
    EXPECT_NE(lines[2].at("message").get<std::string>().find("нет такого устройства"),
              std::string::npos);
    // The safe name and a short hash of the exact port name.
    EXPECT_TRUE(
        std::regex_match(lines[2].value("folder", ""), std::regex("dev_velmar-none-[0-9a-f]{8}")))
        << lines[2].dump();
    for (int i = 0; i < 2; ++i)
        EXPECT_TRUE(fs::exists(
            Path("fleet/" + lines[i].at("folder").get<std::string>() + "/manifest.json")))
            << lines[i].dump();
    second.Stop();
}

} // namespace
} // namespace velmar::test
