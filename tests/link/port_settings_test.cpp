// "com.ini": both line forms, defaults, the written line, atomic replacement.
#include "link/port_settings.h"
#include "link_test_support.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>

namespace velmar::test {
namespace {

class PortSettingsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("velmar-ini-" + std::to_string(getpid()) + "-" + std::to_string(counter_++));
        std::filesystem::create_directories(dir_);
        path_ = (dir_ / "com.ini").string();
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    void WriteFile(const std::string& text) const {
        std::ofstream(path_, std::ios::binary) << text;
    }
    const PortSettingsEntry& First() const { return PortSettingsTable()[0]; }

    std::filesystem::path dir_;
    std::string path_;
    static inline int counter_ = 0;
};

TEST_F(PortSettingsTest, NumberFormNamesTheComPort) {
    WriteFile("3 0 9600 0 1 0 8 N 1");
    ASSERT_EQ(ReadPortSettings(path_.c_str()), 1);
    EXPECT_STREQ(First().name, "com3");
    EXPECT_EQ(First().baud, 9600u);
    EXPECT_EQ(First().dataBits, 8);
    EXPECT_EQ(First().parity, 'N');
    EXPECT_EQ(First().stopBits, 1);

    WriteFile("1A 0 4800\n0 0 1200 0 1 0 7 E 2\n");
    ASSERT_EQ(ReadPortSettings(path_.c_str()), 1);
    EXPECT_STREQ(First().name, "com26");           // the number is hexadecimal
    EXPECT_STREQ(PortSettingsTable()[1].name, ""); // number 0: no name
    EXPECT_EQ(PortSettingsTable()[1].baud, 1200u);
    EXPECT_EQ(PortSettingsTable()[1].parity, 'E');
}

TEST_F(PortSettingsTest, NameFormWithMissingFieldsTakesTheDefaults) {
    WriteFile("  COM5 0 19200\r\n");
    ASSERT_EQ(ReadPortSettings(path_.c_str()), 1);
    EXPECT_STREQ(First().name, "COM5");
    EXPECT_EQ(First().baud, 19200u);
    EXPECT_EQ(First().reserved2, 0);
    EXPECT_EQ(First().flagA, 1);
    EXPECT_EQ(First().flagB, 0);
    EXPECT_EQ(First().dataBits, 8);
    EXPECT_EQ(First().parity, 'N');
    EXPECT_EQ(First().stopBits, 1);

    WriteFile("U_1234_2 0 9600 -3 3 2 7 O 2\nttyUSB0 0 115200 0 1 0 8 E 1\n");
    ASSERT_EQ(ReadPortSettings(path_.c_str()), 1);
    EXPECT_STREQ(First().name, "U_1234_2");
    EXPECT_EQ(First().reserved2, -3);
    EXPECT_EQ(First().flagA, 1); // lowest bit only
    EXPECT_EQ(First().flagB, 0);
    EXPECT_EQ(First().dataBits, 7);
    EXPECT_EQ(First().parity, 'O');
    EXPECT_EQ(First().stopBits, 2);
    // "ttyUSB0" does not start with a hexadecimal digit: name form.
    EXPECT_STREQ(PortSettingsTable()[1].name, "ttyUSB0");
    EXPECT_EQ(PortSettingsTable()[1].baud, 115200u);
}

TEST_F(PortSettingsTest, NameAloneLeavesTheEntryEmpty) {
    WriteFile("COM5\n");
    ASSERT_EQ(ReadPortSettings(path_.c_str()), 1);
    EXPECT_STREQ(First().name, "");
    EXPECT_EQ(First().baud, 0u);
    EXPECT_EQ(First().parity, 0);
}

TEST_F(PortSettingsTest, MissingFileAndOddContent) {
    EXPECT_EQ(ReadPortSettings((dir_ / "none.ini").c_str()), 0);

    // 20 lines: 16 are read. An over-long line is one entry, cut at 79 characters.
    std::string text = "COM1 0 " + std::string(200, '9') + "\n";
    for (int i = 2; i <= 20; ++i) text += "COM" + std::to_string(i) + " 0 4800\n";
    WriteFile(text);
    ASSERT_EQ(ReadPortSettings(path_.c_str()), 1);
    EXPECT_STREQ(First().name, "COM1");
    EXPECT_EQ(First().baud, 0xFFFFFFFFu); // saturated, not undefined
    EXPECT_STREQ(PortSettingsTable()[1].name, "COM2");
    EXPECT_STREQ(PortSettingsTable()[15].name, "COM16");

    // A name longer than the field, binary bytes, a zero byte: nothing overflows.
    PortSettingsEntry e;
    ParsePortSettingsLine(std::string(150, 'Z') + " 0 9600", e);
    EXPECT_STREQ(e.name, ""); // cut at 79 characters, only a name is left
    ParsePortSettingsLine(std::string(75, 'Z') + " 0 9600", e);
    EXPECT_EQ(std::strlen(e.name), 75u);
    EXPECT_EQ(e.baud, 9u); // the rest of the line is beyond the 79 characters
    ParsePortSettingsLine(std::string("COM1\0 0 9600", 12), e);
    EXPECT_STREQ(e.name, "");
    ParsePortSettingsLine("\xff\xfe 1 2 3", e);
    EXPECT_EQ(e.baud, 2u);
}

TEST(PortSettingsLine, AnyBytesParseSafelyAndWhatIsReadWritesBackTheSame) {
    uint32_t seed = 12345;
    const auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return static_cast<uint8_t>(seed >> 16);
    };
    const std::string alphabet = "0123456789abcdefxXCOMN -+\t\r\n\xff";
    for (int round = 0; round < 20000; ++round) {
        std::string line(next() % 120, ' ');
        for (char& c : line) {
            c = round % 2 == 0 ? static_cast<char>(next()) : alphabet[next() % alphabet.size()];
        }
        PortSettingsEntry e;
        ParsePortSettingsLine(line, e);
        const size_t length = strnlen(e.name, sizeof e.name);
        ASSERT_LT(length, sizeof e.name);
        if (length == 0 || e.parity == ' ' || e.parity == '\t' || e.parity == '\r' ||
            e.parity == '\n' || e.parity == '\0') {
            continue;
        }
        // A usable entry survives writing and reading back.
        PortSettingsEntry again;
        ParsePortSettingsLine(FormatPortSettingsLine(e), again);
        EXPECT_STREQ(again.name, e.name) << line;
        EXPECT_EQ(again.baud, e.baud) << line;
        EXPECT_EQ(again.dataBits, e.dataBits) << line;
        EXPECT_EQ(again.parity, e.parity) << line;
        EXPECT_EQ(again.stopBits, e.stopBits) << line;
    }
}

