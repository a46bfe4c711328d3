// velmar-cli saving images from a line whose replies come late: a controller slower than every
// wait. A saved image is the controller's byte for byte, or the save fails loudly and leaves no
// file.
#include "cli_bus_fixture.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>

namespace velmar::test {
namespace {

constexpr int kSides = 2;
constexpr int kHosesPerSide = 2;

sim::Options LateLine(uint32_t emulateBaud) {
    sim::Options options = Controllers({1}, kSides);
    options.hosesPerSide = kHosesPerSide;
    options.emulateBaud = emulateBaud;
    options.checkBaud = false; // the tool's speed is the line's, whatever the block says
    return options;
}

class LateReplySaveTest : public CliBusTest {
  protected:
    explicit LateReplySaveTest(uint32_t baud) : CliBusTest(LateLine(baud)) {}
    std::string ControllerImage() {
        auto lock = sim.Lock();
        const auto bytes = sim.Find(1)->ImageBytes();
        return {bytes.begin(), bytes.end()};
    }
    // Saves the image; true when it was saved, and then it must be the controller's.
    bool SaveIsRightOrFailsLoudly(const std::vector<std::string>& options,
                                  const std::string& name) {
        std::vector<std::string> args = options;
        args.insert(args.end(), {"image", "save", name});
        const auto r = Run(args);
        SCOPED_TRACE(r.out + r.err);
        if (r.exitCode == 0) {
            EXPECT_EQ(SlurpFile(Path(name)), ControllerImage())
                << "a saved image must be the controller's";
            return true;
        }
        EXPECT_FALSE(std::filesystem::exists(Path(name)));
        EXPECT_FALSE((r.out + r.err).empty()) << "a failure is told";
        return false;
    }
};

class SlowControllerSaveTest : public LateReplySaveTest {
  protected:
    SlowControllerSaveTest() : LateReplySaveTest(4800) {}
};

// 700 ms after each frame at 4800 baud: beyond the reads' wait and its watch. Each reply is
// taken for the request it answers; with retries enough to outlast the delay, the save succeeds.
TEST_F(SlowControllerSaveTest, AControllerSlowerThanEveryWaitSavesItsOwnImage) {
    constexpr int kTurnaroundMs = 700;
    {
        auto lock = sim.Lock();
        sim.Find(1)->turnaroundMs = kTurnaroundMs;
    }
    EXPECT_TRUE(SaveIsRightOrFailsLoudly({"--retries", "4"}, "slow.bin"))
        << "five attempts outlast the delay";
    // Without retries the first reply comes after the only wait: the save fails, never wrong.
    SaveIsRightOrFailsLoudly({"--retries", "0"}, "no-retries.bin");
}

} // namespace
} // namespace velmar::test
