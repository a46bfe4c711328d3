// The bus: a pseudo-terminal whose master side is the RS-485 line seen from the controllers.
//
// One service thread reads what the tool sends, hands every byte to the receiver of every
// controller that can hear it (same speed and character format as the tool's terminal, not deaf
// after a restart), lets the addressed controllers answer, and puts the replies on the line.
// With line-time emulation each byte occupies 10 bit times: a request is complete only after its
// last byte has been on the line, the reply starts then (or when the line is free again), and its
// bytes reach the tool one by one at the line's pace.
#include "sim/core/bus_simulator.h"

#include "sim/core/controller_layout.h"
#include "sim/core/frame_receiver.h"
#include "sim/core/line_settings.h"
#include "sim/core/request_handler.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <deque>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <random>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace velmar::sim {

namespace {

constexpr uint8_t kStrayByte = 0x55;
constexpr auto kIdleWake = std::chrono::milliseconds(50); // receivers' gap checks when idle

int64_t ToNs(SimClock::time_point t) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

} // namespace

struct BusSimulator::Impl {
    Options options;
    std::string setupError;
    std::vector<std::unique_ptr<Controller>> controllers;
    Faults faults;
    std::mutex mutex; // guards controllers and faults

    int masterFd = -1;
    int slaveFd = -1; // kept open: shares the tool's termios and keeps the master readable
    int wakeFd[2] = {-1, -1};
    std::string slavePath;
    std::string linkPath;
    std::thread thread;
    std::atomic<bool> running{false};

    std::atomic<uint64_t> framesSeen{0}, ignoredForBaud{0}, repliesSent{0}, collisions{0},
        noisyReplies{0};
    std::mt19937 noise;
    std::optional<uint32_t> noiseSeed; // the seed `noise` was started from

    // Service-thread state.
    struct InByte {
        uint8_t byte;
        SimClock::time_point at; // when its last bit has been on the line
        LineSettings line;       // the tool's settings when it was sent
    };
    struct OutByte {
        SimClock::time_point due;
        uint8_t byte;
    };
    std::deque<InByte> input;
    std::deque<OutByte> output;
    SimClock::duration byteTime{0};
    SimClock::time_point rxFree{}, txFree{};
    bool writeBlocked = false; // the terminal's input queue is full
    FrameReceiver monitor;     // counts command frames on the line, whatever their speed

    void Run();
    void ReadLine();
    void ProcessInput(SimClock::time_point now);
    void Answer(std::vector<std::pair<Controller*, Reply>>& answers, SimClock::time_point at);
    bool AddNoise(std::vector<uint8_t>& bytes); // false when the reply is lost
    void FlushOutput(SimClock::time_point now);
    void CloseFds();
};

