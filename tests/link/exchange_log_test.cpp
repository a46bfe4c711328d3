// The exchange log "port.out": exact bytes in code page 866, heads and hex bytes.
#include "link/exchange_log.h"
#include "link_test_support.h"

#include <thread>

namespace velmar::test {
namespace {

// Time stamps differ from run to run: replace each by "TS" after checking its form
// (day.month.year (hour:minute:second:millisecond), two digits each, three for milliseconds).
std::string MaskTimeStamps(const std::string& log, int& count) {
    static const std::string form = "NN.NN.NN (NN:NN:NN:NNN)";
    const auto matchesAt = [&](size_t at) {
        if (at + form.size() > log.size()) return false;
        for (size_t i = 0; i < form.size(); ++i) {
            const char c = log[at + i];
            if (form[i] == 'N' ? (c < '0' || c > '9') : c != form[i]) return false;
        }
        return true;
    };
    std::string out;
    count = 0;
    for (size_t i = 0; i < log.size();) {
        if (matchesAt(i)) {
            out += "TS";
            i += form.size();
            ++count;
        } else {
            out += log[i++];
        }
    }
    return out;
}

const std::string kStart =
    "\r\n\x82\xe5\xae\xa4\x20\xa2\x20\xaf\xe0\xae\xa3\xe0\xa0\xac\xac\xe3\r\n";
const std::string kWrite =
    "\x87\xa0\xaf\xa8\xe1\xec\x20\x28\xaf\xae\xe0\xe2\x20"; // "Запись (порт "
const std::string kRead =
    "\x97\xe2\xa5\xad\xa8\xa5\x20\x20\xaf\xae\xe0\xe2\xa0\x20"; // "Чтение  порта "
const std::string kPurge = "\x8e\xe7\xa8\xe1\xe2\xaa\xa0\x20\xa1\xe3\xe4\xa5\xe0\xa0\x20\xaf"
                           "\xae\xe0\xe2\xa0\x20"; // "Очистка буфера порта "
const std::string kShutdown =
    "\r\n\x8e\xe8\xa8\xa1\xae\xaa\x20\xaf\xa0\xe0\xa8\xe2\xa5\xe2\xa0"
    "=0, \xaf\xa0\xaa\xa5\xe2\xae\xa2( \xe1\xe2\xae\xaf-\xa1\xa8\xe2)=0\r\n";

using ExchangeLogTest = PortLayerTest;

// The log stays open while the tool runs: programs it starts (a browser for a link) must not
// inherit it.
TEST_F(ExchangeLogTest, LogIsNotInheritedByStartedPrograms) {
    int found = 0;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        if (std::filesystem::read_symlink(fd.path(), ec) != logPath_) continue;
        ++found;
        const int flags = fcntl(std::stoi(fd.path().filename().string()), F_GETFD);
        EXPECT_NE(flags & FD_CLOEXEC, 0);
    }
    EXPECT_EQ(found, 1);
}

TEST_F(ExchangeLogTest, EntriesAreExactAndOnlyForLoggedSlots) {
    PtyPair first;
    PtyPair second;
    PortSlot a = 0;
    PortSlot b = 0;
    ASSERT_EQ(OpenPort(a, first.path().c_str()), 0);
    ASSERT_EQ(OpenPort(b, second.path().c_str()), 0);
    SetLogMask(0x0002); // slot 2 only
    EXPECT_EQ(GetLogMask(), 0x0002);

    const uint8_t frame[3] = {0x01, 0xAB, 0x0F};
    WritePort(a, frame, 3); // slot 1: not logged
    WritePort(b, frame, 3);
    WritePortByte(b, 0xF0);
    second.Send({0xDE, 0xAD});
    for (int i = 0; i < 500 && PortAvailable(b) < 2; ++i) WaitPortData(b, 10);
    uint8_t got[2];
    ASSERT_EQ(ReadPort(b, got, 2), 1);
    second.Send({0x11, 0x22});
    for (int i = 0; i < 500 && PortAvailable(b) < 2; ++i) WaitPortData(b, 10);
    PurgePort(b);
    PurgePort(b); // nothing to drop: no entry
    SetLogMask(0);
    PurgePort(b);
    ClosePort(a);
    ClosePort(b);
    StopPortLayer(); // mask 0: no shutdown line

    int stamps = 0;
    const std::string log = MaskTimeStamps(Log(), stamps);
    EXPECT_EQ(stamps, 4);
    EXPECT_EQ(log, kStart + "\r\n\r\n TS " + kWrite + "2)-> 01 AB 0F " + //
                       "\r\n\r\n TS " + kWrite + "2)-> F0 " +            //
                       "\r\n TS " + kRead + "2<- DE AD " +               //
                       "\r\n TS " + kPurge + "2<> 11 22 ");
}

TEST_F(ExchangeLogTest, PurgeWithLoggingOffWritesNothingAndShutdownLineNeedsTheMask) {
    PtyPair pty;
    PortSlot slot = 0;
    ASSERT_EQ(OpenPort(slot, pty.path().c_str()), 0);
    pty.Send({1, 2, 3});
    for (int i = 0; i < 500 && PortAvailable(slot) < 3; ++i) WaitPortData(slot, 10);
    PurgePort(slot);
    SetLogMask(0x8000); // another slot's bit: the shutdown line, no entries for slot 1
    const uint8_t b = 0x33;
    WritePort(slot, &b, 1);
    StopPortLayer();
    EXPECT_EQ(Log(), kStart + kShutdown);

    // A second run appends.
    SetLogMask(0);
    StartPortLayer();
    StopPortLayer();
    EXPECT_EQ(Log(), kStart + kShutdown + kStart);
}

TEST(Cp866, CyrillicLettersAndAscii) {
    EXPECT_EQ(Utf8ToCp866("АЯаяпрЁё A1"), "\x80\x9f\xa0\xef\xaf\xe0\xf0\xf1 A1");
    EXPECT_EQ(Utf8ToCp866("€"), "?"); // not in the code page
    EXPECT_EQ(Utf8ToCp866("№5"), "\xfc\x35");
    EXPECT_EQ(Utf8ToCp866("\xd0\x41"), "?A"); // a cut sequence keeps what follows
}

TEST(LogMaskTest, KeptPerSlotWhetherOrNotAPortIsOpenThere) {
    struct Case {
        uint16_t mask;
        PortSlot slot;
        bool logged;
    };
    const Case cases[] = {
        {0x0001, 1, true},
        {0x0001, 2, false},
        {0x8000, kPortSlotCount, true},
        {0xFFFF, 0, false}, // no port
        {0xFFFF, kPortSlotCount + 1, false},
    };
    for (const Case& c : cases) {
        SetLogMask(c.mask);
        EXPECT_EQ(GetLogMask(), c.mask);
        EXPECT_EQ(PortLogged(c.slot), c.logged) << "mask " << c.mask << " slot " << c.slot;
    }
    SetLogMask(0);
}

} // namespace
} // namespace velmar::test
