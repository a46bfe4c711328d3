// Whole-image saves and loads over a noisy line. Against the in-process controller simulator
// emulating the line time at 38400 baud, it saves device images on a clean line, then runs 50
// (by default) of each row below and prints
//   - saves, for a controller that sends the checksum and one whose trailing reply byte is not a
//     checksum, under 1 % and 3 % replies with one flipped bit plus as many lost replies: saves
//     right, saves failed with the old file kept, saves wrong (reported as saved while the file
//     differs from the controller's memory, or a failed save that damaged the old file), and the
//     mean save time against the clean line's;
//   - loads of an image into the controller under 1 % / 1 %: complete (and right), incomplete
//     with every record accounted for in the report, wrong (complete yet the controller differs,
//     or an incomplete one without its records);
//   - the clean save time against the line-time minimum (bytes x 10 bits / baud), for both kinds
//     of controller (the one without the checksum reads each request twice).
//
// Usage: noisy_image_save [RUNS [SEED]]   (50 runs, seed 1 by default)
// The figures are wall times: on a loaded machine run it with a real-time priority
// (chrt -f 10 noisy_image_save) so that they measure the exchanges rather than the scheduler.
#include "data/device_image.h"
#include "data/image_write_report.h"
#include "data/live_store.h"
#include "link/serial_port.h"
#include "protocol/ctrlr_protocol.h"
#include "protocol/read_retry.h"
#include "sim/core/bus_simulator.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace velmar;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kBaud = 38400;
constexpr int kCtrl = 1;
constexpr int kCleanSaves = 5;

// The live controller, counting the bytes each successful read request puts on the line: command
// frame, header, data and the trailing byte.
class CountingStore final : public RecordStore {
  public:
    CountingStore(const PortSlot& slot, const int& ctrl) : live_(slot, ctrl) {}
    StoreResult Read(int address, int length, uint8_t* dst, uint8_t space) override {
        const StoreResult got = live_.Read(address, length, dst, space);
        if (length <= 0) lineBytes += 4 + 8 + 2;
        for (int left = got.Length(); left > 0; left -= kMaxChunk)
            lineBytes += 4 + 8 + std::min(left, kMaxChunk) + 1;
        return got;
    }
    StoreResult Write(int address, int length, const uint8_t* data, uint8_t space) override {
        return live_.Write(address, length, data, space);
    }
    StoreResult Restart() override { return live_.Restart(); }
    StoreResult ReadSizes() override {
        lineBytes += 4 + 8 + len::kSizes + 1;
        const StoreResult result = live_.ReadSizes();
        Sizes() = live_.Sizes();
        return result;
    }
    bool Holds(int address, uint8_t space) const override { return live_.Holds(address, space); }
    bool IsDemo() const override { return false; }

    long lineBytes = 0;

  private:
    LiveRecordStore live_;
};

std::vector<uint8_t> FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

struct Tally {
    int right = 0, failedKept = 0, wrong = 0;
    double totalMs = 0;
    long lineBytes = 0; // of the last right save
};

// One save into `path`, which holds `previous` before it.
void SaveOnce(sim::BusSimulator& bus, PortSlot slot, const std::string& path, Tally& tally) {
    const std::vector<uint8_t> previous = {'o', 'l', 'd'};
    WriteFile(path, previous);
    int ctrl = kCtrl;
    CountingStore store(slot, ctrl);
    const auto start = Clock::now();
    const ImageSaveResult result = SaveDeviceImage(store, path);
    tally.totalMs += std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    std::vector<uint8_t> memory;
    {
        auto lock = bus.Lock();
        memory = bus.Find(kCtrl)->ImageBytes();
    }
    const std::vector<uint8_t> file = FileBytes(path);
    if (result == ImageSaveResult::Saved && file == memory) {
        ++tally.right;
        tally.lineBytes = store.lineBytes;
    } else if (result != ImageSaveResult::Saved && file == previous) {
        ++tally.failedKept;
    } else {
        ++tally.wrong;
    }
}

Tally Run(sim::BusSimulator& bus, PortSlot slot, const std::string& path, int saves) {
    Tally tally;
    for (int i = 0; i < saves; ++i) SaveOnce(bus, slot, path, tally);
    return tally;
}

double LineMs(long bytes) {
    return static_cast<double>(bytes) * 10.0 * 1000.0 / kBaud;
}

void PrintClean(const char* what, const Tally& t, int saves) {
    const double mean = t.totalMs / saves;
    std::printf("%-44s %d/%d right, mean %.1f ms, line minimum %.1f ms, ratio %.3f\n", what,
                t.right, saves, mean, LineMs(t.lineBytes), mean / LineMs(t.lineBytes));
}

} // namespace

void SetNoise(sim::BusSimulator& bus, bool noChecksum, double rate, uint32_t seed) {
    auto lock = bus.Lock();
    auto& f = bus.GetFaults();
    f = sim::Faults{};
    f.trailerNotChecksum = noChecksum;
    f.flipRate = rate;
    f.lossRate = rate;
    f.noiseSeed = seed;
}

void PrintNoisy(const char* kind, double rate, const Tally& t, int saves, double cleanMean,
                uint64_t hits) {
    const double mean = t.totalMs / saves;
    std::printf("saves, %-11s %2.0f %% / %2.0f %%: right %2d, failed (file kept) %2d, wrong %d; "
                "mean %.1f ms (%.3f x clean); replies hit %llu\n",
                kind, rate * 100, rate * 100, t.right, t.failedKept, t.wrong, mean,
                mean / cleanMean, static_cast<unsigned long long>(hits));
}

