#include "protocol/address_search.h"

#include "protocol/ctrlr_protocol.h"
#include "protocol/line_timing.h"
#include "protocol/port_wait.h"

namespace velmar {

namespace {

constexpr uint8_t kPollCmd = 0x21;
// The 4-byte poll frame goes out, then the 4-byte reply comes back.
constexpr int kSearchChars = 8;
// How long a controller may take between the end of the poll frame and its reply, plus the
// adapter's delivery of the reply (a USB serial adapter hands bytes on every millisecond or so).
constexpr int kTurnaroundMs = 6;
// How long a garbled reply may go on before the search polls that number again.
constexpr int kQuietLimitMs = 200;

SearchAnswer FullPoll(PortSlot slot, int ctrl, int& number) {
    uint8_t reply[4] = {};
    const int r = PollCtrlrAddress(slot, ctrl, reply, number);
    if (r == 1) return SearchAnswer::Answered;
    if (r == -2) return SearchAnswer::BadReply;
    return PortLastError(slot) != 0 ? SearchAnswer::NotReached : SearchAnswer::Absent;
}

} // namespace

int SearchBudgetMs(PortSlot slot) {
    const auto lineUs = detail::CharTime(slot).count() * kSearchChars;
    return static_cast<int>((lineUs + 999) / 1000) + kTurnaroundMs;
}

SearchAnswer SearchPoll(PortSlot slot, int ctrl, bool thorough, int& number) {
    SearchAnswer answer = SearchAnswer::Absent;
    if (thorough) {
        answer = FullPoll(slot, ctrl, number);
    } else {
        const uint32_t reconnects = PortReconnects(slot);
        SendCtrlrCmd(slot, ctrl, kPollCmd);
        // Confirm an answer, or give a slow reply its full time; so too the first poll on a
        // connection the gateway has just accepted again, which it may pass on only late.
        if (detail::AwaitAtLeast(slot, 4, SearchBudgetMs(slot)) >= 4 || PortAvailable(slot) > 0 ||
            PortReconnects(slot) != reconnects)
            answer = FullPoll(slot, ctrl, number);
        else if (PortLastError(slot) != 0)
            answer = SearchAnswer::NotReached;
    }
    // A connection lost under the poll is made again by the next frame (waiting for a gateway
    // that is back within seconds): one more full poll tells whether the number is there.
    if (answer == SearchAnswer::NotReached) answer = FullPoll(slot, ctrl, number);
    // A garbled reply is asked for once more after the line has gone quiet: the late tail of an
    // earlier reply or a burst of noise is not a controller that answers wrongly, and would fail
    // a whole backup.
    if (answer == SearchAnswer::BadReply) {
        detail::AwaitQuiet(slot, detail::CharTime(slot) * 3, kQuietLimitMs);
        answer = FullPoll(slot, ctrl, number);
    }
    return answer;
}

} // namespace velmar
