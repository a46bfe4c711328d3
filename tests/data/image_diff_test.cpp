// Comparing saved device images field by field, and opening and writing image files: what
// `velmar-cli diff` and the window's offline mode stand on.
#include "data/image_diff.h"
#include "data/image_file.h"
#include "data/memory_store.h"
#include "data/records.h"
#include "data_test_support.h"
#include "protocol/ctrlr_protocol.h"

#include <gtest/gtest.h>

namespace velmar {
namespace {

using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

// The image of a controller whose memory holds a pattern, read as `image save` reads it.
std::vector<uint8_t> PatternImage(std::array<uint8_t, 7> sizes = {58, 2, 2, 19, 0, 69, 12}) {
    std::vector<uint8_t> mem(0x10000);
    for (size_t i = 0; i < mem.size(); ++i) mem[i] = static_cast<uint8_t>(i ^ (i >> 8));
    std::copy(sizes.begin(), sizes.end(), mem.begin() + addr::kSizes);
    MemoryRecordStore store(mem);
    std::vector<uint8_t> image;
    EXPECT_EQ(ReadDeviceImage(store, image), ImageSaveResult::Saved);
    return image;
}

// Sets `bytes` into record `kind`/`index` of `image` from `offset` on.
void Put(std::vector<uint8_t>& image, RecordKind kind, int index, int offset,
         std::vector<uint8_t> bytes) {
    const auto span = FindImageSpan(image.data(), kind, index);
    ASSERT_TRUE(span.has_value());
    std::copy(bytes.begin(), bytes.end(), image.begin() + span->offset + offset);
}

TEST(ImageDiff, OnePriceAndOneMakeFieldNameExactlyThoseTwo) {
    std::vector<uint8_t> a = PatternImage();
    std::vector<uint8_t> b = a;
    Put(a, RecordKind::ChannelRegs, 3, regs::kPrice.offset, {0x10, 0x27}); // 100,00
    Put(b, RecordKind::ChannelRegs, 3, regs::kPrice.offset, {0xD2, 0x04}); // 12,34
    Put(a, RecordKind::MakeBlock, 0, make::kMinVolNara.offset, {20, 0});
    Put(b, RecordKind::MakeBlock, 0, make::kMinVolNara.offset, {50, 0});
    const auto diffs = DiffImages(a, b);
    ASSERT_EQ(diffs.size(), 2u);
    EXPECT_EQ(DifferenceLine(diffs[0]),
              "Состояние канала 4 (Сторона Б. Рукав 2): Цена, руб: 100,00 -> 12,34");
    EXPECT_EQ(diffs[0].field, "Price");
    EXPECT_EQ(diffs[0].address, 0x2300);
    EXPECT_EQ(DifferenceLine(diffs[1]), "Настройки НАРА-АЗС: Мин доза отпуска: 20 -> 50");
    EXPECT_TRUE(DiffImages(a, a).empty());
}

// One changed field each: its caption and its value as the screen shows it.
TEST(ImageDiff, CaptionsAndScreenFormats) {
    struct Case {
        RecordKind kind;
        int index;
        int offset;
        std::vector<uint8_t> bytes;
        const char* record;
        const char* caption;
        const char* shown;
    };
    const Case cases[] = {
        {RecordKind::Params,
         0,
         0,
         {2},
         "Параметры контроллера",
         "Скорость обмена по 485 интерфейсу, 1 канал",
         "9600"},
        {RecordKind::Params,
         0,
         30,
         {0x01, 0x80},
         "Параметры контроллера",
         "Битовая маска режимов MD_XXXX",
         "8001"},
        {RecordKind::Params, 0, 8, {9}, "Параметры контроллера", "Адреса каналов Нара №3", "9"},
        // The physical map by side and by the position its grid's header shows.
        {RecordKind::Params,
         0,
         36,
         {7},
         "Параметры контроллера",
         "Сторона Б, Физическая архитектура, позиция 0",
         "7"},
        {RecordKind::Params,
         0,
         39,
         {3},
         "Параметры контроллера",
         "Сторона A, Физическая архитектура, позиция 2",
         "3"},
        // The second mode mask by the items of its check list.
        {RecordKind::Params,
         0,
         32,
         {0x08},
         "Параметры контроллера",
         "Режимы работы ТРК 2: Разрешить рекуперацию паров",
         "вкл"},
        {RecordKind::Params,
         0,
         33,
         {0x20},
         "Параметры контроллера",
         "Режимы работы ТРК 2: биты 12..15",
         "2000"},
        {RecordKind::ChannelSetts,
         0,
         14,
         {0x00, 0x02},
         "Настройки канала 1 (Сторона А. Рукав 1)",
         "Импульсов на литр",
         "256"},
        {RecordKind::ChannelSetts,
         15,
         0,
         {0xA3, 0x01, 0, 0},
         "Настройки канала 16",
         "Младшие 32 бита цены импульса в 0.01",
         "01A3"},
        {RecordKind::ChannelRegs,
         1,
         1,
         {44},
         "Состояние канала 2 (Сторона А. Рукав 2)",
         "Состояние",
         "Нормальное завершение"},
        {RecordKind::SideState,
         1,
         3,
         {7, 3, 24},
         "Состояние стороны Б",
         "Дата последней корректировки",
         "07.03.24"},
        {RecordKind::MakeBlock,
         0,
         29,
         {0xE1, 0x10, 0, 0},
         "Настройки НАРА-АЗС",
         "Пароль заправщика №2",
         "4321"},
        {RecordKind::ChannelRegs,
         0,
         34,
         {0x5A},
         "Состояние канала 1 (Сторона А. Рукав 1)",
         "байт 34",
         "5A"},
        {RecordKind::Block3000, 0, 2, {0xAA, 0xBB}, "Блок 0x3000", "байты 2..3", "AA BB"},
    };
    const std::vector<uint8_t> pattern = PatternImage();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.caption);
        std::vector<uint8_t> a = pattern;
        std::vector<uint8_t> b = pattern;
        Put(a, c.kind, c.index, c.offset, std::vector<uint8_t>(c.bytes.size(), 0));
        Put(b, c.kind, c.index, c.offset, c.bytes);
        const auto diffs = DiffImages(a, b);
        ASSERT_EQ(diffs.size(), 1u);
        EXPECT_EQ(diffs[0].record, c.record);
        EXPECT_EQ(diffs[0].caption, c.caption);
        EXPECT_EQ(diffs[0].b, c.shown);
    }
}

