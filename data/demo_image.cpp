#include "data/demo_image.h"

#include "base/atomic_file.h"
#include "data/demo_store.h"
#include "data/device_buffer.h"
#include "data/memory_map.h"

#include <cstdio>
#include <cstring>

namespace velmar {

// The shipped demo file's layout: 1625 bytes, channel 0's registers from byte 521.
static_assert(demo::kLayoutLength == 1625 && demo::kRegsOffset == 521);

namespace {

std::string Where(int address) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "Ошибка чтения записи по адресу 0x%04X", address);
    return buf;
}

} // namespace

DemoBuildResult BuildDemoImage(RecordStore& store, std::vector<uint8_t>& out, std::string* error) {
    out.clear();
    if (!store.ReadSizes().Ok()) {
        if (error) *error = "Нет связи с устройством";
        return DemoBuildResult::NoLink;
    }
    const SizesRecord sizes = store.Sizes();
    if (sizes.paramsLength != len::kParams || sizes.settsLength != len::kChannelSetts ||
        sizes.regsLength != len::kChannelRegs || sizes.sideStateLength != len::kSideState) {
        if (error)
            *error = "Размеры записей контроллера (" + std::to_string(sizes.paramsLength) + ", " +
                     std::to_string(sizes.settsLength) + ", " + std::to_string(sizes.regsLength) +
                     ", " + std::to_string(sizes.sideStateLength) +
                     ") не совпадают с разметкой демо-образа (58, 19, 69, 12)";
        return DemoBuildResult::OddSizes;
    }

    std::vector<uint8_t> img(static_cast<size_t>(demo::kLayoutLength), 0);
    const auto header = sizes.ToBytes();
    std::memcpy(img.data(), header.data(), header.size());

    auto read = [&](int address, int length, int offset) {
        if (store.Read(address, length, img.data() + offset, 0).Length() == length) return true;
        if (error) *error = Where(address);
        return false;
    };
    // The parameter block is read the way screens read it: self-sized at 0x3100.
    uint8_t params[256];
    if (store.Read(addr::kParamsLength, -1, params, 0).Length() != len::kParams) {
        if (error) *error = Where(addr::kParamsLength);
        return DemoBuildResult::ReadFailed;
    }
    std::memcpy(img.data() + demo::kParamsOffset, params, len::kParams);
    for (int n = 0; n < kChannelCount; ++n)
        if (!read(ChannelAddress(addr::kChannelSettsBase, n), len::kChannelSetts,
                  demo::SettsOffset(n)))
            return DemoBuildResult::ReadFailed;
    if (!read(addr::kSideStateA, len::kSideState, demo::kSideAOffset) ||
        !read(addr::kSideStateB, len::kSideState, demo::kSideBOffset) ||
        !read(addr::kMakeBlock, len::kMakeBlock, demo::kMakeOffset))
        return DemoBuildResult::ReadFailed;
    for (int n = 0; n < kChannelCount; ++n)
        if (!read(ChannelAddress(addr::kChannelRegsBase, n), len::kChannelRegs,
                  demo::RegsOffset(n)))
            return DemoBuildResult::ReadFailed;
    out = std::move(img);
    return DemoBuildResult::Built;
}

DemoBuildResult SaveDemoImage(RecordStore& store, const std::string& path, std::string* error) {
    std::vector<uint8_t> img;
    const DemoBuildResult r = BuildDemoImage(store, img, error);
    if (r != DemoBuildResult::Built) return r;
    if (WriteFileAtomically(path, img.data(), img.size(), error) != 0)
        return DemoBuildResult::FileFailed;
    return DemoBuildResult::Built;
}

} // namespace velmar
