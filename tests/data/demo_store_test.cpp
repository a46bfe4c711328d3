// The demo image backend: fixed offsets, header lengths on reads, fixed lengths on writes,
// atomic rewrites and the files it refuses.
#include "data/demo_store.h"
#include "data/memory_map.h"
#include "data_test_support.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace velmar {
namespace {

using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

// A demo image whose every byte tells its offset apart.
std::vector<uint8_t> PatternImage(size_t length = demo::kLayoutLength) {
    std::vector<uint8_t> img(length);
    for (size_t i = 0; i < length; ++i) img[i] = static_cast<uint8_t>(i * 13 + 5);
    const uint8_t header[7] = {58, 4, 2, 19, 0, 69, 12};
    std::copy(header, header + 7, img.begin());
    return img;
}

std::vector<uint8_t> Slice(const std::vector<uint8_t>& v, size_t at, size_t n) {
    return {v.begin() + static_cast<std::ptrdiff_t>(at),
            v.begin() + static_cast<std::ptrdiff_t>(at + n)};
}

class DemoStoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        image = PatternImage();
        path = dir.File("demo_trk.bin");
        WriteBytes(path, image);
        store = MakeDemoRecordStore(path, loadResult);
        ASSERT_EQ(loadResult, DemoLoadResult::Loaded);
    }
    TempDir dir;
    std::string path;
    std::vector<uint8_t> image;
    DemoLoadResult loadResult{};
    std::unique_ptr<DemoRecordStore> store;
};

TEST_F(DemoStoreTest, ReadsFromFixedOffsetsWithHeaderLengths) {
    uint8_t buf[256] = {};
    EXPECT_EQ(store->Read(0x3100, -1, buf).Length(), 58);
    EXPECT_EQ(std::vector<uint8_t>(buf, buf + 58), Slice(image, 7, 58));
    EXPECT_EQ(store->Read(0x1000 + 5 * 0x100 + 0x42, 19, buf).Length(), 19);
    EXPECT_EQ(std::vector<uint8_t>(buf, buf + 19), Slice(image, 65 + 19 * 5, 19));
    EXPECT_EQ(store->Read(0x4000, 12, buf).Length(), 12);
    EXPECT_EQ(std::vector<uint8_t>(buf, buf + 12), Slice(image, 369, 12));
    EXPECT_EQ(store->Read(0x41FF, 12, buf).Length(), 12);
    EXPECT_EQ(std::vector<uint8_t>(buf, buf + 12), Slice(image, 381, 12));
    EXPECT_EQ(store->Read(0x2F00, 69, buf).Length(), 69);
    EXPECT_EQ(std::vector<uint8_t>(buf, buf + 69), Slice(image, 521 + 69 * 15, 69));
}

TEST_F(DemoStoreTest, MakeBlockReadOf256RunsIntoChannelZeroRegisters) {
    uint8_t buf[256] = {};
    EXPECT_EQ(store->Read(0x5100, 256, buf).Length(), 256);
    EXPECT_EQ(std::vector<uint8_t>(buf, buf + 256), Slice(image, 393, 256));
    EXPECT_EQ(std::vector<uint8_t>(buf + 128, buf + 256), Slice(image, 521, 128))
        << "the second half is the start of channel 0's registers";
    // A caller that asks for the 128-byte record gets 128 bytes and nothing more.
    uint8_t rec[128 + 4] = {};
    rec[128] = 0xEE;
    EXPECT_EQ(store->Read(0x5100, 128, rec).Length(), 128);
    EXPECT_EQ(rec[128], 0xEE);
}

