#include "protocol/read_request.h"

#include "link/exchange_log.h"
#include "protocol/ctrlr_protocol.h"
#include "protocol/line_timing.h"
#include "protocol/port_wait.h"
#include "protocol/read_retry.h"
#include "protocol/timeouts.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace velmar::detail {
namespace {

const char* EndText(ReplyEnd end) {
    switch (end) {
    case ReplyEnd::NoReply:
        return "нет ответа";
    case ReplyEnd::Short:
        return "ответ короче ожидаемого";
    case ReplyEnd::TooLong:
        return "ответ длиннее ожидаемого";
    case ReplyEnd::CheckFailed:
        return "не сошлась контрольная сумма";
    case ReplyEnd::Unconfirmed:
        return "ответ не подтвержден повторным чтением";
    case ReplyEnd::Early:
        return "ответ пришел раньше, чем мог быть дан";
    case ReplyEnd::Complete:
        break;
    }
    return "";
}

// Text of a line of the exchange log, printf style.
template <class... Args> std::string Line(const char* format, Args... args) {
    char buf[256];
    std::snprintf(buf, sizeof buf, format, args...);
    return buf;
}

using Clock = std::chrono::steady_clock;

// Bytes of a read request on the line: the command frame and the read header.
constexpr int kRequestBytes = 4 + 8;
// Replies passed over as owed to earlier requests before an attempt counts as failed.
constexpr int kMostPassedOver = 2;
// No wait grows past this, however late the replies of a port have come.
constexpr int kLongestReplyWaitMs = 5000;

// The wait for a reply to begin: the budget plus the port's network allowance, longer on a port
// whose replies were seen to come later than that.
int ReplyWaitMs(PortSlot slot, int budgetMs) {
    const auto& t = Timeouts(slot);
    const long learnedMs =
        static_cast<long>(ReplyLatencyUs(slot)) * t.lateReplyPercent / 100 / 1000 +
        t.lateReplyMarginMs;
    const long full = std::max<long>(budgetMs + PortExtraWaitMs(slot), learnedMs);
    return static_cast<int>(std::min<long>(full, kLongestReplyWaitMs));
}

int64_t SteadyUs(Clock::time_point at) {
    return std::chrono::duration_cast<std::chrono::microseconds>(at.time_since_epoch()).count();
}

long ElapsedUs(Clock::time_point since) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - since).count());
}

// The distinct complete replies of one request, each with how often it came.
class ReplyTally {
  public:
    // Counts `reply` in; returns how often these exact bytes have come so far.
    int Add(const uint8_t* reply, size_t size) {
        for (Entry& e : entries_) {
            if (std::memcmp(e.bytes.data(), reply, size) == 0) return ++e.times;
        }
        Entry& e = entries_.emplace_back();
        std::memcpy(e.bytes.data(), reply, size);
        return e.times = 1;
    }

  private:
    struct Entry {
        std::array<uint8_t, kMaxChunk + 1> bytes{};
        int times = 0;
    };
    std::vector<Entry> entries_;
};

} // namespace

