#include "protocol/address_search.h"

#include "protocol/ctrlr_protocol.h"
#include "protocol/line_timing.h"
#include "protocol/port_wait.h"
#include "protocol/timeouts.h"

#include <algorithm>
#include <array>

namespace velmar {

namespace {

constexpr uint8_t kPollCmd = 0x21;
constexpr int kPollReplySize = 4;
// The 4-byte poll frame goes out, then the 4-byte reply comes back.
constexpr int kSearchChars = 8;
// How long a controller may take between the end of the poll frame and its reply, plus the
// adapter's delivery of the reply (a USB serial adapter hands bytes on every millisecond or so),
// before anything was learnt about the controllers of the line.
constexpr int kTurnaroundMs = 6;
// How long a garbled reply may go on before the search polls that number again.
constexpr int kQuietLimitMs = 200;
// Quick polls of one number before it gets the full wait: a reply spoilt twice is not left to
// chance a third time.
constexpr int kQuickPolls = 2;
// A garbled reply to a full poll is asked for again this many times.
constexpr int kGarbledRepolls = 2;
// What a learnt budget adds to the slowest answer seen: a quarter, at least this much.
constexpr int kLearnMarginMs = 3;
// Scheduling slack on top of the address poll's wait while a silent number is still watched.
constexpr int kWindowSlackMs = 5;

int CeilMs(std::chrono::microseconds us) {
    return static_cast<int>((us.count() + 999) / 1000);
}

bool IsCleanReply(const uint8_t* bytes) {
    return ChecksumRot8(bytes, 3) == bytes[3] && bytes[1] == kPollCmd;
}

} // namespace

int SearchBudgetMs(PortSlot slot) {
    return CeilMs(detail::CharTime(slot) * kSearchChars) + kTurnaroundMs;
}

AddressSearch::AddressSearch(PortSlot slot, bool thorough)
    : slot_(slot), thorough_(thorough), baseBudgetMs_(SearchBudgetMs(slot)),
      budgetMs_(baseBudgetMs_) {}

std::chrono::milliseconds AddressSearch::Window() const {
    return std::chrono::milliseconds(Timeouts(slot_).addressPollMs + PortExtraWaitMs(slot_) +
                                     CeilMs(detail::CharTime(slot_) * kSearchChars) +
                                     kWindowSlackMs);
}

std::vector<SearchResult> AddressSearch::Poll(int number, bool full) {
    Entry e;
    e.number = number;
    e.full = full;
    entries_.push_back(e);
    todo_.push_back(number);
    Run();
    return TakeSettled();
}

std::vector<SearchResult> AddressSearch::Settle() {
    for (;;) {
        Run();
        if (std::none_of(entries_.begin(), entries_.end(), [](const Entry& e) { return e.open; }))
            break;
        WaitOutOpen();
    }
    return TakeSettled();
}

bool AddressSearch::HoldsReply() const {
    return std::any_of(entries_.begin(), entries_.end(), [](const Entry& e) {
        return e.settled && e.answer != SearchAnswer::Absent;
    });
}

AddressSearch::Entry* AddressSearch::Find(int number) {
    for (Entry& e : entries_)
        if (e.number == number && !e.settled) return &e;
    return nullptr;
}

std::vector<SearchResult> AddressSearch::TakeSettled() {
    std::vector<SearchResult> out;
    while (!entries_.empty() && entries_.front().settled) {
        out.push_back({entries_.front().number, entries_.front().answer});
        entries_.pop_front();
    }
    return out;
}

void AddressSearch::Run() {
    while (!todo_.empty()) {
        const int number = todo_.front();
        todo_.pop_front();
        Entry* e = Find(number);
        if (e == nullptr) continue;
        // The reserve address is answered in the name of the controller's own number: only the
        // full poll tells it.
        if (thorough_ || e->full || (number & 0xFF) == kReserveAddress)
            FullPoll(*e);
        else
            QuickPoll(*e);
        CloseExpired();
    }
}

void AddressSearch::QuickPoll(Entry& e) {
    // Bytes that came since the last look belong to a number still open: placed first.
    if (PortAvailable(slot_) > 0) {
        todo_.push_front(e.number);
        TakeBytes(nullptr);
        return;
    }
    const bool anyOpen =
        std::any_of(entries_.begin(), entries_.end(), [](const Entry& o) { return o.open; });
    const uint32_t reconnects = PortReconnects(slot_);
    std::array<uint8_t, 4> frame{0x60, static_cast<uint8_t>(e.number & 0xFF), kPollCmd, 0};
    frame[3] = ChecksumRot8(frame.data(), 3);
    // While a number is open its late reply may still come: the line is not purged then.
    if (!anyOpen) PurgePort(slot_);
    WritePort(slot_, frame.data(), frame.size());
    e.sent = Clock::now();
    ++e.quickPolls;
    if (detail::AwaitAtLeast(slot_, 1, budgetMs_) >= 1) {
        TakeBytes(&e);
        return;
    }
    // A failed line, or a connection the gateway has just accepted again (which may pass the
    // reply on only late): the full poll tells whether the number is there.
    if (PortLastError(slot_) != 0 || PortReconnects(slot_) != reconnects) {
        e.full = true;
        todo_.push_front(e.number);
        return;
    }
    e.open = true;
}

// The address poll with the whole of its wait counted after the frame has left, and the reply's
// own line time: a controller that answers late within the poll's wait is not lost to the line
// time or to a busy machine.
SearchAnswer AddressSearch::OneFullPoll(int ctrl) {
    SendCtrlrCmd(slot_, ctrl, kPollCmd);
    const int budgetMs = static_cast<int>(Window().count()) - PortExtraWaitMs(slot_);
    const int n = detail::AwaitAtLeast(slot_, kPollReplySize, budgetMs);
    if (n < kPollReplySize) {
        if (PortLastError(slot_) != 0) return SearchAnswer::NotReached;
        // A reply cut short is a garbled one: something answered.
        return PortAvailable(slot_) > 0 ? SearchAnswer::BadReply : SearchAnswer::Absent;
    }
    std::array<uint8_t, 256> got{};
    if (ReadPort(slot_, got.data(), n) != 1) return SearchAnswer::Absent;
    if (!IsCleanReply(got.data())) return SearchAnswer::BadReply;
    // A reply names the controller that sends it: one naming another number is a late reply to
    // an earlier poll, not this number's answer. At the reserve address any number answers.
    if ((ctrl & 0xFF) != kReserveAddress && got[0] != (ctrl & 0xFF)) return SearchAnswer::BadReply;
    return SearchAnswer::Answered;
}

void AddressSearch::FullPoll(Entry& e) {
    WaitOutOpen(); // the full poll purges: nothing may still be owed to an open number
    SearchAnswer answer = OneFullPoll(e.number);
    // A connection lost under the poll is made again by the next frame (waiting for a gateway
    // that is back within seconds): one more full poll tells whether the number is there.
    if (answer == SearchAnswer::NotReached) answer = OneFullPoll(e.number);
    // A garbled reply is asked for again after the line has gone quiet: the late tail of an
    // earlier reply or a burst of noise is not a controller that answers wrongly, and would fail
    // a whole backup.
    for (int i = 0; i < kGarbledRepolls && answer == SearchAnswer::BadReply; ++i) {
        detail::AwaitQuiet(slot_, detail::CharTime(slot_) * 3, kQuietLimitMs);
        answer = OneFullPoll(e.number);
    }
    e.settled = true;
    e.answer = answer;
}

void AddressSearch::TakeBytes(Entry* current) {
    const auto arrived = Clock::now();
    const auto charTime = detail::CharTime(slot_);
    // Let what began finish: the rest of a reply comes at the line's pace.
    detail::AwaitAtLeast(slot_, kPollReplySize, CeilMs(charTime * kPollReplySize) + kTurnaroundMs);
    detail::AwaitQuiet(slot_, charTime * 3, kQuietLimitMs);
    std::array<uint8_t, 256> got{};
    const int n = std::min(PortAvailable(slot_), static_cast<int>(got.size()));
    if (n > 0 && ReadPort(slot_, got.data(), n) != 1) PurgePort(slot_);

    // Replies name the controller that sends them: each whole one is placed with the number
    // that was asked and is still waiting for it.
    std::vector<Entry*> named;
    bool clean = n > 0 && n % kPollReplySize == 0;
    for (int at = 0; clean && at < n; at += kPollReplySize) {
        Entry* owner = nullptr;
        if (IsCleanReply(&got[static_cast<size_t>(at)])) {
            for (Entry& o : entries_)
                if (!o.settled && o.quickPolls > 0 && (o.number & 0xFF) == got[at] &&
                    (o.number & 0xFF) != kReserveAddress)
                    owner = &o;
        }
        if (owner == nullptr || std::find(named.begin(), named.end(), owner) != named.end())
            clean = false;
        else
            named.push_back(owner);
    }
    std::vector<Entry*> again;
    if (clean) {
        auto earliest = Clock::time_point::max();
        for (Entry* o : named) {
            o->open = false;
            o->settled = true;
            o->answer = SearchAnswer::Answered;
            // Only a reply later than the quick wait tells the wait is too short; one within it
            // says nothing (its measured time is mostly this machine's scheduling).
            if (o != current) Learn(arrived - o->sent);
            earliest = std::min(earliest, o->sent);
        }
        // A frame sent while a reply was on its way may have been spoilt by it.
        for (Entry& o : entries_)
            if (!o.settled && (o.open || &o == current) && o.sent > earliest) again.push_back(&o);
    } else {
        const bool owed = current != nullptr || std::any_of(entries_.begin(), entries_.end(),
                                                            [](const Entry& o) { return o.open; });
        if (!owed) return; // stray bytes with no number waiting: already taken off the line
        // Bytes that cannot be placed: every number that may have sent them, or whose poll
        // they may have spoilt, is polled again once nothing more can come.
        auto last = Clock::time_point::min();
        for (const Entry& o : entries_)
            if (o.open || &o == current) last = std::max(last, o.sent);
        detail::Deadline quiet(static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(last + Window() - Clock::now())
                .count()));
        while (!quiet.Expired()) {
            WaitPortData(slot_, quiet.RemainingMs());
            if (PortAvailable(slot_) > 0) PurgePort(slot_);
            if (!quiet.Expired()) detail::SleepMs(1);
        }
        detail::AwaitQuiet(slot_, charTime * 3, kQuietLimitMs);
        PurgePort(slot_);
        for (Entry& o : entries_)
            if (!o.settled && (o.open || &o == current)) again.push_back(&o);
    }
    for (auto it = again.rbegin(); it != again.rend(); ++it) Repoll(**it);
}