struct LoadTally {
    int complete = 0, noRestart = 0, reported = 0, wrong = 0;
    double totalMs = 0;
};

// Loads `image` into the controller; judged against what the controller then holds.
void LoadOnce(sim::BusSimulator& bus, PortSlot slot, const std::vector<uint8_t>& image,
              LoadTally& tally) {
    ImageWriteReport report;
    const auto start = Clock::now();
    const ImageWriteResult result =
        WriteImageToController(slot, kCtrl, image, {}, nullptr, &report);
    tally.totalMs += std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    std::vector<uint8_t> memory;
    {
        auto lock = bus.Lock();
        memory = bus.Find(kCtrl)->ImageBytes();
    }
    if (result == ImageWriteResult::Written || result == ImageWriteResult::WrittenNoRestart) {
        if (memory == image) {
            ++tally.complete;
            if (result == ImageWriteResult::WrittenNoRestart) ++tally.noRestart;
        } else {
            ++tally.wrong;
        }
        return;
    }
    // Incomplete: every record must be named, written or not.
    const size_t records = ImageRecords(image.data()).size() - (image[4] == 0 ? 2 : 0);
    const bool accounted =
        !report.anythingSent || report.written.size() + report.notWritten.size() == records;
    if (accounted && !ImageWriteFailureText(report).empty())
        ++tally.reported;
    else
        ++tally.wrong;
}

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
    const auto seed = static_cast<uint32_t>(argc > 2 ? std::strtoul(argv[2], nullptr, 0) : 1);
    const std::string path = "/tmp/velmar_noisy_save_" + std::to_string(::getpid()) + ".bin";

    sim::Options options;
    options.emulateBaud = kBaud;
    options.checkBaud = false; // the controller's configured speed is not the point here
    sim::BusSimulator bus(options);
    if (const int rc = bus.Start(); rc != 0) {
        std::fprintf(stderr, "simulator did not start (errno %d)\n", rc);
        return 1;
    }
    SetExchangeLogPath("/dev/null");
    StartPortLayer();
    PortSlot slot = 0;
    // Each port opened starts a fresh line: what was learnt about the controller goes with it.
    const auto openLine = [&] {
        if (slot != 0) ClosePort(slot);
        if (OpenPort(slot, bus.SlavePath().c_str()) == 0 &&
            ConfigurePort(slot, kBaud, 8, 'N', 1) == 0)
            return true;
        std::fprintf(stderr, "cannot open %s\n", bus.SlavePath().c_str());
        return false;
    };
    if (!openLine()) return 1;
    std::printf("whole-image saves at %u baud, read retries %d\n", kBaud, ReadRetries(slot));

    const Tally clean = Run(bus, slot, path, kCleanSaves);
    PrintClean("clean line:", clean, kCleanSaves);

    const double cleanMean = clean.totalMs / kCleanSaves;
    bool allGood = clean.right == kCleanSaves;
    for (const double rate : {0.01, 0.03}) {
        for (const bool noChecksum : {false, true}) {
            SetNoise(bus, noChecksum, rate, seed);
            if (!openLine()) return 1;
            const uint64_t hitBefore = bus.NoisyReplies();
            const Tally noisy = Run(bus, slot, path, runs);
            PrintNoisy(noChecksum ? "no checksum" : "checksum", rate, noisy, runs, cleanMean,
                       bus.NoisyReplies() - hitBefore);
            allGood = allGood && noisy.wrong == 0;
        }
    }

    // Loads: the controller's image and a variant with other channel registers, in turn, so
    // that every load changes what the controller holds.
    SetNoise(bus, false, 0, seed);
    std::vector<uint8_t> images[2];
    {
        auto lock = bus.Lock();
        images[0] = bus.Find(kCtrl)->ImageBytes();
    }
    images[1] = images[0];
    const size_t regs = images[1].size() - 313 - 16u * images[1][5];
    for (size_t i = regs; i < regs + 16u * images[1][5]; ++i) images[1][i] ^= 0x3C;
    SetNoise(bus, false, 0.01, seed);
    const uint64_t retriedBefore = RetriedRequests(slot);
    LoadTally loads;
    for (int i = 0; i < runs; ++i) LoadOnce(bus, slot, images[(i + 1) % 2], loads);
    std::printf("loads, 1 %% / 1 %%: complete %d (restart unconfirmed %d), incomplete and "
                "reported with their records %d, wrong %d; mean %.1f ms; chunks or requests "
                "repeated %llu\n",
                loads.complete, loads.noRestart, loads.reported, loads.wrong, loads.totalMs / runs,
                static_cast<unsigned long long>(RetriedRequests(slot) - retriedBefore));
    allGood = allGood && loads.wrong == 0;

    SetNoise(bus, true, 0, seed);
    if (!openLine()) return 1;
    const Tally unchecked = Run(bus, slot, path, kCleanSaves);
    PrintClean("clean line, trailing byte not a checksum:", unchecked, kCleanSaves);
    allGood = allGood && unchecked.right == kCleanSaves;

    ClosePort(slot);
    StopPortLayer();
    bus.Stop();
    ::unlink(path.c_str());
    return allGood ? 0 : 1;
}
