// Without the USB library the tool still runs: system ports only, converters not found.
#include "usb_test_support.h"

namespace velmar::test {
namespace {

std::vector<std::string> TwoPorts() {
    return {"ttyS1", "ttyS0"};
}

TEST_F(UsbTest, WithoutTheLibraryOnlySystemPortsAreOffered) {
    StopPortLayer();
    setenv("VELMAR_LIBUSB", "/nonexistent/libusb-0.1.so.4", 1);
    StopUsbLibrary();
    fakeusb_add_converter(1234, 2, "Tarvi4"); // present, but nothing can reach it
    StartPortLayer();
    EXPECT_EQ(DiscoverPorts(TwoPorts), 1);
    ASSERT_EQ(GetPortList().count, 2);
    EXPECT_STREQ(GetPortList().entries[0].name, "ttyS0");
    EXPECT_FALSE(UsbLibraryLoaded());
    PortSlot slot = 0;
    EXPECT_EQ(OpenPort(slot, "U_1234_1"), -1);
    ASSERT_EQ(OpenPort(slot, "UKEY"), 0);
    EXPECT_EQ(PortAvailable(slot), 0);
    EXPECT_EQ(UsbControlMsg(nullptr, 0xC0, 0x20, 0, 0, nullptr, 0, 10), -2);
    EXPECT_EQ(UsbGetBusses(), nullptr);
}

} // namespace
} // namespace velmar::test