void AddressSearch::Repoll(Entry& e) {
    e.open = false;
    if (e.quickPolls >= kQuickPolls) e.full = true;
    todo_.push_front(e.number);
}

void AddressSearch::WaitOutOpen() {
    for (;;) {
        CloseExpired();
        auto last = Clock::time_point::min();
        for (const Entry& o : entries_)
            if (o.open) last = std::max(last, o.sent);
        if (last == Clock::time_point::min()) return;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(last + Window() - Clock::now())
                .count();
        detail::Deadline deadline(static_cast<int>(std::max<int64_t>(left, 0)) + 1);
        while (!deadline.Expired() && PortAvailable(slot_) == 0)
            WaitPortData(slot_, deadline.RemainingMs());
        if (PortAvailable(slot_) > 0) TakeBytes(nullptr);
    }
}

void AddressSearch::CloseExpired() {
    const auto now = Clock::now();
    for (Entry& e : entries_) {
        if (!e.open || now - e.sent < Window()) continue;
        e.open = false;
        e.settled = true;
        e.answer = SearchAnswer::Absent;
    }
}

void AddressSearch::Learn(Clock::duration turnaround) {
    const int ms = CeilMs(std::chrono::duration_cast<std::chrono::microseconds>(turnaround)) -
                   PortExtraWaitMs(slot_);
    const int grown = ms + std::max(ms / 4, kLearnMarginMs);
    budgetMs_ = std::clamp(grown, budgetMs_, std::max(budgetMs_, Timeouts(slot_).addressPollMs));
}

} // namespace velmar
