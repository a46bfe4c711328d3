#include "data/image_file_store.h"

#include "data/device_image.h"
#include "data/image_file.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace velmar {

namespace {

struct Place {
    RecordKind kind;
    int index;
    bool writable;
};

// The record an address belongs to: a channel's or side's record is found by any address in its
// 0x100 page, as the controller's screens address them.
std::optional<Place> Locate(int a) {
    const auto page = [a](int base) { return a >= base && a <= base + 0xFF; };
    const auto channel = [a](int base) { return (a - base) / 0x100; };
    using K = RecordKind;
    if (a == addr::kParamsLength || a == addr::kParams) return Place{K::Params, 0, true};
    if (a >= addr::kChannelSettsBase && a < addr::kChannelRegsBase)
        return Place{K::ChannelSetts, channel(addr::kChannelSettsBase), true};
    if (a >= addr::kChannelRegsBase && a < addr::kBlock3000)
        return Place{K::ChannelRegs, channel(addr::kChannelRegsBase), true};
    if (page(addr::kOptionalA)) return Place{K::OptionalBlock, 0, true};
    if (page(addr::kOptionalB)) return Place{K::OptionalBlock, 1, true};
    if (page(addr::kSideStateA)) return Place{K::SideState, 0, true};
    if (page(addr::kSideStateB)) return Place{K::SideState, 1, true};
    if (page(addr::kMakeBlock)) return Place{K::MakeBlock, 0, true};
    // The 0x3000 block is the controller's own (its sizes among them): read only.
    if (a == addr::kBlock3000) return Place{K::Block3000, 0, false};
    return std::nullopt;
}

} // namespace

int ImageFileStore::Load() {
    if (Loaded()) return kImageLoaded;
    std::vector<uint8_t> bytes;
    const int r = OpenImageFile(path_, bytes, &error_);
    if (r != kImageLoaded) return r;
    image_ = std::move(bytes);
    error_.clear();
    Sizes().SetFromBytes(image_.data());
    return kImageLoaded;
}

bool ImageFileStore::Replace(const std::vector<uint8_t>& image) {
    if (!WriteImageFile(path_, image, &error_)) return false;
    image_ = image;
    Sizes().SetFromBytes(image_.data());
    return true;
}

int ImageFileStore::Read(int address, int length, uint8_t* dst, uint8_t space) {
    if (space != 0 || Load() != kImageLoaded) return -1;
    if (address == addr::kSizes) {
        const int count =
            length > 0 ? std::min(length, image::kHeaderLength) : image::kHeaderLength;
        std::memcpy(dst, image_.data(), static_cast<size_t>(count));
        return count;
    }
    const auto place = Locate(address);
    if (!place) return -1;
    const auto span = FindImageSpan(image_.data(), place->kind, place->index);
    if (!span) return 0; // the controller the image came from has no such record
    // A self-sized read delivers at most 255 bytes, as on the line.
    const int limit = length > 0 ? length : kSelfSizedMax;
    const int count = std::min(span->length, limit);
    std::memcpy(dst, image_.data() + span->offset, static_cast<size_t>(count));
    return count;
}

int ImageFileStore::Write(int address, int length, const uint8_t* data, uint8_t space) {
    if (space != 0 || Load() != kImageLoaded) return -1;
    const auto place = Locate(address);
    const auto span = place && place->writable
                          ? FindImageSpan(image_.data(), place->kind, place->index)
                          : std::nullopt;
    if (!span) {
        error_ = "Образ не содержит адрес " + std::to_string(address);
        return -1;
    }
    if (length <= 0) return 1;
    std::vector<uint8_t> next = image_;
    std::memcpy(next.data() + span->offset, data,
                static_cast<size_t>(std::min(length, span->length)));
    if (!WriteImageFile(path_, next, &error_)) return -1;
    image_ = std::move(next);
    return 1;
}

int ImageFileStore::ReadSizes() {
    const bool loaded = Load() == kImageLoaded;
    return TakeSizes(loaded ? 1 : -1, loaded ? image_.data() : nullptr);
}

bool ImageFileStore::Holds(int a, uint8_t space) const {
    if (space != 0) return false;
    return a == addr::kParamsLength || (a >= addr::kChannelSettsBase && a < addr::kBlock3000) ||
           (a >= addr::kSideStateA && a <= addr::kSideStateB + 0xFF) ||
           (a >= addr::kMakeBlock && a <= addr::kMakeBlock + 0xFF);
}

} // namespace velmar
