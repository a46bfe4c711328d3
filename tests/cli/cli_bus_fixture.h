// A simulated controller line and a scratch folder for running the built velmar-cli against it.
// Each test class gives the controllers on the line; Run puts the port and speed in front.
#pragma once

#include "cli_runner.h"
#include "sim/core/bus_simulator.h"

#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <string>
#include <unistd.h>
#include <vector>

namespace velmar::test {

inline sim::Options Controllers(std::vector<int> addresses, int sides = 2) {
    sim::Options options;
    options.addresses = std::move(addresses);
    options.sides = sides;
    return options;
}

class CliBusTest : public ::testing::Test {
  protected:
    explicit CliBusTest(sim::Options options = {}) : sim(std::move(options)) {}
    void SetUp() override {
        const char* dir = std::getenv("VELMAR_BINARY_DIR");
        if (dir == nullptr) GTEST_SKIP() << "VELMAR_BINARY_DIR is not set (run through ctest)";
        binary = std::string(dir) + "/cli/velmar-cli";
        ASSERT_EQ(::access(binary.c_str(), X_OK), 0) << binary;
        char tmpl[] = "/tmp/velmar-cli-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        workDir = tmpl;
        ASSERT_EQ(sim.Start(), 0);
    }
    void TearDown() override {
        sim.Stop();
        if (workDir.empty()) return;
        // Kept for a look (the files written, the exchange log) after a failure, or on asking.
        if (HasFailure() || std::getenv("VELMAR_CLI_KEEP") != nullptr) {
            std::printf("files of the test in %s\n", workDir.c_str());
            return;
        }
        std::system(("rm -rf '" + workDir + "'").c_str());
    }
    CliOutcome Run(const std::string& port, std::vector<std::string> args) {
        // VELMAR_CLI_LOG=1: each run writes its exchange log (port.out) into the test's folder.
        std::vector<std::string> full;
        if (std::getenv("VELMAR_CLI_LOG") != nullptr) full.emplace_back("--log");
        full.insert(full.end(), {"-p", port, "-b", "4800"});
        full.insert(full.end(), args.begin(), args.end());
        return RunCliProgram(binary, workDir, full);
    }
    CliOutcome Run(std::vector<std::string> args) { return Run(sim.SlavePath(), std::move(args)); }
    static nlohmann::json Parse(const std::string& text) {
        nlohmann::json doc = nlohmann::json::parse(text, nullptr, false);
        EXPECT_FALSE(doc.is_discarded()) << text;
        return doc;
    }
    std::string Path(const std::string& name) const { return workDir + "/" + name; }

    sim::BusSimulator sim;
    std::string binary, workDir;
};

} // namespace velmar::test
