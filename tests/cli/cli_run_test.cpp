// velmar-cli as an engineer's script would run it: the built program against the in-process
// controller simulator's pseudo-terminal, checking its output, messages and exit codes.
#include "cli_bus_fixture.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace velmar::test {
namespace {

using Outcome = CliOutcome;

class CliTest : public CliBusTest {
  protected:
    void SetUp() override {
        CliBusTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        port = sim.SlavePath();
        auto lock = sim.Lock();
        // "ТРК 1", CR LF, "проверка №5" in code page 866.
        sim.Find(1)->identText = "\x92\x90\x8A\x20\x31\x0D\x0A\xAF\xE0\xAE\xA2\xA5\xE0\xAA\xA0"
                                 "\x20\xFC\x35";
        sim.Find(1)->Space(2)[0x24] = 0x00;
    }
    // Runs velmar-cli in the working directory with `args`.
    Outcome Run(const std::vector<std::string>& args) {
        return RunCliProgram(binary, workDir, args);
    }
    Outcome RunOnPort(std::vector<std::string> args) {
        return CliBusTest::Run(port, std::move(args));
    }
    template <class F> void WithFaults(F change) {
        auto lock = sim.Lock();
        change(sim.GetFaults());
    }
    std::vector<uint8_t> Mem(int address, int n, int space = 0) {
        auto lock = sim.Lock();
        const auto& m = sim.Find(1)->Space(space);
        return {m.begin() + address, m.begin() + address + n};
    }

