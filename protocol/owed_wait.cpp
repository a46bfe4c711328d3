#include "protocol/owed_wait.h"

#include "link/exchange_log.h"
#include "protocol/ctrlr_protocol.h"
#include "protocol/line_context.h"
#include "protocol/line_timing.h"
#include "protocol/port_wait.h"
#include "protocol/read_retry.h"
#include "protocol/timeouts.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>

namespace velmar::detail {
namespace {

// No owed reply is waited for longer than this after its request.
constexpr int kLongestOwedWindowMs = 7500;

int WindowMs(PortSlot slot, const OwedReplies& owed, const OwedReplies::Entry& e) {
    const auto& t = Timeouts(slot);
    const long slowestMs =
        static_cast<long>(owed.SlowestUs()) * t.lateReplyPercent / 100 / 1000 + t.lateReplyMarginMs;
    const long ownMs = static_cast<long>(e.waitMs) * t.owedWindowPercent / 100;
    return static_cast<int>(std::min<long>(std::max<long>(ownMs, slowestMs), kLongestOwedWindowMs));
}

} // namespace

int64_t SteadyNowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void SettleOwedReplies(PortSlot slot, const RequestKey* next) {
    LineContext* line = LineOf(slot);
    if (line == nullptr) return;
    OwedReplies& owed = line->owed;
    bool told = false;
    while (!owed.Empty() && (next == nullptr || !(owed.Front().key == *next))) {
        const OwedReplies::Entry front = owed.Front();
        const int64_t leftUs =
            front.sentUs + static_cast<int64_t>(WindowMs(slot, owed, front)) * 1000 - SteadyNowUs();
        if (leftUs <= 0) {
            owed.GiveUpFront();
            continue;
        }
        if (!told && PortLogged(slot)) {
            char text[160];
            std::snprintf(text, sizeof text,
                          "Порт %d: ожидание ответов на прежние запросы (%d) перед новым запросом",
                          slot, owed.Count());
            LogNote(text);
            told = true;
        }
        std::array<uint8_t, 256> bytes{};
        int firstByteUs = -1;
        const int64_t listenFromUs = SteadyNowUs();
        const ReplyEnd end = AwaitReadReply(
            slot, bytes.data(), front.want, false,
            {static_cast<int>((leftUs + 999) / 1000), Timeouts(slot).readChunkStallMs},
            firstByteUs);
        if (end == ReplyEnd::Complete) {
            const OwedReplies::Entry from = owed.TakeFront();
            if (from.key.read && firstByteUs >= 0) {
                const auto delayUs = static_cast<int>(listenFromUs + firstByteUs - from.sentUs);
                owed.NoteDelay(delayUs);
                NoteReplyLatency(slot, delayUs);
            }
        } else if (end != ReplyEnd::NoReply) {
            // Pieces, noise, replies run together: nothing to count; taken off the line.
            AwaitQuiet(slot, CharTime(slot) * Timeouts(slot).replySettlePercent / 100,
                       Timeouts(slot).readChunkStallMs);
            PurgePort(slot);
        }
    }
}

void SendCommandFrame(PortSlot slot, int ctrl, uint8_t code) {
    std::array<uint8_t, 4> frame{0x60, static_cast<uint8_t>(ctrl & 0xFF), code, 0};
    frame[3] = ChecksumRot8(frame.data(), 3);
    PurgePort(slot);
    WritePort(slot, frame.data(), frame.size());
}

void NoteAnsweredInTime(PortSlot slot) {
    LineContext* line = LineOf(slot);
    if (line != nullptr && line->owed.Empty()) line->owed.NoteAnsweredInTime();
}

void NoteOwedReply(PortSlot slot, const OwedReplies::Entry& entry) {
    if (LineContext* line = LineOf(slot)) line->owed.Add(entry);
}

} // namespace velmar::detail
