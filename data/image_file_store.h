// A saved device image file standing in for a controller: the window edits a configuration
// offline. Reads and writes go to the records at their controller addresses, found where the
// image's own header lays them out (ImageSpans); every write replaces the file atomically and
// leaves it as it was when the write fails.
//
// For the screens it behaves like the demo image (IsDemo): no restart, no live registers, and
// the temperature table and memory dump, which no image holds, are not held. Unlike the demo
// image it keeps the optional blocks and the 0x3000 block, so reading it whole gives the file.
#pragma once

#include "data/device_image.h"
#include "data/record_store.h"

#include <cstdint>
#include <string>
#include <vector>

namespace velmar {

// What identifies the file as it was read or last written: another program that replaced or
// changed it in between leaves another size, time or content.
struct ImageFileStamp {
    uint64_t size = 0;
    int64_t mtimeNs = 0;
    std::string sha256;
    bool operator==(const ImageFileStamp&) const = default;
};

class ImageFileStore final : public RecordStore {
  public:
    explicit ImageFileStore(std::string path) : path_(std::move(path)) {}

    // Opens and checks the file (OpenImageFile): ImageLoadResult::Loaded, or the failure with
    // LastError(). A symbolic link is refused (ImageLoadResult::CannotOpen): every write replaces
    // the file whole, which would put a regular file in place of the link and leave its target as
    // it was.
    ImageLoadResult Load();
    // True once a write was refused because the file is no longer the one read (another
    // program changed or replaced it); cleared by taking it. The window then offers to open
    // the file again.
    bool TakeStaleRefusal() {
        const bool stale = staleRefused_;
        staleRefused_ = false;
        return stale;
    }
    bool Loaded() const { return !image_.empty(); }
    const std::string& Path() const { return path_; }
    const std::vector<uint8_t>& Image() const { return image_; }
    const std::string& LastError() const { return error_; }
    // Replaces the whole image (a controller's image saved into this file): written atomically
    // first; on failure false, LastError() says why and nothing changed. Refused, like every
    // write, when the file is no longer the one read.
    bool Replace(const std::vector<uint8_t>& image);

    // Bytes copied (at most `length`, or the record's length for a self-sized read), or -1
    // for an address the image does not hold, another memory space or a file not loaded.
    StoreResult Read(int address, int length, uint8_t* dst, uint8_t space = 0) override;
    // 1, or -1 (address not held or not writable, file not written). Copies
    // min(length, record length) bytes.
    StoreResult Write(int address, int length, const uint8_t* data, uint8_t space = 0) override;
    StoreResult Restart() override { return StoreResult::Done(); }
    StoreResult ReadSizes() override;
    bool Holds(int address, uint8_t space) const override;
    bool IsDemo() const override { return true; }

  private:
    // Every write starts here: false (with the reason in LastError()) when the file on disk is
    // no longer the one this store read or last wrote.
    bool StillTheFileRead();
    bool WriteFile(const std::vector<uint8_t>& image);

    std::string path_;
    std::vector<uint8_t> image_;
    std::string error_;
    ImageFileStamp stamp_;
    bool staleRefused_ = false;
};

} // namespace velmar