    std::string port;
};

// Installed (the program in <prefix>/bin), --demo without a file works on the user's copy of the
// installed image, made on first use, as the window does.
TEST_F(CliTest, DemoWithoutAFileFindsTheInstalledImage) {
    const char* source = std::getenv("VELMAR_SOURCE_DIR");
    ASSERT_NE(source, nullptr);
    const std::string prefix = workDir + "/usr";
    ASSERT_EQ(std::system(("mkdir -p '" + prefix + "/bin' '" + prefix + "/share/velmar' && cp '" +
                           binary + "' '" + prefix + "/bin/' && cp '" + source +
                           "/demo_trk.bin' '" + prefix + "/share/velmar/'")
                              .c_str()),
              0);
    setenv("XDG_DATA_HOME", (workDir + "/data").c_str(), 1);
    const Outcome r = RunCliProgram(prefix + "/bin/velmar-cli", workDir, {"--demo", "sizes"});
    unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(access((workDir + "/data/velmar/demo_trk.bin").c_str(), F_OK), 0);
}

TEST_F(CliTest, IdentifyPrintsTextNumberAndSimulatorState) {
    auto r = RunOnPort({"identify"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "ТРК 1\nпроверка №5\nРабота с Адресом №1\nИмитатор выключен\n");
    EXPECT_EQ(r.err, "");

    {
        auto lock = sim.Lock();
        sim.Find(1)->Space(2)[0x24] = 0x41;
    }
    r = RunOnPort({"--reserve", "identify"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("Работа с Адресом №1\nИмитатор включен\n"), std::string::npos) << r.out;
}

TEST_F(CliTest, IdentifyFailuresUseTheToolsTexts) {
    auto r = RunOnPort({"-a", "0x1f", "identify"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "Нет связи с устройством №31\n");
    EXPECT_EQ(r.out, "");

    WithFaults([](sim::Faults& f) { f.wrongPollEcho = true; });
    r = RunOnPort({"identify"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "C данным устройством не поддерживается работа\n");

    WithFaults([](sim::Faults& f) {
        f.wrongPollEcho = false;
        f.noIdentAnswer = true;
    });
    r = RunOnPort({"identify"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "Идентификатор не считан\n");

    WithFaults([](sim::Faults& f) { f.noAnswer = true; });
    r = RunOnPort({"--reserve", "identify"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "По резервному каналу связь не установлена\n");
}

TEST_F(CliTest, ScanListsEveryNumber) {
    // The default controller serves two sides: numbers 1 and 2.
    const auto r = RunOnPort({"scan", "1", "4"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Трк №1 найдено.\nТрк №2 найдено.\nТрк №3 не найдено.\nТрк №4 не найдено.\n");
}

TEST_F(CliTest, ReadDumpsRowsOfSixteen) {
    const auto sizes = Mem(0x3040, 7);
    auto r = RunOnPort({"read", "ER", "3040", "7"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    char expected[64];
    std::snprintf(expected, sizeof expected, "00003040  %02X %02X %02X %02X %02X %02X %02X",
                  sizes[0], sizes[1], sizes[2], sizes[3], sizes[4], sizes[5], sizes[6]);
    EXPECT_EQ(r.out.rfind(expected, 0), 0u) << r.out;

    r = RunOnPort({"read", "er", "1F0", "21"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::vector<std::string> rows;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) rows.push_back(line.substr(0, 8));
    EXPECT_EQ(rows, (std::vector<std::string>{"000001f0", "00000200", "00000210"}));
}

TEST_F(CliTest, WriteThenReadBack) {
    auto r = RunOnPort({"write", "ER", "6000", "0A1B2C"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Mem(0x6000, 3), (std::vector<uint8_t>{0x0A, 0x1B, 0x2C}));
    r = RunOnPort({"read", "ER", "6000", "3"});
    EXPECT_EQ(r.out.rfind("00006000  0A 1B 2C", 0), 0u) << r.out;

    WithFaults([](sim::Faults& f) { f.writeStatusAddress = 0x6000; });
    r = RunOnPort({"write", "ER", "6000", "01", "02"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "Ошибка записи ER\n");
}

TEST_F(CliTest, SizesRestartAndSimulator) {
    auto r = RunOnPort({"sizes"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("Длина блока параметров: " + std::to_string(Mem(0x3040, 1)[0])),
              std::string::npos);

    r = RunOnPort({"simulator", "on"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Mem(0x24, 1, 2)[0] & 0x40, 0x40);

    int before = 0;
    {
        auto lock = sim.Lock();
        before = sim.Find(1)->restarts;
    }
    r = RunOnPort({"restart"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    auto lock = sim.Lock();
    EXPECT_EQ(sim.Find(1)->restarts, before + 1);
}

TEST_F(CliTest, UsageErrorsAndPortFailures) {
    EXPECT_EQ(Run({}).exitCode, 2);
    EXPECT_EQ(Run({"frobnicate"}).exitCode, 2);
    EXPECT_EQ(Run({"-a", "zz", "identify"}).exitCode, 2);
    EXPECT_EQ(RunOnPort({"read", "XR", "0", "1"}).exitCode, 2);
    EXPECT_EQ(RunOnPort({"write", "ER", "6000", "ABC"}).exitCode, 2);
    EXPECT_EQ(RunOnPort({"scan", "5", "3"}).exitCode, 2);
    EXPECT_EQ(RunOnPort({"--parity", "X", "sizes"}).exitCode, 2);
    EXPECT_EQ(RunOnPort({"--parity", "NE", "sizes"}).exitCode, 2);
    EXPECT_NE(RunOnPort({"--parity", "X", "sizes"}).err.find("S или Z"), std::string::npos);
    EXPECT_EQ(Run({"--help"}).exitCode, 0);

    // The system's reason, never a port-layer code read as an errno.
    const auto r = Run({"-p", workDir + "/no-such-port", "identify"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err.rfind("Ошибка открытия порта " + workDir +
                              "/no-such-port: нет такого "
                              "устройства",
                          0),
              0u)
        << r.err;
}

TEST_F(CliTest, PortSettingsComeFromComIni) {
    {
        std::ofstream ini(workDir + "/com.ini", std::ios::binary);
        ini << port << " 0 4800 0 1 0 8 N 1";
    }
    const auto r = Run({"identify"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("Работа с Адресом №1"), std::string::npos);
}

TEST_F(CliTest, RetriedRequestsAreCountedUnlessQuiet) {
    const auto dropOne = [](sim::Faults& f) { f.dropReplies = 1; };
    WithFaults(dropOne);
    auto r = RunOnPort({"report"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "Повторных запросов: 1\n");
    const std::string report = r.out;

    WithFaults(dropOne);
    r = RunOnPort({"-q", "--retries", "1", "report"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, report);

    // No retries: a lost reply fails the read, as it always did.
    WithFaults(dropOne);
    r = RunOnPort({"--retries", "0", "read", "ER", "3040", "7"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "Ошибка чтения ER\n");

    r = RunOnPort({"scan", "1", "1"});
    EXPECT_EQ(r.err, "Повторных запросов: 0\n") << "polls are never repeated";

    r = RunOnPort({"--retries", "11", "report"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, "Неверное число повторов: 11 (0..10)\n");
}

// set-params writes with the settings tab's sequence; bad fields and values change nothing.
TEST_F(CliTest, SetParamsWritesRestartsAndRefusesBadInput) {
    const std::vector<uint8_t> before = Mem(0x3101, 58);
    for (const char* bad : {"NoSuchField=1", "MetTOut=256", "MetTOut=x", "Ksm=1", "MetTOut"}) {
        const auto r = RunOnPort({"set-params", bad});
        EXPECT_EQ(r.exitCode, 2) << bad;
        EXPECT_EQ(Mem(0x3101, 58), before) << bad;
    }
    auto r = RunOnPort({"set-params", "MetTOut=" + std::to_string(before[27] ^ 1)});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Параметры успешно записаны\n");
    EXPECT_EQ(Mem(0x3101 + 27, 1)[0], before[27] ^ 1);
    {
        auto lock = sim.Lock();
        EXPECT_EQ(sim.Find(1)->restarts, 1);
    }
    WithFaults([](sim::Faults& f) { f.writeStatusAddress = 0x88FFFF; });
    r = RunOnPort({"set-params", "MetTOut=" + std::to_string(before[27])});
    EXPECT_EQ(r.exitCode, 1);
    // A status that says no is a refusal, reported as one.
    EXPECT_NE(r.err.find("Контроллер отказался выполнить рестарт"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("потерян"), std::string::npos) << r.err;
}

} // namespace
} // namespace velmar::test
