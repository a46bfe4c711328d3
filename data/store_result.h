// What a record store answers: one closed code for every store (the controller on the line, the
// demo image, an image file, memory) and, for a read, how many bytes it gave.
#pragma once

#include <cstdint>

namespace velmar {

enum class StoreCode : uint8_t {
    Done,        // read or written; a read says how many bytes it gave
    NoAnswer,    // no reply, a short or wrong one, a timeout, or a write the controller refused
    SlotTooHigh, // the port slot cannot carry memory transactions
    Refused,     // not attempted: the store cannot take the write (journal, changed image file) or
                 // does not hold the record
    Declined,    // the controller answered that it will not: a restart refused with its status
};

class StoreResult {
  public:
    constexpr StoreResult() = default;
    static constexpr StoreResult Done(int length = 0) {
        return StoreResult(StoreCode::Done, length);
    }
    static constexpr StoreResult Failed(StoreCode code) { return StoreResult(code, 0); }
    // From the memory transactions: a read gives its byte count (0 for an empty self-sized
    // record), a write 1; −3 is a slot above the transactions' range, anything else no answer.
    static constexpr StoreResult FromRead(int rc) {
        return rc >= 0 ? Done(rc)
                       : Failed(rc == kSlotTooHigh ? StoreCode::SlotTooHigh : StoreCode::NoAnswer);
    }
    static constexpr StoreResult FromWrite(int rc) {
        return rc == 1 ? Done()
                       : Failed(rc == kSlotTooHigh ? StoreCode::SlotTooHigh : StoreCode::NoAnswer);
    }

    constexpr StoreCode Code() const { return code_; }
    constexpr bool Ok() const { return code_ == StoreCode::Done; }
    // Bytes a read gave (0 for a failure or a write).
    constexpr int Length() const { return length_; }
    // A read that gave at least `wanted` bytes.
    constexpr bool Gave(int wanted) const { return Ok() && length_ >= wanted; }

  private:
    static constexpr int kSlotTooHigh = -3;
    constexpr StoreResult(StoreCode code, int length) : code_(code), length_(length) {}
    StoreCode code_ = StoreCode::NoAnswer;
    int length_ = 0;
};

} // namespace velmar
