#include "data/image_file.h"

#include "base/atomic_file.h"
#include "data/demo_store.h"

namespace velmar {

std::vector<ImageSpan> ImageSpans(const uint8_t header[7]) {
    std::vector<ImageSpan> spans;
    spans.push_back({RecordKind::Sizes, 0, addr::kSizes, 0, image::kHeaderLength});
    int offset = image::kHeaderLength;
    RecordKind previous = RecordKind::Sizes;
    int index = 0;
    for (const ImageRecord& rec : ImageRecords(header)) {
        index = rec.kind == previous ? index + 1 : 0;
        previous = rec.kind;
        spans.push_back({rec.kind, index, rec.address, offset, rec.length});
        offset += rec.length;
    }
    return spans;
}

std::optional<ImageSpan> FindImageSpan(const uint8_t header[7], RecordKind kind, int index) {
    for (const ImageSpan& s : ImageSpans(header))
        if (s.kind == kind && s.index == index && s.length > 0) return s;
    return std::nullopt;
}

ImageLoadResult CheckSavedImage(const std::vector<uint8_t>& image) {
    const ImageLoadResult header = CheckImageHeader(image.data(), image.size());
    if (header != ImageLoadResult::Loaded) return header;
    const uint8_t* h = image.data();
    if (h[2] > 2 || h[1] * h[2] > kChannelCount) return ImageLoadResult::OddHeader;
    const auto expected = static_cast<size_t>(ImageLength(h));
    if (image.size() == expected) return ImageLoadResult::Loaded;
    // A demo image starts with the same header but lays the records out in less room.
    if (image.size() == static_cast<size_t>(demo::kLayoutLength))
        return ImageLoadResult::DemoLayout;
    return image.size() < expected ? ImageLoadResult::Truncated : ImageLoadResult::Longer;
}

ImageLoadResult OpenImageFile(const std::string& path, std::vector<uint8_t>& image,
                              std::string* error) {
    image.clear();
    std::vector<uint8_t> bytes;
    ImageLoadResult result = ReadImageFileBytes(path, bytes);
    if (result == ImageLoadResult::Loaded) result = CheckSavedImage(bytes);
    if (result != ImageLoadResult::Loaded) {
        if (error) *error = ImageFileErrorText(result) + ": " + path;
        return result;
    }
    image = std::move(bytes);
    return ImageLoadResult::Loaded;
}

bool WriteImageFile(const std::string& path, const std::vector<uint8_t>& image,
                    std::string* error) {
    const ImageLoadResult check = CheckSavedImage(image);
    if (check != ImageLoadResult::Loaded) {
        if (error) *error = ImageFileErrorText(check) + "; файл " + path + " не изменен";
        return false;
    }
    std::string why;
    if (WriteFileAtomically(path, image.data(), image.size(), &why) != 0) {
        if (error) *error = ImageSaveErrorText(ImageSaveResult::FileFailed) + ": " + why;
        return false;
    }
    return true;
}

std::string ImageFileErrorText(ImageLoadResult result) {
    switch (result) {
    case ImageLoadResult::Longer:
        return "Файл образа длиннее, чем указано в его заголовке";
    case ImageLoadResult::DemoLayout:
        return "Это демонстрационный образ (формат demo_trk.bin), а не сохраненный образ "
               "контроллера";
    case ImageLoadResult::OddHeader:
        return "Неверный заголовок образа (больше двух сторон или 16 каналов)";
    default:
        return ImageLoadErrorText(result);
    }
}

} // namespace velmar
