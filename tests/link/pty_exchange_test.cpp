// A ComPort against a pseudo-terminal standing in for the device.
#include "link/posix/termios_line.h"
#include "link_test_support.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <thread>

namespace velmar::test {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The output speed as the kernel holds it (termios2), also for speeds without a constant.
uint32_t CustomSpeed(int fd) {
    struct {
        tcflag_t flags[4];
        cc_t line;
        cc_t cc[19];
        speed_t ispeed;
        speed_t ospeed;
    } t{};
    if (ioctl(fd, _IOR('T', 0x2A, decltype(t)), &t) != 0) return 0;
    return t.ospeed;
}

class PtyExchangeTest : public PortLayerTest {
  protected:
    void SetUp() override {
        PortLayerTest::SetUp();
        ASSERT_TRUE(pty_.ok());
        ASSERT_EQ(OpenPort(slot_, pty_.path().c_str()), 0);
        ASSERT_EQ(GetPortKind(slot_), PortKind::ComPort);
    }
    // Waits (generously) until `n` bytes wait in the slot.
    bool AwaitAvailable(int n) {
        for (int i = 0; i < 500; ++i) {
            if (PortAvailable(slot_) >= n) return true;
            WaitPortData(slot_, 10);
        }
        return false;
    }

    PtyPair pty_;
    PortSlot slot_ = 0;
};

std::vector<uint8_t> Pattern(size_t n, int seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 13 + seed);
    return v;
}

TEST_F(PtyExchangeTest, LineSettingsAreRawWithoutFlowControl) {
    termios tio = pty_.LineSettings();
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B4800));
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_NE(tio.c_cflag & CLOCAL, 0u);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF), 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO), 0u);

    ASSERT_EQ(ConfigurePort(slot_, 0, 8, 'N', 1), 0); // 0 means 4800
    EXPECT_EQ(cfgetospeed(&(tio = pty_.LineSettings())), static_cast<speed_t>(B4800));
    ASSERT_EQ(ConfigurePort(slot_, 19200, 7, 'E', 2), 0);
    EXPECT_EQ(cfgetospeed(&(tio = pty_.LineSettings())), static_cast<speed_t>(B19200));
    ASSERT_EQ(ConfigurePort(slot_, 115200, 8, 'N', 1), 0);
    // A speed without a termios constant goes through the kernel's custom speed.
    ASSERT_EQ(ConfigurePort(slot_, 256000, 8, 'N', 1), 0);
    EXPECT_EQ(CustomSpeed(pty_.master()), 256000u);
    ASSERT_EQ(ConfigurePort(slot_, 115200, 8, 'N', 1), 0);
    // Settings the line cannot take are refused and the settings stay.
    EXPECT_EQ(ConfigurePort(slot_, 9600, 9, 'N', 1), kPortSystemError);
    EXPECT_EQ(PortSystemError(), EINVAL);
    EXPECT_EQ(cfgetospeed(&(tio = pty_.LineSettings())), static_cast<speed_t>(B115200));
}

// Ptys keep 8 data bits and no parity whatever they are told, so the flags are checked here.
TEST(TermiosLine, ParityDataAndStopBits) {
    termios tio{};
    cfmakeraw(&tio);
    const tcflag_t parity = PARENB | PARODD | CMSPAR;
    ASSERT_EQ(ApplyLineSettings(tio, 19200, 7, 'E', 2), 0);
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B19200));
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS7));
    EXPECT_EQ(tio.c_cflag & (parity | CSTOPB), static_cast<tcflag_t>(PARENB | CSTOPB));
    ASSERT_EQ(ApplyLineSettings(tio, 9600, 8, 'O', 1), 0);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (parity | CSTOPB), static_cast<tcflag_t>(PARENB | PARODD));
    ASSERT_EQ(ApplyLineSettings(tio, 9600, 8, 'M', 1), 0);
    EXPECT_EQ(tio.c_cflag & parity, parity);
    ASSERT_EQ(ApplyLineSettings(tio, 9600, 8, 'S', 1), 0);
    EXPECT_EQ(tio.c_cflag & parity, static_cast<tcflag_t>(PARENB | CMSPAR));
    ASSERT_EQ(ApplyLineSettings(tio, 9600, 8, 'Z', 3), 0); // 3 stop bits: left as they were
    EXPECT_EQ(tio.c_cflag & parity, static_cast<tcflag_t>(PARENB | CMSPAR));
    ASSERT_EQ(ApplyLineSettings(tio, 9600, 8, 'Q', 1), 0); // unknown letter: parity stays
    EXPECT_EQ(tio.c_cflag & parity, static_cast<tcflag_t>(PARENB | CMSPAR));
    ASSERT_EQ(ApplyLineSettings(tio, 4000000, 8, 'N', 1), 0);
    EXPECT_EQ(tio.c_cflag & parity, 0u);
    EXPECT_EQ(ApplyLineSettings(tio, 12345, 8, 'N', 1), EINVAL);
    EXPECT_EQ(ApplyLineSettings(tio, 9600, 9, 'N', 1), EINVAL);
}

