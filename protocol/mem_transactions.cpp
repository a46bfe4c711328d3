// The two memory transactions: chunked reads (explicit length or self-sized), each request
// verified and retried as read_retry.h says, and chunked writes, each chunk of a stored record
// sent again as write_chunk.h says.
#include "protocol/ctrlr_protocol.h"
#include "protocol/exchange_result.h"
#include "protocol/port_wait.h"
#include "protocol/read_request.h"
#include "protocol/timeouts.h"
#include "protocol/write_chunk.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace velmar {

namespace {

constexpr uint8_t kReadCmd = 0x48;
constexpr uint8_t kWriteCmd = 0x40;
// Addresses have 24 bits: no transfer can be longer.
constexpr int kMaxTransfer = 0x1000000;
// The stored records of space ER lie below this; the special targets (restart) above it.
constexpr int kRecordSpace = 0x10000;

uint32_t LineAddress(int address, int offset) {
    return static_cast<uint32_t>(address + offset) & 0xFFFFFFu;
}

} // namespace

int ReadCtrlrMem(PortSlot slot, int ctrl, int address, int length, uint8_t* dst, uint8_t space) {
    if (slot > kMaxTransactionSlot) return Code(ExchangeResult::SlotTooHigh);
    const auto cmd = static_cast<uint8_t>(kReadCmd + space);

    if (length > kMaxTransfer) return Code(ExchangeResult::Failed);
    int total = length;
    int offset = 0;
    if (length <= 0) {
        // Self-sized record: its first byte tells how many bytes follow.
        offset = 1;
        uint8_t recordLength = 0;
        if (!detail::ReadRequest(slot, ctrl, cmd, LineAddress(address, 0), 1,
                                 Timeouts(slot).lengthReplyMs, &recordLength))
            return Code(ExchangeResult::Failed);
        total = recordLength;
    }

    // Nothing reaches `dst` unless the whole transfer succeeded.
    std::vector<uint8_t> buffer(static_cast<size_t>(total));
    int got = 0;
    while (got < total) {
        const int chunk = std::min(total - got, kMaxChunk);
        if (!detail::ReadRequest(slot, ctrl, cmd, LineAddress(address, offset), chunk,
                                 Timeouts(slot).readChunkStallMs, buffer.data() + got))
            return Code(ExchangeResult::Failed);
        got += chunk;
        offset += chunk;
    }
    if (got > 0) std::memcpy(dst, buffer.data(), static_cast<size_t>(got));
    return got;
}

int WriteCtrlrMem(PortSlot slot, int ctrl, int address, int length, const uint8_t* data,
                  uint8_t space, const WriteGuard& guard) {
    if (slot > kMaxTransactionSlot) return Code(ExchangeResult::SlotTooHigh);
    if (length == 0) return Code(ExchangeResult::Done);
    if (length < 0 || length > kMaxTransfer) return Code(ExchangeResult::Failed);
    const auto cmd = static_cast<uint8_t>(kWriteCmd + space);

    // Stored records may be written again; the live registers and the targets above them act.
    const bool repeatable = space == kSpaceER && address >= 0 && address + length <= kRecordSpace;
    for (int done = 0; done < length;) {
        const int chunk = std::min(length - done, kMaxChunk);
        const uint32_t lineAddress = LineAddress(address, done);
        bool framesSent = true;
        const auto sendOnce = [&](uint8_t& status) {
            SendCtrlrCmd(slot, ctrl, cmd);
            if (SendWriteFrames(slot, lineAddress, static_cast<unsigned>(chunk), data + done) !=
                1) {
                framesSent = false;
                return detail::ChunkStatus::Accepted; // ends the loop; reported below
            }
            // A 1-byte chunk is answered by a 2-byte status block; its last byte is the status.
            const int expected = chunk == 1 ? 2 : 1;
            uint8_t block[kMaxWriteFrame] = {};
            const int n = detail::AwaitStatusBlock(slot, block, static_cast<int>(sizeof block),
                                                   expected, Timeouts(slot).writeStatusMs);
            if (n == 0) return detail::ChunkStatus::NoStatus;
            if (n != expected) return detail::ChunkStatus::Garbled;
            status = block[expected - 1];
            return status == 0 ? detail::ChunkStatus::Accepted : detail::ChunkStatus::Refused;
        };
        const detail::ChunkTarget target{
            slot,        ctrl,          space,
            lineAddress, chunk,         data + done,
            repeatable,  guard.counted, guard.before != nullptr ? guard.before + done : nullptr};
        const detail::ChunkOutcome outcome = detail::WriteChunk(target, sendOnce);
        if (outcome == detail::ChunkOutcome::Overtaken) return Code(ExchangeResult::Overtaken);
        if (outcome != detail::ChunkOutcome::Written || !framesSent)
            return Code(ExchangeResult::Failed);
        done += chunk;
    }
    return Code(ExchangeResult::Done);
}

} // namespace velmar
