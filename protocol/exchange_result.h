// The results of the controller protocol's operations, by name. The operations return them as
// plain numbers (a read its byte count); Code and ResultOf turn one into the other, so that
// callers compare names, never bare numbers.
#pragma once

namespace velmar {

enum class ExchangeResult : int {
    Done = 1,          // success; a read returns its byte count (0 for an empty record)
    Failed = -1,       // no reply, a short or wrong reply, a timeout, or a refused write
    BadReply = -2,     // a reply came but is wrong (address poll) or incomplete (identification)
    SlotTooHigh = -3,  // the slot number is above kMaxTransactionSlot
    FrameTooLong = -4, // a write header and data frame longer than kMaxWriteFrame
    Overtaken = -5,    // a guarded write stopped: the controller changed those bytes meanwhile
};

// The address poll's codes (PollCtrlrAddress).
enum class PollResult : int {
    Answered = 1,     // the controller answered, with its number
    NoAnswer = -1,    // nothing, or fewer than 4 bytes, in time
    WrongAnswer = -2, // 4 bytes that fail the checksum or do not echo the poll
    SlotTooHigh = -3,
};

constexpr int Code(ExchangeResult result) {
    return static_cast<int>(result);
}
constexpr int Code(PollResult result) {
    return static_cast<int>(result);
}

// A number an operation returned, named: every count (0 or more) is Done; a number outside the
// set counts as Failed.
constexpr ExchangeResult ResultOf(int code) {
    if (code >= 0) return ExchangeResult::Done;
    if (code >= Code(ExchangeResult::Overtaken)) return static_cast<ExchangeResult>(code);
    return ExchangeResult::Failed;
}

constexpr PollResult PollResultOf(int code) {
    if (code == Code(PollResult::Answered)) return PollResult::Answered;
    if (code <= -1 && code >= Code(PollResult::SlotTooHigh)) return static_cast<PollResult>(code);
    return PollResult::NoAnswer;
}

constexpr bool Succeeded(int code) {
    return ResultOf(code) == ExchangeResult::Done;
}

} // namespace velmar
