// The demo image backend: the file "demo_trk.bin" stands in for a controller. The image is held
// in memory; reads copy from fixed offsets with the lengths of its 7-byte header, writes store
// fixed lengths and rewrite the file atomically.
//
// Choices beyond the plain format:
// - A file shorter than the layout (1625 bytes) is refused at load (-2 with a text): its records
//   would be partly missing. A longer file (up to 65534 bytes) is accepted and its tail is kept.
// - Every copy stays within the image and the caller's length: a header claiming longer records
//   than the layout's slots yields what the image holds, and a read of the 128-byte MakeBlock with
//   length 128 gets 128 bytes (256, running into channel 0's registers, only when asked for).
// - A write rewrites the file with exactly the bytes held (never more than were loaded or laid
//   out), through a temporary file; on failure -1 and the image in memory is unchanged.
// - Writes to addresses the image does not hold, or in memory spaces other than 0, are refused
//   with -1 instead of rewriting the file and claiming success.
#pragma once

#include "data/device_buffer.h"
#include "data/record_store.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace velmar {

namespace demo {
// The file is the device buffer behind the 7-byte sizes header.
inline constexpr int kHeaderLength = DeviceBuffer::kDemoHeaderLength;
inline constexpr int kParamsOffset = kHeaderLength + DeviceBuffer::kParamsOffset;
inline constexpr int kSettsOffset = kHeaderLength + DeviceBuffer::kSettsOffset;
inline constexpr int kSideAOffset = kHeaderLength + DeviceBuffer::SideStateOffset(0);
inline constexpr int kSideBOffset = kHeaderLength + DeviceBuffer::SideStateOffset(1);
inline constexpr int kMakeOffset = kHeaderLength + DeviceBuffer::kMakeOffset;
inline constexpr int kRegsOffset = kHeaderLength + DeviceBuffer::kRegsOffset;
inline constexpr int kLayoutLength = kHeaderLength + DeviceBuffer::kLength;
inline constexpr int kMaxFileLength = 65534;
inline constexpr int kMakeReadLength = 256; // what a read of 0x5100 may return

inline constexpr int SettsOffset(int n) {
    return kHeaderLength + DeviceBuffer::SettsOffset(n);
}
inline constexpr int RegsOffset(int n) {
    return kHeaderLength + DeviceBuffer::RegsOffset(n);
}
} // namespace demo

// What loading the demo image found.
enum class DemoLoadResult {
    CannotOpen,
    BadLength, // empty, shorter than the layout or above 65534
    Loaded,    // loaded, or already loaded
};

class DemoRecordStore final : public RecordStore {
  public:
    explicit DemoRecordStore(std::string path) : path_(std::move(path)) {}

    // Loaded, CannotOpen or BadLength; LastError() says why.
    DemoLoadResult Load();
    // Forgets the image; the next access loads the file again.
    void Release();
    bool Loaded() const { return loaded_; }
    const std::string& Path() const { return path_; }
    const std::vector<uint8_t>& Image() const { return image_; }
    const std::string& LastError() const { return error_; }

    // Bytes copied (> 0), 0 for the optional blocks and 0x3000 (sizes still refreshed), or -1
    // for an address the image does not serve, another memory space or an image that cannot be
    // loaded. For length <= 0 `dst` must hold 255 bytes; otherwise at most `length` are copied.
    StoreResult Read(int address, int length, uint8_t* dst, uint8_t space = 0) override;
    // 1, or -1 (address not held, file not written). Copies min(length, record length) bytes.
    StoreResult Write(int address, int length, const uint8_t* data, uint8_t space = 0) override;
    StoreResult Restart() override { return StoreResult::Done(); }
    // Sets the session's sizes from the image header; -1 (sizes zeroed) when it cannot load.
    StoreResult ReadSizes() override;
    bool Holds(int address, uint8_t space) const override;
    bool IsDemo() const override { return true; }

  private:
    std::string path_;
    std::vector<uint8_t> image_;
    bool loaded_ = false;
    std::string error_;
};

// A store for `path`, loaded once: `result` is the Load result (the store is returned in any
// case, so a later access can retry).
std::unique_ptr<DemoRecordStore> MakeDemoRecordStore(const std::string& path,
                                                     DemoLoadResult& result);

} // namespace velmar
