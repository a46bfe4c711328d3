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

StoreResult MemoryRecordStore::Read(int address, int length, uint8_t* dst, uint8_t space) {
    std::vector<uint8_t>* mem = Space(space);
    if (mem == nullptr || address < 0) return StoreResult::Failed(StoreCode::Refused);
    const auto size = static_cast<int64_t>(mem->size());
    int64_t from = address;
    int64_t count = length;
    if (length <= 0) { // self-sized: the first byte is the length of what follows
        if (from >= size) return StoreResult::Failed(StoreCode::Refused);
        count = (*mem)[static_cast<size_t>(from)];
        ++from;
    }
    if (from + count > size) return StoreResult::Failed(StoreCode::Refused);
    if (count > 0) std::memcpy(dst, mem->data() + from, static_cast<size_t>(count));
    return StoreResult::Done(static_cast<int>(count));
}

StoreResult MemoryRecordStore::Write(int address, int length, const uint8_t* data, uint8_t space) {
    std::vector<uint8_t>* mem = Space(space);
    if (mem == nullptr || address < 0) return StoreResult::Failed(StoreCode::Refused);
    if (length <= 0) return StoreResult::Done();
    if (static_cast<int64_t>(address) + length > static_cast<int64_t>(mem->size()))
        return StoreResult::Failed(StoreCode::Refused);
    std::memcpy(mem->data() + address, data, static_cast<size_t>(length));
    return StoreResult::Done();
}

StoreResult MemoryRecordStore::ReadSizes() {
    uint8_t sizes[len::kSizes];
    const StoreResult read = Read(addr::kSizes, len::kSizes, sizes, 0);
    return TakeSizes(read.Gave(len::kSizes) ? StoreResult::Done()
                                            : StoreResult::Failed(StoreCode::Refused),
                     sizes);
}

} // namespace velmar
