// The checksum, the identification text's code page mapping and the memory map's channel rules.
#include "data/memory_map.h"
#include "protocol/ctrlr_protocol.h"

#include <gtest/gtest.h>
#include <set>

namespace velmar {
namespace {

TEST(ChecksumRot8, KnownValues) {
    const uint8_t ff = 0xFF, zero = 0x00, high = 0x80;
    EXPECT_EQ(ChecksumRot8(nullptr, 0), 0xFF);
    EXPECT_EQ(ChecksumRot8(&ff, 1), 0x00);
    EXPECT_EQ(ChecksumRot8(&zero, 1), 0xFF);
    EXPECT_EQ(ChecksumRot8(&high, 1), 0xFE);
    // 0xFF^0x60=0x9F -> 0x3F; ^0x01=0x3E -> 0x7C; ^0x48=0x34 -> 0x68
    const uint8_t cmd[] = {0x60, 0x01, 0x48};
    EXPECT_EQ(ChecksumRot8(cmd, 3), 0x68);
}

TEST(Cp866ToCp1251, MapsCyrillicAndLeavesTheRest) {
    EXPECT_EQ(Cp866ToCp1251(0x8D), 0xCD);
    EXPECT_EQ(Cp866ToCp1251(0xE5), 0xF5);
    EXPECT_EQ(Cp866ToCp1251(0xF1), 0xB8);
    EXPECT_EQ(Cp866ToCp1251(0xF0), 0xA8);
    EXPECT_EQ(Cp866ToCp1251(0xFC), 0xB9);
    EXPECT_EQ(Cp866ToCp1251(0x80), 0xC0);
    EXPECT_EQ(Cp866ToCp1251(0xAF), 0xEF);
    EXPECT_EQ(Cp866ToCp1251(0xE0), 0xF0);
    EXPECT_EQ(Cp866ToCp1251(0xEF), 0xFF);
    for (int b : {0x00, 0x0A, 0x0D, 0x41, 0x7F, 0xB0, 0xDF, 0xF2, 0xFB, 0xFD, 0xFF})
        EXPECT_EQ(Cp866ToCp1251(static_cast<uint8_t>(b)), b) << b;
}

TEST(MemoryMap, ChannelListTexts) {
    const auto oneSide = ChannelListTexts(1, 8);
    ASSERT_EQ(oneSide.size(), 8u);
    EXPECT_EQ(oneSide[0], "Сторона А. Рукав 1");
    EXPECT_EQ(oneSide[7], "Сторона А. Рукав 8");

    const auto full = ChannelListTexts(2, 8);
    ASSERT_EQ(full.size(), 16u);
    EXPECT_EQ(full[7], "Сторона А. Рукав 8");
    EXPECT_EQ(full[8], "Сторона Б. Рукав 1");
    EXPECT_EQ(full[15], "Сторона Б. Рукав 8");

    EXPECT_EQ(ChannelListTexts(2, 1),
              (std::vector<std::string>{"Сторона А. Рукав 1", "Сторона Б. Рукав 1"}));
    EXPECT_EQ(ChannelListTexts(5, 8).size(), 16u) << "at most two sides";
    EXPECT_EQ(ChannelListTexts(2, 12).size(), 16u) << "at most 16 channels";
    EXPECT_TRUE(ChannelListTexts(0, 8).empty());
    EXPECT_TRUE(ChannelListTexts(2, 0).empty());
}

TEST(MemoryMap, ChannelNumbering) {
    EXPECT_EQ(ChannelSide(9, 8), 1);
    EXPECT_EQ(ChannelHose(9, 8), 2);
    EXPECT_EQ(ChannelSide(1, 1), 1);
    EXPECT_EQ(ChannelHose(1, 1), 1);
    EXPECT_EQ(ChannelSide(3, 0), 0); // no topology read yet: no division by zero
    EXPECT_EQ(ChannelAddress(addr::kChannelRegsBase, 15), 0x2F00);
}

TEST(MemoryMap, OneRowPerRecordKindAndSizesRoundTrip) {
    std::set<RecordKind> kinds;
    for (const auto& e : MemoryMap()) EXPECT_TRUE(kinds.insert(e.kind).second) << e.name;
    EXPECT_EQ(MemoryMapFind(RecordKind::ChannelRegs).address, 0x2000);
    EXPECT_EQ(MemoryMapFind(RecordKind::Restart).address, 0x88FFFF);
    EXPECT_EQ(MemoryMapFind(RecordKind::StatusIR).space, kSpaceIR);

    const uint8_t bytes[7] = {58, 8, 2, 19, 16, 69, 12};
    SizesRecord s;
    s.SetFromBytes(bytes);
    EXPECT_EQ(s.nozzlesPerSide, 8);
    EXPECT_EQ(s[4], 16);
    EXPECT_EQ(s[7], 0);
    EXPECT_EQ(s.ToBytes(), (std::array<uint8_t, 7>{58, 8, 2, 19, 16, 69, 12}));
}

} // namespace
} // namespace velmar
