#include "data/setup_addresses.h"

#include <gtest/gtest.h>

namespace velmar {
namespace {

TEST(AddressList, ExactCountOfCommaSeparatedNumbers) {
    EXPECT_TRUE(ParseAddressList("1,2", 2).valid);
    EXPECT_TRUE(ParseAddressList("1, 2", 2).valid);    // blanks before a number
    EXPECT_TRUE(ParseAddressList(" +1,\t2", 2).valid); // and a sign
    EXPECT_FALSE(ParseAddressList("1,2,", 2).valid);   // something after the last number
    EXPECT_FALSE(ParseAddressList("1,2 ", 2).valid);
    EXPECT_FALSE(ParseAddressList("1 ,2", 2).valid); // the comma must follow the number
    EXPECT_FALSE(ParseAddressList("1,,2", 2).valid);
    EXPECT_FALSE(ParseAddressList("1", 2).valid);
    EXPECT_FALSE(ParseAddressList("1,2,3", 2).valid);
    EXPECT_FALSE(ParseAddressList("", 1).valid);
    EXPECT_FALSE(ParseAddressList("1;2", 2).valid);
    EXPECT_FALSE(ParseAddressList("1,2a", 2).valid);
}

TEST(AddressList, ZeroDuplicatesAndValuesWithoutAByte) {
    EXPECT_FALSE(ParseAddressList("1,1", 2).valid);
    EXPECT_FALSE(ParseAddressList("0,2", 2).valid);
    EXPECT_FALSE(ParseAddressList("256", 1).valid);
    EXPECT_FALSE(ParseAddressList("-1", 1).valid);
    EXPECT_FALSE(ParseAddressList("99999999999999999999", 1).valid);
    EXPECT_TRUE(ParseAddressList("255", 1).valid);

    const AddressListParse r = ParseAddressList("3,1,2,8", 4);
    EXPECT_TRUE(r.valid);
    EXPECT_EQ(r.values, (std::vector<int>{3, 1, 2, 8}));
    // The numbers read before the text went wrong are kept.
    EXPECT_EQ(ParseAddressList("4,5,x", 3).values, (std::vector<int>{4, 5}));
}

TEST(AutoFill, SideAddresses) {
    SideAddressList list{9, 9};
    AutoFillUtrkAdr(1, list);
    EXPECT_EQ(JoinAddressList(list.data(), 1), "1");
    AutoFillUtrkAdr(2, list);
    EXPECT_EQ(JoinAddressList(list.data(), 2), "1,2");
}

TEST(AutoFill, SideBFromFive) {
    ChannelAddressList list{};
    EXPECT_EQ(AutoFillNaraAdr(1, 3, list), 3);
    EXPECT_EQ(JoinAddressList(list.data(), 3), "1,2,3");
    EXPECT_EQ(AutoFillNaraAdr(2, 2, list), 2);
    EXPECT_EQ(JoinAddressList(list.data(), 4), "1,2,5,6");
    EXPECT_EQ(AutoFillNaraAdr(2, 4, list), 4);
    EXPECT_EQ(JoinAddressList(list.data(), 8), "1,2,3,4,5,6,7,8");
    EXPECT_EQ(AutoFillNaraAdr(1, 12, list), 12);
    EXPECT_EQ(JoinAddressList(list.data(), 12), "1,2,3,4,5,6,7,8,9,10,11,12");
}

TEST(AutoFill, MoreThanFourNozzlesNeverShareAddresses) {
    ChannelAddressList list{};
    EXPECT_EQ(AutoFillNaraAdr(2, 6, list), 6);
    const std::string text = JoinAddressList(list.data(), 12);
    EXPECT_EQ(text, "1,2,3,4,5,6,7,8,9,10,11,12");
    EXPECT_TRUE(ParseAddressList(text, 12).valid);
    // Two sides hold at most 8 nozzles each: 12 is lowered.
    EXPECT_EQ(AutoFillNaraAdr(2, 12, list), 8);
    EXPECT_TRUE(ParseAddressList(JoinAddressList(list.data(), 16), 16).valid);
}

} // namespace
} // namespace velmar
