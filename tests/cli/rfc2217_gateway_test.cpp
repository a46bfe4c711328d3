// velmar-cli through Debian's ser2net in telnet(rfc2217) mode, in front of the simulated line.
// ser2net opens the line at 4800 on every connection while the controllers listen at 9600: only
// a tool that sets the line through the gateway reaches them.
#include "cli_bus_fixture.h"
#include "gateway_stand_in.h"
#include "link/loopback_listener.h"
#include "link/rfc2217_link.h"
#include "link/telnet_com_port.h"
#include "ser2net_gateway.h"
#include "sim/core/controller_layout.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <nlohmann/json.hpp>
#include <set>
#include <sys/socket.h>
#include <thread>

namespace velmar::test {
namespace {

namespace L = sim::layout;

constexpr uint32_t kGatewayBaud = 4800;
constexpr uint32_t kControllerBaud = 9600;
constexpr uint8_t kSpeedIndex9600 = 2;
constexpr uint32_t kFollowedBaud = 19200; // SpeedTrk=1

// Controller 1's records, everything after the parameter block, hold 0xFF throughout: each
// of those bytes is doubled on the way through the gateway.
std::string ImageFullOfFF() {
    std::vector<uint8_t> image = sim::Controller::MakeDefault(1)->ImageBytes();
    std::fill(image.begin() + L::kSizesRecordSize + image[0], image.end(), 0xFF);
    char tmpl[] = "/tmp/velmar-ff-XXXXXX";
    const int fd = ::mkstemp(tmpl);
    ::close(fd);
    std::ofstream(tmpl, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()), static_cast<long>(image.size()));
    return tmpl;
}

sim::Options LineWithImage(const std::string& imageFile) {
    sim::Options options = Controllers({1, 3, 5});
    options.imageFile = imageFile;
    return options;
}

// The image file exists before the simulated line that loads it: a base constructed first.
struct FfImageFile {
    std::string imageFile_ = ImageFullOfFF();
    ~FfImageFile() { ::unlink(imageFile_.c_str()); }
};

class Rfc2217GatewayTest : protected FfImageFile, public CliBusTest {
  protected:
    Rfc2217GatewayTest() : CliBusTest(LineWithImage(imageFile_)) {}

    void SetUp() override {
        if (Ser2NetGateway::Program().empty())
            GTEST_SKIP() << "ser2net is not installed (Debian package ser2net)";
        CliBusTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        {
            auto lock = sim.Lock();
            for (auto& c : sim.Controllers()) {
                c->Space(0)[L::kParams + L::kSpeedTrk] = kSpeedIndex9600;
                c->FixParamsChecksum();
                c->Restart();
            }
        }
        ASSERT_TRUE(StartGateway(Ser2NetGateway::Mode::Rfc2217)) << SlurpFile(Path("ser2net.log"));
    }
    void TearDown() override {
        gateway.Stop();
        CliBusTest::TearDown();
    }

    bool StartGateway(Ser2NetGateway::Mode mode) {
        return gateway.Start(sim.SlavePath(), kGatewayBaud, mode, Path("ser2net.log"));
    }
    std::string Name(const char* kind = "rfc2217:") const {
        return kind + std::string("127.0.0.1:") + std::to_string(gateway.Port());
    }
    CliOutcome RunAt(uint32_t baud, std::vector<std::string> args, const char* kind = "rfc2217:") {
        args.insert(args.begin(), {"-p", Name(kind), "-b", std::to_string(baud)});
        return RunCliProgram(binary, workDir, args);
    }
    std::vector<uint8_t> ImageOf(int number) {
        auto lock = sim.Lock();
        return sim.Find(number)->ImageBytes();
    }
    static std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

