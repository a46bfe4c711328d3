// The records the controller changes by itself while it works: each channel's registers
// (totalisers, counters, state) and both sides' states. A write there must never put older bytes
// over what the controller counted meanwhile, so a chunk of theirs is read back before it is sent
// again (WriteGuard), and goes again only while the controller still holds what it held before.
#pragma once

#include "protocol/ctrlr_protocol.h"

#include <cstdint>
#include <map>

namespace velmar {

// Whether `length` bytes at `address` of `space` touch such a record.
bool CountsByItself(int address, int length, uint8_t space);

// The bytes of such records as last read from (or written to) one controller: what it held
// before a write, for telling a chunk that did not land from bytes the controller counted since.
class CountedCopy {
  public:
    // Keeps what of these bytes lies in a counting record; the rest is no business of ours.
    void Take(int address, int length, const uint8_t* bytes, uint8_t space);
    // Copies the bytes into `out`; false when any of them was never read.
    bool Get(int address, int length, uint8_t* out, uint8_t space) const;
    void Forget(int address, int length, uint8_t space);
    void Clear() { bytes_.clear(); }

  private:
    std::map<int, uint8_t> bytes_; // space ER address -> byte
};

} // namespace velmar
