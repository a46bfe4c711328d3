// What a freshly read record is repaired to, and which messages a screen shows for it.
#include "data/read_checks.h"

#include <gtest/gtest.h>

namespace velmar {
namespace {

// A sound block: two sides of four hoses, valid indices and checksum.
CtrlrParams SoundBlock() {
    CtrlrParams p;
    p.SetSpeedTrk(3);
    p.SetSpeed2CnlTrk(2);
    p.SetAdrTrk_1(1);
    p.SetAdrTrk_2(2);
    p.SetCountNozTrk(4);
    p.SetCountSideTrk(2);
    p.SetMeterType(1);
    p.SetPhaseMet(1);
    p.SetTypeTbl(12);
    p.SetTrkModes(0x0006);
    p.UpdateKsm();
    return p;
}

TEST(ParamsReadCheck, SoundBlockNeedsNothing) {
    CtrlrParams p = SoundBlock();
    const CtrlrParams read = p;
    const auto c = CheckParamsOnRead(p);
    EXPECT_TRUE(c.Messages().empty());
    EXPECT_FALSE(c.ksmWrong);
    EXPECT_EQ(c.countNozItem, 3);
    EXPECT_TRUE(p.SameBlock(read));
}

TEST(ParamsReadCheck, BadIndicesGetDefaultsWithTheirMessages) {
    CtrlrParams p = SoundBlock();
    p.SetSpeedTrk(4);
    p.SetSpeed2CnlTrk(200);
    p.SetMeterType(4);
    p.SetPhaseMet(9);
    p.SetTypeTbl(13);
    p.UpdateKsm();
    const CtrlrParams shadow = p;

    const auto c = CheckParamsOnRead(p);
    ASSERT_EQ(c.repairs.size(), 5u);
    EXPECT_EQ(c.repairs[0].message, msg::kBadSpeed);
    EXPECT_EQ(c.repairs[0].oldValue, 4u);
    EXPECT_EQ(c.repairs[0].newValue, 3u);
    EXPECT_STREQ(c.repairs[1].field.name, "Speed2CnlTrk");
    EXPECT_EQ(c.repairs[1].message, msg::kBadSpeed) << "one message for each speed";
    EXPECT_EQ(c.repairs[2].message, msg::kBadMeterType);
    EXPECT_EQ(c.repairs[3].message, msg::kBadPhaseMet);
    EXPECT_EQ(c.repairs[4].message, msg::kBadTypeTbl);
    EXPECT_EQ(p.SpeedTrk(), 3);
    EXPECT_EQ(p.Speed2CnlTrk(), 3);
    EXPECT_EQ(p.MeterType(), 0);
    EXPECT_EQ(p.PhaseMet(), 1);
    EXPECT_EQ(p.TypeTbl(), 0);
    // The checksum of the bytes as read was right: no checksum message, but the working copy
    // carries a checksum that fits its repaired bytes, and differs from the shadow.
    EXPECT_FALSE(c.ksmWrong);
    EXPECT_TRUE(p.KsmValid());
    EXPECT_FALSE(p.SameBlock(shadow));
}

TEST(ParamsReadCheck, MaskFFFFIsReportedAndLeftAsRead) {
    CtrlrParams p = SoundBlock();
    p.SetTrkModes(0xFFFF);
    p.UpdateKsm();
    const CtrlrParams read = p;
    const auto c = CheckParamsOnRead(p);
    EXPECT_TRUE(c.trkModesUnreadable);
    ASSERT_EQ(c.Messages().size(), 1u);
    EXPECT_EQ(c.Messages()[0], msg::kBadTrkModes);
    EXPECT_EQ(p.TrkModes(), 0xFFFF);
    EXPECT_TRUE(p.SameBlock(read)) << "the mask is only reported";
    // An unreadable mask says nothing about the "Север" mode: the hose count stays.
    EXPECT_EQ(p.CountNozTrk(), 4);
}

TEST(ParamsReadCheck, WrongChecksumIsMendedInTheWorkingCopyOnly) {
    CtrlrParams p = SoundBlock();
    p.Bytes()[57] ^= 0x5A;
    const CtrlrParams shadow = p;
    const auto c = CheckParamsOnRead(p);
    EXPECT_TRUE(c.ksmWrong);
    ASSERT_EQ(c.Messages().size(), 1u);
    EXPECT_EQ(c.Messages()[0], "Внимание!   КСМ не верна! КСМ была пересчитана");
    EXPECT_TRUE(p.KsmValid());
    EXPECT_FALSE(shadow.KsmValid());
    EXPECT_FALSE(p.SameBlock(shadow)) << "the next write finds a change and sends the block";
}

TEST(ParamsReadCheck, SeverModeLimitsTheHoseCount) {
    CtrlrParams p = SoundBlock();
    p.SetTrkModes(0x8000);
    p.SetCountNozTrk(3);
    p.SetCountSideTrk(1);
    p.UpdateKsm();
    auto c = CheckParamsOnRead(p);
    EXPECT_EQ(p.CountNozTrk(), 1);
    EXPECT_EQ(c.countNozItem, 0);
    ASSERT_EQ(c.repairs.size(), 1u);
    EXPECT_TRUE(c.repairs[0].message.empty()) << "a silent repair";
    EXPECT_EQ(c.repairs[0].oldValue, 3u);
    EXPECT_TRUE(c.Messages().empty());

    // Two hoses: kept with one side, cut to one with two sides.
    p.SetCountNozTrk(2);
    p.UpdateKsm();
    c = CheckParamsOnRead(p);
    EXPECT_EQ(p.CountNozTrk(), 2);
    p.SetCountSideTrk(2);
    p.UpdateKsm();
    c = CheckParamsOnRead(p);
    EXPECT_EQ(p.CountNozTrk(), 1);
}

TEST(ParamsReadCheck, HoseCountOutOfRangeSelectsTheFirstItemAndKeepsTheByte) {
    CtrlrParams p = SoundBlock();
    p.SetCountNozTrk(0);
    p.UpdateKsm();
    auto c = CheckParamsOnRead(p);
    EXPECT_EQ(c.countNozItem, 0);
    EXPECT_EQ(p.CountNozTrk(), 0);
    EXPECT_EQ(CountNozItem(16), 0);
    EXPECT_EQ(CountNozItem(15), 14);
}

TEST(ParamsReadCheck, OtherBlockLengths) {
    // A longer block: warned about, checked, and its extra bytes kept.
    CtrlrParams p = SoundBlock();
    p.SetLength(60);
    p.Bytes()[58] = 0xAB;
    p.UpdateKsm();
    EXPECT_EQ(p.Ksm(), p.Bytes()[59]);
    auto c = CheckParamsOnRead(p);
    EXPECT_TRUE(c.sizeMismatch);
    EXPECT_FALSE(c.ksmWrong);
    EXPECT_EQ(c.Messages().front(), msg::kParamsSizeMismatch);
    EXPECT_EQ(p.Bytes()[58], 0xAB);

    // A block too short to reach the display type leaves the bytes beyond it alone.
    uint8_t shortBlock[20] = {7, 7};
    CtrlrParams q(shortBlock, 20);
    q.Bytes()[34] = 200;
    c = CheckParamsOnRead(q);
    EXPECT_EQ(q.SpeedTrk(), 3);
    EXPECT_EQ(q.Bytes()[34], 200);
}

TEST(ChannelReadCheck, StatusFFFFAndBadPhase) {
    ChannelRegs r;
    r.SetBitStat(0xFFFF);
    auto rr = CheckRegsOnRead(r);
    ASSERT_EQ(rr.size(), 1u);
    EXPECT_EQ(rr[0].message, "Oшибка считывания битового статуса канала!");
    EXPECT_EQ(r.BitStat(), 0);
    r.SetBitStat(0xFFFE);
    EXPECT_TRUE(CheckRegsOnRead(r).empty());

    ChannelSetts s;
    s.SetMeterPhase(5);
    auto rs = CheckSettsOnRead(s);
    ASSERT_EQ(rs.size(), 1u);
    EXPECT_EQ(rs[0].message, msg::kBadChannelPhase);
    EXPECT_EQ(s.MeterPhase(), 0);
    s.SetMeterPhase(2);
    EXPECT_TRUE(CheckSettsOnRead(s).empty());
}

TEST(Records, FieldsAreLittleEndianAndUnknownBytesSurvive) {
    std::array<uint8_t, 69> raw{};
    for (size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<uint8_t>(i * 7 + 1);
    ChannelRegs r(raw);
    EXPECT_EQ(r.Price(), raw[32] | raw[33] << 8);
    EXPECT_EQ(r.SetVol(), uint32_t{raw[4]} | raw[5] << 8 | raw[6] << 16 | uint32_t{raw[7]} << 24);
    r.SetPrice(0x1234);
    r.SetFCount(0xA1B2C3D4);
    EXPECT_EQ(r.Bytes()[32], 0x34);
    EXPECT_EQ(r.Bytes()[49], 0xA1);
    for (size_t i : {0u, 34u, 35u, 67u, 68u}) EXPECT_EQ(r.Bytes()[i], raw[i]) << i;

    ChannelSetts s;
    s.SetW(0x12'3456'789Aull);
    EXPECT_EQ(s.ImpWHi(), 0x12);
    EXPECT_EQ(s.ImpWLo(), 0x3456789Au);
    EXPECT_EQ(s.W(), 0x123456789Aull);

    MakeBlock m;
    m.SetBmuPUser(3, 0x01020304);
    EXPECT_EQ(m.Bytes()[37], 0x04);
    EXPECT_EQ(m.Bytes()[40], 0x01);

    SideState side;
    side.SetCountTranz(10000);
    EXPECT_EQ(side.Bytes()[6], 0x10);
    EXPECT_EQ(side.Bytes()[7], 0x27);

    TempTable t;
    t.SetEntry(38, 0x3C0);
    EXPECT_EQ(t.Bytes()[76], 0xC0);
    EXPECT_EQ(temp::EntryDegrees(38), 102);
}

} // namespace
} // namespace velmar
