// velmar-cli diff as an engineer runs it: a controller on the simulated line against its saved
// image, two image files without any line, and files that are not images.
#include "cli_bus_fixture.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <unistd.h>

namespace velmar::test {
namespace {

using nlohmann::json;

class ImageDiffCliTest : public CliBusTest {
  protected:
    CliOutcome RunOnLine(std::vector<std::string> args) {
        args.insert(args.begin(), "-q");
        return Run(std::move(args));
    }
    // Files alone: a port that does not exist shows that none is opened.
    CliOutcome RunOffline(std::vector<std::string> args) {
        args.insert(args.begin(), {"-p", "/dev/velmar-none"});
        return RunCliProgram(binary, workDir, args);
    }
    // The price of channel 0 and the minimum Nara dose.
    void SetController(uint8_t priceLo, uint8_t priceHi, uint8_t minVol) {
        auto lock = sim.Lock();
        auto& mem = sim.Find(1)->Space(0);
        mem[0x2000 + 32] = priceLo;
        mem[0x2000 + 33] = priceHi;
        mem[0x5100 + 16] = minVol;
        mem[0x5100 + 17] = 0;
    }
};

TEST_F(ImageDiffCliTest, ControllerAgainstItsImageAndTwoFiles) {
    SetController(0x10, 0x27, 20); // 100,00
    ASSERT_EQ(RunOnLine({"image", "save", "before.bin"}).exitCode, 0);
    auto r = RunOnLine({"diff", "before.bin"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Различий нет\n");

    SetController(0xD2, 0x04, 50); // 12,34
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
    const json doc = json::parse(r.out, nullptr, false);
    ASSERT_FALSE(doc.is_discarded()) << r.out;
    ASSERT_EQ(doc.at("differences").size(), 2u);
    const json& price = doc.at("differences")[0];
    EXPECT_EQ(price.at("channel"), 1);
    EXPECT_EQ(price.at("caption"), "Цена, руб");
    EXPECT_EQ(price.at("b"), "12,34");

    // A file that is not an image is refused with the reason and left as it was.
    std::system(("head -c 100 '" + workDir + "/after.bin' > '" + workDir + "/cut.bin'").c_str());
    r = RunOffline({"diff", "before.bin", "cut.bin"});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.err, "Файл образа короче, чем указано в его заголовке: cut.bin\n");
    EXPECT_EQ(SlurpFile(workDir + "/cut.bin").size(), 100u);
}

} // namespace
} // namespace velmar::test
