// Converters as ports: the search, line settings, the pump's requests, receiving, failures,
// reconnecting and closing while the pump runs.
#include "protocol/ctrlr_protocol.h"
#include "protocol/timeouts.h"
#include "usb_test_support.h"

#include <atomic>
#include <cerrno>
#include <thread>

namespace velmar::test {
namespace {

using ConverterTest = UsbTest;

std::vector<uint8_t> Pattern(size_t n, int seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 31 + seed);
    return v;
}

TEST_F(ConverterTest, SearchResults) {
    FakeUsbDeviceConfig config = fakeusb_default_config(7, 1, "Tarvi4");
    config.opens = 0; // a device of the shared vendor ID that will not open is passed over
    fakeusb_add_device(&config);
    fakeusb_add_converter(1234, 2, "Tarvi4");
    config = fakeusb_default_config(20, 1, "Tarvi4");
    config.identifyBytes = 0;
    fakeusb_add_device(&config);
    config = fakeusb_default_config(30, 1, "Tarvi4");
    config.answersChannelCount = 0;
    fakeusb_add_device(&config);
    fakeusb_add_converter(40, 0, "Zelta3");

    PortSlot slot = 9;
    EXPECT_EQ(OpenPort(slot, "U_999"), -1); // no such serial
    EXPECT_EQ(slot, 0);
    EXPECT_EQ(OpenPort(slot, "U_7"), -1);      // does not open
    EXPECT_EQ(OpenPort(slot, "U_20"), -2);     // no clock reply
    EXPECT_EQ(OpenPort(slot, "U_30"), -3);     // no channel count
    EXPECT_EQ(OpenPort(slot, "U_1234_3"), -2); // no third channel
    EXPECT_EQ(OpenPort(slot, "U_1234_0"), -2);
    EXPECT_EQ(OpenPort(slot, "U_40"), -2); // a device without channels
    EXPECT_EQ(fakeusb_open_handles(), 0);

    ASSERT_EQ(OpenPort(slot, "U_1234_2"), 0);
    EXPECT_EQ(slot, 1); // the failures left no slot taken
    EXPECT_EQ(GetPortKind(slot), PortKind::UsbConverter);
    PortSlot first = 0;
    ASSERT_EQ(OpenPort(first, "U_1234"), 0); // no channel number: the first channel
    EXPECT_EQ(fakeusb_open_handles(), 2);
    ClosePort(slot);
    ClosePort(first);
    EXPECT_EQ(fakeusb_open_handles(), 0);
}

TEST_F(ConverterTest, DivisorAndFormatFlags) {
    const int dev = fakeusb_add_converter(1234, 2, "Tarvi4");
    PortSlot slot = 0;
    ASSERT_EQ(OpenPort(slot, "U_1234_2"), 0);
    struct Case {
        uint32_t baud;
        uint8_t dataBits;
        char parity;
        uint8_t stopBits;
        long divisor;
        long flags;
    };
    // Clock 14745600 Hz: divisor = clock / 16 / baud - 1.
    const Case cases[] = {
        {0, 8, 'N', 1, 191, 0x00},    {9600, 8, 'N', 1, 95, 0x00},  {9600, 7, 'N', 1, 95, 0x01},
        {9600, 8, 'E', 1, 95, 0x02},  {9600, 8, 'M', 1, 95, 0x06},  {9600, 8, 'O', 1, 95, 0x04},
        {9600, 8, 'S', 1, 95, 0x08},  {9600, 8, 'Z', 1, 95, 0x08},  {9600, 8, 'N', 2, 95, 0x10},
        {115200, 7, 'O', 2, 7, 0x15}, {256000, 8, 'N', 1, 2, 0x00}, {1200, 8, 'E', 2, 767, 0x12},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(ConfigurePort(slot, c.baud, c.dataBits, c.parity, c.stopBits), 0) << c.baud;
        EXPECT_EQ(fakeusb_divisor(dev, 1), c.divisor) << c.baud << c.parity;
        EXPECT_EQ(fakeusb_format(dev, 1), c.flags) << c.baud << c.parity;
    }
    EXPECT_EQ(fakeusb_divisor(dev, 0), -1); // the other channel untouched
    // A speed beyond the UART clock is refused rather than sent as a wrapped divisor.
    EXPECT_EQ(ConfigurePort(slot, 2000000, 8, 'N', 1), kPortConverterRequestFailed);
    fakeusb_fail_requests(0x25, 1);
    EXPECT_EQ(ConfigurePort(slot, 4800, 8, 'N', 1), kPortConverterRequestFailed);
}

TEST_F(ConverterTest, PumpSendsUpToFourBytesPerRequest) {
    const int dev = fakeusb_add_converter(1234, 2, "Tarvi4");
    PortSlot ch1 = 0;
    PortSlot ch2 = 0;
    ASSERT_EQ(OpenPort(ch1, "U_1234_1"), 0);
    ASSERT_EQ(OpenPort(ch2, "U_1234_2"), 0);
    struct Case {
        size_t count;
        std::vector<int> codes; // channel 1 (index 0)
    };
    const Case cases[] = {
        {1, {0x30}}, {2, {0x38}},       {3, {0x34}},
        {4, {0x32}}, {5, {0x32, 0x30}}, {9, {0x32, 0x32, 0x30}},
    };
    for (const Case& c : cases) {
        for (int channel = 0; channel < 2; ++channel) {
            fakeusb_clear_requests();
            const auto bytes = Pattern(c.count, static_cast<int>(c.count) + channel);
            WritePort(channel == 0 ? ch1 : ch2, bytes.data(), bytes.size());
            EXPECT_EQ(Sent(dev, channel, c.count), bytes);
            const auto sent = RequestsWithCode(0x30, 0x3F);
            ASSERT_EQ(sent.size(), c.codes.size()) << c.count;
            for (size_t i = 0; i < sent.size(); ++i) {
                EXPECT_EQ(sent[i].request, c.codes[i] + channel) << c.count;
                EXPECT_EQ(sent[i].requestType, 0xC0);
                EXPECT_EQ(sent[i].size, 0);
            }
            EXPECT_EQ(sent[0].value, bytes[0] + (c.count > 1 ? 256 * bytes[1] : 0));
            if (c.count >= 4) {
                EXPECT_EQ(sent[0].index, bytes[2] + 256 * bytes[3]);
            }
        }
    }
    // A frame longer than the ring holds goes out whole (the writer waits for room).
    const auto big = Pattern(600, 1);
    WritePort(ch1, big.data(), big.size());
    EXPECT_EQ(Sent(dev, 0, big.size()), big);
}

// The pump takes bytes while the GUI thread is still adding more: each request must carry
// exactly the bytes taken for it, so a stream of small frames arrives whole and in order.
TEST_F(ConverterTest, BytesAddedWhileThePumpSendsAreNotLost) {
    const int dev = fakeusb_add_converter(1234, 1, "Tarvi4");
    PortSlot slot = 0;
    ASSERT_EQ(OpenPort(slot, "U_1234_1"), 0);
    std::vector<uint8_t> all;
    for (int i = 0; i < 150; ++i) {
        const auto frame = Pattern(static_cast<size_t>(1 + i % 5), i);
        WritePort(slot, frame.data(), frame.size());
        all.insert(all.end(), frame.begin(), frame.end());
    }
    EXPECT_EQ(Sent(dev, 0, all.size()), all);
}

// On a host too busy to keep up every transfer is late: the pause the controller needs between
// a write header and its data frame must still be whole where the bytes leave the converter.
TEST_F(ConverterTest, DataFramePauseCountsFromTheHeaderLeavingTheConverter) {
    fakeusb_add_converter(77, 1, "Tarvi4");
    PortSlot slot = 0;
    ASSERT_EQ(OpenPort(slot, "U_77"), 0);
    ASSERT_EQ(ConfigurePort(slot, 38400, 8, 'N', 1), 0);
    fakeusb_set_transfer_delay_ms(15);
    fakeusb_clear_requests();
    const auto data = Pattern(10, 3);
    ASSERT_EQ(SendWriteFrames(slot, 0x5100, 10, data.data()), 1);
    // The header goes in two transfers, the data frame in three.
    ASSERT_TRUE(Eventually([] { return RequestsWithCode(0x30, 0x3F).size() >= 5; }));
    fakeusb_set_transfer_delay_ms(0);
    const auto sent = RequestsWithCode(0x30, 0x3F);
    EXPECT_GE(static_cast<double>(sent[2].atUs - sent[1].atUs) / 1000.0, kDataFramePauseMs);
}

TEST_F(ConverterTest, ReceivesInFetchesOfEightAndWakesTheWaiter) {
    const int dev = fakeusb_add_converter(1234, 2, "Tarvi4");
    PortSlot slot = 0;
    ASSERT_EQ(OpenPort(slot, "U_1234_2"), 0);
    fakeusb_clear_requests();
    const auto reply = Pattern(20, 5);
    fakeusb_inject(dev, 1, reply.data(), reply.size());
    ASSERT_TRUE(AwaitAvailable(slot, 20));
    std::vector<uint8_t> got(20);
    uint8_t extra[21];
    EXPECT_EQ(ReadPort(slot, extra, 21), 0); // fewer wait: nothing taken
    ASSERT_EQ(ReadPort(slot, got.data(), 20), 1);
    EXPECT_EQ(got, reply);
    std::vector<int> sizes;
    for (const FakeUsbRequest& r : RequestsWithCode(0x22, 0x22)) {
        EXPECT_EQ(r.value & 0xFF, 1); // channel 2
        sizes.push_back(r.value >> 8);
    }
    EXPECT_EQ(sizes, (std::vector<int>{8, 8, 4}));
    for (const FakeUsbRequest& r : RequestsWithCode(0x21, 0x21)) EXPECT_EQ(r.value, 1);

    // The waiter wakes on delivery, long before its time is up.
    std::thread late([dev] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const uint8_t b = 0x99;
        fakeusb_inject(dev, 1, &b, 1);
    });
    PortAvailable(slot);
    const auto start = std::chrono::steady_clock::now();
    WaitPortData(slot, 30000);
    const auto waited = std::chrono::steady_clock::now() - start;
    late.join();
    EXPECT_LT(waited, std::chrono::seconds(15));
    EXPECT_EQ(PortAvailable(slot), 1);
}

