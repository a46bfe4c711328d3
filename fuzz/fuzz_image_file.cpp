// Saved device image files: the header check and the loader must refuse or accept any file
// without reading beyond it, and an accepted image must hold everything its header announces.
#include "data/device_image.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace velmar;
    const std::string& path = fuzz::InputPath("image.bin");
    if (!fuzz::WriteInput(path, data, size)) return 0;

    std::vector<uint8_t> image;
    std::string error;
    const ImageLoadResult r = LoadImageFile(path, image, &error);
    const ImageLoadResult header = CheckImageHeader(data, size);
    if (r == ImageLoadResult::Loaded) {
        if (header != ImageLoadResult::Loaded) fuzz::Broken("loaded an image with a bad header");
        if (image.size() != size) fuzz::Broken("loaded image differs in length from the file");
        if (image.size() > static_cast<size_t>(image::kBufferLength))
            fuzz::Broken("image longer than the buffer");
        // Walking the records as the image write does stays inside the image.
        size_t pos = image::kHeaderLength;
        for (const ImageRecord& rec : ImageRecords(image.data()))
            pos += static_cast<size_t>(rec.length);
        if (pos != static_cast<size_t>(ImageLength(image.data())) || pos > image.size())
            fuzz::Broken("records run past the image");
    } else {
        if (!image.empty() || error.empty()) fuzz::Broken("refusal without a text or with data");
        if (r == ImageLoadResult::BadHeader && header != ImageLoadResult::BadHeader)
            fuzz::Broken("header verdicts");
    }
    return 0;
}
