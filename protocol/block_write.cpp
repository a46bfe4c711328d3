// Acknowledged block writes: each chunk is answered with a status block whose first byte is 0.
// Image records are memory: a chunk whose status did not come clear is sent again as
// write_chunk.h says.
#include "protocol/ctrlr_protocol.h"
#include "protocol/exchange_result.h"
#include "protocol/port_wait.h"
#include "protocol/timeouts.h"
#include "protocol/write_chunk.h"

#include <algorithm>

namespace velmar {

int BlockWriteAcked(PortSlot slot, int ctrl, int address, int length, const uint8_t* data,
                    const WriteGuard& guard) {
    if (slot > kMaxTransactionSlot) return Code(ExchangeResult::SlotTooHigh);
    for (int done = 0; done < length;) {
        const int chunk = std::min(length - done, kMaxChunk);
        const auto lineAddress = static_cast<uint32_t>(address + done) & 0xFFFFFFu;
        bool framesSent = true;
        const auto sendOnce = [&](uint8_t& status) {
            SendCtrlrCmd(slot, ctrl, 0x40);
            AwaitPortSent(slot, kFrameSentBudgetMs);
            detail::SleepMs(kBlockCmdPauseMs);
            if (SendWriteFrames(slot, lineAddress, static_cast<unsigned>(chunk), data + done) !=
                1) {
                framesSent = false;
                return detail::ChunkStatus::Accepted; // ends the loop; reported below
            }
            uint8_t block[256] = {};
            const int n = detail::AwaitStatusBlock(slot, block, static_cast<int>(sizeof block), 1,
                                                   Timeouts(slot).blockAckMs);
            if (n == 0) return detail::ChunkStatus::NoStatus;
            // Only the first byte counts, whatever the length of the block.
            if (block[0] == 0) return detail::ChunkStatus::Accepted;
            status = block[0];
            return detail::ChunkStatus::Refused;
        };
        const detail::ChunkTarget target{
            slot,        ctrl,          kSpaceER,
            lineAddress, chunk,         data + done,
            true,        guard.counted, guard.before != nullptr ? guard.before + done : nullptr};
        const detail::ChunkOutcome outcome = detail::WriteChunk(target, sendOnce);
        if (outcome == detail::ChunkOutcome::Overtaken) return Code(ExchangeResult::Overtaken);
        if (outcome != detail::ChunkOutcome::Written || !framesSent)
            return Code(ExchangeResult::Failed);
        done += chunk;
    }
    return Code(ExchangeResult::Done);
}

} // namespace velmar
