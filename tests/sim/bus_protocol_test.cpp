// The controller's side of the protocol, byte for byte over the pseudo-terminal.
#include "sim/core/controller_layout.h"
#include "sim/sim_fixture.h"

#include <algorithm>

namespace velmar::sim::test {
namespace {

namespace L = layout;

TEST_F(BusTest, PollAnswersAtSideASideBAndReserve) {
    StartBus();
    EXPECT_EQ(Poll(*line, 1), (Bytes{1, 0x21, 0x00, Checksum({1, 0x21, 0x00})}));
    EXPECT_EQ(Poll(*line, 2), (Bytes{2, 0x21, 0x00, Checksum({2, 0x21, 0x00})}));
    // At the reserve address the controller gives its side-A number.
    EXPECT_EQ(Poll(*line, 240), (Bytes{1, 0x21, 0x00, Checksum({1, 0x21, 0x00})}));
    EXPECT_TRUE(Poll(*line, 3).empty());
    EXPECT_EQ(bus->FramesSeen(), 4u);
}

TEST_F(BusTest, OneSidedControllerHasNoSideB) {
    Options o;
    o.addresses = {5};
    o.sides = 1;
    StartBus(o);
    EXPECT_EQ(Poll(*line, 5).size(), 4u);
    EXPECT_TRUE(Poll(*line, 6).empty());
    EXPECT_EQ(At(5)->SideBAddress(), -1);
}

TEST_F(BusTest, SeveralControllersShareTheLine) {
    Options o;
    o.addresses = {1, 2, 17};
    StartBus(o);
    // Controller 1's side B would be 2, which controller 2 owns: it moves to the next free number.
    EXPECT_EQ(At(1)->SideBAddress(), 3);
    EXPECT_EQ(At(2)->SideBAddress(), 4);
    EXPECT_EQ(At(17)->SideBAddress(), 18);
    for (int a : {1, 2, 3, 4, 17, 18}) {
        const Bytes r = Poll(*line, static_cast<uint8_t>(a));
        ASSERT_EQ(r.size(), 4u) << a;
        EXPECT_EQ(r[0], a);
    }
    EXPECT_TRUE(Poll(*line, 5).empty());
    // Reads reach the right controller.
    At(17)->Space(0)[0x5000] = 0xAB;
    EXPECT_EQ(ReadMem(*line, 17, 0x5000, 1)[0], 0xAB);
    EXPECT_NE(ReadMem(*line, 1, 0x5000, 1)[0], 0xAB);

    // Everybody answers the reserve address: the replies collide into garbage.
    const Bytes r = Poll(*line, 240);
    ASSERT_EQ(r.size(), 4u);
    EXPECT_NE(Checksum({r[0], r[1], r[2]}), r[3]);
    EXPECT_EQ(bus->Collisions(), 1u);
}

TEST_F(BusTest, ReadsMemoryOfEverySpace) {
    StartBus();
    // The self-sized parameter read: its length byte, then the block.
    Bytes r = ReadMem(*line, 1, L::kParamsLength, 1);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0], 58);
    r = ReadMem(*line, 1, L::kParams, 40);
    ASSERT_EQ(r.size(), 41u);
    EXPECT_EQ(Bytes(r.begin(), r.end() - 1), Peek(1, L::kParams, 40));
    EXPECT_EQ(r.back(), Checksum(Bytes(r.begin(), r.end() - 1)));

    r = ReadMem(*line, 1, L::kSizesRecord, 7);
    EXPECT_EQ(r, (Bytes{58, 2, 2, 19, 0, 69, 12, Checksum({58, 2, 2, 19, 0, 69, 12})}));

    r = ReadMem(*line, 1, L::kStatusReg, 1, 2);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0] & L::kPulseSimulatorBit, 0);
    r = ReadMem(*line, 1, 0x100, 16, 4);
    EXPECT_EQ(Bytes(r.begin(), r.end() - 1), Peek(1, 0x100, 16, 4));

    // Past the end of the space there is nothing but zeros.
    r = ReadMem(*line, 1, 0xFFFE, 4);
    ASSERT_EQ(r.size(), 5u);
    EXPECT_EQ(r[2], 0);
    EXPECT_EQ(r[3], 0);
}