    Ser2NetGateway gateway;
};

TEST_F(Rfc2217GatewayTest, IdentifiesAtASpeedOtherThanTheGatewaysOwn) {
    const auto r = RunAt(kControllerBaud, {"-a", "3", "identify"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("Velmar"), std::string::npos) << r.out;
    EXPECT_EQ(sim.BytesIgnoredForBaud(), 0u) << "nothing went on the line at the gateway's 4800";

    // The same gateway passing bytes raw keeps 4800: the controller never hears the tool.
    gateway.Stop();
    ASSERT_TRUE(StartGateway(Ser2NetGateway::Mode::Raw));
    const auto raw = RunAt(kControllerBaud, {"-a", "3", "identify"}, "tcp:");
    EXPECT_EQ(raw.exitCode, 1) << raw.out;
    EXPECT_GT(sim.BytesIgnoredForBaud(), 0u);
}

TEST_F(Rfc2217GatewayTest, SettingsWriteThatChangesTheSpeedIsFollowedThroughTheGateway) {
    const auto write = RunAt(kControllerBaud, {"-a", "3", "set-params", "SpeedTrk=1"});
    ASSERT_EQ(write.exitCode, 0) << write.out << write.err;
    {
        auto lock = sim.Lock();
        EXPECT_EQ(sim.Find(3)->LineBaud(), kFollowedBaud);
    }
    const auto ident = RunAt(kFollowedBaud, {"-a", "3", "identify"});
    EXPECT_EQ(ident.exitCode, 0) << ident.err;
}

TEST_F(Rfc2217GatewayTest, ImageFullOfFFSavesAndLoadsByteForByte) {
    const std::vector<uint8_t> original = ImageOf(1);
    ASSERT_GT(std::count(original.begin(), original.end(), 0xFF), 1000);
    const auto save = RunAt(kControllerBaud, {"image", "save", "ff.bin"});
    ASSERT_EQ(save.exitCode, 0) << save.err;
    EXPECT_EQ(Bytes(SlurpFile(Path("ff.bin"))), original);

    {
        auto lock = sim.Lock(); // the channel settings forgotten: the load must bring them back
        std::fill_n(sim.Find(1)->Space(0).begin() + 0x1000, 0x1000, 0x00);
    }
    ASSERT_NE(ImageOf(1), original);
    const auto load = RunAt(kControllerBaud, {"image", "load", "ff.bin"});
    ASSERT_EQ(load.exitCode, 0) << load.err;
    EXPECT_EQ(ImageOf(1), original);
}

TEST_F(Rfc2217GatewayTest, GatewayRestartedMidBackup) {
    std::atomic<bool> restarted{false};
    std::thread restarter([&] {
        // Once the backup is under way (past identification, into the images), the gateway
        // goes down and comes back on the same port a moment later, at its own 4800 again.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (sim.FramesSeen() < 60 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        gateway.Stop();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        restarted = StartGateway(Ser2NetGateway::Mode::Rfc2217);
    });
    const auto r = RunAt(kControllerBaud, {"--json", "backup", "st", "1", "6"});
    restarter.join();
    ASSERT_TRUE(restarted);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const nlohmann::json manifest = Parse(r.out);
    ASSERT_TRUE(manifest.contains("controllers")) << r.out;
    const std::string run = workDir + "/st/" + manifest.value("folder", "?");
    ASSERT_EQ(manifest.at("controllers").size(), 3u) << r.out;
    int retries = 0; // the read under way when the gateway went down was asked again
    for (const auto& item : manifest.at("controllers")) {
        const int number = item.at("number").get<int>();
        retries += item.at("retries").get<int>();
        ASSERT_EQ(item.at("status"), "saved") << item.dump();
        EXPECT_EQ(Bytes(SlurpFile(run + "/" + item.at("file").get<std::string>())), ImageOf(number))
            << number;
    }
    EXPECT_GE(retries, 1) << "the gateway went down after the backup";
}

// Controllers that answer late or oddly, as real ones may within the protocol, reached through
// the gateway: each either gives the right bytes or says why.
TEST_F(Rfc2217GatewayTest, ControllersThatAnswerSlowlyOrOddlyAreReadRightThroughTheGateway) {
    constexpr int kSlowTurnaroundMs = 100; // within the address poll's 120 ms
    constexpr int kPieces = 3, kPieceGapMs = 15;
    const std::set<int> everyNumber = {1, 2, 3, 4, 5, 6};
    struct Case {
        const char* name;
        std::function<void(sim::BusSimulator&)> apply; // called under the simulator's lock
        std::vector<std::string> args;
        std::function<void(const CliOutcome&)> check;
    };
    const auto savedRight = [&](int number, const char* file) {
        return [=, this](const CliOutcome& r) {
            ASSERT_EQ(r.exitCode, 0) << r.err;
            EXPECT_EQ(Bytes(SlurpFile(Path(file))), ImageOf(number));
        };
    };
    const std::vector<Case> cases = {
        {"slow controller, scan",
         [](sim::BusSimulator& s) { s.Find(5)->turnaroundMs = kSlowTurnaroundMs; },
         {"--json", "scan", "1", "6"},
         [&](const CliOutcome& r) {
             EXPECT_EQ(r.exitCode, 0) << r.err;
             EXPECT_EQ(Parse(r.out).at("found").get<std::set<int>>(), everyNumber) << r.out;
         }},
        {"slow controller, backup",
         [](sim::BusSimulator& s) { s.Find(5)->turnaroundMs = kSlowTurnaroundMs; },
         {"--json", "backup", "st", "1", "6"},
         [&](const CliOutcome& r) {
             EXPECT_EQ(r.exitCode, 0) << r.err;
             EXPECT_EQ(Parse(r.out).at("controllers").size(), 3u) << r.out;
         }},
        {"varying trailer",
         [](sim::BusSimulator& s) { s.GetFaults().trailerVaries = true; },
         {"-a", "3", "image", "save", "varying.bin"},
         savedRight(3, "varying.bin")},
        {"replies in pieces",
         [](sim::BusSimulator& s) {
             s.GetFaults().replyPieces = kPieces;
             s.GetFaults().replyPieceGapMs = kPieceGapMs;
         },
         {"-a", "5", "image", "save", "pieces.bin"},
         savedRight(5, "pieces.bin")},
        // Last: the controller moves to another speed.
        {"restart status lost after a speed change",
         [](sim::BusSimulator& s) { s.GetFaults().loseRestartStatus = -1; },
         {"-a", "3", "set-params", "SpeedTrk=1"},
         [&](const CliOutcome& r) {
             EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
             {
                 auto lock = sim.Lock();
                 EXPECT_EQ(sim.Find(3)->LineBaud(), kFollowedBaud);
             }
             EXPECT_EQ(RunAt(kFollowedBaud, {"-a", "3", "identify"}).exitCode, 0);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        {
            auto lock = sim.Lock();
            c.apply(sim);
        }
        const CliOutcome r = RunAt(kControllerBaud, c.args);
        {
            auto lock = sim.Lock();
            sim.GetFaults() = sim::Faults{};
            for (auto& controller : sim.Controllers()) controller->turnaroundMs = 0;
        }
        c.check(r);
    }
}

// A stand-in gateway that answers the offer of COM-PORT-OPTION with a refusal.
class RefusingGateway {
  public:
    RefusingGateway() {
        listen_ = ListenOnLoopback(port_);
        thread_ = std::thread([this] {
            const int client = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) return;
            const uint8_t refusal[] = {255, 254, 44}; // IAC DONT COM-PORT-OPTION
            (void)::send(client, refusal, sizeof refusal, MSG_NOSIGNAL);
            uint8_t buf[64];
            while (::recv(client, buf, sizeof buf, 0) > 0) {
            }
            ::close(client);
        });
    }
    ~RefusingGateway() {
        ::shutdown(listen_, SHUT_RDWR);
        thread_.join();
        ::close(listen_);
    }
    uint16_t Port() const { return port_; }

  private:
    int listen_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
};

// A stand-in gateway that takes COM-PORT-OPTION and reports every line setting in effect as asked
// but the parity, which it keeps even: the speed alone would pass, the format does not.
class EvenParityGateway {
  public:
    EvenParityGateway() {
        listen_ = ListenOnLoopback(port_);
        thread_ = std::thread([this] {
            const int client = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) return;
            using namespace telnet;
            const uint8_t take[] = {kIac, kDo, kComPortOption};
            (void)::send(client, take, sizeof take, MSG_NOSIGNAL);
            const uint8_t head[] = {kIac, kSb, kComPortOption};
            const uint8_t tail[] = {kIac, kSe};
            std::vector<uint8_t> in;
            uint8_t buf[256];
            for (ssize_t n; (n = ::recv(client, buf, sizeof buf, 0)) > 0;) {
                in.insert(in.end(), buf, buf + n);
                for (;;) {
                    const auto at = std::search(in.begin(), in.end(), head, head + sizeof head);
                    const auto end = std::search(at, in.end(), tail, tail + sizeof tail);
                    if (at == in.end() || end == in.end()) break;
                    std::vector<uint8_t> setting(at + sizeof head, end);
                    in.erase(in.begin(), end + sizeof tail);
                    if (setting.empty() || setting[0] < kSetBaudRate || setting[0] > kSetStopSize)
                        continue;
                    if (setting[0] == kSetParity) setting = {kSetParity, kEvenParity};
                    setting[0] = static_cast<uint8_t>(setting[0] + kServerOffset);
                    std::vector<uint8_t> answer(head, head + sizeof head);
                    answer.insert(answer.end(), setting.begin(), setting.end());
                    answer.insert(answer.end(), tail, tail + sizeof tail);
                    (void)::send(client, answer.data(), answer.size(), MSG_NOSIGNAL);
                }
            }
            ::close(client);
        });
    }
    ~EvenParityGateway() {
        ::shutdown(listen_, SHUT_RDWR);
        thread_.join();
        ::close(listen_);
    }
    uint16_t Port() const { return port_; }

  private:
    static constexpr uint8_t kEvenParity = 3;
    int listen_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
};

TEST_F(Rfc2217GatewayTest, GatewayThatWillNotSetTheLineIsNamedWithinBoundedTime) {
    gateway.Stop();
    ASSERT_TRUE(StartGateway(Ser2NetGateway::Mode::Raw)); // never answers the negotiation
    RefusingGateway refusing;
    EvenParityGateway evenParity;
    const std::vector<std::pair<std::string, std::string>> cases = {
        {Name(), "шлюз не ответил на согласование RFC 2217"},
        {"rfc2217:127.0.0.1:" + std::to_string(refusing.Port()),
         "шлюз отказался управлять линией по RFC 2217"},
        {"rfc2217:127.0.0.1:" + std::to_string(evenParity.Port()),
         "шлюз не установил на линии запрошенную скорость или формат"},
    };
    // The longest: the wait for a gateway to take up the protocol, and the start of the program.
    const auto bound = std::chrono::milliseconds(kRfc2217ConnectMs) + std::chrono::seconds(2);
    for (const auto& [port, reason] : cases) {
        const auto start = std::chrono::steady_clock::now();
        const auto r = RunCliProgram(binary, workDir, {"-p", port, "identify"});
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(r.exitCode, 1) << port;
        EXPECT_NE(r.err.find(reason), std::string::npos) << port << ": " << r.err;
        EXPECT_LT(took, bound) << port;
    }
    EXPECT_EQ(sim.FramesSeen(), 0u) << "no request reached the controllers";
}

// A gateway still letting its previous client go takes a few seconds to accept the next one:
// the tool waits for it as pyserial's own client does, instead of naming it as one that does not
// speak RFC 2217.
TEST_F(Rfc2217GatewayTest, GatewaySlowToAcceptIsWaitedFor) {
    constexpr int kSlowAcceptMs = 3000;
    GatewayStandIn slow(gateway.Port());
    slow.acceptDelayMs = kSlowAcceptMs;
    ASSERT_TRUE(slow.Start());
    const auto start = std::chrono::steady_clock::now();
    const auto r = RunCliProgram(binary, workDir,
                                 {"-p", "rfc2217:127.0.0.1:" + std::to_string(slow.Port()), "-b",
                                  std::to_string(kControllerBaud), "-a", "3", "identify"});
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("Velmar"), std::string::npos) << r.out;
    EXPECT_GE(took, std::chrono::milliseconds(kSlowAcceptMs));
    EXPECT_EQ(slow.Connections(), 1);
}

} // namespace
} // namespace velmar::test