TEST_F(PortSettingsTest, WritesTheSingleLineAtomically) {
    PortSettingsEntry e;
    std::strcpy(e.name, "COM3");
    e.baud = 9600;
    e.reserved2 = 0;
    e.flagA = 1;
    e.flagB = 0;
    e.dataBits = 8;
    e.parity = 'N';
    e.stopBits = 1;
    ASSERT_EQ(WritePortSettings(e, path_.c_str()), 0);
    EXPECT_EQ(ReadWholeFile(path_), "COM3 0 9600 0 1 0 8 N 1");
    e.parity = 'E';
    e.reserved2 = -5;
    ASSERT_EQ(WritePortSettings(e, path_.c_str()), 0);
    EXPECT_EQ(ReadWholeFile(path_), "COM3 0 9600 -5 1 0 8 E 1");
    ASSERT_EQ(ReadPortSettings(path_.c_str()), 1); // what is written reads back the same
    EXPECT_STREQ(First().name, "COM3");
    EXPECT_EQ(First().reserved2, -5);
    EXPECT_EQ(First().parity, 'E');

    // Bad names are refused, and a failing write leaves the old file as it was.
    std::strcpy(e.name, "COM 3");
    EXPECT_EQ(WritePortSettings(e, path_.c_str()), EINVAL);
    e.name[0] = '\0';
    EXPECT_EQ(WritePortSettings(e, path_.c_str()), EINVAL);
    std::memset(e.name, 'x', 70);
    e.name[70] = '\0';
    EXPECT_EQ(WritePortSettings(e, path_.c_str()), ENAMETOOLONG); // would not read back whole
    std::strcpy(e.name, "ACM0"); // would read back as the port number 0xAC
    EXPECT_EQ(WritePortSettings(e, path_.c_str()), EINVAL);
    std::strcpy(e.name, "COM4");
    EXPECT_NE(WritePortSettings(e, (dir_ / "missing-dir" / "com.ini").c_str()), 0);
    EXPECT_EQ(ReadWholeFile(path_), "COM3 0 9600 -5 1 0 8 E 1");
    for (const auto& file : std::filesystem::directory_iterator(dir_)) {
        EXPECT_EQ(file.path().filename().string().find(".tmp"), std::string::npos) << file.path();
    }
}

} // namespace
} // namespace velmar::test