TEST_F(BusTest, SilentOnUnknownSpacesAndCounts) {
    StartBus();
    EXPECT_TRUE(ReadMem(*line, 1, 0x3100, 1, 1).empty());
    EXPECT_TRUE(ReadMem(*line, 1, 0x3100, 0).empty());
    EXPECT_TRUE(ReadMem(*line, 1, 0x3100, 65).empty());
    EXPECT_EQ(WriteMem(*line, 1, 0x5000, {1, 2}, 3), -1);
    EXPECT_EQ(ReadMem(*line, 1, 0x3100, 64).size(), 65u);
}

TEST_F(BusTest, WritesOneTwoAndManyBytes) {
    StartBus();
    // One byte: header only, two-byte status.
    line->Send(Join(Command(1, 0x40), WriteFrames(0x5000, {0x5A})));
    EXPECT_EQ(line->Read(2), (Bytes{0x00, 0x00}));
    EXPECT_EQ(Peek(1, 0x5000, 1), Bytes{0x5A});
    // Two bytes: header with the first, data frame with the second and its checksum.
    const Bytes two = Join(Command(1, 0x40), WriteFrames(0x5002, {0x11, 0x22}));
    ASSERT_EQ(two.size(), 4u + 8u + 2u);
    line->Send(two);
    EXPECT_EQ(line->Read(1), Bytes{0x00});
    EXPECT_EQ(Peek(1, 0x5002, 2), (Bytes{0x11, 0x22}));
    // 64 bytes, at side B's address.
    Bytes many(64);
    for (size_t i = 0; i < many.size(); ++i) many[i] = static_cast<uint8_t>(i * 3);
    EXPECT_EQ(WriteMem(*line, 2, 0x5100, many), 0);
    EXPECT_EQ(Peek(1, 0x5100, 64), many);
    // Beyond the end of the space: refused.
    EXPECT_GT(WriteMem(*line, 1, 0xFFFF, {1, 2}), 0);
}

TEST_F(BusTest, LiveRegisters) {
    StartBus();
    const uint8_t status = Peek(1, L::kStatusReg, 1, 2)[0];
    // The pulse simulator takes bit 6 only.
    EXPECT_EQ(WriteMem(*line, 1, L::kStatusReg, {0xFF}, 2), 0);
    EXPECT_EQ(Peek(1, L::kStatusReg, 1, 2)[0], status | L::kPulseSimulatorBit);
    EXPECT_EQ(WriteMem(*line, 1, L::kStatusReg, {0x00}, 2), 0);
    EXPECT_EQ(Peek(1, L::kStatusReg, 1, 2)[0], status & ~L::kPulseSimulatorBit);
    // The temperature reading is not overwritten by the display mode or the relay test.
    const Bytes temp = ReadMem(*line, 1, L::kTempAdcReg, 3, 2);
    ASSERT_EQ(temp.size(), 4u);
    EXPECT_EQ(temp[2], 21);
    EXPECT_EQ(WriteMem(*line, 1, L::kDisplayModeReg, {2}, 2), 0);
    EXPECT_EQ(WriteMem(*line, 1, L::kRelayTestReg, {1}, 2), 0);
    EXPECT_EQ(At(1)->displayMode, 2);
    EXPECT_EQ(At(1)->relayTests, 1);
    EXPECT_EQ(ReadMem(*line, 1, L::kTempAdcReg, 3, 2), temp);
    // Run-time registers are plain memory.
    EXPECT_EQ(WriteMem(*line, 1, L::kRunTimeRegs, {0xA0, 7}, 2), 0);
    EXPECT_EQ(ReadMem(*line, 1, L::kRunTimeRegs, 2, 2)[1], 7);
}

