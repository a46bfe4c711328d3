#include "data/counting_records.h"

#include "data/memory_map.h"

namespace velmar {

namespace {

// The pages of the channel registers, and of the two side states (each side on its own page).
constexpr int kRegsEnd = addr::kBlock3000;
constexpr int kSidesEnd = addr::kSideStateB + (addr::kSideStateB - addr::kSideStateA);

bool Overlaps(int address, int length, int from, int to) {
    return address < to && address + length > from;
}

bool InCountingPages(int address, int length) {
    return Overlaps(address, length, addr::kChannelRegsBase, kRegsEnd) ||
           Overlaps(address, length, addr::kSideStateA, kSidesEnd);
}

} // namespace

bool CountsByItself(int address, int length, uint8_t space) {
    return space == kSpaceER && length > 0 && InCountingPages(address, length);
}

void CountedCopy::Take(int address, int length, const uint8_t* bytes, uint8_t space) {
    if (!CountsByItself(address, length, space)) return;
    for (int i = 0; i < length; ++i)
        if (InCountingPages(address + i, 1)) bytes_[address + i] = bytes[i];
}

bool CountedCopy::Get(int address, int length, uint8_t* out, uint8_t space) const {
    if (space != kSpaceER) return false;
    for (int i = 0; i < length; ++i) {
        const auto it = bytes_.find(address + i);
        if (it == bytes_.end()) return false;
        out[i] = it->second;
    }
    return true;
}

void CountedCopy::Forget(int address, int length, uint8_t space) {
    if (space != kSpaceER) return;
    bytes_.erase(bytes_.lower_bound(address), bytes_.lower_bound(address + length));
}

} // namespace velmar