TEST_F(ConverterTest, FailedFetchLosesItsBytesOnly) {
    const int dev = fakeusb_add_converter(55, 1, "Tarvi4");
    PortSlot slot = 0;
    ASSERT_EQ(OpenPort(slot, "U_55"), 0);
    fakeusb_fail_requests(0x22, 1);
    const auto reply = Pattern(10, 2);
    fakeusb_inject(dev, 0, reply.data(), reply.size());
    ASSERT_TRUE(AwaitAvailable(slot, 2));
    // Two more count polls: the pump has looked again and found nothing left to fetch.
    const size_t polls = RequestsWithCode(0x21, 0x21).size();
    ASSERT_TRUE(Eventually([&] { return RequestsWithCode(0x21, 0x21).size() >= polls + 2; }));
    EXPECT_EQ(PortAvailable(slot), 2); // the first 8 went with the failed transfer
    uint8_t got[2];
    ASSERT_EQ(ReadPort(slot, got, 2), 1);
    EXPECT_EQ(got[0], reply[8]);
    EXPECT_EQ(got[1], reply[9]);
}

TEST_F(ConverterTest, OverflowingRingDropsAndCountsWithoutCorruption) {
    const int dev = fakeusb_add_converter(56, 1, "Tarvi4");
    PortSlot slot = 0;
    ASSERT_EQ(OpenPort(slot, "U_56"), 0);
    const auto burst = Pattern(300, 4);
    for (size_t done = 0; done < burst.size(); done += 100) {
        fakeusb_inject(dev, 0, burst.data() + done, 100);
        ASSERT_TRUE(
            Eventually([&] { return PortDroppedBytes(slot) + PortAvailable(slot) >= done + 100; }));
    }
    EXPECT_EQ(PortAvailable(slot), 255);
    EXPECT_EQ(PortDroppedBytes(slot), 45u);
    std::vector<uint8_t> got(255);
    ASSERT_EQ(ReadPort(slot, got.data(), 255), 1);
    EXPECT_EQ(got, std::vector<uint8_t>(burst.begin(), burst.begin() + 255));
}

