// Saved device images: the file layout for the sizes a controller reports, the header and
// length checks on loading, and a failed save that must leave an existing file alone.
#include "data/device_image.h"
#include "data/memory_map.h"
#include "data/memory_store.h"
#include "data_test_support.h"

#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>

namespace velmar {
namespace {

using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

// Controller memory with a pattern everywhere and the given sizes record.
std::vector<uint8_t> PatternMemory(std::array<uint8_t, 7> sizes) {
    std::vector<uint8_t> mem(0x10000);
    for (size_t i = 0; i < mem.size(); ++i) mem[i] = static_cast<uint8_t>(i ^ (i >> 8));
    std::copy(sizes.begin(), sizes.end(), mem.begin() + addr::kSizes);
    return mem;
}

std::vector<uint8_t> At(const std::vector<uint8_t>& mem, int address, int n) {
    return {mem.begin() + address, mem.begin() + address + n};
}

// A store that fails the read of one address.
class FailingStore final : public RecordStore {
  public:
    FailingStore(RecordStore& inner, int failAt) : inner_(inner), failAt_(failAt) {}
    StoreResult Read(int a, int n, uint8_t* dst, uint8_t space) override {
        return a == failAt_ ? StoreResult::Failed(StoreCode::NoAnswer)
                            : inner_.Read(a, n, dst, space);
    }
    StoreResult Write(int a, int n, const uint8_t* d, uint8_t space) override {
        return inner_.Write(a, n, d, space);
    }
    StoreResult Restart() override { return StoreResult::Done(); }
    StoreResult ReadSizes() override {
        const StoreResult r =
            failAt_ == addr::kSizes ? StoreResult::Failed(StoreCode::NoAnswer) : inner_.ReadSizes();
        Sizes() = inner_.Sizes();
        return r;
    }
    bool Holds(int, uint8_t) const override { return true; }
    bool IsDemo() const override { return false; }

  private:
    RecordStore& inner_;
    int failAt_;
};

TEST(DeviceImage, LayoutWithoutOptionalBlocks) {
    auto mem = PatternMemory({58, 4, 2, 19, 0, 69, 12});
    MemoryRecordStore store(mem);
    TempDir dir;
    const std::string path = dir.File("image.bin");
    std::vector<std::pair<int, int>> progress;
    ASSERT_EQ(SaveDeviceImage(store, path, [&](int d, int t) { progress.emplace_back(d, t); }),
              ImageSaveResult::Saved);
    const auto file = ReadBytes(path);
    ASSERT_EQ(file.size(), 1810u);
    EXPECT_EQ(At(file, 0, 7), (std::vector<uint8_t>{58, 4, 2, 19, 0, 69, 12}));
    EXPECT_EQ(At(file, 7, 58), At(mem, 0x3101, 58));
    EXPECT_EQ(At(file, 65 + 19 * 15, 19), At(mem, 0x1F00, 19));
    EXPECT_EQ(At(file, 369, 12), At(mem, 0x4000, 12)) << "side states follow the settings";
    EXPECT_EQ(At(file, 381, 12), At(mem, 0x4100, 12));
    EXPECT_EQ(At(file, 393, 69), At(mem, 0x2000, 69));
    EXPECT_EQ(At(file, 1497, 256), At(mem, 0x5100, 256));
    EXPECT_EQ(At(file, 1753, 57), At(mem, 0x3000, 57));
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), std::make_pair(1803, 1803));
}

TEST(DeviceImage, OptionalBlocksFollowTheChannelSettings) {
    auto mem = PatternMemory({58, 4, 2, 19, 16, 69, 12});
    MemoryRecordStore store(mem);
    std::vector<uint8_t> img;
    ASSERT_EQ(ReadDeviceImage(store, img), ImageSaveResult::Saved);
    ASSERT_EQ(img.size(), 1842u);
    EXPECT_EQ(ImageLength(img.data()), 1842);
    EXPECT_EQ(At(img, 369, 16), At(mem, 0x0000, 16));
    EXPECT_EQ(At(img, 385, 16), At(mem, 0x0100, 16));
    EXPECT_EQ(At(img, 401, 12), At(mem, 0x4000, 12));
    EXPECT_EQ(ImageWriteTotal(img.data()), 1842 - 7);
}

