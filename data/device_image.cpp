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

int ReadDeviceImage(RecordStore& store, std::vector<uint8_t>& out, const ImageProgressFn& progress,
                    std::string* error, const ImageStopFn& stop) {
    out.clear();
    if (!store.ReadSizes().Ok()) {
        if (error) *error = ImageSaveErrorText(kImageNoLink);
        return kImageNoLink;
    }
    const auto header = store.Sizes().ToBytes();
    if (CheckImageHeader(header.data(), header.size()) != kImageLoaded) {
        if (error) {
            char sizes[64];
            std::snprintf(sizes, sizeof sizes, " (%d %d %d %d %d %d %d)", header[0], header[1],
                          header[2], header[3], header[4], header[5], header[6]);
            *error = ImageSaveErrorText(kImageBadSizes) + sizes;
        }
        return kImageBadSizes;
    }
    std::vector<uint8_t> img(header.begin(), header.end());
    const int total = ImageLength(header.data()) - image::kHeaderLength;
    img.reserve(static_cast<size_t>(total) + image::kHeaderLength);
    int done = 0;
    if (progress) progress(0, total);
    for (const ImageRecord& rec : ImageRecords(header.data())) {
        // A length of 0 means the record is absent; a read of length 0 would be self-sized.
        if (rec.length == 0) continue;
        if (stop && stop()) return kImageCancelled;
        const size_t at = img.size();
        img.resize(at + static_cast<size_t>(rec.length));
        if (store.Read(rec.address, rec.length, img.data() + at, 0).Length() != rec.length) {
            if (error) {
                char where[64];
                std::snprintf(where, sizeof where, " (адрес 0x%04X, %d байт)", rec.address,
                              rec.length);
                *error = ImageSaveErrorText(kImageReadFailed) + where;
            }
            return kImageReadFailed;
        }
        done += rec.length;
        if (progress) progress(done, total);
    }
    out = std::move(img);
    return kImageSaved;
}

int SaveDeviceImage(RecordStore& store, const std::string& path, const ImageProgressFn& progress,
                    std::string* error, const ImageStopFn& stop) {
    if (const std::string refusal = ReplaceRefusal(path); !refusal.empty()) {
        if (error) *error = ImageSaveErrorText(kImageFileFailed) + ": " + path + ": " + refusal;
        return kImageFileFailed;
    }
    std::vector<uint8_t> img;
    const int r = ReadDeviceImage(store, img, progress, error, stop);
    if (r != kImageSaved) return r;
    std::string why;
    if (WriteFileAtomically(path, img.data(), img.size(), &why) != 0) {
        if (error) *error = ImageSaveErrorText(kImageFileFailed) + ": " + why;
        return kImageFileFailed;
    }
    return kImageSaved;
}

int CheckImageHeader(const uint8_t* bytes, size_t length) {
    if (length < static_cast<size_t>(image::kHeaderLength)) return kImageTooShort;
    for (int i = 0; i < image::kHeaderLength; ++i)
        if (i != 4 && bytes[i] == 0) return kImageBadHeader;
    return kImageLoaded;
}

int ReadImageFileBytes(const std::string& path, std::vector<uint8_t>& bytes) {
    switch (ReadWholeFile(path, bytes, image::kBufferLength)) {
    case kFileCannotOpen:
        return kImageCannotOpen;
    case kFileTooLong:
        return kImageTooLong;
    case kFileReadError:
        return kImageReadError;
    default:
        return kImageLoaded;
    }
}

int LoadImageFile(const std::string& path, std::vector<uint8_t>& out, std::string* error) {
    out.clear();
    std::vector<uint8_t> bytes;
    int result = ReadImageFileBytes(path, bytes);
    if (result == kImageLoaded) {
        if (bytes.empty()) {
            result = kImageTooShort;
        } else {
            result = CheckImageHeader(bytes.data(), bytes.size());
            if (result == kImageLoaded &&
                bytes.size() < static_cast<size_t>(ImageLength(bytes.data())))
                result = kImageTruncated;
        }
    }
    if (result != kImageLoaded) {
        if (error) *error = ImageLoadErrorText(result) + ": " + path;
        return result;
    }
    out = std::move(bytes);
    return kImageLoaded;
}

std::string ImageSaveErrorText(int result) {
    switch (result) {
    case kImageSaved:
        return "Образ контроллера успешно сохранен";
    case kImageNoLink:
        return "Нет связи с устройством";
    case kImageReadFailed:
        return "Ошибка чтения образа из контроллера; файл не изменен";
    case kImageFileFailed:
        return "Ошибка записи файла образа; прежний файл не изменен";
    case kImageCancelled:
        return "Чтение образа прервано; прежний файл не изменен";
    case kImageBadSizes:
        return "Контроллер сообщил неверные размеры записей; файл не изменен";
    default:
        return "Ошибка сохранения образа";
    }
}

std::string ImageLoadErrorText(int result) {
    switch (result) {
    case kImageLoaded:
        return "Образ считан";
    case kImageBadHeader:
        return "Неверный заголовок образа (нулевой размер записи)";
    case kImageTooShort:
        return "Файл короче заголовка образа (7 байт)";
    case kImageCannotOpen:
        return "Не удалось открыть файл образа";
    case kImageTooLong:
        return "Файл длиннее буфера образа (" + std::to_string(image::kBufferLength) + " байт)";
    case kImageTruncated:
        return "Файл образа короче, чем указано в его заголовке";
    case kImageReadError:
        return "Ошибка чения файла";
    default:
        return "Ошибка загрузки образа";
    }
}

int WriteImageToController(PortSlot slot, int ctrl, const std::vector<uint8_t>& img,
                           const ImageProgressFn& progress, SizesRecord* controllerSizes,
                           ImageWriteReport* report) {
    if (report != nullptr) *report = {};
    if (CheckImageHeader(img.data(), img.size()) != kImageLoaded) return kImageNotWritten;
    const int total = ImageWriteTotal(img.data());
    ImageProgress perRecord;
    if (progress) perRecord = [&](int done) { progress(done, total); };
    if (WriteDeviceImage(slot, ctrl, img.data(), img.size(), perRecord, controllerSizes, report) !=
        1)
        return kImageNotWritten;
    return Succeeded(RestartCtrlr(slot, ctrl)) ? kImageWritten : kImageWrittenNoRestart;
}

} // namespace velmar