TEST_F(ConverterTest, ReconnectsAfterMoreThan100FailuresAndRestoresTheSettings) {
    const int dev = fakeusb_add_converter(1234, 2, "Tarvi4");
    PortSlot slot = 0;
    ASSERT_EQ(OpenPort(slot, "U_1234_2"), 0);
    ASSERT_EQ(ConfigurePort(slot, 19200, 8, 'E', 2), 0);
    fakeusb_clear_requests();
    fakeusb_fail_transfers(101);
    // The pump's transfers fail; past 100 in a row the next PortAvailable reconnects.
    ASSERT_TRUE(Eventually([] {
        PortAvailable(1);
        return !RequestsWithCode(0x20, 0x20).empty();
    })) << "no reconnect after "
        << Requests().size() << " transfers";
    const auto after = Requests();
    size_t search = 0;
    while (after[search].request != 0x20) ++search;
    int failures = 0;
    for (size_t i = 0; i < search; ++i) failures += after[i].result < 0 ? 1 : 0;
    EXPECT_EQ(failures, 101);
    bool divisor = false;
    bool format = false;
    for (size_t i = search; i < after.size(); ++i) {
        divisor |= after[i].request == 0x24 && after[i].value == 1 && after[i].index == 47;
        format |= after[i].request == 0x25 && after[i].value == 1 && after[i].index == 0x12;
    }
    EXPECT_TRUE(divisor);
    EXPECT_TRUE(format);
    EXPECT_EQ(fakeusb_open_handles(), 1);
    // And the converter works again.
    const auto reply = Pattern(5, 8);
    fakeusb_inject(dev, 1, reply.data(), reply.size());
    ASSERT_TRUE(AwaitAvailable(slot, 5));
}

