#include "data/image_file_store.h"

#include "base/atomic_file.h"
#include "data/device_image.h"
#include "data/image_file.h"
#include "data/sha256.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <optional>
#include <sys/stat.h>

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

// The file's stamp now, or none when it cannot be read as a whole regular file.
std::optional<ImageFileStamp> StampOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    std::vector<uint8_t> bytes;
    if (ReadWholeFile(path, bytes, image::kBufferLength + 1) != FileReadResult::Read)
        return std::nullopt;
    ImageFileStamp stamp;
    stamp.size = static_cast<uint64_t>(st.st_size);
    stamp.mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
    stamp.sha256 = Sha256Hex(bytes.data(), bytes.size());
    return stamp;
}

std::string LinkTarget(const std::string& path) {
    std::error_code ec;
    const auto target = std::filesystem::read_symlink(path, ec);
    return ec ? std::string() : target.string();
}

} // namespace

ImageLoadResult ImageFileStore::Load() {
    if (Loaded()) return ImageLoadResult::Loaded;
    if (const std::string refusal = ReplaceRefusal(path_); !refusal.empty()) {
        // Only a link gets here with a file to read; a FIFO or device is no image at all.
        const std::string target = LinkTarget(path_);
        error_ = "Файл " + path_ + " не открыт: " + refusal +
                 (target.empty() ? std::string() : " (она указывает на " + target + ")") +
                 ". Изменения образа записываются заменой файла целиком, и ссылка была бы "
                 "заменена обычным файлом, а файл, на который она указывает, остался бы "
                 "прежним. Откройте сам файл.";
        return ImageLoadResult::CannotOpen;
    }
    std::vector<uint8_t> bytes;
    const ImageLoadResult r = OpenImageFile(path_, bytes, &error_);
    if (r != ImageLoadResult::Loaded) return r;
    // Stamped after reading: a file changed between the two reads counts as changed, and the
    // first write is refused rather than laid over content nobody saw.
    const auto stamp = StampOf(path_);
    if (!stamp || stamp->sha256 != Sha256Hex(bytes.data(), bytes.size())) {
        error_ = "Файл " + path_ + " изменился во время чтения; откройте его еще раз.";
        return ImageLoadResult::ReadError;
    }
    stamp_ = *stamp;
    image_ = std::move(bytes);
    error_.clear();
    Sizes().SetFromBytes(image_.data());
    return ImageLoadResult::Loaded;
}

bool ImageFileStore::StillTheFileRead() {
    const auto now = StampOf(path_);
    if (now && *now == stamp_) return true;
    staleRefused_ = true;
    error_ = "Файл " + path_ +
             (now ? " изменен или заменен другой программой" : " удален или недоступен") +
             " после того, как окно его прочло. Запись не произведена: она затерла бы то, что "
             "теперь в файле. Откройте файл заново.";
    return false;
}

bool ImageFileStore::WriteFile(const std::vector<uint8_t>& image) {
    if (!StillTheFileRead()) return false;
    if (!WriteImageFile(path_, image, &error_)) return false;
    // What this store just wrote is the file it now knows; a failed stamp makes the next write
    // refuse rather than guess.
    const auto stamp = StampOf(path_);
    stamp_ = stamp ? *stamp : ImageFileStamp{};
    return true;
}

bool ImageFileStore::Replace(const std::vector<uint8_t>& image) {
    if (!WriteFile(image)) return false;
    image_ = image;
    Sizes().SetFromBytes(image_.data());
    return true;
}

StoreResult ImageFileStore::Read(int address, int length, uint8_t* dst, uint8_t space) {
    if (space != 0 || Load() != ImageLoadResult::Loaded)
        return StoreResult::Failed(StoreCode::Refused);
    if (address == addr::kSizes) {
        const int count =
            length > 0 ? std::min(length, image::kHeaderLength) : image::kHeaderLength;
        std::memcpy(dst, image_.data(), static_cast<size_t>(count));
        return StoreResult::Done(count);
    }
    const auto place = Locate(address);
    if (!place) return StoreResult::Failed(StoreCode::Refused);
    const auto span = FindImageSpan(image_.data(), place->kind, place->index);
    if (!span) return StoreResult::Done(0); // the controller the image came from has no such record
    // A self-sized read delivers at most 255 bytes, as on the line.
    const int limit = length > 0 ? length : kSelfSizedMax;
    const int count = std::min(span->length, limit);
    std::memcpy(dst, image_.data() + span->offset, static_cast<size_t>(count));
    return StoreResult::Done(count);
}

StoreResult ImageFileStore::Write(int address, int length, const uint8_t* data, uint8_t space) {
    if (space != 0 || Load() != ImageLoadResult::Loaded)
        return StoreResult::Failed(StoreCode::Refused);
    const auto place = Locate(address);
    const auto span = place && place->writable
                          ? FindImageSpan(image_.data(), place->kind, place->index)
                          : std::nullopt;
    if (!span) {
        error_ = "Образ не содержит адрес " + std::to_string(address);
        return StoreResult::Failed(StoreCode::Refused);
    }
    if (length <= 0) return StoreResult::Done();
    std::vector<uint8_t> next = image_;
    std::memcpy(next.data() + span->offset, data,
                static_cast<size_t>(std::min(length, span->length)));
    if (!WriteFile(next)) return StoreResult::Failed(StoreCode::Refused);
    image_ = std::move(next);
    return StoreResult::Done();
}

StoreResult ImageFileStore::ReadSizes() {
    const bool loaded = Load() == ImageLoadResult::Loaded;
    return TakeSizes(loaded ? StoreResult::Done() : StoreResult::Failed(StoreCode::Refused),
                     loaded ? image_.data() : nullptr);
}

bool ImageFileStore::Holds(int a, uint8_t space) const {
    if (space != 0) return false;
    return a == addr::kParamsLength || (a >= addr::kChannelSettsBase && a < addr::kBlock3000) ||
           (a >= addr::kSideStateA && a <= addr::kSideStateB + 0xFF) ||
           (a >= addr::kMakeBlock && a <= addr::kMakeBlock + 0xFF);
}

} // namespace velmar
