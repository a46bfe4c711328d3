// The bus's service thread: reads what the tool sends, hands every byte to the receiver of every
// controller that can hear it, lets the addressed controllers answer, and writes the replies to
// the line when they are due.
#include "sim/core/bus_simulator_impl.h"

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
    {
        std::lock_guard lock(mutex);
        ReleaseHeld(now);
    }
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