// The parameter block's checksum is its last byte whatever the block's length; a checksum that
// is right for each block only follows the other changes, and says so.
TEST(ImageDiff, TheChecksumIsTheLastByteAndFollowsTheChanges) {
    const auto withChecksum = [](std::vector<uint8_t>& image) {
        const auto span = FindImageSpan(image.data(), RecordKind::Params, 0);
        uint8_t* block = image.data() + span->offset;
        block[span->length - 1] = ChecksumRot8(block, static_cast<size_t>(span->length - 1));
    };
    struct Case {
        uint8_t paramsLength;
        int offset;        // the byte changed in image B
        bool fixChecksums; // both blocks carry their right checksum
        std::vector<std::string> captions;
    } const cases[] = {
        {58,
         params::kMetTOut.offset,
         true,
         {"Ожидание импульсов, с", "КСМ (следует за изменениями выше)"}},
        {58, params::kMetTOut.offset, false, {"Ожидание импульсов, с"}},
        {58, params::kKsm.offset, false, {"КСМ"}},
        // A shorter block: byte 49 is its checksum, not the physical map.
        {50, 49, false, {"КСМ"}},
        {50,
         params::kMetTOut.offset,
         true,
         {"Ожидание импульсов, с", "КСМ (следует за изменениями выше)"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.paramsLength) + " " + std::to_string(c.offset));
        std::vector<uint8_t> a = PatternImage({c.paramsLength, 2, 2, 19, 0, 69, 12});
        if (c.fixChecksums) withChecksum(a);
        std::vector<uint8_t> b = a;
        const auto span = FindImageSpan(b.data(), RecordKind::Params, 0);
        b[static_cast<size_t>(span->offset + c.offset)] ^= 0x01;
        if (c.fixChecksums) withChecksum(b);
        std::vector<std::string> captions;
        for (const ImageDifference& d : DiffImages(a, b)) captions.push_back(d.caption);
        EXPECT_EQ(captions, c.captions);
        const auto diffs = DiffImages(a, b);
        if (c.captions.back().starts_with("КСМ")) {
            EXPECT_EQ(diffs.back().field, "Ksm");
            EXPECT_EQ(diffs.back().offset, c.paramsLength - 1);
        }
    }
}

