// rfc2217: ports in the port layer against a scripted gateway: what each kind of gateway answer
// makes of opening and configuring the port (and how long it takes), 0xFF in the data both
// ways, and the purge reaching the gateway.
#include "link/loopback_listener.h"
#include "link/serial_port.h"
#include "link/telnet_com_port.h"
#include "link_test_support.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>

namespace velmar::test {
namespace {

using namespace telnet;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

enum class Answer {
    Echo,
    KeepsItsSpeed,
    KeepsItsDataSize,
    KeepsItsParity,
    KeepsItsStopSize,
    SettingsUnanswered,
    RefusesTheOption,
};

// The line the gateway keeps when it will not take the one asked for: 4800 7E2.
constexpr uint8_t kGatewayOwnBaud[4] = {0, 0, 0x12, 0xC0};
constexpr uint8_t kGatewayOwnDataSize = 7;
constexpr uint8_t kGatewayOwnParity = 3; // even
constexpr uint8_t kGatewayOwnStopSize = 2;
// A gateway still letting its previous client go accepts the next one this late; pyserial's own
// client waits 3 s for the negotiation.
constexpr auto kSlowAccept = std::chrono::milliseconds(3000);

// Takes one connection; answers the offer of COM-PORT-OPTION and the line settings as told,
// keeps the data it received (undoubled) and every command.
class ScriptedGateway {
  public:
    explicit ScriptedGateway(Answer answer,
                             std::chrono::milliseconds acceptDelay = std::chrono::milliseconds(0))
        : answer_(answer), acceptDelay_(acceptDelay) {
        listen_ = ListenOnLoopback(port_);
        thread_ = std::thread([this] { Run(); });
    }
    ~ScriptedGateway() {
        running_ = false;
        thread_.join();
        ::close(listen_);
    }
    std::string Name() const { return "rfc2217:127.0.0.1:" + std::to_string(port_); }
    void Send(const Bytes& raw) {
        std::lock_guard lock(mutex_);
        outgoing_.insert(outgoing_.end(), raw.begin(), raw.end());
    }
    Bytes Data() {
        std::lock_guard lock(mutex_);
        return data_;
    }
    std::vector<Bytes> Commands() { // subnegotiations, without IAC SB / IAC SE
        std::lock_guard lock(mutex_);
        return commands_;
    }

  private:
    void Run() {
        int client = -1;
        const auto acceptFrom = Clock::now() + acceptDelay_;
        while (running_) {
            pollfd p{client >= 0 ? client : listen_, POLLIN, 0};
            ::poll(&p, 1, 5);
            if (client < 0) {
                if (Clock::now() < acceptFrom)
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                else if (p.revents & POLLIN)
                    client = ::accept4(listen_, nullptr, nullptr, 0);
                continue;
            }
            uint8_t buf[512];
            const ssize_t n = (p.revents & POLLIN) ? ::recv(client, buf, sizeof buf, 0) : 0;
            std::lock_guard lock(mutex_);
            for (ssize_t i = 0; i < n; ++i) Take(buf[i]);
            if (!outgoing_.empty()) {
                (void)::send(client, outgoing_.data(), outgoing_.size(), MSG_NOSIGNAL);
                outgoing_.clear();
            }
        }
        if (client >= 0) ::close(client);
    }
    // A plain reading of the Telnet stream, apart from the one under test.
    void Take(uint8_t b) {
        raw_.push_back(b);
        if (raw_[0] != kIac) {
            data_.push_back(b);
            raw_.clear();
        } else if (raw_.size() == 2 && raw_[1] == kIac) {
            data_.push_back(kIac);
            raw_.clear();
        } else if (raw_.size() == 3 && raw_[1] >= kWill && raw_[1] <= kDont) {
            if (raw_[1] == kWill && raw_[2] == kComPortOption)
                outgoing_.insert(
                    outgoing_.end(),
                    {kIac, answer_ == Answer::RefusesTheOption ? kDont : kDo, kComPortOption});
            raw_.clear();
        } else if (raw_.size() >= 4 && raw_[1] == kSb && raw_[raw_.size() - 2] == kIac &&
                   raw_.back() == kSe) {
            commands_.emplace_back(raw_.begin() + 2, raw_.end() - 2);
            AnswerSetting(commands_.back());
            raw_.clear();
        } else if (raw_.size() == 2 && raw_[1] != kSb && (raw_[1] < kWill || raw_[1] > kDont)) {
            raw_.clear(); // another two-byte command
        }
    }
    void AnswerSetting(Bytes command) {
        if (command.size() < 3 || command[1] < kSetBaudRate || command[1] > kSetStopSize) return;
        if (answer_ == Answer::SettingsUnanswered) return;
        const auto keeps = [&](Answer a, uint8_t setting, Bytes own) {
            if (answer_ != a || command[1] != setting) return;
            command = {kComPortOption, setting};
            command.insert(command.end(), own.begin(), own.end());
        };
        keeps(Answer::KeepsItsSpeed, kSetBaudRate, Bytes(kGatewayOwnBaud, kGatewayOwnBaud + 4));
        keeps(Answer::KeepsItsDataSize, kSetDataSize, {kGatewayOwnDataSize});
        keeps(Answer::KeepsItsParity, kSetParity, {kGatewayOwnParity});
        keeps(Answer::KeepsItsStopSize, kSetStopSize, {kGatewayOwnStopSize});
        command[1] = static_cast<uint8_t>(command[1] + kServerOffset);
        outgoing_.insert(outgoing_.end(), {kIac, kSb});
        outgoing_.insert(outgoing_.end(), command.begin(), command.end());
        outgoing_.insert(outgoing_.end(), {kIac, kSe});
    }

