#include "data/memory_store.h"

#include "data/memory_map.h"

#include <cstring>

namespace velmar {

std::vector<uint8_t>* MemoryRecordStore::Space(uint8_t space) const {
    switch (space) {
    case 0:
        return &er_;
    case 2:
        return ir_;
    case 4:
        return im_;
    default:
        return nullptr;
    }
}

bool MemoryRecordStore::Holds(int, uint8_t space) const {
    return Space(space) != nullptr;
}

int MemoryRecordStore::Read(int address, int length, uint8_t* dst, uint8_t space) {
    std::vector<uint8_t>* mem = Space(space);
    if (mem == nullptr || address < 0) return -1;
    const auto size = static_cast<int64_t>(mem->size());
    int64_t from = address;
    int64_t count = length;
    if (length <= 0) { // self-sized: the first byte is the length of what follows
        if (from >= size) return -1;
        count = (*mem)[static_cast<size_t>(from)];
        ++from;
    }
    if (from + count > size) return -1;
    if (count > 0) std::memcpy(dst, mem->data() + from, static_cast<size_t>(count));
    return static_cast<int>(count);
}

int MemoryRecordStore::Write(int address, int length, const uint8_t* data, uint8_t space) {
    std::vector<uint8_t>* mem = Space(space);
    if (mem == nullptr || address < 0) return -1;
    if (length <= 0) return 1;
    if (static_cast<int64_t>(address) + length > static_cast<int64_t>(mem->size())) return -1;
    std::memcpy(mem->data() + address, data, static_cast<size_t>(length));
    return 1;
}

int MemoryRecordStore::ReadSizes() {
    uint8_t sizes[len::kSizes];
    return TakeSizes(Read(addr::kSizes, len::kSizes, sizes, 0) == len::kSizes ? 1 : -1, sizes);
}

} // namespace velmar
