// A saved image file edited through the record store, as the window edits it offline.
#include "data/ctrlr_params.h"
#include "data/image_file.h"
#include "data/image_file_store.h"
#include "data/memory_store.h"
#include "data_test_support.h"

#include <cstring>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>

namespace velmar {
namespace {

using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

std::vector<uint8_t> SavedImage() {
    std::vector<uint8_t> mem(0x10000);
    for (size_t i = 0; i < mem.size(); ++i) mem[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
    const uint8_t sizes[7] = {58, 2, 2, 19, 4, 69, 12};
    std::copy(sizes, sizes + 7, mem.begin() + addr::kSizes);
    MemoryRecordStore store(mem);
    std::vector<uint8_t> image;
    EXPECT_EQ(ReadDeviceImage(store, image), ImageSaveResult::Saved);
    return image;
}

// Every writable record, written through the store, lands at its span in the file and nowhere
// else; reading it back through the store gives the bytes written.
TEST(ImageFileStore, WriteLandsAtTheRecordsOffsetOnly) {
    struct Case {
        int address;
        RecordKind kind;
        int index;
        int length;
    };
    const Case cases[] = {
        {addr::kParams, RecordKind::Params, 0, len::kParams},
        {0x1000 + 5 * 0x100, RecordKind::ChannelSetts, 5, len::kChannelSetts},
        {0x2000 + 15 * 0x100, RecordKind::ChannelRegs, 15, len::kChannelRegs},
        {addr::kSideStateB, RecordKind::SideState, 1, len::kSideState},
        {addr::kOptionalB, RecordKind::OptionalBlock, 1, 4},
        {addr::kMakeBlock, RecordKind::MakeBlock, 0, len::kMakeBlock},
    };
    TempDir dir;
    const std::string path = dir.File("trk.img");
    const std::vector<uint8_t> original = SavedImage();
    for (const Case& c : cases) {
        WriteBytes(path, original);
        ImageFileStore store(path);
        ASSERT_EQ(store.Load(), ImageLoadResult::Loaded);
        std::vector<uint8_t> bytes(static_cast<size_t>(c.length), 0xA5);
        ASSERT_TRUE(store.Write(c.address, c.length, bytes.data()).Ok()) << c.address;

        std::vector<uint8_t> expected = original;
        const auto span = FindImageSpan(original.data(), c.kind, c.index);
        ASSERT_TRUE(span.has_value());
        std::fill_n(expected.begin() + span->offset, c.length, 0xA5);
        EXPECT_EQ(ReadBytes(path), expected) << c.address;

        std::vector<uint8_t> back(256);
        EXPECT_EQ(store.Read(c.address, c.length, back.data()).Length(), c.length);
        EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), back.begin())) << c.address;
    }
}

// A self-sized read of the parameter block gives its length; the sizes come from the header.
TEST(ImageFileStore, ReadsAsTheControllerWould) {
    TempDir dir;
    const std::string path = dir.File("trk.img");
    const std::vector<uint8_t> original = SavedImage();
    WriteBytes(path, original);
    ImageFileStore store(path);
    uint8_t buf[255] = {};
    EXPECT_EQ(store.Read(addr::kParamsLength, 0, buf).Length(), len::kParams);
    EXPECT_EQ(0, std::memcmp(buf, original.data() + 7, len::kParams));
    EXPECT_TRUE(store.ReadSizes().Ok());
    EXPECT_EQ(store.Sizes().nozzlesPerSide, 2);
    EXPECT_TRUE(store.IsDemo());
    EXPECT_FALSE(store.Holds(addr::kTempTable, 0));
    EXPECT_FALSE(store.Holds(addr::kRunRegsIR, 2));
    // Read whole through the store, it is the file.
    std::vector<uint8_t> again;
    EXPECT_EQ(ReadDeviceImage(store, again), ImageSaveResult::Saved);
    EXPECT_EQ(again, original);
}

// Damaged files are refused with a reason; a write the image cannot take changes nothing.
TEST(ImageFileStore, RefusesWhatIsNoImageAndWritesNothing) {
    TempDir dir;
    const std::string path = dir.File("trk.img");
    const std::vector<uint8_t> whole = SavedImage();
    const std::vector<uint8_t> cut(whole.begin(), whole.end() - 10);
    WriteBytes(path, cut);
    ImageFileStore truncated(path);
    EXPECT_EQ(truncated.Load(), ImageLoadResult::Truncated);
    EXPECT_NE(truncated.LastError().find(path), std::string::npos);
    const uint8_t byte = 1;
    EXPECT_FALSE(truncated.Write(addr::kParams, 1, &byte).Ok());
    EXPECT_EQ(ReadBytes(path), cut);

    const std::vector<uint8_t> good = SavedImage();
    WriteBytes(path, good);
    ImageFileStore store(path);
    EXPECT_FALSE(store.Write(addr::kBlock3000, 1, &byte).Ok());
    EXPECT_FALSE(store.Write(addr::kTempTable, 1, &byte).Ok());
    EXPECT_EQ(ReadBytes(path), good);
}

