// A RecordStore over controller memory held in this process (for instance a simulated
// controller's memory spaces): reads and writes copy bytes at their addresses, with the same
// results as the memory transactions. Used to build images without a serial line.
#pragma once

#include "data/record_store.h"

#include <cstdint>
#include <vector>

namespace velmar {

class MemoryRecordStore final : public RecordStore {
  public:
    // `er` is memory space 0; `ir` and `im` are optional (nullptr: the space answers nothing).
    // The vectors are borrowed and must outlive the store.
    explicit MemoryRecordStore(std::vector<uint8_t>& er, std::vector<uint8_t>* ir = nullptr,
                               std::vector<uint8_t>* im = nullptr)
        : er_(er), ir_(ir), im_(im) {}

    StoreResult Read(int address, int length, uint8_t* dst, uint8_t space = 0) override;
    StoreResult Write(int address, int length, const uint8_t* data, uint8_t space = 0) override;
    StoreResult Restart() override { return StoreResult::Done(); }
    // The 7 bytes at 0x3040 of space 0.
    StoreResult ReadSizes() override;
    bool Holds(int, uint8_t space) const override;
    bool IsDemo() const override { return false; }

  private:
    std::vector<uint8_t>* Space(uint8_t space) const;

    std::vector<uint8_t>& er_;
    std::vector<uint8_t>* ir_;
    std::vector<uint8_t>* im_;
};

} // namespace velmar