TEST(ImageDiff, OtherRecordSizesShowWhatOnlyOneImageHolds) {
    const auto a = PatternImage();
    const auto b = PatternImage({58, 2, 2, 20, 0, 69, 12});
    const auto diffs = DiffImages(a, b);
    ASSERT_FALSE(diffs.empty());
    EXPECT_EQ(DifferenceLine(diffs[0]), "Заголовок образа: Длина настроек канала: 19 -> 20");
    // Each channel's settings gain byte 19; the fields both hold are the same.
    const auto extra = std::count_if(diffs.begin(), diffs.end(), [](const ImageDifference& d) {
        return d.kind == RecordKind::ChannelSetts && d.caption == "байт 19" && !d.inA && d.inB;
    });
    EXPECT_EQ(extra, 16);
    EXPECT_EQ(DifferenceLine(diffs[1]).rfind("Настройки канала 1 (Сторона А. Рукав 1): байт 19: "
                                             "нет -> ",
                                             0),
              0u);
}

TEST(ImageFile, BadFilesAreRefusedWithTheReasonAndLeftAsTheyWere) {
    const auto good = PatternImage();
    auto damaged = good;
    damaged[2] = 0; // no sides
    auto odd = good;
    odd[2] = 3;
    auto longer = good;
    longer.push_back(0);
    const std::vector<uint8_t> truncated(good.begin(), good.begin() + 100);
    std::vector<uint8_t> demoLayout(good.begin(), good.begin() + 1625);
    struct Case {
        std::vector<uint8_t> bytes;
        ImageLoadResult result;
        const char* reason;
    };
    const Case cases[] = {
        {truncated, ImageLoadResult::Truncated, "короче, чем указано в его заголовке"},
        {damaged, ImageLoadResult::BadHeader, "Неверный заголовок образа"},
        {odd, ImageLoadResult::OddHeader, "больше двух сторон"},
        {longer, ImageLoadResult::Longer, "длиннее, чем указано в его заголовке"},
        {demoLayout, ImageLoadResult::DemoLayout, "демонстрационный образ"},
        {{}, ImageLoadResult::TooShort, "короче заголовка"},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        const std::string path = dir.File("bad.bin");
        WriteBytes(path, c.bytes);
        std::vector<uint8_t> image{1, 2, 3};
        std::string error;
        EXPECT_EQ(OpenImageFile(path, image, &error), c.result);
        EXPECT_TRUE(image.empty());
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
        EXPECT_NE(error.find(path), std::string::npos) << error;
        EXPECT_EQ(ReadBytes(path), c.bytes);
        // Nor is such an image written over a good file.
        if (c.bytes.empty()) continue;
        WriteBytes(dir.File("good.bin"), good);
        EXPECT_FALSE(WriteImageFile(dir.File("good.bin"), c.bytes, &error));
        EXPECT_NE(error.find("не изменен"), std::string::npos) << error;
        EXPECT_EQ(ReadBytes(dir.File("good.bin")), good);
    }
    std::string error;
    std::vector<uint8_t> image;
    EXPECT_EQ(OpenImageFile(dir.File("none.bin"), image, &error), ImageLoadResult::CannotOpen);
}

TEST(ImageFile, EditedImageIsWrittenWholeAndOpensAgain) {
    auto image = PatternImage();
    TempDir dir;
    const std::string path = dir.File("station.bin");
    WriteBytes(path, image);
    Put(image, RecordKind::ChannelRegs, 0, regs::kPrice.offset, {0xD2, 0x04});
    std::string error;
    ASSERT_TRUE(WriteImageFile(path, image, &error)) << error;
    std::vector<uint8_t> again;
    ASSERT_EQ(OpenImageFile(path, again, &error), ImageLoadResult::Loaded) << error;
    EXPECT_EQ(again, image);
    EXPECT_EQ(test::FileCount(dir.Path()), 1u); // no temporary file left behind
}

} // namespace
} // namespace velmar