TEST(DeviceImage, FailedSaveLeavesTheExistingFileUntouched) {
    auto mem = PatternMemory({58, 4, 2, 19, 0, 69, 12});
    MemoryRecordStore inner(mem);
    TempDir dir;
    const std::string path = dir.File("image.bin");
    const std::vector<uint8_t> before = {1, 2, 3, 4, 5};
    for (int failAt : {addr::kSizes, addr::kParams, 0x1700, 0x2F00, addr::kBlock3000}) {
        WriteBytes(path, before);
        FailingStore store(inner, failAt);
        std::string error;
        const ImageSaveResult r = SaveDeviceImage(store, path, {}, &error);
        EXPECT_EQ(r, failAt == addr::kSizes ? ImageSaveResult::NoLink : ImageSaveResult::ReadFailed)
            << failAt;
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(ReadBytes(path), before) << failAt;
        EXPECT_EQ(test::FileCount(dir.Path()), 1u);
    }
    // An unwritable place: reported, nothing left behind.
    EXPECT_EQ(SaveDeviceImage(inner, dir.File("no/such/dir/image.bin")),
              ImageSaveResult::FileFailed);
}

// The file system refuses the file part-way (a full disk, a quota): the save fails and the image
// saved before stays whole, with no partial file left beside it.
TEST(DeviceImage, SaveRefusedPartWayThroughTheFileKeepsTheOldOne) {
    auto mem = PatternMemory({58, 4, 2, 19, 0, 69, 12});
    MemoryRecordStore store(mem);
    TempDir dir;
    const std::string path = dir.File("image.bin");
    const std::vector<uint8_t> before(600, 0xA5);
    WriteBytes(path, before);

    // Files may grow to 1000 bytes only: the 1842-byte image is cut off in the middle.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string error;
    const ImageSaveResult r = SaveDeviceImage(store, path, {}, &error);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(r, ImageSaveResult::FileFailed);
    EXPECT_NE(error.find(ImageSaveErrorText(ImageSaveResult::FileFailed)), std::string::npos)
        << error;
    EXPECT_EQ(ReadBytes(path), before);
    EXPECT_EQ(test::FileCount(dir.Path()), 1u);
}

TEST(DeviceImage, HeaderAndLengthChecksOnLoad) {
    TempDir dir;
    auto mem = PatternMemory({58, 4, 2, 19, 0, 69, 12});
    MemoryRecordStore store(mem);
    std::vector<uint8_t> good;
    ASSERT_EQ(ReadDeviceImage(store, good), ImageSaveResult::Saved);

    auto load = [&](const std::vector<uint8_t>& bytes) {
        const std::string path = dir.File("x.bin");
        WriteBytes(path, bytes);
        std::vector<uint8_t> img{9};
        std::string error;
        const ImageLoadResult r = LoadImageFile(path, img, &error);
        if (r != ImageLoadResult::Loaded) {
            EXPECT_TRUE(img.empty());
            EXPECT_FALSE(error.empty());
        }
        return r;
    };
    EXPECT_EQ(load(good), ImageLoadResult::Loaded);
    std::vector<uint8_t> img;
    EXPECT_EQ(LoadImageFile(dir.File("missing.bin"), img), ImageLoadResult::CannotOpen);
    EXPECT_EQ(load({}), ImageLoadResult::TooShort);
    EXPECT_EQ(load({58, 4, 2, 19, 0, 69}), ImageLoadResult::TooShort);
    for (int i : {0, 1, 2, 3, 5, 6}) {
        auto bad = good;
        bad[static_cast<size_t>(i)] = 0;
        EXPECT_EQ(load(bad), ImageLoadResult::BadHeader) << "header byte " << i;
    }
    // Byte 4 = 0 is accepted; byte 4 = 16 needs 32 more bytes than the file has.
    auto withOptional = good;
    withOptional[4] = 16;
    EXPECT_EQ(load(withOptional), ImageLoadResult::Truncated);
    withOptional.resize(good.size() + 32);
    EXPECT_EQ(load(withOptional), ImageLoadResult::Loaded);
    auto truncated = good;
    truncated.pop_back();
    EXPECT_EQ(load(truncated), ImageLoadResult::Truncated);
    // Longer than the header says but within the buffer: the extra bytes are not sent.
    auto longer = good;
    longer.resize(image::kBufferLength);
    EXPECT_EQ(load(longer), ImageLoadResult::Loaded);
    longer.push_back(0);
    EXPECT_EQ(load(longer), ImageLoadResult::TooLong);
    EXPECT_EQ(ImageLoadErrorText(ImageLoadResult::ReadError), "Ошибка чения файла");
}

} // namespace
} // namespace velmar
