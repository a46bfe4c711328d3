// The bus: a pseudo-terminal whose master side is the RS-485 line seen from the controllers.
//
// One service thread reads what the tool sends, hands every byte to the receiver of every
// controller that can hear it (same speed and character format as the tool's terminal, not deaf
// after a restart), lets the addressed controllers answer, and puts the replies on the line.
// With line-time emulation each byte occupies 10 bit times: a request is complete only after its
// last byte has been on the line, the reply starts then (or when the line is free again), and its
// bytes reach the tool one by one at the line's pace.
#include "sim/core/bus_simulator.h"

#include "sim/core/bus_simulator_impl.h"
#include "sim/core/controller_layout.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmar::sim {

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

BusSimulator::FrameCounts BusSimulator::FramesByKind() const {
    return {impl_->pollsSeen, impl_->identsSeen, impl_->readsSeen, impl_->writesSeen};
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
TruthRecord& BusSimulator::Truth() {
    return impl_->truth;
}
const std::string& BusSimulator::SetupError() const {
    return impl_->setupError;
}

} // namespace velmar::sim
