// Port discovery: system ports first, then the converter family; names, records, order, limit.
#include "usb_test_support.h"

#include <cstring>

namespace velmar::test {
namespace {

std::vector<std::string> MixedSystemPorts() {
    return {"ttyS10", "ttyS2", "COM10", "ttyUSB0", "COM2", "COM1", "a-name-longer-than-19"};
}

std::vector<std::string> SixteenPorts() {
    std::vector<std::string> names;
    for (int i = 0; i < 16; ++i) names.push_back("ttyS" + std::to_string(i));
    return names;
}

std::vector<std::string> FifteenPorts() {
    std::vector<std::string> names = SixteenPorts();
    names.pop_back();
    return names;
}

std::vector<std::string> Names() {
    std::vector<std::string> names;
    const PortList& list = GetPortList();
    for (int i = 0; i < list.count; ++i) names.emplace_back(list.entries[i].name);
    return names;
}

const PortListEntry* Entry(const char* name) {
    const PortList& list = GetPortList();
    for (int i = 0; i < list.count; ++i) {
        if (std::strcmp(list.entries[i].name, name) == 0) return &list.entries[i];
    }
    return nullptr;
}

using DiscoveryTest = UsbTest;

TEST_F(DiscoveryTest, SystemPortsAndConvertersNamedAndSorted) {
    fakeusb_add_converter(1234, 2, "Tarvi4");
    fakeusb_add_converter(77, 1, "Murik");
    fakeusb_add_converter(5, 3, "Something else");
    EXPECT_EQ(DiscoverPorts(MixedSystemPorts), 1);
    EXPECT_EQ(Names(),
              (std::vector<std::string>{"COM1", "COM2", "COM10", "ttyS2", "ttyS10", "ttyUSB0",
                                        "U_5_1", "U_5_2", "U_77", "U_1234_1", "U_1234_2"}));
    const PortListEntry* e = Entry("U_1234_2");
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->record.kind, kDeviceTarvi4);
    EXPECT_EQ(e->record.channels, 2);
    EXPECT_EQ(e->record.serial, 1234u);
    EXPECT_EQ(Entry("U_1234_1")->record.serial, 1234u);
    EXPECT_EQ(Entry("U_77")->record.kind, kDeviceMurik);
    EXPECT_EQ(Entry("U_5_1")->record.kind, kDeviceOther);
    EXPECT_EQ(Entry("COM2")->record.kind, kDeviceSystemPort);
    EXPECT_EQ(Entry("COM2")->record.serial, 0u);
    EXPECT_EQ(fakeusb_open_handles(), 0); // every examined device closed again
}

TEST_F(DiscoveryTest, ChannelLessDeviceIsUkeyOnlyBeforeATarviOrOblen) {
    fakeusb_add_converter(9, 0, "Zelta3"); // found first: listed
    fakeusb_add_converter(10, 1, "Oblen220");
    DiscoverPorts(NoSystemPorts);
    EXPECT_EQ(Names(), (std::vector<std::string>{"UKEY", "U_10"}));
    EXPECT_EQ(Entry("UKEY")->record.kind, kDeviceZelta3);

    fakeusb_reset();
    fakeusb_add_converter(10, 1, "Oblen220");
    fakeusb_add_converter(9, 0, "Zelta3"); // after the converter: no entry
    DiscoverPorts(NoSystemPorts);
    EXPECT_EQ(Names(), (std::vector<std::string>{"U_10"}));

    fakeusb_reset();
    fakeusb_add_converter(11, 1, "Murik"); // a Murik does not hide it
    fakeusb_add_converter(9, 0, "Zelta3");
    DiscoverPorts(NoSystemPorts);
    EXPECT_EQ(Names(), (std::vector<std::string>{"UKEY", "U_11"}));
}

TEST_F(DiscoveryTest, SixteenSystemPortsMeanNoUsbDeviceIsExamined) {
    fakeusb_add_converter(1234, 2, "Tarvi4");
    const int scansBefore = fakeusb_scans();
    fakeusb_clear_requests();
    DiscoverPorts(SixteenPorts);
    EXPECT_EQ(GetPortList().count, 16);
    EXPECT_EQ(Names().front(), "ttyS0");
    EXPECT_EQ(Names().back(), "ttyS15");
    EXPECT_EQ(fakeusb_scans(), scansBefore);
    EXPECT_TRUE(Requests().empty());

    // With one place left, a two-channel converter adds its first channel only.
    DiscoverPorts(FifteenPorts);
    EXPECT_EQ(GetPortList().count, 16);
    EXPECT_EQ(Names().back(), "U_1234_1");
    EXPECT_EQ(Entry("U_1234_2"), nullptr);
}

TEST_F(DiscoveryTest, ForeignAndSilentDevicesAreLeftOut) {
    FakeUsbDeviceConfig config = fakeusb_default_config(1, 1, "Tarvi4");
    config.manufacturer = "Someone Else";
    fakeusb_add_device(&config);
    config = fakeusb_default_config(2, 1, "Tarvi4");
    config.vendorId = 0x1234;
    fakeusb_add_device(&config);
    config = fakeusb_default_config(3, 1, "Tarvi4");
    config.opens = 0;
    fakeusb_add_device(&config);
    config = fakeusb_default_config(4, 1, "Tarvi4");
    config.answersChannelCount = 0;
    fakeusb_add_device(&config);
    config = fakeusb_default_config(5, 2, "Tarvi4");
    config.identifyBytes = 0; // no serial: listed with the all-ones number
    config.simpleStrings = 0; // strings only through the descriptor request
    fakeusb_add_device(&config);
    DiscoverPorts(NoSystemPorts);
    EXPECT_EQ(Names(), (std::vector<std::string>{"U_4294967295_1", "U_4294967295_2"}));
    EXPECT_EQ(Entry("U_4294967295_1")->record.serial, 0xFFFFFFFFu);
    EXPECT_EQ(fakeusb_open_handles(), 0);
}

TEST_F(DiscoveryTest, ConverterPluggedInLaterIsFound) {
    DiscoverPorts(NoSystemPorts);
    EXPECT_EQ(GetPortList().count, 0);
    fakeusb_add_converter(42, 1, "Tarvi4");
    DiscoverPorts(NoSystemPorts);
    EXPECT_EQ(Names(), (std::vector<std::string>{"U_42"}));
}

TEST_F(DiscoveryTest, RunsBesideAnOpenConverterWithoutDisturbingIt) {
    const int dev = fakeusb_add_converter(1234, 2, "Tarvi4");
    fakeusb_set_loopback(dev, 0, 1);
    PortSlot slot = 0;
    ASSERT_EQ(OpenPort(slot, "U_1234_1"), 0);
    for (int round = 0; round < 10; ++round) {
        std::vector<uint8_t> frame(30);
        for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(round * 7 + i);
        WritePort(slot, frame.data(), frame.size());
        DiscoverPorts(NoSystemPorts); // pauses the pump while it talks to the devices
        EXPECT_EQ(Names(), (std::vector<std::string>{"U_1234_1", "U_1234_2"}));
        ASSERT_TRUE(AwaitAvailable(slot, 30));
        std::vector<uint8_t> echo(30);
        ASSERT_EQ(ReadPort(slot, echo.data(), 30), 1);
        EXPECT_EQ(echo, frame);
    }
    EXPECT_EQ(fakeusb_open_handles(), 1);
}

TEST(PortNameOrder, NumbersWithinTheSamePrefix) {
    EXPECT_TRUE(PortNameLess("COM2", "COM10"));
    EXPECT_FALSE(PortNameLess("COM10", "COM2"));
    EXPECT_TRUE(PortNameLess("ttyS2", "ttyS10"));
    EXPECT_TRUE(PortNameLess("COM9", "UKEY"));
    EXPECT_TRUE(PortNameLess("UKEY", "U_1"));
    EXPECT_TRUE(PortNameLess("U_999", "U_1234_1"));
    EXPECT_TRUE(PortNameLess("U_1234_1", "U_1234_2"));
    EXPECT_TRUE(PortNameLess("COM02", "COM3"));
    EXPECT_TRUE(PortNameLess("COM", "COM1"));
    EXPECT_FALSE(PortNameLess("COM1", "COM1"));
    EXPECT_TRUE(PortNameLess("ttyS1", "ttyUSB0")); // different prefixes: byte order
}

TEST(DeviceKinds, ByProductString) {
    EXPECT_EQ(DeviceKindOfProduct("Tarvi4"), kDeviceTarvi4);
    EXPECT_EQ(DeviceKindOfProduct("Oblen220"), kDeviceOblen220);
    EXPECT_EQ(DeviceKindOfProduct("Zelta3"), kDeviceZelta3);
    EXPECT_EQ(DeviceKindOfProduct("tarvi4"), kDeviceOther);
}

} // namespace
} // namespace velmar::test
