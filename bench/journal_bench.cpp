// What the journal of changes costs. (1) A whole image load into a simulated controller at its line
// speed, with and without journaling (the check before, the entries after: the worst case, no
// record read before, so every field is entered). (2) `velmar-cli changes` over 365 nightly
// backups of 16 controllers, a few settings changing now and then. Prints the figures.
//
//   journal_bench [path/to/velmar-cli]   (default: cli/velmar-cli, run from the build folder)
#include "data/device_image.h"
#include "data/image_write_report.h"
#include "data/journal_store.h"
#include "data/live_store.h"
#include "data/records.h"
#include "link/serial_port.h"
#include "sim/core/bus_simulator.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kLoads = 2;
constexpr int kNights = 365;
constexpr int kControllers = 16;

double Since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void WriteManifest(const std::string& dir, int night, const std::vector<std::string>& files) {
    constexpr std::time_t kFirstNight = 1767234600; // 2026-01-01 02:30 UTC
    constexpr std::time_t kDay = 86400;
    const std::time_t at = kFirstNight + night * kDay;
    std::tm tm{};
    gmtime_r(&at, &tm);
    char time[64];
    std::strftime(time, sizeof time, "%Y-%m-%dT%H:%M:%S+00:00", &tm);
    std::ofstream out(dir + "/manifest.json");
    out << R"({"version":1,"port":"/dev/ttyUSB0","created":")" << time
        << R"(","folder":"x","first":1,"last":16,"controllers":[)";
    for (size_t i = 0; i < files.size(); ++i)
        out << (i ? "," : "") << R"({"number":)" << i + 1
            << R"(,"ident":"","status":"saved","file":")" << files[i]
            << R"(","size":0,"sha256":"","time":")" << time << R"(","retries":0})";
    out << "]}";
}

} // namespace

int main(int argc, char** argv) {
    using namespace velmar;
    const std::string cli = argc > 1 ? argv[1] : "cli/velmar-cli";
    const std::string scratch = "/tmp/velmar-journal-bench";
    std::filesystem::remove_all(scratch);
    std::filesystem::create_directories(scratch);

    // The line time of the controller's own speed.
    uint32_t baud = 0;
    {
        sim::BusSimulator probe(sim::Options{});
        baud = probe.Find(1)->LineBaud();
    }
    sim::Options options;
    options.emulateBaud = baud;
    sim::BusSimulator bus(options);
    if (bus.Start() != 0) return 1;
    StartPortLayer();
    PortSlot slot = 0;
    if (OpenPort(slot, bus.SlavePath().c_str()) != 0 || ConfigurePort(slot, baud, 8, 'N', 1) != 0)
        return 1;
    LiveRecordStore line(slot, 1);
    std::vector<uint8_t> image;
    if (ReadDeviceImage(line, image, {}, nullptr) != ImageSaveResult::Saved) {
        std::fprintf(stderr, "the simulated controller could not be read\n");
        bus.Stop();
        return 1;
    }

    double plain = 0, journaled = 0, journalPart = 0;
    size_t entryCount = 0;
    for (int i = 0; i < kLoads; ++i) {
        auto start = Clock::now();
        WriteImageToController(slot, 1, image, {}, nullptr, nullptr);
        plain += Since(start);

        const std::string path = scratch + "/journal.sqlite";
        std::filesystem::remove(path);
        JournalStore store(line, path, {CurrentJournalOrigin("bench"), "image load", "sim", 1, ""});
        start = Clock::now();
        std::string error;
        if (!store.Ready(error)) return 1;
        // Each record entered before it is sent and its outcome after: the journal's share is
        // what the journaled load takes beyond the plain one.
        ImageWriteReport report;
        WriteImageToController(slot, 1, image, {}, &store.Sizes(), &report, &store);
        journaled += Since(start);
        auto reader = Journal::OpenExisting(path, error);
        if (reader == nullptr) return 1;
        entryCount = reader->List({}, error).size();
    }
    journalPart = journaled - plain;
    std::printf("image load (%zu bytes, %u baud): %.3f s plain, %.3f s journaled; journaling "
                "%.1f ms = %.2f %% (%zu entries, old values unknown)\n",
                image.size(), baud, plain / kLoads, journaled / kLoads, journalPart / kLoads * 1000,
                100.0 * journalPart / plain, entryCount);
    std::fflush(stdout);
    ClosePort(slot);
    StopPortLayer();
    bus.Stop();

    // 365 nights of 16 controllers; every 30th night one controller's settings change.
    const std::string backups = scratch + "/backups/line_ab12";
    for (int night = 0; night < kNights; ++night) {
        char folder[32];
        std::snprintf(folder, sizeof folder, "/night-%03d", night);
        const std::string dir = backups + folder;
        std::filesystem::create_directories(dir);
        std::vector<std::string> files;
        for (int c = 0; c < kControllers; ++c) {
            std::vector<uint8_t> copy = image;
            if (night >= 30 && c == night / 30 % kControllers) copy[100] ^= 0x01;
            copy[200] = static_cast<uint8_t>(night / 7); // a weekly price move
            const std::string name = "trk" + std::to_string(c + 1) + ".bin";
            std::ofstream(dir + "/" + name, std::ios::binary)
                .write(reinterpret_cast<const char*>(copy.data()),
                       static_cast<std::streamsize>(copy.size()));
            files.push_back(name);
        }
        WriteManifest(dir, night, files);
    }
    const auto start = Clock::now();
    const std::string command = cli + " --journal " + scratch + "/journal.sqlite changes " +
                                scratch + "/backups --json > " + scratch + "/changes.json";
    const int rc = std::system(command.c_str());
    std::printf("changes over %d nightly backups of %d controllers: %.2f s (exit %d)\n", kNights,
                kControllers, Since(start), WEXITSTATUS(rc));
    std::filesystem::remove_all(scratch);
    return 0;
}
