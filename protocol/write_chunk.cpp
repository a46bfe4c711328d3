#include "protocol/write_chunk.h"

#include "link/exchange_log.h"
#include "protocol/line_timing.h"
#include "protocol/port_wait.h"
#include "protocol/read_retry.h"
#include "protocol/timeouts.h"

#include <algorithm>
#include <cstdio>

namespace velmar::detail {

namespace {

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

bool WriteChunk(PortSlot slot, uint32_t lineAddress, int count, bool repeatable,
                const ChunkSend& send) {
    const int limit = repeatable ? 1 + ReadRetries() : 1;
    int refusal = -1; // the nonzero status of the previous sending, if it gave one
    for (int attempt = 1;; ++attempt) {
        uint8_t status = 0;
        const ChunkStatus got = send(status);
        if (got == ChunkStatus::Accepted) return true;
        if (got == ChunkStatus::Refused) {
            if (refusal == status) return false; // said twice: the controller refuses
            refusal = status;
        } else {
            refusal = -1;
        }
        if (attempt >= limit) return false;
        if (attempt == 1) CountRetriedRequest();
        if (slot >= 1 && slot <= kPortSlotCount && ((GetLogMask() >> (slot - 1)) & 1u) != 0) {
            char line[200];
            std::snprintf(line, sizeof line,
                          "Повтор записи порта %d (попытка %d из %d), адрес %06X, %d байт: %s",
                          slot, attempt + 1, limit, static_cast<unsigned>(lineAddress), count,
                          StatusText(got));
            LogNote(line);
        }
    }
}

int AwaitStatusBlock(PortSlot slot, uint8_t* bytes, int capacity, int budgetMs) {
    if (AwaitAtLeast(slot, 1, budgetMs) < 1) return 0;
    // The rest of the block follows within a character time or so; what comes after a pause
    // that long is no part of it.
    AwaitQuiet(slot, CharTime(slot) * Timeouts().replySettlePercent / 100,
               Timeouts().readChunkStallMs);
    const int n = std::min(PortAvailable(slot), capacity);
    if (n <= 0 || ReadPort(slot, bytes, n) != 1) return 0;
    // Anything beyond `capacity` goes in the next request's purge.
    return n;
}

} // namespace velmar::detail
