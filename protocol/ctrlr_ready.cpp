#include "protocol/ctrlr_ready.h"

#include "protocol/ctrlr_protocol.h"
#include "protocol/exchange_result.h"
#include "protocol/port_wait.h"

namespace velmar {

int AwaitCtrlrAnswer(PortSlot slot, int ctrl, int budgetMs) {
    const detail::Deadline deadline(budgetMs);
    detail::SleepMs(kRestartSettleMs);
    do {
        uint8_t reply[4] = {};
        int number = 0;
        if (PollResultOf(PollCtrlrAddress(slot, ctrl, reply, number)) == PollResult::Answered)
            return Code(ExchangeResult::Done);
        if (deadline.Expired()) break;
        detail::SleepMs(kRestartPollPauseMs);
    } while (!deadline.Expired());
    return Code(ExchangeResult::Failed);
}

} // namespace velmar