TEST_F(DemoStoreTest, OptionalBlocksAnd3000ReadNothingButRefreshTheSizes) {
    uint8_t buf[8] = {};
    for (int a : {0x0000, 0x0100, 0x01FF, 0x3000, 0x3038}) {
        store->Sizes().Clear();
        EXPECT_EQ(store->Read(a, 57, buf).Length(), 0) << a;
        EXPECT_EQ(store->Sizes().ToBytes(), (std::array<uint8_t, 7>{58, 4, 2, 19, 0, 69, 12}));
    }
    // An address the image does not serve: -1 and the sizes are left alone.
    store->Sizes().Clear();
    for (int a : {0x0200, 0x3039, 0x3040, 0x3101, 0x5000, 0x5200, -1, 0x10000})
        EXPECT_FALSE(store->Read(a, 7, buf).Ok()) << a;
    EXPECT_FALSE(store->Read(0x3100, -1, buf, 2).Ok()) << "live registers are not in the image";
    EXPECT_EQ(store->Sizes().paramsLength, 0);
}

TEST_F(DemoStoreTest, ReadLengthsComeFromTheHeaderButStayInsideTheImage) {
    // Header: settings 7 bytes, registers 255 (more than the last slot holds).
    image[3] = 7;
    image[5] = 255;
    WriteBytes(path, image);
    store->Release();
    uint8_t buf[256] = {};
    EXPECT_EQ(store->Read(0x1000, 19, buf).Length(), 7);
    EXPECT_EQ(store->Read(0x2000, -1, buf).Length(), 255);
    EXPECT_EQ(store->Read(0x2F00, -1, buf).Length(), 69)
        << "the image ends after channel 15's slot";
    EXPECT_EQ(store->Read(0x2F00, 10, buf).Length(), 10) << "never more than the caller asked for";
}

TEST_F(DemoStoreTest, WriteStoresFixedLengthsAndRewritesTheFile) {
    // Header byte 0 says 40: the write still stores exactly 58 bytes at 7.
    image[0] = 40;
    WriteBytes(path, image);
    store->Release();
    std::vector<uint8_t> params(64, 0xA5);
    ASSERT_TRUE(store->Write(0x3100, 64, params.data()).Ok());
    auto file = ReadBytes(path);
    ASSERT_EQ(file.size(), image.size());
    EXPECT_EQ(Slice(file, 7, 58), std::vector<uint8_t>(58, 0xA5));
    EXPECT_EQ(file[6], image[6]);
    EXPECT_EQ(file[65], image[65]) << "byte 58 of the caller's data is not stored";
    EXPECT_EQ(store->Image(), file);

    std::vector<uint8_t> regs(69, 0x3C);
    ASSERT_TRUE(store->Write(0x2000 + 15 * 0x100, 69, regs.data()).Ok());
    ASSERT_TRUE(store->Write(0x5100, 256, std::vector<uint8_t>(256, 0x11).data()).Ok());
    file = ReadBytes(path);
    EXPECT_EQ(Slice(file, 1556, 69), regs);
    EXPECT_EQ(Slice(file, 393, 128), std::vector<uint8_t>(128, 0x11));
    EXPECT_EQ(file[521], image[521]) << "the MakeBlock write stops at 128 bytes";
    EXPECT_EQ(test::FileCount(dir.Path()), 1u) << "no temporary file left";

    // A shorter record from the caller replaces only what was given.
    const uint8_t two[2] = {0x77, 0x78};
    ASSERT_TRUE(store->Write(0x4100, 2, two).Ok());
    file = ReadBytes(path);
    EXPECT_EQ(file[381], 0x77);
    EXPECT_EQ(file[383], image[383]);
}

TEST_F(DemoStoreTest, WritesOutsideTheImageAreRefused) {
    const uint8_t b[78] = {};
    for (int a : {0x5000, 0x0000, 0x3000, 0x3101, 0x3040})
        EXPECT_FALSE(store->Write(a, 1, b).Ok()) << a;
    EXPECT_FALSE(store->Write(0x24, 1, b, 2).Ok());
    EXPECT_EQ(ReadBytes(path), image);
    EXPECT_FALSE(store->Holds(0x5000, 0));
    EXPECT_FALSE(store->Holds(0x0100, 0));
    EXPECT_FALSE(store->Holds(0x24, 2));
    EXPECT_FALSE(store->Holds(0x3100, 4));
    EXPECT_TRUE(store->Holds(0x3100, 0));
    EXPECT_TRUE(store->Holds(0x2F00, 0));
    EXPECT_TRUE(store->IsDemo());
    EXPECT_TRUE(store->Restart().Ok());
}

