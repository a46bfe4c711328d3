// A saved device image as a file of its own: opened only when it holds exactly what its header
// announces, with the reason when it does not, and written back atomically. Also where each
// record of an image lies, for the comparison of two images and for editing an image in place.
#pragma once

#include "data/device_image.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velmar {

// One record of a saved image: what it is, which instance (channel 0..15, side 0..1, optional
// block 0..1, else 0), its controller address, and where its bytes lie in the image.
struct ImageSpan {
    RecordKind kind;
    int index;
    int address;
    int offset; // from the start of the image, header included
    int length; // 0: the controller reported no such record
};

// The sizes header (RecordKind::Sizes, offset 0) and every record in file order.
std::vector<ImageSpan> ImageSpans(const uint8_t header[7]);
// The span of `kind` instance `index` in an image with `header`; none when the image has no such
// record (or the controller reported it empty).
std::optional<ImageSpan> FindImageSpan(const uint8_t header[7], RecordKind kind, int index);

// Loaded when `image` is a whole saved image: a header without zero sizes (byte 4 may be
// 0), at most two sides and 16 channels, and exactly the length the header announces.
// Else the failure, with Longer, DemoLayout and OddHeader beyond those of LoadImageFile.
ImageLoadResult CheckSavedImage(const std::vector<uint8_t>& image);
// Opens a saved image file. On failure `image` is empty, `error` (when given) holds the reason
// and the file name, and the file is not touched.
ImageLoadResult OpenImageFile(const std::string& path, std::vector<uint8_t>& image,
                              std::string* error = nullptr);
// Writes a checked image to `path` atomically: an image that fails CheckSavedImage, or a write
// that fails, leaves the file as it was. True when written; else `error` says why.
bool WriteImageFile(const std::string& path, const std::vector<uint8_t>& image,
                    std::string* error = nullptr);
// The reason for a result of CheckSavedImage or OpenImageFile (UTF-8).
std::string ImageFileErrorText(ImageLoadResult result);

} // namespace velmar
