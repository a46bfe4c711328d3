// The report, fiscal and defaults commands of the built velmar-cli, against the in-process
// simulator and against a demo image copy.
#include "../cli/cli_runner.h"
#include "data/demo_image.h"
#include "data/memory_map.h"
#include "data/memory_store.h"
#include "sim/core/bus_simulator.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace velmar {
namespace {

using Outcome = test::CliOutcome;

class BuilderCommands : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* dir = std::getenv("VELMAR_BINARY_DIR");
        if (dir == nullptr) GTEST_SKIP() << "VELMAR_BINARY_DIR is not set (run through ctest)";
        binary = std::string(dir) + "/cli/velmar-cli";
        if (access(binary.c_str(), X_OK) != 0) GTEST_SKIP() << binary << " is not built";
        char tmpl[] = "/tmp/velmar-builders-cli-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        workDir = tmpl;
    }
    void TearDown() override {
        if (bus) bus->Stop();
        std::error_code ec;
        if (!workDir.empty()) std::filesystem::remove_all(workDir, ec);
    }

    void StartBus(int address) {
        sim::Options options;
        options.addresses = {address};
        bus = std::make_unique<sim::BusSimulator>(options);
        ASSERT_EQ(bus->Start(), 0);
    }

    Outcome Run(const std::vector<std::string>& args) {
        return test::RunCliProgram(binary, workDir, args);
    }
    Outcome RunOnPort(int ctrl, std::vector<std::string> args) {
        args.insert(args.begin(),
                    {"-p", bus->SlavePath(), "-b", "4800", "-a", std::to_string(ctrl)});
        return Run(args);
    }

    std::string binary;
    std::string workDir;
    std::unique_ptr<sim::BusSimulator> bus;
};

TEST_F(BuilderCommands, ReportAndFiscalOnTheLine) {
    StartBus(3);
    Outcome r = RunOnPort(3, {"report"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.rfind("\tТрк №3\n\nАдрес стороны А - 3\n", 0), 0u) << r.out;
    EXPECT_EQ(r.out.find("Состояние рукава"), std::string::npos);
    r = RunOnPort(3, {"report", "--extended"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("Состояние рукава Сторона А №1"), std::string::npos);
    EXPECT_EQ(RunOnPort(3, {"report", "--wide"}).exitCode, 2);
    // Through the reserve address the report still names the controller by its own number.
    r = RunOnPort(3, {"--reserve", "report"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.rfind("\tТрк №3\n\nАдрес стороны А - 3\n", 0), 0u) << r.out;

    r = RunOnPort(3, {"fiscal"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.rfind("Адрес 3. Рукав 1. Фискальный сумматор = ", 0), 0u) << r.out;

    r = RunOnPort(9, {"fiscal"}); // nobody at 9
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "Ошибка чтения фискальных сумматоров\n");
    EXPECT_TRUE(r.out.empty());
}

TEST_F(BuilderCommands, DefaultsOnTheLine) {
    StartBus(7);
    EXPECT_EQ(RunOnPort(7, {"defaults"}).exitCode, 2);
    EXPECT_EQ(RunOnPort(7, {"defaults", "shell"}).exitCode, 2);
    EXPECT_EQ(RunOnPort(7, {"defaults", "shelf", "--sides", "3"}).exitCode, 2);
    EXPECT_EQ(RunOnPort(7, {"defaults", "shelf", "--nara-addresses", "1,2,3"}).exitCode, 2);
    EXPECT_EQ(RunOnPort(7, {"defaults", "shelf", "--side-addresses", "4,4"}).exitCode, 2);
    {
        auto lock = bus->Lock();
        EXPECT_EQ(bus->Find(7)->restarts, 0); // nothing was sent for a refused call
    }

    const Outcome r =
        RunOnPort(7, {"defaults", "nara", "--sides", "2", "--nozzles", "3", "--side-addresses",
                      "20,21", "--nara-addresses", "6,5,4,3,2,1"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("Работа с Адресом №20"), std::string::npos) << r.out;
    auto lock = bus->Lock();
    sim::Controller* c = bus->Find(20);
    ASSERT_NE(c, nullptr);
    const auto& er = c->Space(0);
    EXPECT_EQ(er[addr::kParams + 2], 20);
    EXPECT_EQ(er[addr::kParams + 3], 21);
    EXPECT_EQ(er[addr::kParams + 6], 6);
    EXPECT_EQ(er[addr::kParams + 11], 1);
    EXPECT_EQ(er[addr::kParams + 12], 0);
    EXPECT_EQ(er[addr::kParams + 30], 0x02); // TrkModes 0x1402
    EXPECT_EQ(er[addr::kMakeBlock], 0x3F);
    EXPECT_EQ(er[addr::kMakeBlock + 24], 15);
}

TEST_F(BuilderCommands, DemoImage) {
    const std::string demo = workDir + "/demo.bin";
    {
        auto controller = sim::Controller::MakeDefault(1);
        MemoryRecordStore memory(controller->Space(0));
        ASSERT_EQ(SaveDemoImage(memory, demo), DemoBuildResult::Built);
    }
    Outcome r = Run({"--demo", demo, "fiscal"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "Демонстрационная версия\n");

    r = Run({"--demo", demo, "defaults", "shelf", "--sides", "1", "--nozzles", "5"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(std::filesystem::file_size(demo), 1625u);
    r = Run({"--demo", demo, "report"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("Количество РК - 5\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Фискальный счетчик  сторона А, 5 рукав = 0,0\n"), std::string::npos);
    EXPECT_EQ(r.out.find("сторона Б"), std::string::npos);
}

} // namespace
} // namespace velmar