TEST(DemoStoreWrite, FailedWriteLeavesFileAndMemoryUnchanged) {
    // The image's directory disappears under it: the rewrite cannot even start.
    TempDir dir;
    const std::string sub = dir.File("gone");
    std::filesystem::create_directory(sub);
    const auto image = PatternImage();
    WriteBytes(sub + "/demo_trk.bin", image);
    DemoLoadResult r{};
    auto store = MakeDemoRecordStore(sub + "/demo_trk.bin", r);
    ASSERT_EQ(r, DemoLoadResult::Loaded);
    std::filesystem::remove_all(sub);
    const std::vector<uint8_t> params(58, 0x99);
    EXPECT_FALSE(store->Write(0x3100, 58, params.data()).Ok());
    EXPECT_FALSE(store->LastError().empty());
    EXPECT_EQ(store->Image(), image);
    uint8_t buf[256];
    ASSERT_EQ(store->Read(0x3100, -1, buf).Length(), 58);
    EXPECT_EQ(std::vector<uint8_t>(buf, buf + 58), Slice(image, 7, 58));
}

TEST_F(DemoStoreTest, ReleaseLoadsTheNewFileOnTheNextAccess) {
    uint8_t buf[256];
    auto next = image;
    next[7] = 0x42;
    WriteBytes(path, next);
    ASSERT_EQ(store->Read(0x3100, -1, buf).Length(), 58);
    EXPECT_EQ(buf[0], image[7]) << "still the image in memory";
    store->Release();
    EXPECT_FALSE(store->Loaded());
    ASSERT_EQ(store->Read(0x3100, -1, buf).Length(), 58);
    EXPECT_EQ(buf[0], 0x42);
    EXPECT_TRUE(store->ReadSizes().Ok());
}

TEST(DemoStoreLoad, RefusedFiles) {
    TempDir dir;
    DemoLoadResult r{};
    auto s = MakeDemoRecordStore(dir.File("missing.bin"), r);
    EXPECT_EQ(r, DemoLoadResult::CannotOpen);
    EXPECT_FALSE(s->LastError().empty());
    uint8_t buf[256];
    EXPECT_FALSE(s->Read(0x3100, -1, buf).Ok());
    s->Sizes().paramsLength = 58;
    EXPECT_FALSE(s->ReadSizes().Ok());
    EXPECT_EQ(s->Sizes().paramsLength, 0);

    const std::string empty = dir.File("empty.bin");
    WriteBytes(empty, {});
    MakeDemoRecordStore(empty, r);
    EXPECT_EQ(r, DemoLoadResult::BadLength);

    const std::string shortFile = dir.File("short.bin");
    WriteBytes(shortFile, PatternImage(1624));
    s = MakeDemoRecordStore(shortFile, r);
    EXPECT_EQ(r, DemoLoadResult::BadLength);
    EXPECT_NE(s->LastError().find("1625"), std::string::npos);

    const std::string huge = dir.File("huge.bin");
    WriteBytes(huge, PatternImage(65535));
    MakeDemoRecordStore(huge, r);
    EXPECT_EQ(r, DemoLoadResult::BadLength);

    // The longest file accepted keeps its tail through a write.
    const std::string longest = dir.File("longest.bin");
    const auto img = PatternImage(65534);
    WriteBytes(longest, img);
    s = MakeDemoRecordStore(longest, r);
    ASSERT_EQ(r, DemoLoadResult::Loaded);
    const uint8_t side[12] = {};
    ASSERT_TRUE(s->Write(0x4000, 12, side).Ok());
    const auto file = ReadBytes(longest);
    ASSERT_EQ(file.size(), img.size());
    EXPECT_EQ(Slice(file, 1625, 65534 - 1625), Slice(img, 1625, 65534 - 1625));
}

} // namespace
} // namespace velmar
