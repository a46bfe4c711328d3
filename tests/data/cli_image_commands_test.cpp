// velmar-cli's image commands as an engineer runs them: against the simulator over a pseudo-
// terminal and against a copy of the shipped demo image.
#include "../cli/cli_runner.h"
#include "data_test_support.h"
#include "sim/core/bus_simulator.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <unistd.h>

namespace velmar {
namespace {

using Outcome = test::CliOutcome;

class CliImageTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* bin = std::getenv("VELMAR_BINARY_DIR");
        const char* src = std::getenv("VELMAR_SOURCE_DIR");
        if (bin == nullptr || src == nullptr) GTEST_SKIP() << "run through ctest";
        binary = std::string(bin) + "/cli/velmar-cli";
        ASSERT_EQ(::access(binary.c_str(), X_OK), 0) << binary;
        shipped = std::string(src) + "/demo_trk.bin";
    }

    // Runs velmar-cli in the temporary directory.
    Outcome Run(const std::vector<std::string>& args) {
        return test::RunCliProgram(binary, dir.Path(), args);
    }

    test::TempDir dir;
    std::string binary, shipped;
};

TEST_F(CliImageTest, DemoImageCommands) {
    const auto demo = test::ReadBytes(shipped);
    test::WriteBytes(dir.File("demo_trk.bin"), demo);

    auto r = Run({"--demo", "make-demo", "copy.bin"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(test::ReadBytes(dir.File("copy.bin")), demo) << "a demo image copies itself";

    r = Run({"--demo", "report"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("Адрес стороны А - 1"), std::string::npos) << r.out;

    r = Run({"--demo", "image", "save", "x.bin"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_FALSE(std::filesystem::exists(dir.File("x.bin")));

    r = Run({"--demo", "missing.bin", "report"});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_NE(r.err.find("missing.bin"), std::string::npos);

    test::WriteBytes(dir.File("short.bin"), {58, 2, 2, 19, 0, 69, 12});
    r = Run({"--demo", "short.bin", "report"});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_NE(r.err.find("1625"), std::string::npos) << r.err;
}

TEST_F(CliImageTest, SaveAndLoadAgainstTheSimulator) {
    sim::Options one;
    sim::BusSimulator source(one), target;
    ASSERT_EQ(source.Start(), 0);
    ASSERT_EQ(target.Start(), 0);
    {
        auto lock = source.Lock();
        auto& er = source.Find(1)->Space(0);
        for (int i = 0; i < 69; ++i) er[static_cast<size_t>(0x2300 + i)] = static_cast<uint8_t>(i);
    }

    auto r = Run({"-p", source.SlavePath(), "-b", "4800", "image", "save", "saved.bin"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Образ контроллера успешно сохранен\n");
    EXPECT_EQ(test::ReadBytes(dir.File("saved.bin")).size(), 1810u);

    r = Run({"-p", target.SlavePath(), "-b", "4800", "image", "load", "saved.bin"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Образ успешно записан в контроллер\n");
    source.Stop();
    target.Stop();
    EXPECT_EQ(source.Find(1)->Space(0), target.Find(1)->Space(0));
}

TEST_F(CliImageTest, RefusedFilesAndSilentControllers) {
    sim::BusSimulator bus;
    ASSERT_EQ(bus.Start(), 0);
    const uint64_t framesBefore = bus.FramesSeen();
    test::WriteBytes(dir.File("bad.bin"), {58, 2, 0, 19, 0, 69, 12, 1, 2, 3});
    auto r = Run({"-p", bus.SlavePath(), "-b", "4800", "image", "load", "bad.bin"});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_NE(r.err.find("заголовок"), std::string::npos) << r.err;
    r = Run({"-p", bus.SlavePath(), "-b", "4800", "image", "load", "none.bin"});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(bus.FramesSeen(), framesBefore) << "nothing sent for a refused file";

    test::WriteBytes(dir.File("kept.bin"), {1, 2, 3});
    {
        auto lock = bus.Lock();
        bus.GetFaults().noAnswer = true;
    }
    r = Run({"-p", bus.SlavePath(), "-b", "4800", "-q", "image", "save", "kept.bin"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "Нет связи с устройством\n");
    EXPECT_EQ(test::ReadBytes(dir.File("kept.bin")), (std::vector<uint8_t>{1, 2, 3}));
    bus.Stop();
}

TEST_F(CliImageTest, RereadControllerAndFailedLoadAreToldOnStderr) {
    sim::BusSimulator bus;
    ASSERT_EQ(bus.Start(), 0);
    {
        auto lock = bus.Lock();
        bus.GetFaults().trailerNotChecksum = true;
    }
    auto r = Run({"-p", bus.SlavePath(), "-b", "4800", "-q", "image", "save", "saved.bin"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "Трк №1: последний байт ответа - не контрольная сумма; каждый ответ "
                     "подтвержден повторным чтением\n");
    {
        auto lock = bus.Lock();
        EXPECT_EQ(test::ReadBytes(dir.File("saved.bin")), bus.Find(1)->ImageBytes());
        bus.GetFaults().writeStatusAddress = 0x2400; // channel 5's registers refuse
        // and hold other bytes than the image (a refused chunk found written would be done)
        bus.Find(1)->Space(0)[0x2400] ^= 0xFF;
    }
    r = Run({"-p", bus.SlavePath(), "-b", "4800", "-q", "image", "load", "saved.bin"});
    EXPECT_EQ(r.exitCode, 1);
    for (const char* part :
         {"Образ записан в контроллер не полностью", "регистры каналов 1–4.",
          "Не записаны: регистры каналов 5–16", "смесь двух образов", "Загрузите тот же образ"})
        EXPECT_NE(r.err.find(part), std::string::npos) << part << "\n" << r.err;
    bus.Stop();
}

} // namespace
} // namespace velmar
