// A controller's memory held in the test, reached through the in-memory store, with a store in
// front of it that can refuse reads or writes and remembers every write it passed on: the model's
// read and write sequences are checked against what reached the memory.
#pragma once

#include "data/controller_model.h"
#include "data/memory_map.h"
#include "data/memory_store.h"
#include "data/record_store.h"
#include "protocol/ctrlr_protocol.h"

#include <cstdint>
#include <vector>

namespace velmar::test {

// Bytes the fixture leaves around the records: a write beyond its record shows in them.
inline constexpr uint8_t kUntouched = 0xA5;
inline constexpr int kMemoryLength = 0x10000;
// The sizes record of a two-sided controller with eight hoses a side.
inline constexpr uint8_t kBlockLength = params::kUsualLength;
inline constexpr uint8_t kNozzlesPerSide = 8;
inline constexpr uint8_t kSides = 2;
inline constexpr uint8_t kOptionalLength = 0;

struct StoreWrite {
    int address;
    int length;
    uint8_t space;
};

class ScriptedStore final : public RecordStore {
  public:
    explicit ScriptedStore(std::vector<uint8_t>& er) : memory_(er, &ir_, &im_) {}

    StoreResult Read(int address, int length, uint8_t* dst, uint8_t space = 0) override {
        ++reads;
        if (emptyReads > 0) {
            --emptyReads;
            return StoreResult::Done(0);
        }
        if (failReads > 0) {
            --failReads;
            return StoreResult::Failed(StoreCode::NoAnswer);
        }
        const StoreResult got = memory_.Read(address, length, dst, space);
        return shortBy > 0 && got.Length() > 0 ? StoreResult::Done(got.Length() - shortBy) : got;
    }
    StoreResult Write(int address, int length, const uint8_t* data, uint8_t space = 0) override {
        if (failWrites) return StoreResult::Failed(StoreCode::NoAnswer);
        writes.push_back({address, length, space});
        return memory_.Write(address, length, data, space);
    }
    StoreResult Restart() override { return StoreResult::Done(); }
    StoreResult ReadSizes() override {
        const StoreResult rc = memory_.ReadSizes();
        Sizes() = memory_.Sizes();
        return rc;
    }
    bool Holds(int address, uint8_t space) const override { return memory_.Holds(address, space); }
    bool IsDemo() const override { return false; }

    int emptyReads = 0; // the next reads answer with no bytes
    int failReads = 0;  // the next reads are not answered
    int shortBy = 0;    // answers this many bytes short
    bool failWrites = false;
    int reads = 0;
    std::vector<StoreWrite> writes;

  private:
    std::vector<uint8_t> ir_ = std::vector<uint8_t>(kMemoryLength, kUntouched);
    std::vector<uint8_t> im_ = std::vector<uint8_t>(kMemoryLength, kUntouched);
    MemoryRecordStore memory_;
};

// Memory with every record of a 2 x 8 controller, each byte numbered so records differ.
struct ModelOverMemory {
    ModelOverMemory() {
        const uint8_t sizes[len::kSizes] = {kBlockLength,       kNozzlesPerSide, kSides,
                                            len::kChannelSetts, kOptionalLength, len::kChannelRegs,
                                            len::kSideState};
        Fill(addr::kSizes, len::kSizes, sizes);
        memory[addr::kParamsLength] = kBlockLength;
        Number(addr::kParams, kBlockLength);
        for (int n = 0; n < kChannelCount; ++n) {
            Number(ChannelAddress(addr::kChannelSettsBase, n), len::kChannelSetts);
            Number(ChannelAddress(addr::kChannelRegsBase, n), len::kChannelRegs);
        }
        Number(addr::kSideStateA, len::kSideState);
        Number(addr::kSideStateB, len::kSideState);
        Number(addr::kTempTable, temp::kLength);
        Number(addr::kMakeBlock, make::kLength);
        store.ReadSizes();
    }
    void Fill(int address, int length, const uint8_t* bytes) {
        for (int i = 0; i < length; ++i) memory[static_cast<size_t>(address + i)] = bytes[i];
    }
    void Number(int address, int length) {
        for (int i = 0; i < length; ++i)
            memory[static_cast<size_t>(address + i)] = static_cast<uint8_t>(address / 0x100 + i);
    }
    std::vector<uint8_t> Bytes(int address, int length) const {
        return {memory.begin() + address, memory.begin() + address + length};
    }

    std::vector<uint8_t> memory = std::vector<uint8_t>(kMemoryLength, kUntouched);
    ScriptedStore store{memory};
    ControllerModel model;
};

} // namespace velmar::test