BusSimulator::BusSimulator(Options options) : impl_(std::make_unique<Impl>()) {
    auto& d = *impl_;
    d.options = std::move(options);
    if (d.options.emulateBaud > 0) {
        d.byteTime = std::chrono::duration_cast<SimClock::duration>(
            std::chrono::nanoseconds(10'000'000'000LL / d.options.emulateBaud));
    }
    for (size_t i = 0; i < d.options.addresses.size(); ++i) {
        std::unique_ptr<Controller> c;
        if (i == 0 && !d.options.imageFile.empty()) {
            c = Controller::FromImageFile(d.options.imageFile, d.setupError);
        }
        if (!c) {
            c = Controller::MakeDefault(d.options.addresses[i], d.options.sides,
                                        d.options.hosesPerSide);
        }
        d.controllers.push_back(std::move(c));
    }
    // A default controller's side B (its number + 1) must not take a number another controller
    // already answers at; it moves to the next free number.
    std::vector<bool> used(256, false);
    used[0] = used[kReserveAddressByte] = true;
    for (const auto& c : d.controllers) used[static_cast<size_t>(c->SideAAddress())] = true;
    for (size_t i = 0; i < d.controllers.size(); ++i) {
        Controller& c = *d.controllers[i];
        int b = c.SideBAddress();
        if (b < 0) continue;
        const bool fromImage = i == 0 && !d.options.imageFile.empty() && d.setupError.empty();
        if (used[static_cast<size_t>(b)] && !fromImage) {
            for (int tries = 0; tries < 256 && used[static_cast<size_t>(b)]; ++tries)
                b = (b + 1) & 0xFF;
            c.Space(0)[layout::kParams + layout::kAdrTrk2] = static_cast<uint8_t>(b);
            c.FixParamsChecksum();
            c.ApplyParams();
        }
        used[static_cast<size_t>(b)] = true;
    }
}

BusSimulator::~BusSimulator() {
    Stop();
}

int BusSimulator::Start() {
    auto& d = *impl_;
    if (!d.setupError.empty()) return EINVAL;
    if (d.running) return 0;

    d.masterFd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (d.masterFd < 0) return errno;
    char name[128];
    if (grantpt(d.masterFd) != 0 || unlockpt(d.masterFd) != 0 ||
        ptsname_r(d.masterFd, name, sizeof name) != 0) {
        const int err = errno;
        d.CloseFds();
        return err;
    }
    d.slavePath = name;
    // Open the slave before the tool does: the tool locks it for itself (TIOCEXCL).
    d.slaveFd = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (d.slaveFd < 0) {
        const int err = errno;
        d.CloseFds();
        return err;
    }
    const uint32_t initialBaud =
        d.controllers.empty() ? kDefaultLineBaud : d.controllers.front()->LineBaud();
    int err = SetRawLine(d.slaveFd, initialBaud);
    if (err == 0 && fcntl(d.masterFd, F_SETFL, fcntl(d.masterFd, F_GETFL) | O_NONBLOCK) != 0)
        err = errno;
    if (err == 0 && pipe2(d.wakeFd, O_CLOEXEC | O_NONBLOCK) != 0) err = errno;
    if (err != 0) {
        d.CloseFds();
        return err;
    }
    d.running = true;
    d.thread = std::thread([&d] { d.Run(); });
    return 0;
}

void BusSimulator::Stop() {
    auto& d = *impl_;
    if (d.running.exchange(false)) {
        const char wake = 1;
        (void)!::write(d.wakeFd[1], &wake, 1);
        if (d.thread.joinable()) d.thread.join();
    }
    if (!d.linkPath.empty()) {
        char target[256];
        const ssize_t n = ::readlink(d.linkPath.c_str(), target, sizeof target - 1);
        if (n > 0 && std::string(target, static_cast<size_t>(n)) == d.slavePath)
            ::unlink(d.linkPath.c_str());
        d.linkPath.clear();
    }
    d.CloseFds();
}

void BusSimulator::Impl::CloseFds() {
    for (int* fd : {&masterFd, &slaveFd, &wakeFd[0], &wakeFd[1]}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
}

std::string BusSimulator::SlavePath() const {
    return impl_->slavePath;
}

int BusSimulator::MakeLink(const std::string& path) {
    auto& d = *impl_;
    if (d.slavePath.empty()) return ENODEV;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) return EEXIST;
    // Replace atomically: a tool opening the link never finds it missing.
    const std::string temp = path + ".new" + std::to_string(::getpid());
    ::unlink(temp.c_str());
    if (::symlink(d.slavePath.c_str(), temp.c_str()) != 0) return errno;
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        return err;
    }
    d.linkPath = path;
    return 0;
}

std::vector<std::unique_ptr<Controller>>& BusSimulator::Controllers() {
    return impl_->controllers;
}

Controller* BusSimulator::Find(int address) {
    for (auto& c : impl_->controllers)
        if (c->AnswersAt(address)) return c.get();
    return nullptr;
}

std::unique_lock<std::mutex> BusSimulator::Lock() {
    return std::unique_lock(impl_->mutex);
}
Faults& BusSimulator::GetFaults() {
    return impl_->faults;
}
uint64_t BusSimulator::FramesSeen() const {
    return impl_->framesSeen;
}
uint64_t BusSimulator::BytesIgnoredForBaud() const {
    return impl_->ignoredForBaud;
}
uint64_t BusSimulator::RepliesSent() const {
    return impl_->repliesSent;
}
uint64_t BusSimulator::Collisions() const {
    return impl_->collisions;
}
uint64_t BusSimulator::NoisyReplies() const {
    return impl_->noisyReplies;
}
const std::string& BusSimulator::SetupError() const {
    return impl_->setupError;
}

// ---- service thread ----------------------------------------------------------------------

void BusSimulator::Impl::Run() {
    while (running) {
        auto now = SimClock::now();
        auto deadline = now + kIdleWake;
        if (!input.empty()) deadline = std::min(deadline, input.front().at);
        // While the terminal takes no more (the tool does not read), wait for room instead.
        if (!output.empty() && !writeBlocked) deadline = std::min(deadline, output.front().due);
        const auto wait = std::max(deadline - now, SimClock::duration::zero());
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
        const timespec timeout{static_cast<time_t>(ns / 1'000'000'000),
                               static_cast<long>(ns % 1'000'000'000)};
        pollfd fds[2] = {{masterFd, POLLIN, 0}, {wakeFd[0], POLLIN, 0}};
        if (writeBlocked) fds[0].events |= POLLOUT;
        if (::ppoll(fds, 2, &timeout, nullptr) < 0 && errno != EINTR) break;
        if (!running) break;
        if ((fds[0].revents & POLLIN) != 0) {
            ReadLine();
        } else if ((fds[0].revents & (POLLHUP | POLLERR)) != 0) {
            // Not expected while our own slave descriptor is open; do not spin on it.
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        now = SimClock::now();
        ProcessInput(now);
        FlushOutput(now);
    }
}

void BusSimulator::Impl::ReadLine() {
    uint8_t buf[4096];
    const ssize_t n = ::read(masterFd, buf, sizeof buf);
    if (n <= 0) return;
    const auto now = SimClock::now();
    LineSettings line;
    ReadLineSettings(slaveFd, line);
    for (ssize_t i = 0; i < n; ++i) {
        SimClock::time_point at = now;
        if (byteTime.count() > 0) at = rxFree = std::max(rxFree, now) + byteTime;
        input.push_back({buf[i], at, line});
    }
}

void BusSimulator::Impl::ProcessInput(SimClock::time_point now) {
    std::lock_guard lock(mutex);
    std::vector<Request> requests;
    std::vector<std::vector<std::pair<Controller*, Reply>>> answers;
    while (!input.empty() && input.front().at <= now) {
        const InByte in = input.front();
        input.pop_front();
        requests.clear();
        monitor.Feed(in.byte, in.at, requests);
        framesSeen = monitor.CommandFrames();

        answers.clear();
        bool misheard = false;
        for (auto& c : controllers) {
            FrameReceiver& rx = *c->receiver_;
            if (faults.noAnswer || ToNs(in.at) < c->deafUntilNs_) {
                rx.Reset();
                continue;
            }
            if (options.checkBaud && (in.line.baud != c->LineBaud() || !in.line.format8N)) {
                rx.Reset(); // a byte at another speed is noise that garbles any frame under way
                misheard = true;
                continue;
            }
            requests.clear();
            rx.Feed(in.byte, in.at, requests);
            for (size_t k = 0; k < requests.size(); ++k) {
                if (!c->AnswersAt(requests[k].lineAddress)) continue;
                auto reply = HandleRequest(*c, requests[k], faults);
                if (!reply) continue;
                if (answers.size() <= k) answers.resize(k + 1);
                answers[k].emplace_back(c.get(), std::move(*reply));
            }
        }
        if (misheard) ++ignoredForBaud;
        for (auto& a : answers)
            if (!a.empty()) Answer(a, in.at);
    }
    for (auto& c : controllers) c->receiver_->Expire(now);
    monitor.Expire(now);
}

// Puts the answers to one request on the line: several at once collide.
void BusSimulator::Impl::Answer(std::vector<std::pair<Controller*, Reply>>& answers,
                                SimClock::time_point at) {
    std::vector<uint8_t> bytes = answers.front().second.bytes;
    if (answers.size() > 1) {
        ++collisions;
        for (size_t i = 1; i < answers.size(); ++i) {
            const auto& other = answers[i].second.bytes;
            if (other.size() > bytes.size()) bytes.resize(other.size(), 0xFF);
            for (size_t k = 0; k < other.size(); ++k) bytes[k] &= other[k];
        }
    }

    bool send = true;
    const bool restarts =
        std::any_of(answers.begin(), answers.end(), [](const auto& a) { return a.second.restart; });
    if (restarts && faults.loseRestartStatus != 0) {
        if (faults.loseRestartStatus > 0) --faults.loseRestartStatus;
        send = false;
    }
    if (send && faults.dropReplies > 0) {
        --faults.dropReplies;
        send = false;
    }
    if (send && faults.corruptReplies > 0 && !bytes.empty()) {
        --faults.corruptReplies;
        // Not the same pattern twice: the checksum is linear, so flipping the first byte and
        // the checksum byte alike would keep a poll reply valid.
        bytes.front() ^= 0xFF;
        bytes.back() ^= 0x01;
    }
    if (send && faults.truncateReplies > 0 && !bytes.empty()) {
        --faults.truncateReplies;
        bytes.pop_back();
    }
    if (send)
        bytes.insert(bytes.end(), static_cast<size_t>(std::max(0, faults.extraReplyBytes)),
                     kStrayByte);
    if (send && !bytes.empty()) send = AddNoise(bytes);

    // Colliding controllers: the slowest one's reply ends the exchange.
    int turnaroundMs = 0;
    for (const auto& answer : answers)
        turnaroundMs = std::max(turnaroundMs, answer.first->turnaroundMs);
    at += std::chrono::milliseconds(turnaroundMs);
    SimClock::time_point end = at;
    if (send && !bytes.empty()) {
        ++repliesSent;
        // Replies in pieces: a pause before the first byte of each piece but the first.
        const size_t pieces = faults.replyPieces >= 2 ? static_cast<size_t>(faults.replyPieces) : 1;
        const size_t pieceLength = (bytes.size() + pieces - 1) / pieces;
        const auto gap = std::chrono::milliseconds(std::max(0, faults.replyPieceGapMs));
        auto pauseBefore = [&](size_t i) { return gap * static_cast<long>(i / pieceLength); };
        if (byteTime.count() == 0) {
            // Replies leave in the order they began, whatever each controller's turnaround.
            if (!output.empty()) at = std::max(at, output.back().due);
            for (size_t i = 0; i < bytes.size(); ++i)
                output.push_back({at + pauseBefore(i), bytes[i]});
            end = at + pauseBefore(bytes.size() - 1);
        } else {
            const auto start = std::max(at, txFree);
            for (size_t i = 0; i < bytes.size(); ++i)
                output.push_back(
                    {start + byteTime * static_cast<long>(i + 1) + pauseBefore(i), bytes[i]});
            end = txFree =
                start + byteTime * static_cast<long>(bytes.size()) + pauseBefore(bytes.size() - 1);
        }
    }
    // A restart takes effect once the reply has left (or would have, had it not been lost).
    for (auto& [c, reply] : answers) {
        if (!reply.restart) continue;
        c->Restart();
        c->deafUntilNs_ = ToNs(end + std::chrono::milliseconds(faults.deafAfterRestartMs));
    }
}

// The random faults of a noisy line; each kind is drawn on its own, so several may hit one reply.
bool BusSimulator::Impl::AddNoise(std::vector<uint8_t>& bytes) {
    if (faults.flipRate <= 0 && faults.lossRate <= 0 && faults.cutRate <= 0 && faults.addRate <= 0)
        return true;
    if (noiseSeed != faults.noiseSeed) {
        noise.seed(faults.noiseSeed);
        noiseSeed = faults.noiseSeed;
    }
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    auto below = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(noise); };
    const bool lose = chance(noise) < faults.lossRate;
    const bool cut = chance(noise) < faults.cutRate;
    const bool flip = chance(noise) < faults.flipRate;
    const bool add = chance(noise) < faults.addRate;
    if (lose || cut || flip || add) ++noisyReplies;
    if (lose) return false;
    if (cut) bytes.pop_back();
    if (flip && !bytes.empty()) bytes[below(bytes.size())] ^= static_cast<uint8_t>(1u << below(8));
    if (add) {
        const auto at = static_cast<std::ptrdiff_t>(below(bytes.size() + 1));
        bytes.insert(bytes.begin() + at, static_cast<uint8_t>(below(256)));
    }
    return !bytes.empty();
}

void BusSimulator::Impl::FlushOutput(SimClock::time_point now) {
    uint8_t buf[4096];
    size_t n = 0;
    while (n < sizeof buf && n < output.size() && output[n].due <= now) {
        buf[n] = output[n].byte;
        ++n;
    }
    if (n == 0) return;
    const ssize_t w = ::write(masterFd, buf, n);
    if (w > 0) output.erase(output.begin(), output.begin() + w);
    writeBlocked = w < static_cast<ssize_t>(n);
}

} // namespace velmar::sim
