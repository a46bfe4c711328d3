#include "data/topology.h"

#include <gtest/gtest.h>

namespace velmar {
namespace {

using Cells = TopologyCells;
using Texts = TopologyTexts;

CtrlrParams Block(int sides, int nozzles) {
    CtrlrParams p;
    p.SetCountSideTrk(static_cast<uint8_t>(sides));
    p.SetCountNozTrk(static_cast<uint8_t>(nozzles));
    return p;
}

TEST(NaraNumbering, FillsZerosFromTheCellBefore) {
    // No addresses at all: side A 1..n, side B n+1..2n.
    SideCells c = NaraAutoNumber(Block(2, 3), 3);
    EXPECT_EQ(c.sideA, (Cells{1, 2, 3}));
    EXPECT_EQ(c.sideB, (Cells{4, 5, 6}));

    // Stored addresses stay; the zeros after them continue from them.
    CtrlrParams p = Block(2, 3);
    p.SetAdrNaraTrk(0, 10);
    p.SetAdrNaraTrk(2, 20);
    p.SetAdrNaraTrk(4, 40); // side B's second cell
    c = NaraAutoNumber(p, 3);
    EXPECT_EQ(c.sideA, (Cells{10, 11, 20}));
    EXPECT_EQ(c.sideB, (Cells{21, 40, 41}));

    // A 255 followed by zeros numbers past a byte; the Nara check then refuses those cells.
    CtrlrParams q = Block(1, 2);
    q.SetAdrNaraTrk(0, 255);
    c = NaraAutoNumber(q, 2);
    EXPECT_EQ(c.sideA, (Cells{255, 256}));
    EXPECT_EQ(CheckNaraGrid({"255", "256"}, {}).badCell, 1);
}

TEST(NaraRules, ZeroRepeatsOtherValuesDoNot) {
    EXPECT_TRUE(CheckNaraGrid({"5", "0", "0"}, {}).ok());
    EXPECT_EQ(CheckNaraGrid({"5", "5"}, {}).badCell, 1);
    EXPECT_EQ(CheckNaraGrid({"1", "5"}, {"5", "6"}).badCell, 1);
    EXPECT_TRUE(CheckNaraGrid({"0", "1"}, {"0", "2"}).ok());
    // Text checks: empty, letters, 257, and 256 which has no byte value.
    EXPECT_EQ(CheckNaraGrid({"1", ""}, {}).badCell, 1);
    EXPECT_EQ(CheckNaraGrid({"1a"}, {}).badCell, 0);
    EXPECT_EQ(CheckNaraGrid({"257"}, {}).badCell, 0);
    EXPECT_EQ(CheckNaraGrid({"256"}, {}).badCell, 0);
    EXPECT_EQ(CheckNaraGrid({"-1"}, {}).badCell, 0);
    EXPECT_EQ(CheckNaraGrid({"007", "8"}, {}).values, (Cells{7, 8}));
}

TEST(MapRules, UnusedRepeatsOtherValuesDoNot) {
    EXPECT_TRUE(CheckMapGrid({"255", "255"}, {"255"}).ok());
    EXPECT_EQ(CheckMapGrid({"3", "3"}, {}).badCell, 1);
    EXPECT_EQ(CheckMapGrid({"0", "1"}, {"1"}).badCell, 1);
    EXPECT_EQ(CheckMapGrid({"0", "0"}, {}).badCell, 1); // 0 is a channel here
    EXPECT_EQ(CheckMapGrid({"257"}, {}).badCell, 0);
}

TEST(SideAddress, EqualTextMarksBothNotEqualValue) {
    SideAddressCheck c = CheckSideAddress("7", "7");
    EXPECT_TRUE(c.parsed);
    EXPECT_TRUE(c.equalText);
    EXPECT_EQ(c.value, 7);
    c = CheckSideAddress("7", "07");
    EXPECT_TRUE(c.parsed);
    EXPECT_FALSE(c.equalText);
    EXPECT_FALSE(CheckSideAddress("", "1").parsed);
    EXPECT_FALSE(CheckSideAddress("256", "1").parsed);
}

TEST(Packing, OneSideTwoNozzlesUsesBytes35And36) {
    CtrlrParams p = Block(1, 2);
    for (int i = 0; i < 16; ++i) p.SetAdrNaraTrk(i, 99);
    PackTopology(p, {{3, 4}, {7, 8}}, {{1, 0}, {5, 6}});
    EXPECT_EQ(p.Bytes()[35], 1);
    EXPECT_EQ(p.Bytes()[36], 0);
    for (int b = 37; b <= 50; ++b) EXPECT_EQ(p.Bytes()[b], 255) << b;
    // Nara: side A at 6, 7, side B at 8, 9 (the hidden grid), the rest 0.
    EXPECT_EQ(p.Bytes()[6], 3);
    EXPECT_EQ(p.Bytes()[7], 4);
    EXPECT_EQ(p.Bytes()[8], 7);
    EXPECT_EQ(p.Bytes()[9], 8);
    for (int b = 10; b <= 21; ++b) EXPECT_EQ(p.Bytes()[b], 0) << b;
    EXPECT_EQ(MapFromBlock(p, 2, 1).sideA, (Cells{1, 0}));
}

TEST(Packing, TwoSidesInterleaveTheMap) {
    CtrlrParams p = Block(2, 2);
    PackTopology(p, {{1, 2}, {3, 4}}, {{0, 1}, {2, 3}});
    const uint8_t map[] = {0, 2, 1, 3};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(p.Bytes()[static_cast<size_t>(35 + i)], map[i]);
    for (int b = 39; b <= 50; ++b) EXPECT_EQ(p.Bytes()[b], 255) << b;
    const SideCells back = MapFromBlock(p, 2, 2);
    EXPECT_EQ(back.sideA, (Cells{0, 1}));
    EXPECT_EQ(back.sideB, (Cells{2, 3}));

    // One side with three nozzles: side B's bytes are 255.
    CtrlrParams one = Block(1, 3);
    PackTopology(one, {{1, 2, 3}, {}}, {{0, 1, 2}, {9, 9, 9}});
    EXPECT_EQ(one.Bytes()[36], 255);
    EXPECT_EQ(one.Bytes()[37], 1);
}

TEST(Packing, NaraAreaByNozzleCount) {
    CtrlrParams eight = Block(2, 8);
    PackTopology(eight, {{1, 2, 3, 4, 5, 6, 7, 8}, {9, 10, 11, 12, 13, 14, 15, 16}},
                 IdentityMap(8));
    for (int k = 0; k < 16; ++k) EXPECT_EQ(eight.AdrNaraTrk(k), k + 1);
    EXPECT_EQ(eight.PhysToLogTrk(15), 15); // side B, position 7: channel 8 + 7

    CtrlrParams one = Block(2, 1);
    for (int i = 0; i < 16; ++i) one.SetAdrNaraTrk(i, 42);
    PackTopology(one, {{5}, {6}}, IdentityMap(1));
    EXPECT_EQ(one.AdrNaraTrk(0), 5);
    EXPECT_EQ(one.AdrNaraTrk(1), 6);
    for (int k = 2; k < 16; ++k) EXPECT_EQ(one.AdrNaraTrk(k), 0);
}

TEST(Packing, NeverWritesPastTheTopologyAreas) {
    // A controller may report up to 15 nozzles; the grids hold 8 and the bytes outside
    // 6..21 and 35..50 must survive.
    CtrlrParams p = Block(2, 15);
    for (int b = 22; b <= 34; ++b) p.Bytes()[static_cast<size_t>(b)] = 0xA5;
    for (int b = 51; b <= 57; ++b) p.Bytes()[static_cast<size_t>(b)] = 0x5A;
    const int n = TopologyNozzles(p);
    EXPECT_EQ(n, 8);
    PackTopology(p, NaraAutoNumber(p, n), IdentityMap(n));
    StoreNaraCells(p, 1, {1, 2, 3, 4, 5, 6, 7, 8});
    StoreMapCells(p, 1, {1, 2, 3, 4, 5, 6, 7, 8});
    for (int b = 22; b <= 34; ++b) EXPECT_EQ(p.Bytes()[static_cast<size_t>(b)], 0xA5) << b;
    for (int b = 51; b <= 57; ++b) EXPECT_EQ(p.Bytes()[static_cast<size_t>(b)], 0x5A) << b;
}

TEST(DefaultMap, RowsFromTheCounts) {
    CtrlrParams p;
    FillDefaultMap(p, 2, 4);
    const uint8_t rows[] = {0, 4, 1, 5, 2, 6, 3, 7};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(p.PhysToLogTrk(i), rows[i]);
    for (int i = 8; i < 16; ++i) EXPECT_EQ(p.PhysToLogTrk(i), 255);
    FillDefaultMap(p, 1, 2);
    EXPECT_EQ(p.PhysToLogTrk(0), 0);
    EXPECT_EQ(p.PhysToLogTrk(1), 1);
    for (int i = 2; i < 16; ++i) EXPECT_EQ(p.PhysToLogTrk(i), 255);
    FillDefaultMap(p, 1, 3);
    EXPECT_EQ(p.PhysToLogTrk(2), 1);
    EXPECT_EQ(p.PhysToLogTrk(3), 255);
}

TEST(SeverMode, AtMostTwoNozzlesInAll) {
    int sides = 2;
    int nozzles = 2;
    SeverOnSidesChange(sides, nozzles);
    EXPECT_EQ(nozzles, 1);
    sides = 2;
    nozzles = 2;
    SeverOnNozzlesChange(sides, nozzles);
    EXPECT_EQ(sides, 1);
    EXPECT_EQ(nozzles, 2);
    nozzles = 3;
    SeverOnNozzlesChange(sides, nozzles);
    EXPECT_EQ(nozzles, 1);

    CtrlrParams p = Block(1, 3);
    EXPECT_EQ(SeverNozzleListOnRead(p), 8); // mode off: untouched
    EXPECT_EQ(p.CountNozTrk(), 3);
    p.SetTrkModes(0x8000);
    EXPECT_EQ(SeverNozzleListOnRead(p), 2);
    EXPECT_EQ(p.CountNozTrk(), 1);
    CtrlrParams q = Block(2, 2);
    q.SetTrkModes(0x8000);
    SeverNozzleListOnRead(q);
    EXPECT_EQ(q.CountNozTrk(), 1);
    CtrlrParams r = Block(1, 2);
    r.SetTrkModes(0x8000);
    SeverNozzleListOnRead(r);
    EXPECT_EQ(r.CountNozTrk(), 2);
}

} // namespace
} // namespace velmar
