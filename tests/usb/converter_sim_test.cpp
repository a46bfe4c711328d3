// End to end: the protocol through a fake converter's channel to the controller simulator,
// exactly as through a serial port.
#include "data/memory_map.h"
#include "protocol/ctrlr_protocol.h"
#include "sim/core/bus_simulator.h"
#include "usb_test_support.h"

#include <array>
#include <cstring>

namespace velmar::test {
namespace {

class ConverterSimTest : public UsbTest {
  protected:
    void SetUp() override {
        UsbTest::SetUp();
        ASSERT_EQ(sim_.Start(), 0);
        dev_ = fakeusb_add_converter(1234, 2, "Tarvi4");
        ASSERT_EQ(fakeusb_connect_channel(dev_, 1, sim_.SlavePath().c_str()), 0);
        ASSERT_EQ(OpenPort(slot_, "U_1234_2"), 0);
        ASSERT_EQ(ConfigurePort(slot_, 4800, 8, 'N', 1), 0);
    }
    void TearDown() override {
        ClosePort(slot_);
        fakeusb_reset(); // lets go of the simulator's terminal
        sim_.Stop();
        UsbTest::TearDown();
    }
    std::vector<uint8_t> Memory(int address, int n) {
        auto lock = sim_.Lock();
        const auto& m = sim_.Find(1)->Space(0);
        return {m.begin() + address, m.begin() + address + n};
    }

    sim::BusSimulator sim_;
    int dev_ = -1;
    PortSlot slot_ = 0;
};

TEST_F(ConverterSimTest, IdentifiesReadsAndWritesThroughChannelTwo) {
    std::vector<char> text(kIdentTextSize);
    ASSERT_EQ(ReadIdentText(slot_, 1, text.data()), 1);
    std::string expected;
    {
        auto lock = sim_.Lock();
        for (const char c : sim_.Find(1)->identText) {
            expected += static_cast<char>(Cp866ToCp1251(static_cast<uint8_t>(c)));
        }
    }
    EXPECT_EQ(std::string(text.data()), expected);

    std::array<uint8_t, 7> sizes{};
    ASSERT_EQ(ReadCtrlrMem(slot_, 1, addr::kSizes, 7, sizes.data(), kSpaceER), 7);
    EXPECT_EQ(std::vector<uint8_t>(sizes.begin(), sizes.end()), Memory(addr::kSizes, 7));

    std::array<uint8_t, 69> regs{};
    const int regsAt = addr::kChannelRegsBase + 2 * 0x100;
    ASSERT_EQ(ReadCtrlrMem(slot_, 1, regsAt, 69, regs.data(), kSpaceER), 69);
    EXPECT_EQ(std::vector<uint8_t>(regs.begin(), regs.end()), Memory(regsAt, 69));

    const uint8_t bytes[5] = {0x10, 0x20, 0x30, 0x40, 0x50};
    ASSERT_EQ(WriteCtrlrMem(slot_, 1, 0x6000, 5, bytes, kSpaceER), 1);
    EXPECT_EQ(Memory(0x6000, 5), std::vector<uint8_t>(bytes, bytes + 5));
    EXPECT_EQ(fakeusb_baud(dev_, 1), 4800);
}

TEST_F(ConverterSimTest, WrongSpeedIsNotHeard) {
    ASSERT_EQ(ConfigurePort(slot_, 9600, 8, 'N', 1), 0); // the controller listens at 4800
    std::array<uint8_t, 7> sizes{};
    EXPECT_EQ(ReadCtrlrMem(slot_, 1, addr::kSizes, 7, sizes.data(), kSpaceER), -1);
    ASSERT_EQ(ConfigurePort(slot_, 4800, 8, 'N', 1), 0);
    EXPECT_EQ(ReadCtrlrMem(slot_, 1, addr::kSizes, 7, sizes.data(), kSpaceER), 7);
}

} // namespace
} // namespace velmar::test
