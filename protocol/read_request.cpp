#include "protocol/read_request.h"

#include "link/exchange_log.h"
#include "protocol/ctrlr_protocol.h"
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
    bool haveUnverified = false;
    bool confirmGranted = false;
    int limit = ReadRetries() + 1;
    for (int attempt = 1;; ++attempt) {
        SendCtrlrCmd(slot, ctrl, cmd);
        SendReadHeader(slot, lineAddress, static_cast<uint8_t>(count));
        int firstByteUs = -1;
        const ReplyLimits limits{FirstByteBudgetMs(slot, firstByteMs, attempt >= limit),
                                 Timeouts().readChunkStallMs};
        const ReplyEnd end = AwaitReadReply(slot, reply.data(), want, checked, limits, firstByteUs);
        if (firstByteUs >= 0) NoteReplyLatency(slot, firstByteUs);

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
            // The same data twice: whatever the trailing byte means, these are the bytes in the
            // controller (a noisy line does not garble two replies alike).
            if (haveUnverified && std::memcmp(unverified.data(), reply.data(), size) == 0) {
                const bool switchedOff = NoteReplyRepeatedUnchecked(slot, ctrl);
                if (Logged(slot)) {
                    LogNote(Line("Порт %d: два одинаковых ответа приняты без проверки", slot));
                    if (switchedOff) {
                        LogNote(Line("Контроллер %d: последний байт ответа - не контрольная "
                                     "сумма; проверка ответов отключена до смены адреса или порта",
                                     ctrl & 0xFF));
                    }
                }
                std::memcpy(dst, reply.data(), size);
                return true;
            }
            unverified = reply;
            haveUnverified = true;
            // A failed check always gets one read to compare it with, even with no retries:
            // otherwise a controller without the checksum could not be read at all.
            if (attempt >= limit && !confirmGranted) {
                confirmGranted = true;
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