// Another program changed the file after the store read it: the write is refused with the
// reason, the file keeps what the other program put there, and the store says so once. The
// check covers a replacement by rename, an edit in place that keeps size and time, and removal.
TEST(ImageFileStore, AWriteOverAFileChangedSinceItWasReadIsRefused) {
    struct Case {
        const char* what;
        std::function<void(const std::string& path, const std::vector<uint8_t>& other)> change;
        bool present; // the file is still there afterwards
    };
    const Case cases[] = {
        {"replaced by rename",
         [](const std::string& path, const std::vector<uint8_t>& other) {
             WriteBytes(path + ".new", other);
             std::filesystem::rename(path + ".new", path);
         },
         true},
        {"edited in place, same size and time",
         [](const std::string& path, const std::vector<uint8_t>& other) {
             const auto time = std::filesystem::last_write_time(path);
             WriteBytes(path, other);
             std::filesystem::last_write_time(path, time);
         },
         true},
        {"removed",
         [](const std::string& path, const std::vector<uint8_t>&) {
             std::filesystem::remove(path);
         },
         false},
    };
    TempDir dir;
    const std::string path = dir.File("w2.bin");
    const std::vector<uint8_t> original = SavedImage();
    std::vector<uint8_t> other = original;
    other[image::kHeaderLength + params::kAdrTrk_1.offset] ^= 0x0F; // another controller's
    const std::vector<uint8_t> edit(len::kParams, 0x11);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteBytes(path, original);
        ImageFileStore store(path);
        ASSERT_EQ(store.Load(), ImageLoadResult::Loaded);
        // The store's own writes are no change of the file's.
        ASSERT_TRUE(store.Write(addr::kParams, len::kParams, edit.data()).Ok());
        const std::vector<uint8_t> written = ReadBytes(path);
        EXPECT_FALSE(store.TakeStaleRefusal());

        c.change(path, other);
        EXPECT_FALSE(store.Write(addr::kParams, len::kParams, edit.data()).Ok());
        EXPECT_TRUE(store.TakeStaleRefusal());
        EXPECT_FALSE(store.TakeStaleRefusal()); // said once
        EXPECT_NE(store.LastError().find("Откройте файл заново"), std::string::npos)
            << store.LastError();
        EXPECT_FALSE(store.Replace(written));
        if (c.present) {
            EXPECT_EQ(ReadBytes(path), other);
        } else {
            EXPECT_FALSE(std::filesystem::exists(path));
        }
        EXPECT_EQ(test::FileCount(dir.Path()), c.present ? 1u : 0u);
    }
}

// The store's own writes leave the file it knows: any number of saves in a row succeed, by
// record or whole, and each lands in the file; another program's change between two of them is
// still refused and kept.
TEST(ImageFileStore, SavesInARowEachSucceedAndAChangeBetweenThemIsStillRefused) {
    TempDir dir;
    const std::string path = dir.File("trk.img");
    const std::vector<uint8_t> original = SavedImage();
    WriteBytes(path, original);
    ImageFileStore store(path);
    ASSERT_EQ(store.Load(), ImageLoadResult::Loaded);
    const auto paramsAt = FindImageSpan(original.data(), RecordKind::Params, 0);
    ASSERT_TRUE(paramsAt.has_value());

    std::vector<uint8_t> expected = original;
    const auto writeParams = [&](uint8_t fill) {
        const std::vector<uint8_t> edit(len::kParams, fill);
        std::fill_n(expected.begin() + paramsAt->offset, len::kParams, fill);
        return store.Write(addr::kParams, len::kParams, edit.data()).Ok();
    };
    constexpr uint8_t kFills[] = {0x11, 0x22, 0x33};
    for (const uint8_t fill : kFills) {
        EXPECT_TRUE(writeParams(fill)) << int(fill) << ": " << store.LastError();
        EXPECT_EQ(ReadBytes(path), expected) << int(fill);
    }
    expected = original;
    EXPECT_TRUE(store.Replace(original)) << store.LastError();
    EXPECT_TRUE(writeParams(0x44)) << store.LastError();
    EXPECT_EQ(ReadBytes(path), expected);
    EXPECT_FALSE(store.TakeStaleRefusal());

    std::vector<uint8_t> other = expected;
    other[image::kHeaderLength + params::kAdrTrk_1.offset] ^= 0x0F; // another program's edit
    WriteBytes(path, other);
    EXPECT_FALSE(writeParams(0x55));
    EXPECT_TRUE(store.TakeStaleRefusal());
    EXPECT_EQ(ReadBytes(path), other);
}

// A symbolic link is not opened: every write replaces the file whole, which would turn the link
// into a regular file and leave its target as it was. The reason names the target.
TEST(ImageFileStore, ASymbolicLinkIsRefusedWithItsTarget) {
    TempDir dir;
    const std::string target = dir.File("target.bin");
    const std::string link = dir.File("link.bin");
    WriteBytes(target, SavedImage());
    std::filesystem::create_symlink(target, link);
    ImageFileStore store(link);
    EXPECT_EQ(store.Load(), ImageLoadResult::CannotOpen);
    EXPECT_NE(store.LastError().find("символическая ссылка"), std::string::npos);
    EXPECT_NE(store.LastError().find(target), std::string::npos) << store.LastError();
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(ReadBytes(target), SavedImage());
}

} // namespace
} // namespace velmar