bool ReadRequest(PortSlot slot, int ctrl, uint8_t cmd, uint32_t lineAddress, int count,
                 int firstByteMs, uint8_t* dst) {
    const Trailer trailer = ReplyTrailer(slot, ctrl);
    const bool checked = trailer != Trailer::NotChecksum;
    const int want = count + 1;
    const auto size = static_cast<size_t>(count);
    std::array<uint8_t, kMaxChunk + 1> reply{};
    ReplyTally tally;
    // Reads this request needs on a clean line: one once the checksum is known, else two.
    const int base = trailer == Trailer::Checksum ? 1 : kConfirmingReads;
    int limit = base + ReadRetries(slot);
    bool revealRead = false; // the read added to learn that the trailer is not a checksum
    bool counted = false;    // counted among the retried requests
    const auto& t = Timeouts(slot);
    const int fullMs = ReplyWaitMs(slot, firstByteMs);
    const ReplyLimits limits{fullMs, t.readChunkStallMs + PortExtraWaitMs(slot)};
    const ReplyLimits lateLimits{fullMs * t.lateWatchPercent / 100, limits.stallMs};
    const long earliestUs = static_cast<long>(CharTime(slot).count()) * (kRequestBytes + want) *
                            t.earlyReplyPercent / 100;
    for (int attempt = 1;; ++attempt) {
        const bool last = attempt >= limit;
        const auto sentAt = Clock::now();
        SendCtrlrCmd(slot, ctrl, cmd);
        SendReadHeader(slot, lineAddress, static_cast<uint8_t>(count));
        // The reply of this attempt; one that comes whole sooner than this request could have
        // been answered is owed to an earlier one and is passed over for the attempt's own.
        ReplyEnd end = ReplyEnd::NoReply;
        int passedOver = 0;
        // A reply that came too soon: set aside until it is seen whether another one follows
        // it. If none does, it was this attempt's own on a line faster than its speed (a
        // pseudo-terminal, a gateway whose serial side runs faster than the port is set), and
        // it is taken only once a further read returns the same data.
        std::optional<std::pair<ReplyEnd, std::array<uint8_t, kMaxChunk + 1>>> asideEarly;
        bool unsure = false;
        for (;;) {
            const long waitFromUs = ElapsedUs(sentAt);
            int firstByteUs = -1;
            end = AwaitReadReply(slot, reply.data(), want, checked, limits, firstByteUs);
            bool late = false;
            if (end == ReplyEnd::NoReply) {
                // Nothing within the wait: the line is watched on before anything else goes
                // out. A reply that begins now is still this attempt's.
                end = AwaitReadReply(slot, reply.data(), want, checked, lateLimits, firstByteUs);
                late = end != ReplyEnd::NoReply;
                if (late) firstByteUs += limits.firstByteMs * 1000;
            }
            if (firstByteUs >= 0) firstByteUs += static_cast<int>(waitFromUs);
            if (end != ReplyEnd::Complete && end != ReplyEnd::CheckFailed) {
                if (firstByteUs >= 0) NoteReplyLatency(slot, firstByteUs);
                if (end == ReplyEnd::NoReply && asideEarly) {
                    end = asideEarly->first;
                    reply = asideEarly->second;
                    unsure = true;
                    NoteReplyPace(slot, false);
                    NoteReplyOwed(slot, 0);
                }
                if (end == ReplyEnd::NoReply) NoteReplyOwed(slot, SteadyUs(sentAt));
                break;
            }
            const bool early = ElapsedUs(sentAt) < earliestUs;
            const bool keepsTime = RepliesKeepLineTime(slot);
            if (!early || (!keepsTime && !ReplyOwedPossible(slot))) {
                NoteReplyPace(slot, !early);
                if (const int64_t owedSince = ReplyOwedSince(slot); owedSince != 0) {
                    // A reply given up on may be this one, and this attempt's own still to come
                    // as much later as this attempt went out after that one: the line is
                    // watched that long (and a little more), and a reply then is the own one.
                    NoteReplyOwed(slot, 0);
                    const long gapUs = static_cast<long>(SteadyUs(sentAt) - owedSince);
                    if (gapUs > 0 && gapUs / 1000 < kLongestReplyWaitMs) {
                        const int watchMs =
                            static_cast<int>(gapUs / 1000) * t.lateReplyPercent / 100 +
                            t.lateReplyMarginMs;
                        std::array<uint8_t, kMaxChunk + 1> second{};
                        int secondUs = -1;
                        const ReplyEnd next = AwaitReadReply(slot, second.data(), want, checked,
                                                             {watchMs, limits.stallMs}, secondUs);
                        if (next == ReplyEnd::Complete || next == ReplyEnd::CheckFailed) {
                            if (PortLogged(slot)) {
                                LogNote(Line("Порт %d: ответ к прежнему запросу пришел с "
                                             "опозданием и не принят; принят следующий",
                                             slot));
                            }
                            end = next;
                            reply = second;
                            firstByteUs = static_cast<int>(ElapsedUs(sentAt));
                        }
                    }
                }
                NoteReplyLatency(slot, firstByteUs);
                if (late && PortLogged(slot)) {
                    LogNote(Line("Ответ порта %d пришел позже ожидания (%d мс): ожидание "
                                 "увеличено",
                                 slot, firstByteUs / 1000));
                }
                break;
            }
            if (!asideEarly) {
                asideEarly.emplace(end, reply);
                continue;
            }
            // A second early reply: the first was owed to an earlier request; the second
            // waits in its place.
            asideEarly.emplace(end, reply);
            if (PortLogged(slot)) {
                LogNote(Line("Порт %d: ответ пришел раньше, чем мог быть дан на запрос (через %ld "
                             "мкс), и не принят: он запоздал к прежнему запросу",
                             slot, ElapsedUs(sentAt)));
            }
            end = ReplyEnd::Early;
            if (++passedOver >= kMostPassedOver) break;
        }

        if (end == ReplyEnd::Complete || end == ReplyEnd::CheckFailed) {
            const bool passed = end == ReplyEnd::Complete && checked;
            // Equal data confirm each other whatever their trailing bytes: a controller without
            // the checksum may put anything there, a different byte each time.
            const int times = tally.Add(reply.data(), size);
            bool take = false;
            switch (trailer) {
            case Trailer::Checksum:
                take = passed;
                break;
            case Trailer::NotChecksum:
                take = times >= kConfirmingReads;
                break;
            case Trailer::Unknown:
                if (passed) {
                    take = NoteReplyPassed(slot, ctrl, reply.data(), static_cast<size_t>(want)) ||
                           times >= kConfirmingReads;
                } else if (times >= kRepliesToRevealTrailer) {
                    take = true;
                    if (NoteTrailerNotChecksum(slot, ctrl) && PortLogged(slot)) {
                        LogNote(Line("Контроллер %d: последний байт ответа - не контрольная "
                                     "сумма; каждый ответ подтверждается повторным чтением",
                                     ctrl & 0xFF));
                    }
                } else if (times == kRepliesToRevealTrailer - 1 && last && !revealRead) {
                    // The read that tells such a controller from noise is always made, even
                    // with no retries: otherwise it could never be read at all.
                    revealRead = true;
                    ++limit;
                }
                break;
            }
            if (unsure && times < kConfirmingReads) take = false;
            if (take) {
                std::memcpy(dst, reply.data(), size);
                return true;
            }
            if (end == ReplyEnd::CheckFailed && PortLogged(slot)) {
                LogNote(Line("Ответ порта %d не прошел проверку: последний байт %02X, контрольная "
                             "сумма данных %02X",
                             slot, reply[size], ChecksumRot8(reply.data(), size)));
            }
            if (end == ReplyEnd::Complete) end = ReplyEnd::Unconfirmed;
        }
        if (attempt >= limit) return false;
        // A reply that came whole but is not yet confirmed asks for the confirming read, which
        // is no repetition; anything else is.
        const bool repeated = end != ReplyEnd::Unconfirmed || attempt >= base;
        if (!repeated) continue;
        if (!counted) CountRetriedRequest(slot);
        counted = true;
        if (PortLogged(slot)) {
            LogNote(Line("Повтор запроса порта %d (попытка %d из %d), адрес %06X, %d байт: %s",
                         slot, attempt + 1, limit, static_cast<unsigned>(lineAddress), count,
                         EndText(end)));
        }
    }
}

} // namespace velmar::detail
