// Who enters each write of a longer sequence (a whole image) in the journal before it goes on
// the line, and its outcome after: a sequence that writes past the record store calls these
// around each of its writes.
#pragma once

#include "data/store_result.h"

#include <cstdint>

namespace velmar {

class WriteRecorder {
  public:
    virtual ~WriteRecorder() = default;
    // Before the write: false when it must not start (the journal could not take it).
    virtual bool BeforeWrite(int address, int length, const uint8_t* data, uint8_t space) = 0;
    // The line's answer to the write just entered.
    virtual void AfterWrite(StoreResult result) = 0;
};

} // namespace velmar
