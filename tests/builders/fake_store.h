// A record store over a plain 64 KiB memory, with failures a test can switch on per address.
#pragma once

#include "data/memory_map.h"
#include "data/record_store.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <vector>

namespace velmar::test {

class FakeStore final : public RecordStore {
  public:
    explicit FakeStore(bool demo = false) : demo_(demo), memory(0x10000, 0) {}

    StoreResult Read(int address, int length, uint8_t* dst, uint8_t space) override {
        ++reads;
        if (space != 0 && !(space == 2 && address == addr::kStatusIR))
            return StoreResult::Failed(StoreCode::NoAnswer);
        if (failRead.count(address)) return StoreResult::Failed(StoreCode::NoAnswer);
        if (shortRead.count(address)) length = 3;
        if (length <= 0) {
            const int n = memory[static_cast<size_t>(address)];
            std::memcpy(dst, &memory[static_cast<size_t>(address) + 1], static_cast<size_t>(n));
            return StoreResult::FromRead(n);
        }
        std::memcpy(dst, &memory[static_cast<size_t>(address)], static_cast<size_t>(length));
        return StoreResult::FromRead(length);
    }
    StoreResult Write(int address, int length, const uint8_t* data, uint8_t space) override {
        writes.push_back(address);
        if (space != 0 || failWrite.count(address)) return StoreResult::Failed(StoreCode::NoAnswer);
        if (failNextWrites.count(address) && failNextWrites[address]-- > 0)
            return StoreResult::Failed(StoreCode::NoAnswer);
        // The demo image keeps the parameter block under its length byte's address.
        if (demo_ && address == addr::kParamsLength) address = addr::kParams;
        std::memcpy(&memory[static_cast<size_t>(address)], data, static_cast<size_t>(length));
        return StoreResult::Done();
    }
    StoreResult Restart() override {
        ++restarts;
        // A restart that fails is one the controller refused: a lost status is awaited and, the
        // fake always answering, would be a restart after all.
        return failRestart ? StoreResult::Failed(StoreCode::Declined) : StoreResult::Done();
    }
    StoreResult ReadSizes() override { return StoreResult::Done(); }
    bool Holds(int, uint8_t) const override { return true; }
    bool IsDemo() const override { return demo_; }

    uint8_t* At(int address) { return &memory[static_cast<size_t>(address)]; }

    // The parameter block as a controller holds it: the length byte at 0x3100, then the block.
    void PutParams(const uint8_t* block, int length) {
        memory[addr::kParamsLength] = static_cast<uint8_t>(length);
        std::memcpy(At(addr::kParams), block, static_cast<size_t>(length));
    }

    bool demo_;
    std::vector<uint8_t> memory;
    std::set<int> failRead;
    std::set<int> failWrite;
    std::set<int> shortRead;
    std::map<int, int> failNextWrites; // address: how many writes there fail before one works
    std::vector<int> writes;
    int reads = 0;
    int restarts = 0;
    bool failRestart = false;
};

} // namespace velmar::test
