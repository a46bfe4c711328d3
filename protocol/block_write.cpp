// Acknowledged block writes: each chunk is answered with a status block whose first byte is 0.
#include "protocol/ctrlr_protocol.h"
#include "protocol/port_wait.h"
#include "protocol/timeouts.h"

#include <algorithm>

namespace velmar {

int BlockWriteAcked(PortSlot slot, int ctrl, int address, int length, const uint8_t* data) {
    if (slot > kMaxTransactionSlot) return -3;
    for (int done = 0; done < length;) {
        const int chunk = std::min(length - done, kMaxChunk);
        SendCtrlrCmd(slot, ctrl, 0x40);
        detail::SleepMs(kBlockCmdPauseMs);
        const auto lineAddress = static_cast<uint32_t>(address + done) & 0xFFFFFFu;
        if (SendWriteFrames(slot, lineAddress, static_cast<unsigned>(chunk), data + done) != 1)
            return -1;
        if (detail::AwaitAtLeast(slot, 1, Timeouts().blockAckMs) < 1) return -1;
        uint8_t status = 0;
        if (ReadPort(slot, &status, 1) != 1 || status != 0) return -1;
        // Only the first byte counts; the rest of the status block is dropped.
        uint8_t rest[256];
        const int more = PortAvailable(slot);
        if (more > 0) ReadPort(slot, rest, more);
        done += chunk;
    }
    return 1;
}

} // namespace velmar
