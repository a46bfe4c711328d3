// velmar-cli diff as an engineer runs it: a controller on the simulated line against its saved
// image, two image files without any line, and files that are not images.
#include "cli_runner.h"
#include "sim/core/bus_simulator.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <unistd.h>

namespace velmar::test {
namespace {

using nlohmann::json;

class ImageDiffCliTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* dir = std::getenv("VELMAR_BINARY_DIR");
        if (dir == nullptr) GTEST_SKIP() << "VELMAR_BINARY_DIR is not set (run through ctest)";
        binary = std::string(dir) + "/cli/velmar-cli";
        char tmpl[] = "/tmp/velmar-diff-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        workDir = tmpl;
        ASSERT_EQ(sim.Start(), 0);
    }
    void TearDown() override {
        sim.Stop();
        if (!workDir.empty()) std::system(("rm -rf '" + workDir + "'").c_str());
    }
    CliOutcome RunOnLine(std::vector<std::string> args) {
        args.insert(args.begin(), {"-p", sim.SlavePath(), "-b", "4800", "-q"});
        return RunCliProgram(binary, workDir, args);
    }
    // Files alone: a port that does not exist shows that none is opened.
    CliOutcome RunOffline(std::vector<std::string> args) {
        args.insert(args.begin(), {"-p", "/dev/velmar-none"});
        return RunCliProgram(binary, workDir, args);
    }
    // The price of channel 0 and the minimum Nara dose, as the tool would write them.
    void ChangeController() {
        auto lock = sim.Lock();
        auto& mem = sim.Find(1)->Space(0);
        mem[0x2000 + 32] = 0xD2; // 12,34
        mem[0x2000 + 33] = 0x04;
        mem[0x5100 + 16] = 50;
        mem[0x5100 + 17] = 0;
    }

    sim::BusSimulator sim;
    std::string binary, workDir;
};

TEST_F(ImageDiffCliTest, ControllerAgainstItsImageAndTwoFiles) {
    {
        auto lock = sim.Lock();
        auto& mem = sim.Find(1)->Space(0);
        mem[0x2000 + 32] = 0x10; // 100,00
        mem[0x2000 + 33] = 0x27;
        mem[0x5100 + 16] = 20;
        mem[0x5100 + 17] = 0;
    }
    ASSERT_EQ(RunOnLine({"image", "save", "before.bin"}).exitCode, 0);
    auto r = RunOnLine({"diff", "before.bin"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Различий нет\n");

    ChangeController();
    const std::string expected =
        "Состояние канала 1 (Сторона А. Рукав 1): Цена, руб: 100,00 -> 12,34\n"
        "Настройки НАРА-АЗС: Мин доза отпуска: 20 -> 50\n";
    r = RunOnLine({"diff", "before.bin"});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_EQ(r.out, expected);

    ASSERT_EQ(RunOnLine({"image", "save", "after.bin"}).exitCode, 0);
    r = RunOffline({"diff", "before.bin", "after.bin"});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_EQ(r.out, expected);

    r = RunOffline({"--json", "diff", "before.bin", "after.bin"});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    const json doc = json::parse(r.out, nullptr, false);
    ASSERT_FALSE(doc.is_discarded()) << r.out;
    EXPECT_EQ(doc.at("equal"), false);
    const json& list = doc.at("differences");
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0], json({{"record", "Состояние канала 1 (Сторона А. Рукав 1)"},
                             {"address", "0x2000"},
                             {"channel", 1},
                             {"offset", 32},
                             {"length", 2},
                             {"field", "Price"},
                             {"caption", "Цена, руб"},
                             {"a", "100,00"},
                             {"b", "12,34"}}));
    EXPECT_EQ(list[1].at("caption"), "Мин доза отпуска");

    r = RunOffline({"diff", "after.bin", "after.bin"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
}

TEST_F(ImageDiffCliTest, FilesThatAreNotImagesAreRefusedWithTheReason) {
    ASSERT_EQ(RunOnLine({"image", "save", "good.bin"}).exitCode, 0);
    const std::string good = SlurpFile(workDir + "/good.bin");
    std::system(("head -c 100 '" + workDir + "/good.bin' > '" + workDir + "/cut.bin'").c_str());
    auto r = RunOffline({"diff", "good.bin", "cut.bin"});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.err, "Файл образа короче, чем указано в его заголовке: cut.bin\n");
    EXPECT_EQ(r.out, "");
    r = RunOnLine({"diff", "none.bin"});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_NE(r.err.find("Не удалось открыть файл образа: none.bin"), std::string::npos) << r.err;
    r = RunOnLine({"diff"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(SlurpFile(workDir + "/good.bin"), good);
    EXPECT_EQ(SlurpFile(workDir + "/cut.bin").size(), 100u);
}

} // namespace
} // namespace velmar::test
