#include "data/device_image.h"

#include "base/atomic_file.h"
#include "data/image_write_report.h"
#include "data/memory_map.h"
#include "protocol/ctrlr_protocol.h"
#include "protocol/exchange_result.h"

#include <cstdio>

namespace velmar {

std::vector<ImageRecord> ImageRecords(const uint8_t h[7]) {
    std::vector<ImageRecord> r;
    r.reserve(40);
    using K = RecordKind;
    r.push_back({K::Params, addr::kParams, h[0]});
    for (int n = 0; n < kChannelCount; ++n)
        r.push_back({K::ChannelSetts, ChannelAddress(addr::kChannelSettsBase, n), h[3]});
    r.push_back({K::OptionalBlock, addr::kOptionalA, h[4]});
    r.push_back({K::OptionalBlock, addr::kOptionalB, h[4]});
    r.push_back({K::SideState, addr::kSideStateA, h[6]});
    r.push_back({K::SideState, addr::kSideStateB, h[6]});
    for (int n = 0; n < kChannelCount; ++n)
        r.push_back({K::ChannelRegs, ChannelAddress(addr::kChannelRegsBase, n), h[5]});
    r.push_back({K::MakeBlock, addr::kMakeBlock, image::kMakeRegionLength});
    r.push_back({K::Block3000, addr::kBlock3000, image::kBlock3000Length});
    return r;
}

int ImageLength(const uint8_t h[7]) {
    return image::kHeaderLength + h[0] + 16 * (h[3] + h[5]) + 2 * (h[4] + h[6]) +
           image::kMakeRegionLength + image::kBlock3000Length;
}

int ImageWriteTotal(const uint8_t h[7]) {
    return ImageLength(h) - image::kHeaderLength;
}

// The largest header (all 255) gives 9755 bytes: every image fits the buffer.
static_assert(255 + 16 * 510 + 2 * 510 + 320 <= image::kBufferLength);

ImageSaveResult ReadDeviceImage(RecordStore& store, std::vector<uint8_t>& out,
                                const ImageProgressFn& progress, std::string* error,
                                const ImageStopFn& stop) {
    out.clear();
    if (!store.ReadSizes().Ok()) {
        if (error) *error = ImageSaveErrorText(ImageSaveResult::NoLink);
        return ImageSaveResult::NoLink;
    }
    const auto header = store.Sizes().ToBytes();
    if (CheckImageHeader(header.data(), header.size()) != ImageLoadResult::Loaded) {
        if (error) {
            char sizes[64];
            std::snprintf(sizes, sizeof sizes, " (%d %d %d %d %d %d %d)", header[0], header[1],
                          header[2], header[3], header[4], header[5], header[6]);
            *error = ImageSaveErrorText(ImageSaveResult::BadSizes) + sizes;
        }
        return ImageSaveResult::BadSizes;
    }
    std::vector<uint8_t> img(header.begin(), header.end());
    const int total = ImageLength(header.data()) - image::kHeaderLength;
    img.reserve(static_cast<size_t>(total) + image::kHeaderLength);
    int done = 0;
    if (progress) progress(0, total);
    for (const ImageRecord& rec : ImageRecords(header.data())) {
        // A length of 0 means the record is absent; a read of length 0 would be self-sized.
        if (rec.length == 0) continue;
        if (stop && stop()) return ImageSaveResult::Cancelled;
        const size_t at = img.size();
        img.resize(at + static_cast<size_t>(rec.length));
        if (store.Read(rec.address, rec.length, img.data() + at, 0).Length() != rec.length) {
            if (error) {
                char where[64];
                std::snprintf(where, sizeof where, " (адрес 0x%04X, %d байт)", rec.address,
                              rec.length);
                *error = ImageSaveErrorText(ImageSaveResult::ReadFailed) + where;
            }
            return ImageSaveResult::ReadFailed;
        }
        done += rec.length;
        if (progress) progress(done, total);
    }
    out = std::move(img);
    return ImageSaveResult::Saved;
}

ImageSaveResult SaveDeviceImage(RecordStore& store, const std::string& path,
                                const ImageProgressFn& progress, std::string* error,
                                const ImageStopFn& stop) {
    if (const std::string refusal = ReplaceRefusal(path); !refusal.empty()) {
        if (error)
            *error = ImageSaveErrorText(ImageSaveResult::FileFailed) + ": " + path + ": " + refusal;
        return ImageSaveResult::FileFailed;
    }
    std::vector<uint8_t> img;
    const ImageSaveResult r = ReadDeviceImage(store, img, progress, error, stop);
    if (r != ImageSaveResult::Saved) return r;
    std::string why;
    if (WriteFileAtomically(path, img.data(), img.size(), &why) != 0) {
        if (error) *error = ImageSaveErrorText(ImageSaveResult::FileFailed) + ": " + why;
        return ImageSaveResult::FileFailed;
    }
    return ImageSaveResult::Saved;
}

ImageLoadResult CheckImageHeader(const uint8_t* bytes, size_t length) {
    if (length < static_cast<size_t>(image::kHeaderLength)) return ImageLoadResult::TooShort;
    for (int i = 0; i < image::kHeaderLength; ++i)
        if (i != 4 && bytes[i] == 0) return ImageLoadResult::BadHeader;
    return ImageLoadResult::Loaded;
}

ImageLoadResult ReadImageFileBytes(const std::string& path, std::vector<uint8_t>& bytes) {
    switch (ReadWholeFile(path, bytes, image::kBufferLength)) {
    case FileReadResult::CannotOpen:
        return ImageLoadResult::CannotOpen;
    case FileReadResult::TooLong:
        return ImageLoadResult::TooLong;
    case FileReadResult::ReadError:
        return ImageLoadResult::ReadError;
    default:
        return ImageLoadResult::Loaded;
    }
}

ImageLoadResult LoadImageFile(const std::string& path, std::vector<uint8_t>& out,
                              std::string* error) {
    out.clear();
    std::vector<uint8_t> bytes;
    ImageLoadResult result = ReadImageFileBytes(path, bytes);
    if (result == ImageLoadResult::Loaded) {
        if (bytes.empty()) {
            result = ImageLoadResult::TooShort;
        } else {
            result = CheckImageHeader(bytes.data(), bytes.size());
            if (result == ImageLoadResult::Loaded &&
                bytes.size() < static_cast<size_t>(ImageLength(bytes.data())))
                result = ImageLoadResult::Truncated;
        }
    }
    if (result != ImageLoadResult::Loaded) {
        if (error) *error = ImageLoadErrorText(result) + ": " + path;
        return result;
    }
    out = std::move(bytes);
    return ImageLoadResult::Loaded;
}

std::string ImageSaveErrorText(ImageSaveResult result) {
    switch (result) {
    case ImageSaveResult::Saved:
        return "Образ контроллера успешно сохранен";
    case ImageSaveResult::NoLink:
        return "Нет связи с устройством";
    case ImageSaveResult::ReadFailed:
        return "Ошибка чтения образа из контроллера; файл не изменен";
    case ImageSaveResult::FileFailed:
        return "Ошибка записи файла образа; прежний файл не изменен";
    case ImageSaveResult::Cancelled:
        return "Чтение образа прервано; прежний файл не изменен";
    case ImageSaveResult::BadSizes:
        return "Контроллер сообщил неверные размеры записей; файл не изменен";
    default:
        return "Ошибка сохранения образа";
    }
}

std::string ImageLoadErrorText(ImageLoadResult result) {
    switch (result) {
    case ImageLoadResult::Loaded:
        return "Образ считан";
    case ImageLoadResult::BadHeader:
        return "Неверный заголовок образа (нулевой размер записи)";
    case ImageLoadResult::TooShort:
        return "Файл короче заголовка образа (7 байт)";
    case ImageLoadResult::CannotOpen:
        return "Не удалось открыть файл образа";
    case ImageLoadResult::TooLong:
        return "Файл длиннее буфера образа (" + std::to_string(image::kBufferLength) + " байт)";
    case ImageLoadResult::Truncated:
        return "Файл образа короче, чем указано в его заголовке";
    case ImageLoadResult::ReadError:
        return "Ошибка чения файла";
    default:
        return "Ошибка загрузки образа";
    }
}

ImageWriteResult WriteImageToController(PortSlot slot, int ctrl, const std::vector<uint8_t>& img,
                                        const ImageProgressFn& progress,
                                        SizesRecord* controllerSizes, ImageWriteReport* report,
                                        WriteRecorder* recorder) {
    if (report != nullptr) *report = {};
    if (CheckImageHeader(img.data(), img.size()) != ImageLoadResult::Loaded)
        return ImageWriteResult::NotWritten;
    const int total = ImageWriteTotal(img.data());
    ImageProgress perRecord;
    if (progress) perRecord = [&](int done) { progress(done, total); };
    if (WriteDeviceImage(slot, ctrl, img.data(), img.size(), perRecord, controllerSizes, report,
                         recorder) != 1)
        return ImageWriteResult::NotWritten;
    return Succeeded(RestartCtrlr(slot, ctrl)) ? ImageWriteResult::Written
                                               : ImageWriteResult::WrittenNoRestart;
}

} // namespace velmar
