// Saved device images: a 7-byte sizes header S0..S6, then the parameter block (S0), 16 channel
// settings (S3), two optional blocks (S4), two side states (S6), 16 channel registers (S5), 256
// bytes from 0x5100 and 57 bytes from 0x3000.
//
// Saving reads every record first and writes the file only when all were read: the data go to
// a temporary file that replaces the target at the end, so a failed save leaves an existing file
// untouched and is reported. Loading refuses a file that does not hold what its header announces
// or that is longer than the image buffer, so nothing is ever read beyond the data.
#pragma once

#include "data/memory_map.h"
#include "data/record_store.h"
#include "link/serial_port.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace velmar {

namespace image {
inline constexpr int kHeaderLength = len::kSizes;
inline constexpr int kBufferLength = 18432; // the image buffer; an image must fit in it
inline constexpr int kMakeRegionLength = len::kMakeBlockImage;
inline constexpr int kBlock3000Length = len::kBlock3000;
} // namespace image

struct ImageRecord {
    RecordKind kind;
    int address;
    int length;
};

// The records of an image in file order, with the lengths `header` gives: the one definition of
// that order, used by saving, loading and writing an image.
std::vector<ImageRecord> ImageRecords(const uint8_t header[7]);
// S0 + 16 (S3 + S5) + 2 (S4 + S6) + 320: the whole file, header included.
int ImageLength(const uint8_t header[7]);

// Progress of a save or load: bytes done of `total` (header not counted).
using ImageProgressFn = std::function<void(int done, int total)>;

// Save results.
inline constexpr int kImageSaved = 1;
inline constexpr int kImageNoLink = -1;     // the sizes could not be read
inline constexpr int kImageReadFailed = -2; // a record could not be read
inline constexpr int kImageFileFailed = -3; // the file could not be written
inline constexpr int kImageCancelled = -4;  // the engineer stopped the read; no file written
inline constexpr int kImageBadSizes = -5;   // the controller reported sizes no image can have

// Asked between records: true stops a read with kImageCancelled.
using ImageStopFn = std::function<bool()>;

// Reads the sizes and every record into `image` (header first). Sizes that fail the header check
// of a load (a zero where a record is required) give kImageBadSizes before any record is read:
// such a file could never be loaded again.
int ReadDeviceImage(RecordStore& store, std::vector<uint8_t>& image,
                    const ImageProgressFn& progress = {}, std::string* error = nullptr,
                    const ImageStopFn& stop = {});
// ReadDeviceImage, then the file, atomically. A target that is not a regular file (a symbolic
// link, a FIFO, a device) is refused with kImageFileFailed before anything is read.
int SaveDeviceImage(RecordStore& store, const std::string& path,
                    const ImageProgressFn& progress = {}, std::string* error = nullptr,
                    const ImageStopFn& stop = {});

// Header check and load results.
inline constexpr int kImageLoaded = 1;
inline constexpr int kImageBadHeader = -1; // a header byte other than byte 4 is 0
inline constexpr int kImageTooShort = -2;  // fewer than 7 bytes
inline constexpr int kImageCannotOpen = -3;
inline constexpr int kImageTooLong = -4;   // longer than the 18432-byte buffer
inline constexpr int kImageTruncated = -5; // shorter than its header announces
inline constexpr int kImageReadError = -6; // "Ошибка чения файла"

// Checks the header of an image in memory: 1, -2 or -1 as for a file.
int CheckImageHeader(const uint8_t* bytes, size_t length);
// Reads a whole image file (at most the image buffer) into `bytes`: kImageLoaded, or
// kImageCannotOpen, kImageTooLong or kImageReadError. The contents are not checked.
int ReadImageFileBytes(const std::string& path, std::vector<uint8_t>& bytes);
// Reads `path` into `image`, checking header, buffer limit and length. On failure `image` is
// empty and `error` (when given) holds a text for the engineer.
int LoadImageFile(const std::string& path, std::vector<uint8_t>& image,
                  std::string* error = nullptr);
// The text for a save or load result (UTF-8).
std::string ImageSaveErrorText(int result);
std::string ImageLoadErrorText(int result);

// Writes a saved image (7-byte sizes header, then the records; `imageLength` bounds every read
// from it) into the controller with acknowledged block writes, each record brought to the length
// the controller reports (cut, or followed by zeros). `progress`, when given, is called after
// each record with the image bytes sent so far (counted after the header). An image shorter than
// its header announces, or announcing empty records, is refused with -1 before anything is sent.
// `controllerSizes` (when given) gets the controller's sizes, with the image's settings length.
// `report` (when given) tells which records were written (image_write_report.h).
using ImageProgress = std::function<void(int bytesDone)>;
struct ImageWriteReport;
int WriteDeviceImage(PortSlot slot, int ctrl, const uint8_t* image, size_t imageLength,
                     const ImageProgress& progress = {}, SizesRecord* controllerSizes = nullptr,
                     ImageWriteReport* report = nullptr);

// WriteDeviceImage, then a restart after a complete write: kImageWritten, kImageNotWritten, or
// kImageWrittenNoRestart when every record went in but the restart was not confirmed.
inline constexpr int kImageWritten = 1;
inline constexpr int kImageNotWritten = -1;
inline constexpr int kImageWrittenNoRestart = -2;
int WriteImageToController(PortSlot slot, int ctrl, const std::vector<uint8_t>& image,
                           const ImageProgressFn& progress = {},
                           SizesRecord* controllerSizes = nullptr,
                           ImageWriteReport* report = nullptr);
// The progress total of a write: 16 (S3 + S5) + S0 + 2 (S4 + S6) + 313.
int ImageWriteTotal(const uint8_t header[7]);

} // namespace velmar
