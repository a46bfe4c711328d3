// A saved device image file standing in for a controller: the window edits a configuration
// offline. Reads and writes go to the records at their controller addresses, found where the
// image's own header lays them out (ImageSpans); every write replaces the file atomically and
// leaves it as it was when the write fails.
//
// For the screens it behaves like the demo image (IsDemo): no restart, no live registers, and
// the temperature table and memory dump, which no image holds, are not held. Unlike the demo
// image it keeps the optional blocks and the 0x3000 block, so reading it whole gives the file.
#pragma once

#include "data/record_store.h"

#include <cstdint>
#include <string>
#include <vector>

namespace velmar {

class ImageFileStore final : public RecordStore {
  public:
    explicit ImageFileStore(std::string path) : path_(std::move(path)) {}

    // Opens and checks the file (OpenImageFile): kImageLoaded, or the failure with LastError().
    int Load();
    bool Loaded() const { return !image_.empty(); }
    const std::string& Path() const { return path_; }
    const std::vector<uint8_t>& Image() const { return image_; }
    const std::string& LastError() const { return error_; }
    // Replaces the whole image (a controller's image saved into this file): written atomically
    // first; on failure false, LastError() says why and nothing changed.
    bool Replace(const std::vector<uint8_t>& image);

    // Bytes copied (at most `length`, or the record's length for a self-sized read), or -1
    // for an address the image does not hold, another memory space or a file not loaded.
    int Read(int address, int length, uint8_t* dst, uint8_t space = 0) override;
    // 1, or -1 (address not held or not writable, file not written). Copies
    // min(length, record length) bytes.
    int Write(int address, int length, const uint8_t* data, uint8_t space = 0) override;
    int Restart() override { return 1; }
    int ReadSizes() override;
    bool Holds(int address, uint8_t space) const override;
    bool IsDemo() const override { return true; }

  private:
    std::string path_;
    std::vector<uint8_t> image_;
    std::string error_;
};

} // namespace velmar
