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

// What became of reading and saving an image.
enum class ImageSaveResult {
    NoLink,     // the sizes could not be read
    ReadFailed, // a record could not be read
    FileFailed, // the file could not be written
    Cancelled,  // the engineer stopped the read; no file written
    BadSizes,   // the controller reported sizes no image can have
    Saved,
};

// Asked between records: true stops a read with Cancelled.
using ImageStopFn = std::function<bool()>;

// Reads the sizes and every record into `image` (header first). Sizes that fail the header check
// of a load (a zero where a record is required) give BadSizes before any record is read: such a
// file could never be loaded again.
ImageSaveResult ReadDeviceImage(RecordStore& store, std::vector<uint8_t>& image,
                                const ImageProgressFn& progress = {}, std::string* error = nullptr,
                                const ImageStopFn& stop = {});
// ReadDeviceImage, then the file, atomically. A target that is not a regular file (a symbolic
// link, a FIFO, a device) is refused with FileFailed before anything is read.
ImageSaveResult SaveDeviceImage(RecordStore& store, const std::string& path,
                                const ImageProgressFn& progress = {}, std::string* error = nullptr,
                                const ImageStopFn& stop = {});

// What a header check, a load or an opening of an image file found.
enum class ImageLoadResult {
    BadHeader, // a header byte other than byte 4 is 0
    TooShort,  // fewer than 7 bytes
    CannotOpen,
    TooLong,    // longer than the 18432-byte buffer
    Truncated,  // shorter than its header announces
    ReadError,  // "Ошибка чения файла"
    Longer,     // longer than its header announces (image_file.h)
    DemoLayout, // a demo image ("demo_trk.bin" layout) (image_file.h)
    OddHeader,  // more than two sides or than 16 channels (image_file.h)
    Loaded,
};

// Checks the header of an image in memory: Loaded, TooShort or BadHeader as for a file.
ImageLoadResult CheckImageHeader(const uint8_t* bytes, size_t length);
// Reads a whole image file (at most the image buffer) into `bytes`: Loaded, or CannotOpen,
// TooLong or ReadError. The contents are not checked.
ImageLoadResult ReadImageFileBytes(const std::string& path, std::vector<uint8_t>& bytes);
// Reads `path` into `image`, checking header, buffer limit and length. On failure `image` is
// empty and `error` (when given) holds a text for the engineer.
ImageLoadResult LoadImageFile(const std::string& path, std::vector<uint8_t>& image,
                              std::string* error = nullptr);
// The text for a save or load result (UTF-8).
std::string ImageSaveErrorText(ImageSaveResult result);
std::string ImageLoadErrorText(ImageLoadResult result);

// Writes a saved image (7-byte sizes header, then the records; `imageLength` bounds every read
// from it) into the controller with acknowledged block writes, each record brought to the length
// the controller reports (cut, or followed by zeros). `progress`, when given, is called after
// each record with the image bytes sent so far (counted after the header). An image shorter than
// its header announces, or announcing empty records, is refused with -1 before anything is sent.
// `controllerSizes` (when given) gets the controller's sizes, with the image's settings length.
// `report` (when given) tells which records were written (image_write_report.h). `recorder`
// (when given) enters each record's write before it is sent and its outcome after; a record it
// refuses stops the write there (-1), before that record.
using ImageProgress = std::function<void(int bytesDone)>;
struct ImageWriteReport;
class WriteRecorder;
int WriteDeviceImage(PortSlot slot, int ctrl, const uint8_t* image, size_t imageLength,
                     const ImageProgress& progress = {}, SizesRecord* controllerSizes = nullptr,
                     ImageWriteReport* report = nullptr, WriteRecorder* recorder = nullptr);

// WriteDeviceImage, then a restart after a complete write: Written, NotWritten, or
// WrittenNoRestart when every record went in but the restart was not confirmed.
enum class ImageWriteResult { NotWritten, WrittenNoRestart, Written };
ImageWriteResult WriteImageToController(PortSlot slot, int ctrl, const std::vector<uint8_t>& image,
                                        const ImageProgressFn& progress = {},
                                        SizesRecord* controllerSizes = nullptr,
                                        ImageWriteReport* report = nullptr,
                                        WriteRecorder* recorder = nullptr);
// The progress total of a write: 16 (S3 + S5) + S0 + 2 (S4 + S6) + 313.
int ImageWriteTotal(const uint8_t header[7]);

} // namespace velmar
