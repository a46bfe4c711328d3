// The port table: slot 0, a full table, bad names, a layer that is not started, the ring.
#include "link/byte_ring.h"
#include "link/com_device.h"
#include "link/port_result.h"
#include "link_test_support.h"

#include <cerrno>
#include <gmock/gmock.h>
#include <memory>
#include <vector>

namespace velmar::test {
namespace {

TEST(PortLayerLifecycle, EveryOperationIsNeutralBeforeStart) {
    ASSERT_FALSE(PortLayerStarted());
    PortSlot slot = 7;
    EXPECT_EQ(OpenPort(slot, "COM1"), kPortLayerNotStarted);
    EXPECT_EQ(slot, 0);
    EXPECT_EQ(PortAvailable(1), 0);
    EXPECT_EQ(ClosePort(1), 1);
    StopPortLayer(); // does nothing when not started
}

using PortTableTest = PortLayerTest;

TEST_F(PortTableTest, SlotZeroGivesNeutralResults) {
    uint8_t buf[4] = {};
    EXPECT_EQ(ReadPort(0, buf, 1), 0);
    EXPECT_EQ(PortAvailable(0), 0);
    EXPECT_EQ(ConfigurePort(0, 9600, 8, 'N', 1), kPortNoSlot);
    EXPECT_EQ(ClosePort(0), 1);
    WritePort(0, buf, 4);
    WritePortByte(0, 1);
    PurgePort(0);
    EXPECT_EQ(GetPortKind(0), PortKind::ComPort);
    EXPECT_EQ(PortDroppedBytes(0), 0u);
    // Slots beyond the table and free slots behave like slot 0.
    EXPECT_EQ(ConfigurePort(17, 9600, 8, 'N', 1), kPortNoSlot);
    EXPECT_EQ(ConfigurePort(5, 9600, 8, 'N', 1), kPortNoSlot);
    EXPECT_EQ(ReadPort(99, buf, 1), 0);
}

// Opening and setting up a port through its result: the code by name, the system's error number
// where the system gave one, the text; the number stays the one OpenPort and ConfigurePort give.
TEST_F(PortTableTest, OpenLineAndConfigureLineSayWhatFailed) {
    struct Case {
        const char* name;
        PortCode code;
        int osError;
        const char* text;
    };
    const std::string tooLong(100, 'x');
    const Case cases[] = {
        {"", PortCode::EmptyName, 0, "не указано имя порта"},
        {tooLong.c_str(), PortCode::NameTooLong, 0, "слишком длинное имя порта"},
        {"/dev/velmar-no-such-device", PortCode::SystemError, ENOENT, "нет такого устройства"},
        {"tcp:host-without-port", PortCode::BadNetworkName, 0,
         PortErrorReason(kPortBadNetworkName)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PortSlot slot = 5;
        const PortResult r = OpenLine(slot, c.name);
        EXPECT_EQ(r.code, c.code);
        EXPECT_FALSE(r.Ok());
        EXPECT_EQ(r.osError, c.osError);
        EXPECT_EQ(r.text, c.text);
        EXPECT_EQ(slot, 0);
    }
    const PortResult notOpen = ConfigureLine(5, LineFormat{});
    EXPECT_EQ(notOpen.code, PortCode::NoSlot);
    EXPECT_EQ(notOpen.Number(), kPortNoSlot);

    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    PortSlot slot = 0;
    ASSERT_TRUE(OpenLine(slot, pty.path().c_str()).Ok());
    const PortResult refused = ConfigureLine(slot, {9600, 9, 'N', 1});
    EXPECT_EQ(refused.code, PortCode::SystemError);
    EXPECT_EQ(refused.osError, EINVAL);
    EXPECT_TRUE(ConfigureLine(slot, {9600, 8, 'E', 1}).Ok());
    EXPECT_EQ(PortBaud(slot), 9600u);
    ClosePort(slot);
}

TEST_F(PortTableTest, SeventeenthPortEmptyNameAndBadNames) {
    PortSlot slot = 5;
    EXPECT_EQ(OpenPort(slot, ""), kPortEmptyName);
    EXPECT_EQ(slot, 0);
    EXPECT_EQ(OpenPort(slot, nullptr), kPortEmptyName);
    EXPECT_EQ(OpenPort(slot, std::string(100, 'x').c_str()), kPortNameTooLong);
    EXPECT_EQ(OpenPort(slot, "/dev/velmar-no-such-device"), kPortSystemError);
    EXPECT_EQ(PortSystemError(), ENOENT);
    EXPECT_STREQ(PortErrorReason(kPortSystemError), "нет такого устройства");
    EXPECT_EQ(slot, 0);

    std::vector<std::unique_ptr<PtyPair>> ptys;
    for (int i = 0; i < kPortSlotCount; ++i) {
        ptys.push_back(std::make_unique<PtyPair>());
        ASSERT_TRUE(ptys.back()->ok());
        ASSERT_EQ(OpenPort(slot, ptys.back()->path().c_str()), 0);
        EXPECT_EQ(slot, i + 1);
    }
    PtyPair extra;
    EXPECT_EQ(OpenPort(slot, extra.path().c_str()), kPortTableFull);
    EXPECT_EQ(slot, 0);
    // A freed slot is taken again, the first free one first.
    EXPECT_EQ(ClosePort(3), 1);
    ASSERT_EQ(OpenPort(slot, extra.path().c_str()), 0);
    EXPECT_EQ(slot, 3);
}

TEST_F(PortTableTest, UsbKeyOpensAndMovesNothing) {
    setenv("VELMAR_LIBUSB", "/nonexistent/libusb-for-tests.so", 0);
    PortSlot slot = 0;
    ASSERT_EQ(OpenPort(slot, "UKEY"), 0);
    EXPECT_EQ(GetPortKind(slot), PortKind::UsbKey);
    EXPECT_EQ(ConfigurePort(slot, 9600, 8, 'N', 1), 0);
    SetLogMask(1);
    const uint8_t bytes[2] = {1, 2};
    WritePort(slot, bytes, 2);
    EXPECT_EQ(PortAvailable(slot), 0);
    uint8_t out[1];
    EXPECT_EQ(ReadPort(slot, out, 1), 0);
    EXPECT_EQ(ClosePort(slot), 1);
    // Nothing but the start line was logged.
    EXPECT_EQ(Log(), "\r\n\x82\xe5\xae\xa4\x20\xa2\x20\xaf\xe0\xae\xa3\xe0\xa0\xac\xac\xe3\r\n");
}

TEST(PortNames, DevicePaths) {
    EXPECT_EQ(ComDevicePath("/dev/ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(ComDevicePath("ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(ComDevicePath("COM1"), "/dev/ttyS0");
    EXPECT_EQ(ComDevicePath("com12"), "/dev/ttyS11");
    EXPECT_EQ(ComDevicePath("/tmp/link"), "/tmp/link");
    EXPECT_EQ(ComDevicePath("COMX"), "/dev/COMX");
}

TEST(PortErrors, EveryResultExplainsItselfAndSystemErrorsStayApart) {
    // The layer's own results never share a text with a system error of the same number.
    const struct {
        int result;
        const char* text;
    } cases[] = {
        {kPortOk, ""},
        {kPortTableFull, "открыто слишком много портов"},
        {kPortNoSlot, "порт не открыт"},
        {kPortEmptyName, "не указано имя порта"},
        {kPortConverterRequestFailed, "конвертер не принял параметры линии"},
        {kPortNameTooLong, "слишком длинное имя порта"},
        {kPortLayerNotStarted, "порты не инициализированы"},
        {kPortConverterNotFound, "конвертер не найден"},
        {kPortConverterNoAnswer, "конвертер не ответил или у него нет такого канала"},
        {kPortConverterNoChannelCount, "конвертер не сообщил число каналов"},
    };
    for (const auto& c : cases) EXPECT_STREQ(PortErrorReason(c.result), c.text) << c.result;

    EXPECT_STREQ(SystemErrorReason(ENOENT), "нет такого устройства");
    EXPECT_STREQ(SystemErrorReason(ENXIO), "нет такого устройства");
    EXPECT_STREQ(SystemErrorReason(EACCES),
                 "нет доступа к устройству (добавьте пользователя в группу dialout)");
    EXPECT_STREQ(SystemErrorReason(EBUSY), "порт занят другой программой");
    EXPECT_THAT(SystemErrorReason(EMLINK), testing::StartsWith("системная ошибка"));
}

TEST(ByteRingTest, CountsAcrossTheWrapAndNeverHoldsMoreThan255) {
    ByteRing ring;
    ring.ResetAt(250);
    std::vector<uint8_t> in(10);
    for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<uint8_t>(i + 1);
    EXPECT_EQ(ring.Push(in.data(), in.size()), 10u);
    EXPECT_EQ(ring.WriteIndex(), 4); // 250 + 10 wraps to 4
    EXPECT_EQ(ring.Count(), 10u);
    uint8_t out[10] = {};
    EXPECT_EQ(ring.Take(out, 10), 10u);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 10), in);
    EXPECT_EQ(ring.Count(), 0u);

    std::vector<uint8_t> many(300);
    for (size_t i = 0; i < many.size(); ++i) many[i] = static_cast<uint8_t>(i * 7);
    EXPECT_EQ(ring.Push(many.data(), many.size()), 255u);
    EXPECT_EQ(ring.Count(), 255u);
    EXPECT_EQ(ring.Push(many.data(), 1), 0u); // full: nothing overwritten
    std::vector<uint8_t> back(255);
    EXPECT_EQ(ring.Take(back.data(), 300), 255u);
    EXPECT_EQ(back, std::vector<uint8_t>(many.begin(), many.begin() + 255));
}

} // namespace
} // namespace velmar::test