TEST_F(PtyExchangeTest, WritesEveryByteAndReadsWholeRequestsOnly) {
    const auto frame = Pattern(1000, 3); // more than the driver takes at once
    WritePort(slot_, frame.data(), frame.size());
    EXPECT_EQ(pty_.Receive(frame.size()), frame);
    WritePortByte(slot_, 0x5A);
    EXPECT_EQ(pty_.Receive(1), std::vector<uint8_t>{0x5A});

    pty_.Send({1, 2, 3, 4});
    ASSERT_TRUE(AwaitAvailable(4));
    uint8_t out[5] = {};
    EXPECT_EQ(ReadPort(slot_, out, 5), 0); // 4 wait, 5 asked: nothing taken
    EXPECT_EQ(PortAvailable(slot_), 4);
    EXPECT_EQ(ReadPort(slot_, out, 4), 1);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 4), (std::vector<uint8_t>{1, 2, 3, 4}));
    EXPECT_EQ(PortAvailable(slot_), 0);
}

TEST_F(PtyExchangeTest, ReplyCrossingTheRingEndArrivesIntact) {
    for (int round = 0; round < 3; ++round) { // 3 x 200 bytes: the indices wrap twice
        const auto reply = Pattern(200, round);
        pty_.Send(reply);
        ASSERT_TRUE(AwaitAvailable(200));
        std::vector<uint8_t> got(200);
        ASSERT_EQ(ReadPort(slot_, got.data(), 200), 1);
        EXPECT_EQ(got, reply);
    }
}

TEST_F(PtyExchangeTest, MoreThanTheRingHoldsWaitsInTheDriverNotLost) {
    const auto burst = Pattern(300, 9);
    pty_.Send(burst);
    ASSERT_TRUE(AwaitAvailable(255));
    EXPECT_EQ(PortAvailable(slot_), 255); // never more than 255 wait in the ring
    std::vector<uint8_t> got(300);
    ASSERT_EQ(ReadPort(slot_, got.data(), 255), 1);
    ASSERT_TRUE(AwaitAvailable(45));
    ASSERT_EQ(ReadPort(slot_, got.data() + 255, 45), 1);
    EXPECT_EQ(got, burst);
    EXPECT_EQ(PortDroppedBytes(slot_), 0u);
}

TEST_F(PtyExchangeTest, WaitPortDataWakesWhenBytesArriveAndOtherwiseTimesOut) {
    auto start = Clock::now();
    WaitPortData(slot_, 200);
    EXPECT_GE(Clock::now() - start, milliseconds(190));

    std::thread sender([this] {
        std::this_thread::sleep_for(milliseconds(50));
        pty_.Send({0x42});
    });
    start = Clock::now();
    WaitPortData(slot_, 20000);
    const auto waited = Clock::now() - start;
    sender.join();
    EXPECT_LT(waited, milliseconds(10000)); // woke on the byte, long before the timeout
    EXPECT_EQ(PortAvailable(slot_), 1);
}

TEST_F(PtyExchangeTest, SecondOpenOfTheSameDeviceIsBusy) {
    PortSlot second = 0;
    EXPECT_EQ(OpenPort(second, pty_.path().c_str()), kPortSystemError);
    EXPECT_EQ(second, 0);
    EXPECT_STREQ(PortErrorReason(kPortSystemError), "порт занят другой программой");
    // Free again after closing.
    ClosePort(slot_);
    ASSERT_EQ(OpenPort(second, pty_.path().c_str()), 0);
    slot_ = second;
}

TEST_F(PtyExchangeTest, PurgeDropsRingAndDriverBytes) {
    pty_.Send({9, 8, 7});
    ASSERT_TRUE(AwaitAvailable(3));
    pty_.Send({6, 5});
    WaitPortData(slot_, 20000); // wakes once they wait in the driver (the ring holds the others)
    PurgePort(slot_);
    EXPECT_EQ(PortAvailable(slot_), 0);
    pty_.Send({1});
    ASSERT_TRUE(AwaitAvailable(1));
    uint8_t b = 0;
    ASSERT_EQ(ReadPort(slot_, &b, 1), 1);
    EXPECT_EQ(b, 1);
}

TEST_F(PtyExchangeTest, DeviceGoneIsReportedOnceAndReopenWorks) {
    const std::filesystem::path link = dir_ / "ttylink";
    std::filesystem::create_symlink(pty_.path(), link);
    ClosePort(slot_);
    ASSERT_EQ(OpenPort(slot_, link.c_str()), 0);
    SetLogMask(1);

    pty_.CloseMaster(); // the adapter is pulled out
    EXPECT_EQ(PortAvailable(slot_), 0);
    EXPECT_EQ(PortLastError(slot_), EIO);
    const uint8_t frame[3] = {1, 2, 3};
    const auto start = Clock::now();
    for (int i = 0; i < 5; ++i) {
        WritePort(slot_, frame, 3);
        WaitPortData(slot_, 1);
        EXPECT_EQ(PortAvailable(slot_), 0);
    }
    EXPECT_LT(Clock::now() - start, milliseconds(5000)); // no hang
    const std::string log = Log();
    // One failure entry (code 5 = EIO), no matter how often the tool tried.
    const std::string failure = "\x8e\xe8\xa8\xa1\xaa\xa0\x20\xa7\xa0\xaf\xa8\xe1\xa8";
    size_t count = 0;
    for (size_t pos = log.find(failure); pos != std::string::npos;
         pos = log.find(failure, pos + 1)) {
        ++count;
    }
    EXPECT_EQ(count, 1u);

    // Re-plugged: the same name leads to a working device again.
    ClosePort(slot_);
    PtyPair replugged;
    std::filesystem::remove(link);
    std::filesystem::create_symlink(replugged.path(), link);
    ASSERT_EQ(OpenPort(slot_, link.c_str()), 0);
    EXPECT_EQ(PortLastError(slot_), 0);
    replugged.Send({0x77});
    ASSERT_TRUE(AwaitAvailable(1));
}

} // namespace
} // namespace velmar::test