TEST_F(ConverterTest, UnpluggedConverterGivesNeutralResultsUntilItIsBack) {
    const int dev = fakeusb_add_converter(77, 1, "Murik");
    fakeusb_set_loopback(dev, 0, 1);
    PortSlot slot = 0;
    ASSERT_EQ(OpenPort(slot, "U_77"), 0);
    ASSERT_EQ(ConfigurePort(slot, 9600, 8, 'N', 1), 0);
    fakeusb_unplug(dev);
    ASSERT_TRUE(Eventually([&] {
        PortAvailable(slot);
        return PortLastError(slot) == ENODEV;
    }));
    const uint8_t frame[3] = {1, 2, 3};
    WritePort(slot, frame, 3);
    uint8_t out[3];
    EXPECT_EQ(ReadPort(slot, out, 3), 0);
    EXPECT_EQ(PortAvailable(slot), 0);
    EXPECT_EQ(ConfigurePort(slot, 9600, 8, 'N', 1), kPortConverterRequestFailed);
    WaitPortData(slot, 5);
    PurgePort(slot);

    fakeusb_plug(dev); // plugged back in: the slot finds it again by itself
    ASSERT_TRUE(Eventually([&] {
        PortAvailable(slot);
        return PortLastError(slot) == 0;
    }));
    EXPECT_EQ(fakeusb_divisor(dev, 0), 95); // its settings restored
    WritePort(slot, frame, 3);
    ASSERT_TRUE(AwaitAvailable(slot, 3));
    ASSERT_EQ(ReadPort(slot, out, 3), 1);
    EXPECT_EQ(out[2], 3);
    ClosePort(slot);
    EXPECT_EQ(fakeusb_open_handles(), 0);
}

TEST_F(ConverterTest, ClosingWhileThePumpRunsKeepsTheOtherChannelGoing) {
    const int dev = fakeusb_add_converter(1234, 2, "Tarvi4");
    fakeusb_set_loopback(dev, 0, 1);
    fakeusb_set_loopback(dev, 1, 1);
    for (int round = 0; round < 5; ++round) {
        PortSlot a = 0;
        PortSlot b = 0;
        ASSERT_EQ(OpenPort(a, "U_1234_1"), 0);
        ASSERT_EQ(OpenPort(b, "U_1234_2"), 0);
        const auto frame = Pattern(40, round);
        WritePort(a, frame.data(), frame.size());
        WritePort(b, frame.data(), frame.size());
        std::this_thread::sleep_for(std::chrono::milliseconds(3 * round));
        ClosePort(a); // mid-transfer, most likely
        std::vector<uint8_t> echo(frame.size());
        ASSERT_TRUE(AwaitAvailable(b, static_cast<int>(frame.size())));
        ASSERT_EQ(ReadPort(b, echo.data(), static_cast<int>(echo.size())), 1);
        EXPECT_EQ(echo, frame);
        ClosePort(b);
        EXPECT_EQ(fakeusb_open_handles(), 0);
    }
    // Stopping the layer with a converter open ends the pump and closes the device.
    PortSlot slot = 0;
    ASSERT_EQ(OpenPort(slot, "U_1234_1"), 0);
    const auto frame = Pattern(200, 1);
    WritePort(slot, frame.data(), frame.size());
    StopPortLayer();
    EXPECT_EQ(fakeusb_open_handles(), 0);
}

TEST_F(ConverterTest, ReadUsbStringFallsBackToTheDescriptor) {
    FakeUsbDeviceConfig config = fakeusb_default_config(3, 1, "Oblen220");
    config.simpleStrings = 0;
    fakeusb_add_device(&config);
    StartUsbLibrary();
    UsbFindBusses();
    UsbFindDevices();
    usb_bus* bus = UsbGetBusses();
    ASSERT_NE(bus, nullptr);
    ASSERT_NE(bus->devices, nullptr);
    usb_dev_handle* h = UsbOpen(bus->devices);
    ASSERT_NE(h, nullptr);
    char text[256];
    EXPECT_EQ(ReadUsbString(h, 2, text, sizeof text), 8);
    EXPECT_STREQ(text, "Oblen220");
    EXPECT_EQ(ReadUsbString(h, 2, text, 5), 4); // stops at the buffer, zero-terminated
    EXPECT_STREQ(text, "Oble");
    EXPECT_LT(ReadUsbString(h, 9, text, sizeof text), 0);
    UsbClose(h);
}

} // namespace
} // namespace velmar::test
