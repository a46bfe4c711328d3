#include "protocol/write_chunk.h"

#include "link/exchange_log.h"
#include "protocol/ctrlr_protocol.h"
#include "protocol/line_timing.h"
#include "protocol/port_wait.h"
#include "protocol/read_request.h"
#include "protocol/read_retry.h"
#include "protocol/timeouts.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace velmar::detail {

namespace {

constexpr uint8_t kReadCmd = 0x48;

const char* StatusText(ChunkStatus s) {
    switch (s) {
    case ChunkStatus::Refused:
        return "отказ, ждем его подтверждения";
    case ChunkStatus::NoStatus:
        return "нет ответа";
    case ChunkStatus::Garbled:
        return "искаженный ответ";
    case ChunkStatus::Accepted:
        break;
    }
    return "";
}

} // namespace

namespace {

// What the controller holds where the chunk went: the chunk, the bytes it held before, other
// bytes, or nothing read.
enum class ReadBack { Held, Before, Differs, Unknown };

ReadBack ReadChunkBack(const ChunkTarget& t) {
    uint8_t held[kMaxChunk] = {};
    const auto cmd = static_cast<uint8_t>(kReadCmd + t.space);
    if (!ReadRequest(t.slot, t.ctrl, cmd, t.lineAddress, t.count, Timeouts(t.slot).readChunkStallMs,
                     held))
        return ReadBack::Unknown;
    const auto n = static_cast<size_t>(t.count);
    if (std::memcmp(held, t.data, n) == 0) return ReadBack::Held;
    if (t.before != nullptr && std::memcmp(held, t.before, n) == 0) return ReadBack::Before;
    return ReadBack::Differs;
}

void LogChunk(const ChunkTarget& t, const char* what) {
    if (!PortLogged(t.slot)) return;
    char line[400];
    std::snprintf(line, sizeof line, "Запись порта %d, адрес %06X, %d байт: %s", t.slot,
                  static_cast<unsigned>(t.lineAddress), t.count, what);
    LogNote(line);
}

} // namespace

ChunkOutcome WriteChunk(const ChunkTarget& target, const ChunkSend& send) {
    const int limit = target.repeatable ? 1 + ReadRetries(target.slot) : 1;
    int refusal = -1; // the nonzero status of the previous sending, if it gave one
    for (int attempt = 1;; ++attempt) {
        uint8_t status = 0;
        const ChunkStatus got = send(status);
        if (got == ChunkStatus::Accepted) return ChunkOutcome::Written;
        if (!target.repeatable) return ChunkOutcome::Failed;
        if (attempt == 1) CountRetriedRequest(target.slot);
        if (target.counted || got != ChunkStatus::Refused) {
            // Whether the chunk went in all the same, and for counted bytes whether the
            // controller still holds what it held before: only then may the chunk go again.
            const ReadBack back = ReadChunkBack(target);
            if (back == ReadBack::Held) {
                LogChunk(target, "ответ не получен ясно, но контроллер уже хранит эти байты: "
                                 "записано");
                return ChunkOutcome::Written;
            }
            if (target.counted && back != ReadBack::Before) {
                LogChunk(target, back == ReadBack::Unknown
                                     ? "ответ не получен ясно, обратное чтение не удалось; "
                                       "контроллер сам меняет эти байты, запись не повторяется"
                                     : "контроллер сам изменил эти байты после записи; запись "
                                       "не повторяется, чтобы не затереть его счет");
                return back == ReadBack::Unknown ? ChunkOutcome::Failed : ChunkOutcome::Overtaken;
            }
        }
        if (got == ChunkStatus::Refused) {
            if (refusal == status) return ChunkOutcome::Failed; // said twice: refused
            refusal = status;
        } else {
            refusal = -1;
        }
        if (attempt >= limit) return ChunkOutcome::Failed;
        if (PortLogged(target.slot)) {
            char line[200];
            std::snprintf(line, sizeof line,
                          "Повтор записи порта %d (попытка %d из %d), адрес %06X, %d байт: %s",
                          target.slot, attempt + 1, limit,
                          static_cast<unsigned>(target.lineAddress), target.count, StatusText(got));
            LogNote(line);
        }
    }
}

int AwaitStatusBlock(PortSlot slot, uint8_t* bytes, int capacity, int expected, int budgetMs) {
    const auto& t = Timeouts(slot);
    if (AwaitAtLeast(slot, 1, budgetMs) < 1 &&
        AwaitAtLeast(slot, 1, budgetMs * t.lateWatchPercent / 100) < 1)
        return 0;
    // A block may come in pieces: the rest is awaited while it grows, then the line must be
    // quiet for a character time or so; what comes after that is no part of it.
    if (expected > 1) AwaitExactCount(slot, expected, t.readChunkStallMs, true);
    AwaitQuiet(slot, CharTime(slot) * t.replySettlePercent / 100, t.readChunkStallMs);
    const int n = std::min(PortAvailable(slot), capacity);
    if (n <= 0 || ReadPort(slot, bytes, n) != 1) return 0;
    // Anything beyond `capacity` goes in the next request's purge.
    return n;
}

} // namespace velmar::detail
