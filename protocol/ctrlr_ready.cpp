#include "protocol/ctrlr_ready.h"

#include "protocol/ctrlr_protocol.h"
#include "protocol/port_wait.h"

namespace velmar {

int AwaitCtrlrAnswer(PortSlot slot, int ctrl, int budgetMs) {
    const detail::Deadline deadline(budgetMs);
    detail::SleepMs(kRestartSettleMs);
    do {
        uint8_t reply[4] = {};
        int number = 0;
        if (PollCtrlrAddress(slot, ctrl, reply, number) == 1) return 1;
        if (deadline.Expired()) break;
        detail::SleepMs(kRestartPollPauseMs);
    } while (!deadline.Expired());
    return -1;
}

} // namespace velmar
