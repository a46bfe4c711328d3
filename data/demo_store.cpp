#include "data/demo_store.h"

#include "base/atomic_file.h"
#include "data/memory_map.h"
#include "protocol/ctrlr_protocol.h"

#include <algorithm>
#include <cstring>

namespace velmar {

namespace {

struct Slot {
    int offset = -1; // -1: the image does not serve the address
    int readLength = 0;
    int writeLength = 0;
};

// Where an address lives in the demo image. `header` is the image's 7-byte header.
Slot Locate(int a, const uint8_t* header) {
    // A channel's or side's record is found by any address within its 0x100 page.
    const auto page = [a](int base) { return a >= base && a <= base + 0xFF; };
    const auto channel = [a](int base) { return (a - base) / 0x100; };
    if (a == addr::kParamsLength) return {demo::kParamsOffset, header[0], len::kParams};
    if (a >= addr::kChannelSettsBase && a < addr::kChannelRegsBase)
        return {demo::SettsOffset(channel(addr::kChannelSettsBase)), header[3], len::kChannelSetts};
    if (a >= addr::kOptionalA && a < addr::kOptionalB + 0x100) return {0, 0, 0};
    if (page(addr::kSideStateA)) return {demo::kSideAOffset, header[6], len::kSideState};
    if (page(addr::kSideStateB)) return {demo::kSideBOffset, header[6], len::kSideState};
    if (a >= addr::kChannelRegsBase && a < addr::kBlock3000)
        return {demo::RegsOffset(channel(addr::kChannelRegsBase)), header[5], len::kChannelRegs};
    if (page(addr::kMakeBlock)) return {demo::kMakeOffset, demo::kMakeReadLength, len::kMakeBlock};
    if (a >= addr::kBlock3000 && a < addr::kBlock3000 + len::kBlock3000) return {0, 0, 0};
    return {};
}

} // namespace

DemoLoadResult DemoRecordStore::Load() {
    if (loaded_) return DemoLoadResult::Loaded;
    std::vector<uint8_t> bytes;
    const FileReadResult r = ReadWholeFile(path_, bytes, demo::kMaxFileLength);
    if (r == FileReadResult::CannotOpen || r == FileReadResult::ReadError) {
        error_ = "Не удалось открыть демо-образ " + path_;
        return DemoLoadResult::CannotOpen;
    }
    if (r == FileReadResult::TooLong) {
        error_ =
            "Демо-образ " + path_ + " длиннее " + std::to_string(demo::kMaxFileLength) + " байт";
        return DemoLoadResult::BadLength;
    }
    if (bytes.empty()) {
        error_ = "Демо-образ " + path_ + " пуст";
        return DemoLoadResult::BadLength;
    }
    if (bytes.size() < static_cast<size_t>(demo::kLayoutLength)) {
        error_ = "Демо-образ " + path_ + " поврежден: " + std::to_string(bytes.size()) +
                 " байт, а нужно не меньше " + std::to_string(demo::kLayoutLength);
        return DemoLoadResult::BadLength;
    }
    image_ = std::move(bytes);
    loaded_ = true;
    error_.clear();
    return DemoLoadResult::Loaded;
}

void DemoRecordStore::Release() {
    loaded_ = false;
    image_.clear();
    image_.shrink_to_fit();
}

StoreResult DemoRecordStore::Read(int address, int length, uint8_t* dst, uint8_t space) {
    if (space != 0 || Load() != DemoLoadResult::Loaded)
        return StoreResult::Failed(StoreCode::Refused);
    const Slot s = Locate(address, image_.data());
    if (s.offset < 0) return StoreResult::Failed(StoreCode::Refused);
    // A self-sized read delivers at most 255 bytes, as on the line.
    const int limit = length > 0 ? length : kSelfSizedMax;
    const int available = static_cast<int>(image_.size()) - s.offset;
    const int count = std::max(0, std::min({s.readLength, limit, available}));
    if (count > 0) std::memcpy(dst, image_.data() + s.offset, static_cast<size_t>(count));
    Sizes().SetFromBytes(image_.data());
    return StoreResult::Done(count);
}

StoreResult DemoRecordStore::Write(int address, int length, const uint8_t* data, uint8_t space) {
    if (space != 0 || Load() != DemoLoadResult::Loaded)
        return StoreResult::Failed(StoreCode::Refused);
    const Slot s = Locate(address, image_.data());
    if (s.offset < 0 || s.writeLength == 0) {
        error_ = "Демо-образ не содержит адрес " + std::to_string(address);
        return StoreResult::Failed(StoreCode::Refused);
    }
    if (length <= 0) return StoreResult::Done();
    const int count = std::min(length, s.writeLength);
    std::vector<uint8_t> next = image_;
    std::memcpy(next.data() + s.offset, data, static_cast<size_t>(count));
    if (WriteFileAtomically(path_, next.data(), next.size(), &error_) != 0)
        return StoreResult::Failed(StoreCode::Refused);
    image_ = std::move(next);
    return StoreResult::Done();
}

StoreResult DemoRecordStore::ReadSizes() {
    const bool loaded = Load() == DemoLoadResult::Loaded;
    return TakeSizes(loaded ? StoreResult::Done() : StoreResult::Failed(StoreCode::Refused),
                     image_.data());
}

bool DemoRecordStore::Holds(int a, uint8_t space) const {
    if (space != 0) return false;
    return a == addr::kParamsLength || (a >= addr::kChannelSettsBase && a < addr::kBlock3000) ||
           (a >= addr::kSideStateA && a <= addr::kSideStateB + 0xFF) ||
           (a >= addr::kMakeBlock && a <= addr::kMakeBlock + 0xFF);
}

std::unique_ptr<DemoRecordStore> MakeDemoRecordStore(const std::string& path,
                                                     DemoLoadResult& result) {
    auto store = std::make_unique<DemoRecordStore>(path);
    result = store->Load();
    return store;
}

} // namespace velmar
