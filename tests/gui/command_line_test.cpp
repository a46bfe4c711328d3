// The command line and the hexadecimal controller number.
#include "ui/command_line.h"
#include "ui/fields/hex_number.h"

#include <gtest/gtest.h>

namespace velmar::ui {
namespace {

TEST(CommandLine, DemoModeAndSearchInterval) {
    EXPECT_TRUE(ParseCommandLine({"/i"}).demoMode);
    EXPECT_TRUE(ParseCommandLine({"/I"}).demoMode);
    EXPECT_FALSE(ParseCommandLine({"/x"}).demoMode);

    const CommandLine tfind = ParseCommandLine({"-tfind", "500"});
    EXPECT_EQ(tfind.findIntervalMs, 500);
    EXPECT_FALSE(tfind.demoMode);
    EXPECT_FALSE(ParseCommandLine({"-tfind"}).findIntervalMs);
    EXPECT_FALSE(ParseCommandLine({"/i", "-tfind", "500"}).findIntervalMs);
    // A number that does not parse keeps the default instead of failing the start.
    const CommandLine bad = ParseCommandLine({"-tfind", "abc"});
    EXPECT_FALSE(bad.findIntervalMs);
    EXPECT_FALSE(bad.errors.isEmpty());
}

TEST(CommandLine, OwnOptionsDoNotDisturbTheClassicOnes) {
    const CommandLine c = ParseCommandLine({"--port", "/dev/ttyUSB1", "-tfind", "40"});
    EXPECT_EQ(c.portName, QStringLiteral("/dev/ttyUSB1"));
    EXPECT_EQ(c.findIntervalMs, 40);
    const CommandLine s = ParseCommandLine({"/i", "--simulate=3,17", "--service"});
    EXPECT_TRUE(s.demoMode);
    EXPECT_TRUE(s.service);
    EXPECT_FALSE(c.service);
    EXPECT_TRUE(s.simulate);
    EXPECT_EQ(s.simulatedAddresses, (std::vector<int>{3, 17}));
    EXPECT_EQ(ParseCommandLine({"--simulate"}).simulatedAddresses, std::vector<int>{1});
    EXPECT_EQ(ParseCommandLine({"--image", "a.bin", "-tfind", "40"}).imagePath, "a.bin");
    EXPECT_EQ(ParseCommandLine({"--image=b.bin"}).imagePath, "b.bin");
    EXPECT_FALSE(ParseCommandLine({"--image"}).errors.isEmpty());
}

TEST(HexNumber, ReadsLikeScanf) {
    EXPECT_EQ(ParseHexNumber(QStringLiteral("1f")), 31);
    EXPECT_EQ(ParseHexNumber(QStringLiteral(" 0x85")), 133);
    EXPECT_EQ(ParseHexNumber(QStringLiteral("1fzz")), 31);
    EXPECT_EQ(ParseHexNumber(QStringLiteral("0")), 0);
    EXPECT_EQ(ParseHexNumber(QStringLiteral("-2")), -2);
    EXPECT_FALSE(ParseHexNumber(QStringLiteral("zz")));
    EXPECT_FALSE(ParseHexNumber(QString()));
    EXPECT_EQ(ParseHexNumber(QStringLiteral("0x")), 0); // "0" read, "x" left over
    EXPECT_EQ(ParseHexNumber(QStringLiteral("ffffffff")), -1);
}

} // namespace
} // namespace velmar::ui
