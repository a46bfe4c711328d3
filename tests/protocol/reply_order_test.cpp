// Every order of replies, timeouts and retries over a few attempts, walked exhaustively against a
// scripted peer: each request asks another address, and the peer's reply names the address it
// answers. Whatever the peer does, a read returns the bytes of its own request or fails.
#include "protocol/line_context.h"
#include "protocol/read_retry.h"
#include "pty_peer.h"
#include "test_support.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <poll.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace velmar::test {
namespace {

using Clock = std::chrono::steady_clock;

// What the peer does with one request.
enum class Fate { OnTime, LateInWatch, LateBeyondWatch, Never, Short, Garbled };
constexpr Fate kFates[] = {Fate::OnTime, Fate::LateInWatch, Fate::LateBeyondWatch,
                           Fate::Never,  Fate::Short,       Fate::Garbled};
constexpr int kFateCount = sizeof kFates / sizeof kFates[0];

const char* FateName(Fate f) {
    switch (f) {
    case Fate::OnTime:
        return "on time";
    case Fate::LateInWatch:
        return "late within the watch";
    case Fate::LateBeyondWatch:
        return "late beyond the watch";
    case Fate::Never:
        return "never";
    case Fate::Short:
        return "short";
    case Fate::Garbled:
        return "garbled";
    }
    return "";
}

// The budgets of the walk: a reply is waited for kWaitMs, then watched for half as long again.
constexpr int kWaitMs = 20;
constexpr int kOnTimeMs = 8;           // past the line time of request and reply at kBaud
constexpr int kLateInWatchMs = 24;     // after the wait, within the watch
constexpr int kLateBeyondWatchMs = 45; // after the watch: while the next request is out
constexpr uint32_t kBaud = 38400;
constexpr int kCtrl = 1;
constexpr int kCount = 8;
constexpr int kRequestBytes = 12; // command frame and read header
// The walked attempts; every attempt after them is answered on time.
constexpr int kWalkedAttempts = 3;
// The requests of one run, one address each, every one with one retry.
constexpr uint32_t kAddresses[] = {0x1100, 0x1200, 0x1300};

// The data a reply to `address` carries: it names the address.
std::vector<uint8_t> DataOf(uint32_t address) {
    std::vector<uint8_t> data(kCount);
    for (int i = 0; i < kCount; ++i) data[i] = static_cast<uint8_t>((address >> 8) + i * 16);
    return data;
}

// A peer that answers the n-th request it receives as fates[n] says (on time past the list), in
// the order of the requests.
class ScriptedPeer {
  public:
    explicit ScriptedPeer(std::vector<Fate> fates) : fates_(std::move(fates)) {}
    ~ScriptedPeer() { Stop(); }
    void Start() {
        thread_ = std::thread([this] { Run(); });
    }
    void Stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    const std::string& Path() const { return pty_.Path(); }
    bool Ok() const { return pty_.Ok(); }
    size_t Received() const { return received_; }

  private:
    struct Due {
        Clock::time_point at;
        std::vector<uint8_t> bytes;
    };
    void Run() {
        std::vector<uint8_t> in;
        std::vector<Due> due;
        while (!stop_) {
            const std::vector<uint8_t> got = pty_.ReadUntilQuiet(1);
            in.insert(in.end(), got.begin(), got.end());
            while (in.size() >= kRequestBytes) {
                const uint32_t address = (uint32_t{in[7]} << 16) | (uint32_t{in[6]} << 8) | in[8];
                in.erase(in.begin(), in.begin() + kRequestBytes);
                const Fate fate = received_ < fates_.size() ? fates_[received_] : Fate::OnTime;
                ++received_;
                std::vector<uint8_t> reply = WithSum(DataOf(address));
                int delayMs = kOnTimeMs;
                switch (fate) {
                case Fate::OnTime:
                    break;
                case Fate::LateInWatch:
                    delayMs = kLateInWatchMs;
                    break;
                case Fate::LateBeyondWatch:
                    delayMs = kLateBeyondWatchMs;
                    break;
                case Fate::Never:
                    continue;
                case Fate::Short:
                    reply.pop_back();
                    break;
                case Fate::Garbled:
                    reply.back() ^= 0x5A;
                    break;
                }
                // One controller answers in order: no reply overtakes an earlier one.
                auto at = Clock::now() + std::chrono::milliseconds(delayMs);
                if (!due.empty()) at = std::max(at, due.back().at);
                due.push_back({at, reply});
            }
            const auto now = Clock::now();
            for (auto it = due.begin(); it != due.end();) {
                if (it->at > now) {
                    ++it;
                    continue;
                }
                pty_.Write(it->bytes);
                it = due.erase(it);
            }
        }
    }

