#include "protocol/read_request.h"

#include "link/exchange_log.h"
#include "protocol/ctrlr_protocol.h"
#include "protocol/line_timing.h"
#include "protocol/port_wait.h"
#include "protocol/read_retry.h"
#include "protocol/timeouts.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace velmar::detail {
namespace {

bool Logged(PortSlot slot) {
    return slot >= 1 && slot <= kPortSlotCount && ((GetLogMask() >> (slot - 1)) & 1u) != 0;
}

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

// Where a request with attempts left stops waiting for its reply to begin: well past the
// slowest start seen on this port, far sooner than the full budget when a reply was lost.
int FirstByteBudgetMs(PortSlot slot, int fullMs, bool lastAttempt) {
    const int learnedUs = ReplyLatencyUs(slot);
    if (lastAttempt || learnedUs <= 0) return fullMs;
    const auto& t = Timeouts();
    const long quickMs =
        static_cast<long>(learnedUs) * t.quickReplyPercent / 100 / 1000 + t.quickReplyMarginMs;
    return static_cast<int>(std::min<long>(fullMs, quickMs));
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
    int limit = base + ReadRetries();
    bool revealRead = false; // the read added to learn that the trailer is not a checksum
    bool counted = false;    // counted among the retried requests
    int gaveUpAfterMs = 0;   // the previous attempt found no reply within a shortened wait
    int longestGiveUpMs = 0; // the same, longest over all attempts so far
    for (int attempt = 1;; ++attempt) {
        const bool last = attempt >= limit;
        // A reply given up on too soon may still be on its way: the last attempt begins only
        // once the line has been quiet that long, so a late reply cannot spoil its own.
        if (last && longestGiveUpMs > 0)
            AwaitQuiet(slot, std::chrono::milliseconds(longestGiveUpMs), firstByteMs);
        SendCtrlrCmd(slot, ctrl, cmd);
        SendReadHeader(slot, lineAddress, static_cast<uint8_t>(count));
        int firstByteUs = -1;
        const ReplyLimits limits{FirstByteBudgetMs(slot, firstByteMs, last),
                                 Timeouts().readChunkStallMs};
        ReplyEnd end = AwaitReadReply(slot, reply.data(), want, checked, limits, firstByteUs);
        if (firstByteUs >= 0) {
            // Bytes sooner than this request could have been answered belong to the reply given
            // up on: replies take longer than thought.
            const auto requestUs = static_cast<int>(CharTime(slot).count()) * 12;
            if (gaveUpAfterMs > 0 && firstByteUs < requestUs) firstByteUs += gaveUpAfterMs * 1000;
            NoteReplyLatency(slot, firstByteUs);
        }
        gaveUpAfterMs =
            end == ReplyEnd::NoReply && limits.firstByteMs < firstByteMs ? limits.firstByteMs : 0;
        longestGiveUpMs = std::max(longestGiveUpMs, gaveUpAfterMs);

        if (end == ReplyEnd::Complete || end == ReplyEnd::CheckFailed) {
            const bool passed = end == ReplyEnd::Complete && checked;
            const int times = tally.Add(reply.data(), static_cast<size_t>(want));
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
                    if (NoteTrailerNotChecksum(slot, ctrl) && Logged(slot)) {
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
            if (take) {
                std::memcpy(dst, reply.data(), size);
                return true;
            }
            if (end == ReplyEnd::CheckFailed && Logged(slot)) {
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
        if (!counted) CountRetriedRequest();
        counted = true;
        if (Logged(slot)) {
            LogNote(Line("Повтор запроса порта %d (попытка %d из %d), адрес %06X, %d байт: %s",
                         slot, attempt + 1, limit, static_cast<unsigned>(lineAddress), count,
                         EndText(end)));
        }
    }
}

} // namespace velmar::detail