TEST_F(BusTest, IdentificationText) {
    StartBus();
    line->Send(Join(Command(1, 0x00), {0x31}));
    const Bytes text = line->ReadQuiet();
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), 0x00);
    const std::string s(text.begin(), text.end() - 1);
    EXPECT_EQ(s, At(1)->identText);
    // "ТРК" in code page 866, CR LF passed through.
    EXPECT_EQ(s.substr(0, 3), "\x92\x90\x8A");
    EXPECT_NE(s.find("Velmar-K2"), std::string::npos);
    EXPECT_NE(s.find("\r\n"), std::string::npos);
    EXPECT_NE(s.find('\xFC'), std::string::npos); // the numero sign
    // Without the 0x31 after the frame there is no text.
    line->Send(Command(1, 0x00));
    EXPECT_TRUE(line->ReadQuiet().empty());
}

TEST_F(BusTest, RestartFollowsAddressAndSpeed) {
    StartBus();
    // New parameters: side A 7, side B 8, 9600 baud, written the way the tool writes them.
    Bytes params = Peek(1, L::kParams, 58);
    params[L::kSpeedTrk] = 2;
    params[L::kAdrTrk1] = 7;
    params[L::kAdrTrk2] = 8;
    params[L::kKsm] = Checksum(Bytes(params.begin(), params.begin() + 57));
    EXPECT_EQ(WriteMem(*line, 1, L::kParams, Bytes(params.begin(), params.begin() + 40)), 0);
    EXPECT_EQ(WriteMem(*line, 1, L::kParams + 40, Bytes(params.begin() + 40, params.end())), 0);
    EXPECT_EQ(Poll(*line, 1).size(), 4u); // nothing changes before the restart
    EXPECT_EQ(At(1)->restarts, 0);

    EXPECT_EQ(WriteMem(*line, 1, L::kRestartTarget, {0x01}), 0);
    EXPECT_TRUE(Poll(*line, 1).empty());
    EXPECT_TRUE(Poll(*line, 7).empty()); // still 4800 here
    line->Configure(B9600);
    EXPECT_EQ(Poll(*line, 7).size(), 4u);
    EXPECT_EQ(Poll(*line, 8).size(), 4u);
    EXPECT_TRUE(Poll(*line, 1).empty());
    EXPECT_EQ(Poll(*line, 240)[0], 7);
    EXPECT_EQ(At(7)->restarts, 1);
    EXPECT_EQ(At(7)->LineBaud(), 9600u);
}

TEST_F(BusTest, OtherRestartValuesAreRefused) {
    StartBus();
    EXPECT_GT(WriteMem(*line, 1, L::kRestartTarget, {0x02}), 0);
    EXPECT_EQ(At(1)->restarts, 0);
}

TEST_F(BusTest, BytesAtAnotherSpeedAreNotHeard) {
    StartBus();
    line->Configure(B9600);
    EXPECT_TRUE(Poll(*line, 1).empty());
    EXPECT_EQ(bus->BytesIgnoredForBaud(), 4u);
    line->Configure(B4800);
    EXPECT_EQ(Poll(*line, 1).size(), 4u);
    EXPECT_EQ(bus->BytesIgnoredForBaud(), 4u);
}

TEST_F(BusTest, SpeedCheckCanBeSwitchedOff) {
    Options o;
    o.checkBaud = false;
    StartBus(o);
    line->Configure(B115200);
    EXPECT_EQ(Poll(*line, 1).size(), 4u);
    EXPECT_EQ(bus->BytesIgnoredForBaud(), 0u);
}

TEST_F(BusTest, GarbageBeforeAFrameIsSkipped) {
    StartBus();
    line->Send({0x00, 0x60, 0x60, 0xFF, 0x13});
    EXPECT_EQ(Poll(*line, 1).size(), 4u);
    Bytes bad = Command(1, 0x21);
    bad[3] ^= 0x01;
    line->Send(bad);
    EXPECT_TRUE(line->ReadQuiet().empty());
    EXPECT_EQ(Poll(*line, 1).size(), 4u);
}

} // namespace
} // namespace velmar::sim::test
