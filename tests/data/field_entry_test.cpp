// The text checks and conversions of the edit fields, and the bindings that carry the special
// rules of single fields.
#include "data/field_bindings.h"
#include "data/field_entry.h"

#include <gtest/gtest.h>

namespace velmar {
namespace {

TEST(ParseField, ResultCodes) {
    EXPECT_EQ(ParseField("", 255, 0), ParseResult::Empty);
    EXPECT_EQ(ParseField("12a", 255, 0), ParseResult::BadChar);
    EXPECT_EQ(ParseField("-1", 255, 0), ParseResult::BadChar);
    EXPECT_EQ(ParseField(" 1", 255, 0), ParseResult::BadChar);
    EXPECT_EQ(ParseField("1G", 0xFFFF, kParseHex), ParseResult::BadChar);
    EXPECT_EQ(ParseField("300", 255, 0), ParseResult::TooLarge);
    EXPECT_EQ(ParseField("300", 255, kParseNoLimit), ParseResult::Ok);
    EXPECT_EQ(ParseField("255", 255, 0), ParseResult::Ok);
    EXPECT_EQ(ParseField("ffFF", 0xFFFF, kParseHex), ParseResult::Ok);
    EXPECT_EQ(ParseField("10000", 0xFFFF, kParseHex), ParseResult::TooLarge);
    // A decimal that cannot be held in 32 bits is refused even without a limit.
    EXPECT_EQ(ParseField("4294967295", 0, kParseNoLimit), ParseResult::Ok);
    EXPECT_EQ(ParseField("4294967296", 0, kParseNoLimit), ParseResult::TooLarge);
    EXPECT_EQ(ParseField("99999999999999999999999", 0xFFFFFFFF, 0), ParseResult::TooLarge);
}

TEST(HexText, HexToIntAndIntToHexPairs) {
    EXPECT_EQ(HexToInt("abc"), 0xABCu);
    EXPECT_EQ(HexToInt("0"), 0u);
    EXPECT_EQ(HexToInt(""), 0u);
    EXPECT_EQ(HexToInt("1A3"), 0x1A3u);
    EXPECT_EQ(HexToInt("DEADBEEF"), 0xDEADBEEFu);
    EXPECT_EQ(HexToInt("123456789"), 0x23456789u) << "more than 8 digits keep the low 32 bits";

    EXPECT_EQ(IntToHexPairs(0), "00");
    EXPECT_EQ(IntToHexPairs(0x5), "05");
    EXPECT_EQ(IntToHexPairs(0xFF), "FF");
    EXPECT_EQ(IntToHexPairs(0x100), "0100");
    EXPECT_EQ(IntToHexPairs(0x1A3), "01A3");
    EXPECT_EQ(IntToHexPairs(0x12345), "012345");
    EXPECT_EQ(IntToHexPairs(0xFFFFFFFF), "FFFFFFFF");
    EXPECT_EQ(IntToHexPairs(0x1000000), "01000000");
    for (uint32_t v : {0u, 1u, 0xABu, 0x1234u, 0x12345u, 0x89ABCDEFu})
        EXPECT_EQ(HexToInt(IntToHexPairs(v)), v);

    EXPECT_EQ(Hex4(0), "0000");
    EXPECT_EQ(Hex4(0xFFFF), "FFFF");
    EXPECT_EQ(Hex4(0x8a), "008A");
}

TEST(Volume, EntryForms) {
    uint32_t v = 0;
    EXPECT_TRUE(ParseVolume("12", v));
    EXPECT_EQ(v, 1200u);
    EXPECT_TRUE(ParseVolume("12,5", v));
    EXPECT_EQ(v, 1250u);
    EXPECT_TRUE(ParseVolume("12.5", v));
    EXPECT_EQ(v, 1250u);
    EXPECT_TRUE(ParseVolume("12,05", v));
    EXPECT_EQ(v, 1205u);
    EXPECT_TRUE(ParseVolume("0,99", v));
    EXPECT_EQ(v, 99u);
    EXPECT_TRUE(ParseVolume("42949672,95", v));
    EXPECT_EQ(v, 0xFFFFFFFFu);

    for (const char* bad : {"", "12,", "12.", "12,345", "12,3a", "12,34a", ",5", "a", "-1", "12 ",
                            " 12", "1,2,3", "12;5", "42949672,96", "99999999999"}) {
        v = 777;
        EXPECT_FALSE(ParseVolume(bad, v)) << '"' << bad << '"';
        EXPECT_EQ(v, 777u) << "nothing stored for " << bad;
    }
}

TEST(Volume, Display) {
    EXPECT_EQ(FormatVolume(0), "0,00");
    EXPECT_EQ(FormatVolume(5), "0,05");
    EXPECT_EQ(FormatVolume(1205), "12,05");
    EXPECT_EQ(FormatVolume(1250), "12,50");
    EXPECT_EQ(FormatVolume(0xFFFFFFFF), "42949672,95");
}

TEST(Bindings, ControllerSettingsFields) {
    CtrlrParams p;
    // SlowStart: 255 is kept as is, otherwise hundreds of millilitres.
    EXPECT_TRUE(StoreEntry(bind::eSlowStart, "255", p));
    EXPECT_EQ(p.SlowStart(), 255);
    EXPECT_EQ(FormatEntry(bind::eSlowStart, p), "255");
    EXPECT_TRUE(StoreEntry(bind::eSlowStart, "25500", p));
    EXPECT_EQ(p.SlowStart(), 255);
    EXPECT_TRUE(StoreEntry(bind::eSlowStart, "300", p));
    EXPECT_EQ(p.SlowStart(), 3);
    EXPECT_EQ(FormatEntry(bind::eSlowStart, p), "300");
    EXPECT_FALSE(StoreEntry(bind::eSlowStart, "25600", p));
    EXPECT_EQ(p.SlowStart(), 3) << "a bad text keeps the last valid value";

    EXPECT_TRUE(StoreEntry(bind::eNozzleFat, "2559", p));
    EXPECT_EQ(p.NozzleFat(), 255);
    EXPECT_FALSE(StoreEntry(bind::eNozzleWait, "100", p));
    // Imp_len has no limit of its own, but the byte's: 300 is refused, never stored as 44.
    EXPECT_TRUE(StoreEntry(bind::eImp_len, "255", p));
    EXPECT_FALSE(StoreEntry(bind::eImp_len, "300", p));
    EXPECT_EQ(p.Imp_len(), 255);

    EXPECT_TRUE(StoreEntry(bind::eBitMaskHex, "8a01", p));
    EXPECT_EQ(p.TrkModes(), 0x8A01);
    EXPECT_EQ(FormatEntry(bind::eBitMaskHex, p), "8A01");
    EXPECT_FALSE(StoreEntry(bind::eBitMaskHex, "10000", p));
}

TEST(Bindings, AdvancedSettingsRanges) {
    CtrlrParams p;
    MakeBlock m;
    auto accepts = [](const FieldBinding& b, auto& record, const char* text) {
        return StoreEntry(b, text, record);
    };
    for (const char* t : {"0", "3", "180"}) EXPECT_TRUE(accepts(bind::eMinSpTime, p, t)) << t;
    for (const char* t : {"1", "2", "181"}) EXPECT_FALSE(accepts(bind::eMinSpTime, p, t)) << t;
    for (const char* t : {"0", "3", "60"}) EXPECT_TRUE(accepts(bind::ePcTimeout, p, t)) << t;
    for (const char* t : {"2", "61"}) EXPECT_FALSE(accepts(bind::ePcTimeout, p, t)) << t;
    EXPECT_FALSE(accepts(bind::eMinSpeed, p, "31"));
    for (const char* t : {"0", "10", "500"}) EXPECT_TRUE(accepts(bind::eMinVolNara, m, t)) << t;
    for (const char* t : {"5", "501"}) EXPECT_FALSE(accepts(bind::eMinVolNara, m, t)) << t;
    EXPECT_EQ(m.MinVolNara(), 500);
    for (const char* t : {"0", "2", "19"}) EXPECT_TRUE(accepts(bind::eShimDuration, m, t)) << t;
    for (const char* t : {"1", "20"}) EXPECT_FALSE(accepts(bind::eShimDuration, m, t)) << t;

    EXPECT_TRUE(accepts(bind::eHydroHit, p, "2555"));
    EXPECT_EQ(p.HydroHit(), 255);
    EXPECT_FALSE(accepts(bind::eHydroHit, p, "2556"));
    EXPECT_TRUE(accepts(bind::eHydroHit, p, "35"));
    EXPECT_EQ(p.HydroHit(), 3);
    EXPECT_EQ(FormatEntry(bind::eHydroHit, p), "30");

    EXPECT_TRUE(accepts(bind::eTemp_heat_low, p, "-5"));
    EXPECT_EQ(p.Bytes()[51], 0xFB);
    EXPECT_EQ(FormatEntry(bind::eTemp_heat_low, p), "-5");
    EXPECT_FALSE(accepts(bind::eTemp_heat_low, p, "0"));
    EXPECT_FALSE(accepts(bind::eTemp_heat_low, p, "3"));
    EXPECT_FALSE(accepts(bind::eTemp_heat_low, p, "-129"));
    EXPECT_TRUE(accepts(bind::eTemp_heat_high, p, "-128"));
    EXPECT_TRUE(accepts(bind::eTemp_heat_high, p, "127"));
    EXPECT_EQ(p.Temp_heat_high(), 127);
    // Out of the byte's range: refused instead of wrapped (300 would become 44).
    EXPECT_FALSE(accepts(bind::eTemp_heat_high, p, "300"));
    EXPECT_FALSE(accepts(bind::eTemp_heat_high, p, "-"));
    EXPECT_FALSE(accepts(bind::eTemp_heat_high, p, "1,5"));
    EXPECT_FALSE(accepts(bind::eUpgrCountNara, m, "1")) << "read-only";
}

TEST(Bindings, ChannelFields) {
    ChannelRegs r;
    EXPECT_TRUE(StoreEntry(bind::ePrice, "12,34", r));
    EXPECT_EQ(r.Price(), 1234);
    EXPECT_EQ(FormatEntry(bind::ePrice, r), "12,34");
    EXPECT_TRUE(StoreEntry(bind::ePrice, "655,35", r));
    // A price the 16-bit field cannot hold is refused rather than cut.
    EXPECT_FALSE(StoreEntry(bind::ePrice, "655,36", r));
    EXPECT_EQ(r.Price(), 65535);
    EXPECT_TRUE(StoreEntry(bind::eSetVol, "12.5", r));
    EXPECT_EQ(r.SetVol(), 1250u);
    EXPECT_TRUE(StoreEntry(bind::eLoadVolLo, "12345", r));
    EXPECT_EQ(r.LoadVolLo(), 0x12345u);
    EXPECT_EQ(FormatEntry(bind::eLoadVolLo, r), "012345");
    EXPECT_TRUE(StoreEntry(bind::eVolStart, "65535", r));
    EXPECT_FALSE(StoreEntry(bind::eVolStart, "65536", r));
    EXPECT_FALSE(StoreEntry(bind::eFCMil, "256", r));
    EXPECT_FALSE(StoreEntry(bind::eLCount, "1", r)) << "read-only";

    ChannelSetts s;
    s.SetImpLit(200);
    EXPECT_EQ(FormatEntry(bind::eImpLit, s), "100");
    EXPECT_FALSE(StoreEntry(bind::eImpLit, "128", s));
    EXPECT_EQ(s.ImpLit(), 200);
    EXPECT_TRUE(StoreEntry(bind::eImpLit, "132", s));
    EXPECT_EQ(s.ImpLit(), 264);
    for (const FieldBinding* b : {&bind::eImpWHi, &bind::eImpWkHi}) {
        EXPECT_TRUE(StoreEntry(*b, "255", s));
        EXPECT_FALSE(StoreEntry(*b, "257", s));
    }
    EXPECT_EQ(s.ImpWHi(), 255);
}

TEST(Bindings, NeverWritesOutsideTheRecord) {
    uint8_t small[4] = {1, 2, 3, 4};
    EXPECT_FALSE(StoreEntry(bind::eSetSum, "1", small, sizeof small)); // bytes 8..11
    EXPECT_EQ(small[3], 4);
    EXPECT_EQ(FormatEntry(bind::eSetSum, small, sizeof small), "");
}

} // namespace
} // namespace velmar
