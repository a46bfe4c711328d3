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

} // namespace

bool ReadRequest(PortSlot slot, int ctrl, uint8_t cmd, uint32_t lineAddress, int count,
                 int firstByteMs, uint8_t* dst) {
    const bool checked = ReplyCheckOn(slot, ctrl);
    const int want = count + 1;
    const auto size = static_cast<size_t>(count);
    std::array<uint8_t, kMaxChunk + 1> reply{};
    std::array<uint8_t, kMaxChunk + 1> unverified{};
    int sameInRow = 0;    // failed replies in a row carrying the data in `unverified`
    int confirmReads = 0; // reads added beyond the retries to compare failed replies
    int limit = ReadRetries() + 1;
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
        const ReplyEnd end = AwaitReadReply(slot, reply.data(), want, checked, limits, firstByteUs);
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

        if (end == ReplyEnd::Complete) {
            if (checked) NoteReplyChecked(slot, ctrl);
            std::memcpy(dst, reply.data(), size);
            return true;
        }
        if (end == ReplyEnd::CheckFailed) {
            if (Logged(slot)) {
                LogNote(Line("Ответ порта %d не прошел проверку: последний байт %02X, контрольная "
                             "сумма данных %02X",
                             slot, reply[size], ChecksumRot8(reply.data(), size)));
            }
            // The same data in kRepliesToTrustUnchecked failed replies in a row: whatever the
            // trailing byte means, these are the bytes in the controller (noise does not garble
            // replies alike). Not once replies are known to carry the checksum.
            sameInRow = sameInRow > 0 && std::memcmp(unverified.data(), reply.data(), size) == 0
                            ? sameInRow + 1
                            : 1;
            unverified = reply;
            const bool mayTrust = !ChecksumKnown(slot, ctrl);
            if (mayTrust && sameInRow >= kRepliesToTrustUnchecked) {
                const bool switchedOff = NoteReplyRepeatedUnchecked(slot, ctrl);
                if (Logged(slot)) {
                    LogNote(Line("Порт %d: одинаковые ответы приняты без проверки", slot));
                    if (switchedOff) {
                        LogNote(Line("Контроллер %d: последний байт ответа - не контрольная "
                                     "сумма; проверка ответов отключена до смены адреса или порта",
                                     ctrl & 0xFF));
                    }
                }
                std::memcpy(dst, reply.data(), size);
                return true;
            }
            // Failed replies always get the reads needed to compare them, even with no retries:
            // otherwise a controller without the checksum could not be read at all.
            if (mayTrust && attempt >= limit && confirmReads < kRepliesToTrustUnchecked - 1) {
                ++confirmReads;
                limit = attempt + 1;
            }
        }
        if (attempt >= limit) return false;
        if (attempt == 1) CountRetriedRequest();
        if (Logged(slot)) {
            LogNote(Line("Повтор запроса порта %d (попытка %d из %d), адрес %06X, %d байт: %s",
                         slot, attempt + 1, limit, static_cast<unsigned>(lineAddress), count,
                         EndText(end)));
        }
    }
}

} // namespace velmar::detail
