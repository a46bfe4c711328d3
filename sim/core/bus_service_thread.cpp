// The bus's service thread: reads what the tool sends, hands every byte to the receiver of every
// controller that can hear it, lets the addressed controllers answer, and writes the replies to
// the line when they are due.
#include "sim/core/bus_simulator_impl.h"
#include "sim/core/controller_layout.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace velmar::sim {

namespace {

constexpr auto kIdleWake = std::chrono::milliseconds(50); // receivers' gap checks when idle

} // namespace

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
        for (const Request& r : requests) CountKind(r.kind);

        answers.clear();
        bool misheard = false;
        for (size_t unit = 0; unit < controllers.size(); ++unit) {
            auto& c = controllers[unit];
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
                auto reply = Serve(*c, static_cast<int>(unit), requests[k], in.at);
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

std::optional<Reply> BusSimulator::Impl::Serve(Controller& c, int unit, const Request& req,
                                               SimClock::time_point at) {
    if (!truth.On()) return HandleRequest(c, req, faults);
    TruthEvent frame;
    frame.kind = TruthKind::Frame;
    frame.atNs = ToNs(at);
    frame.unit = unit;
    frame.number = c.SideAAddress();
    frame.request = req.kind;
    frame.lineAddress = req.lineAddress;
    frame.space = req.Space();
    frame.address = req.address;
    frame.bytes = req.kind == RequestKind::Read
                      ? std::vector<uint8_t>{static_cast<uint8_t>(req.count)}
                      : req.data;
    truth.Add(frame);

    // Memory a write may change, taken before it is served.
    const bool memoryWrite = req.kind == RequestKind::Write && req.count >= 1 &&
                             req.data.size() == static_cast<size_t>(req.count) &&
                             (req.Space() == 0 || req.Space() == 2 || req.Space() == 4) &&
                             req.address + static_cast<uint32_t>(req.count) <= layout::kSpaceSize;
    std::vector<uint8_t> before;
    if (memoryWrite) {
        const auto& mem = c.Space(req.Space());
        before.assign(mem.begin() + req.address, mem.begin() + req.address + req.count);
    }
    auto reply = HandleRequest(c, req, faults);
    const bool accepted = reply && !reply->bytes.empty() && reply->bytes.back() == 0;
    if (!memoryWrite || !accepted) return reply;

    TruthEvent e;
    e.atNs = ToNs(at);
    e.unit = unit;
    e.number = c.SideAAddress();
    e.space = req.Space();
    e.address = req.address;
    e.request = req.kind;
    e.lineAddress = req.lineAddress;
    if (req.Space() == 2) {
        // The live registers: the status byte's pulse-simulator bit, the display mode and the
        // relay test are actions, not stored bytes.
        for (int i = 0; i < req.count; ++i) {
            const uint32_t a = req.address + static_cast<uint32_t>(i);
            TruthAction action = TruthAction::None;
            if (a == layout::kStatusReg) action = TruthAction::PulseSimulator;
            if (a == layout::kDisplayModeReg) action = TruthAction::DisplayMode;
            if (a == layout::kRelayTestReg && req.data[static_cast<size_t>(i)] == 1)
                action = TruthAction::RelayTest;
            if (action == TruthAction::None) continue;
            TruthEvent act = e;
            act.kind = TruthKind::Action;
            act.action = action;
            act.address = a;
            act.value = req.data[static_cast<size_t>(i)];
            truth.Add(act);
        }
    }
    e.kind = TruthKind::Write;
    e.before = std::move(before);
    const auto& mem = c.Space(req.Space());
    e.bytes.assign(mem.begin() + req.address, mem.begin() + req.address + req.count);
    truth.Add(std::move(e));
    return reply;
}

int BusSimulator::Impl::UnitOf(const Controller* c) const {
    for (size_t i = 0; i < controllers.size(); ++i)
        if (controllers[i].get() == c) return static_cast<int>(i);
    return -1;
}

void BusSimulator::Impl::CountKind(RequestKind kind) {
    switch (kind) {
    case RequestKind::Poll:
        ++pollsSeen;
        break;
    case RequestKind::Ident:
        ++identsSeen;
        break;
    case RequestKind::Read:
        ++readsSeen;
        break;
    case RequestKind::Write:
        ++writesSeen;
        break;
    }
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