    PtyPeer pty_;
    std::vector<Fate> fates_;
    std::atomic<size_t> received_{0};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

class ReplyOrderTest : public ::testing::Test {
  protected:
    void SetUp() override { StartLayerWithTempLog(); }
    void TearDown() override { StopPortLayer(); }

    // Reads every address of kAddresses through a peer playing `fates`; each read returns its
    // own address's data or fails. The count of reads that succeeded.
    int Walk(const std::vector<Fate>& fates, size_t* requests = nullptr) {
        ScriptedPeer peer(fates);
        EXPECT_TRUE(peer.Ok());
        PortSlot slot = 0;
        EXPECT_EQ(OpenPort(slot, peer.Path().c_str()), kPortOk);
        EXPECT_EQ(ConfigurePort(slot, kBaud, 8, 'N', 1), kPortOk);
        ProtocolTimeouts t;
        t.readChunkStallMs = kWaitMs;
        SetTimeouts(slot, t);
        SetReadRetries(slot, 1);
        // Known to send the checksum: a reply is taken on its own, with no confirming read.
        for (uint8_t data = 0; data < kPassesToKnowChecksum; ++data)
            NoteReplyPassed(slot, kCtrl, &data, 1);
        peer.Start();
        int read = 0;
        for (const uint32_t address : kAddresses) {
            std::vector<uint8_t> got(kCount, 0xEE);
            const int n =
                ReadCtrlrMem(slot, kCtrl, static_cast<int>(address), kCount, got.data(), kSpaceER);
            if (n == kCount) {
                EXPECT_EQ(got, DataOf(address))
                    << "another request's reply taken for the read at " << std::hex << address;
                ++read;
            } else {
                EXPECT_EQ(got, std::vector<uint8_t>(kCount, 0xEE)) << "a failed read stores none";
            }
        }
        ClosePort(slot);
        peer.Stop();
        if (requests != nullptr) *requests = peer.Received();
        return read;
    }
};

TEST_F(ReplyOrderTest, NoReplyIsEverTakenForAnotherRequestsInAnyOrder) {
    int walked = 0;
    std::vector<Fate> fates(kWalkedAttempts);
    for (int code = 0; code < kFateCount * kFateCount * kFateCount; ++code) {
        std::string name;
        for (int i = 0, c = code; i < kWalkedAttempts; ++i, c /= kFateCount) {
            fates[i] = kFates[c % kFateCount];
            name += std::string(i > 0 ? ", " : "") + FateName(fates[i]);
        }
        SCOPED_TRACE(name);
        Walk(fates);
        ++walked;
    }
    EXPECT_EQ(walked, kFateCount * kFateCount * kFateCount);
}

// Where the peer answers every request on time, or every one a little late within the watch,
// every read succeeds with one request each: a reply within the watch is its own request's.
TEST_F(ReplyOrderTest, ACleanLineReadsEverythingAtOnce) {
    for (const Fate fate : {Fate::OnTime, Fate::LateInWatch}) {
        SCOPED_TRACE(FateName(fate));
        size_t requests = 0;
        EXPECT_EQ(Walk(std::vector<Fate>(std::size(kAddresses), fate), &requests),
                  static_cast<int>(std::size(kAddresses)));
        EXPECT_EQ(requests, std::size(kAddresses)) << "no read needed a second request";
    }
}

} // namespace
} // namespace velmar::test
