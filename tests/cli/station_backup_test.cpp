// Whole-station backup and verify, and the --json output, run as a script would run them: the
// built velmar-cli against a simulated bus of three two-sided controllers (numbers 1, 3, 5; their
// second sides answer at 2, 4, 6).
#include "cli_bus_fixture.h"
#include "data/sha256.h"
#include "sim/core/bus_simulator.h"

#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <pty.h>
#include <sys/wait.h>

namespace velmar::test {
namespace {

using nlohmann::json;

class StationBackupTest : public CliBusTest {
  protected:
    StationBackupTest() : CliBusTest(Controllers({1, 3, 5})) {}
};

TEST_F(StationBackupTest, OneControllerFailingMidSaveLeavesTheOthersSaved) {
    {
        auto lock = sim.Lock();
        // Controller 3 stops answering once the image read reaches its channel registers.
        sim.GetFaults().mutedReadController = 3;
        sim.GetFaults().mutedReadAddress = 0x2000;
    }
    const auto r = Run({"--json", "backup", "st", "1", "6"});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find("Трк №3: не сохранен"), std::string::npos) << r.err;

    // Each run writes into its own folder, named in the manifest.
    const std::string run = workDir + "/st/" + Parse(r.out).value("folder", "?");
    const json manifest = Parse(SlurpFile(run + "/manifest.json"));
    EXPECT_EQ(Parse(r.out), manifest); // --json prints the manifest it wrote
    const json& list = manifest.at("controllers");
    ASSERT_EQ(list.size(), 3u) << manifest.dump(2); // second sides are not saved again
    for (const json& item : list) {
        const int number = item.at("number").get<int>();
        EXPECT_NE(item.at("ident").get<std::string>().find("Velmar"), std::string::npos);
        // The muted read of controller 3 was asked for once more before it failed.
        EXPECT_EQ(item.at("retries").get<int>(), number == 3 ? 1 : 0);
        EXPECT_FALSE(item.at("confirmed_by_rereading").get<bool>()) << "they send the checksum";
        if (number == 3) {
            EXPECT_EQ(item.at("status"), "failed");
            EXPECT_NE(item.at("reason").get<std::string>().find("0x2000"), std::string::npos);
            continue;
        }
        EXPECT_EQ(item.at("status"), "saved") << item.dump();
        const std::string bytes = SlurpFile(run + "/" + item.at("file").get<std::string>());
        auto lock = sim.Lock();
        const auto image = sim.Find(number)->ImageBytes();
        EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.end()), image) << number;
        EXPECT_EQ(item.at("size").get<size_t>(), image.size());
        EXPECT_EQ(item.at("sha256"), Sha256Hex(image.data(), image.size()));
    }
}

TEST_F(StationBackupTest, VerifyNamesTheControllerAndRecordThatChanged) {
    ASSERT_EQ(Run({"backup", "st", "1", "6"}).exitCode, 0);
    auto r = Run({"verify", "st"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Трк №1: совпадает с копией\nТрк №3: совпадает с копией\n"
                     "Трк №5: совпадает с копией\n");

    {
        auto lock = sim.Lock();
        sim.Find(5)->Space(0)[0x1000 + 0x100 * 2 + 4] ^= 0x01; // channel settings 2
    }
    r = Run({"--json", "verify", "st"});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    const json verified = Parse(r.out);
    const json& list = verified.at("controllers");
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].at("status"), "same");
    EXPECT_EQ(list[1].at("status"), "same");
    EXPECT_EQ(list[2].at("status"), "differs");
    EXPECT_EQ(list[2].at("records"), json::array({"0x1200"}));
    // Named as diff names them: the record as the engineer knows it and the screen's caption.
    ASSERT_EQ(list[2].at("fields").size(), 1u);
    EXPECT_EQ(list[2].at("fields")[0].get<std::string>().rfind(
                  "Настройки канала 3 (Сторона Б. Рукав 1): Старший 1 бит цены импульса: ", 0),
              0u)
        << list[2].dump();

    // A damaged copy is told apart from a changed controller.
    std::system(("truncate -s 100 '" + workDir + "/st/latest/" +
                 list[0].at("file").get<std::string>() + "'")
                    .c_str());
    r = Run({"verify", "st"});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.out.rfind("Трк №1: копия повреждена", 0), 0u) << r.out;
}

TEST_F(StationBackupTest, JsonOutputOfTheLineCommands) {
    auto r = Run({"--json", "-a", "3", "identify"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    json doc = Parse(r.out);
    EXPECT_EQ(doc.at("number"), 3);
    EXPECT_EQ(doc.at("ident"), "ТРК контроллер Velmar-K2 v3.14\nЗаводской №000123");
    EXPECT_EQ(doc.at("simulator"), false);

    r = Run({"--json", "scan", "2", "8"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Parse(r.out).at("found"), json::array({2, 3, 4, 5, 6}));

    r = Run({"--json", "sizes"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Parse(r.out).at("paramsLength"), 58);

    {
        auto lock = sim.Lock();
        auto& mem = sim.Find(1)->Space(0);
        mem[0x6000] = 0x0A;
        mem[0x6001] = 0xB2;
    }
    r = Run({"--json", "read", "ER", "6000", "2"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Parse(r.out),
              json({{"space", "ER"}, {"address", 0x6000}, {"count", 2}, {"hex", "0AB2"}}));
}

TEST_F(StationBackupTest, ProgressBarOnlyWhenStderrIsATerminal) {
    // Redirected, stderr stays clean (the other tests' outputs show it); on a terminal the bar
    // climbs to 100 % and is wiped at the end.
    int master = -1;
    int slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    const std::string port = sim.SlavePath();
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(workDir.c_str()) != 0) _exit(126);
        const int out = open("stdout", O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(out, 1);
        dup2(slave, 2);
        execl(binary.c_str(), binary.c_str(), "-p", port.c_str(), "-q", "image", "save", "a.bin",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(slave);
    std::string shown;
    char buf[512];
    for (;;) { // until the program closes its end of the terminal
        const ssize_t n = read(master, buf, sizeof buf);
        if (n <= 0) break;
        shown.append(buf, static_cast<size_t>(n));
    }
    close(master);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_NE(shown.find("[##############################] 100%"), std::string::npos) << shown;
    EXPECT_EQ(shown.substr(shown.size() - 4), "\r\033[K") << shown;
}

} // namespace
} // namespace velmar::test