    Answer answer_;
    std::chrono::milliseconds acceptDelay_;
    int listen_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> running_{true};
    std::mutex mutex_;
    Bytes raw_, data_, outgoing_;
    std::vector<Bytes> commands_;
    std::thread thread_;
};

class Rfc2217PortTest : public PortLayerTest {};

// The tool asks for 9600 8N1; a gateway that keeps any part of its own line (speed, data bits,
// parity or stop bits) is refused, since the controller would not understand a frame sent in it.
TEST_F(Rfc2217PortTest, EachKindOfGatewayAnswerGivesItsResultInBoundedTime) {
    using std::chrono::milliseconds;
    constexpr milliseconds kAtOnce(0);
    struct Case {
        Answer answer;
        milliseconds acceptDelay;
        int open;
        int configure;
        milliseconds atLeast, atMost; // opening and configuring together
    };
    const std::vector<Case> cases = {
        {Answer::Echo, kAtOnce, kPortOk, kPortOk, milliseconds(0), milliseconds(1000)},
        {Answer::KeepsItsSpeed, kAtOnce, kPortOk, kPortGatewayLineRefused, milliseconds(0),
         milliseconds(1000)},
        {Answer::KeepsItsDataSize, kAtOnce, kPortOk, kPortGatewayLineRefused, milliseconds(0),
         milliseconds(1000)},
        {Answer::KeepsItsParity, kAtOnce, kPortOk, kPortGatewayLineRefused, milliseconds(0),
         milliseconds(1000)},
        {Answer::KeepsItsStopSize, kAtOnce, kPortOk, kPortGatewayLineRefused, milliseconds(0),
         milliseconds(1000)},
        // The modem-line requests are never answered either, yet opening does not wait.
        {Answer::SettingsUnanswered, kAtOnce, kPortOk, kPortGatewayNoAnswer, milliseconds(1900),
         milliseconds(3000)},
        {Answer::RefusesTheOption, kAtOnce, kPortGatewayRefused, kPortNoSlot, milliseconds(0),
         milliseconds(1000)},
        // A gateway slow to take the connection is waited for as long as pyserial waits.
        {Answer::Echo, kSlowAccept, kPortOk, kPortOk, kSlowAccept,
         kSlowAccept + milliseconds(1000)},
    };
    for (const Case& c : cases) {
        ScriptedGateway gateway(c.answer, c.acceptDelay);
        PortSlot slot = 0;
        const auto start = Clock::now();
        const int what = static_cast<int>(c.answer);
        EXPECT_EQ(OpenPort(slot, gateway.Name().c_str()), c.open) << what;
        EXPECT_EQ(ConfigurePort(slot, 9600, 8, 'N', 1), c.configure) << what;
        const auto took = Clock::now() - start;
        EXPECT_GE(took, c.atLeast) << what;
        EXPECT_LE(took, c.atMost) << what;
        if (slot != 0) {
            EXPECT_EQ(GetPortKind(slot), PortKind::Rfc2217Gateway);
        }
        ClosePort(slot);
    }
}

TEST_F(Rfc2217PortTest, DataBytesFFPassBothWaysAndPurgesReachTheGateway) {
    ScriptedGateway gateway(Answer::Echo);
    PortSlot slot = 0;
    ASSERT_EQ(OpenPort(slot, gateway.Name().c_str()), kPortOk);
    ASSERT_EQ(ConfigurePort(slot, 9600, 8, 'E', 2), kPortOk);
    const std::vector<Bytes> settings = {{kComPortOption, kSetBaudRate, 0, 0, 0x25, 0x80},
                                         {kComPortOption, kSetDataSize, 8},
                                         {kComPortOption, kSetParity, 3},
                                         {kComPortOption, kSetStopSize, 2}};
    for (const Bytes& s : settings) {
        const auto commands = gateway.Commands();
        EXPECT_NE(std::find(commands.begin(), commands.end(), s), commands.end()) << int(s[1]);
    }

    PurgePort(slot);
    const Bytes frame = {0x60, 0xFF, 0x48, 0xFF};
    WritePort(slot, frame.data(), frame.size());
    gateway.Send({0xFF, 0xFF, 0x01, kIac, 241 /* NOP */, 0xFF, 0xFF, 0x02});
    const Bytes expected = {0xFF, 0x01, 0xFF, 0x02};
    for (int i = 0; i < 200 && PortAvailable(slot) < static_cast<int>(expected.size()); ++i)
        WaitPortData(slot, 10);
    Bytes got(expected.size());
    ASSERT_EQ(ReadPort(slot, got.data(), static_cast<int>(got.size())), 1);
    EXPECT_EQ(got, expected);
    EXPECT_EQ(PortAvailable(slot), 0);
    for (int i = 0; i < 100 && gateway.Data().size() < frame.size(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(gateway.Data(), frame);
    const auto commands = gateway.Commands();
    EXPECT_NE(std::find(commands.begin(), commands.end(),
                        Bytes{kComPortOption, kPurgeData, kPurgeServerReceive}),
              commands.end());
    ClosePort(slot);
}

} // namespace
} // namespace velmar::test
