#include "data/ident_sequence.h"

#include "data/memory_map.h"
#include "protocol/ctrlr_protocol.h"
#include "protocol/exchange_result.h"

#include <array>
#include <cstring>

namespace velmar {

IdentOutcome IdentifyController(PortSlot slot, int ctrlrAddress) {
    IdentOutcome out;
    out.ctrlrAddress = ctrlrAddress;

    uint8_t reply[4] = {};
    int number = 0;
    const PollResult poll = PollResultOf(PollCtrlrAddress(slot, ctrlrAddress, reply, number));
    if (poll == PollResult::WrongAnswer) {
        out.stage = IdentOutcome::Stage::Unsupported;
        return out;
    }
    if (poll != PollResult::Answered) {
        out.stage = IdentOutcome::Stage::NoAnswer;
        return out;
    }
    if (ctrlrAddress == kReserveAddress) out.ctrlrAddress = number & 0xFF;

    uint8_t status = 0;
    if (!Succeeded(ReadCtrlrMem(slot, out.ctrlrAddress, addr::kStatusIR, 1, &status, kSpaceIR))) {
        out.stage = IdentOutcome::Stage::RegisterFailed;
        return out;
    }

    std::array<char, kIdentTextSize> text{};
    const ExchangeResult ident = ResultOf(ReadIdentText(slot, out.ctrlrAddress, text.data()));
    if (ident != ExchangeResult::Done && ident != ExchangeResult::BadReply) {
        out.stage = IdentOutcome::Stage::TimeOut;
        return out;
    }
    text.back() = '\0';
    out.stage = IdentOutcome::Stage::Identified;
    out.complete = ident == ExchangeResult::Done;
    out.text.assign(text.data(), std::strlen(text.data()));
    out.pulseSimulator = GetPulseSimulator(slot, out.ctrlrAddress);
    return out;
}

} // namespace velmar
