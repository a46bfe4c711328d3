// Whole-image saves over a noisy line. Against the in-process controller simulator emulating the
// line time at 38400 baud, it saves device images on a clean line, then SAVES images under 1 %
// replies with one flipped bit and 1 % lost replies, and prints
//   - saves right, saves failed with the old file kept, saves wrong (reported as saved while the
//     file differs from the controller's memory, or a failed save that damaged the old file),
//   - the mean noisy save time against the clean line's,
//   - the clean save time against the line-time minimum (bytes x 10 bits / baud),
//   - the same clean-line figures for a controller whose trailing reply byte is not a checksum.
//
// Usage: noisy_image_save [SAVES [SEED]]   (50 saves, seed 1 by default)
// The figures are wall times: on a loaded machine run it with a real-time priority
// (chrt -f 10 noisy_image_save) so that they measure the exchanges rather than the scheduler.
#include "data/device_image.h"
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
    int Read(int address, int length, uint8_t* dst, uint8_t space) override {
        const int got = live_.Read(address, length, dst, space);
        if (length <= 0) lineBytes += 4 + 8 + 2;
        for (int left = std::max(got, 0); left > 0; left -= kMaxChunk)
            lineBytes += 4 + 8 + std::min(left, kMaxChunk) + 1;
        return got;
    }
    int Write(int address, int length, const uint8_t* data, uint8_t space) override {
        return live_.Write(address, length, data, space);
    }
    int Restart() override { return live_.Restart(); }
    int ReadSizes() override {
        lineBytes += 4 + 8 + len::kSizes + 1;
        const int result = live_.ReadSizes();
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
    const int result = SaveDeviceImage(store, path);
    tally.totalMs += std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    std::vector<uint8_t> memory;
    {
        auto lock = bus.Lock();
        memory = bus.Find(kCtrl)->ImageBytes();
    }
    const std::vector<uint8_t> file = FileBytes(path);
    if (result == kImageSaved && file == memory) {
        ++tally.right;
        tally.lineBytes = store.lineBytes;
    } else if (result != kImageSaved && file == previous) {
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

int main(int argc, char** argv) {
    const int saves = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
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
    if (OpenPort(slot, bus.SlavePath().c_str()) != 0 ||
        ConfigurePort(slot, kBaud, 8, 'N', 1) != 0) {
        std::fprintf(stderr, "cannot open %s\n", bus.SlavePath().c_str());
        return 1;
    }
    std::printf("whole-image saves at %u baud, read retries %d\n", kBaud, ReadRetries());

    const Tally clean = Run(bus, slot, path, kCleanSaves);
    PrintClean("clean line:", clean, kCleanSaves);

    {
        auto lock = bus.Lock();
        auto& f = bus.GetFaults();
        f.flipRate = 0.01;
        f.lossRate = 0.01;
        f.noiseSeed = seed;
    }
    ResetRetriedRequests();
    const Tally noisy = Run(bus, slot, path, saves);
    const double cleanMean = clean.totalMs / kCleanSaves;
    const double noisyMean = noisy.totalMs / saves;
    std::printf("1 %% flipped bits + 1 %% lost replies (seed %u): %d saves, replies hit %llu, "
                "requests retried %llu\n",
                seed, saves, static_cast<unsigned long long>(bus.NoisyReplies()),
                static_cast<unsigned long long>(RetriedRequests()));
    std::printf("  saves right %d, saves failed (file kept) %d, saves wrong %d\n", noisy.right,
                noisy.failedKept, noisy.wrong);
    std::printf("  mean %.1f ms, against the clean line %.3f\n", noisyMean, noisyMean / cleanMean);
    std::printf("  reply start (slowest recent) %.1f ms\n", ReplyLatencyUs(slot) / 1000.0);

    {
        auto lock = bus.Lock();
        auto& f = bus.GetFaults();
        f = sim::Faults{};
        f.trailerNotChecksum = true;
    }
    ForgetReplyChecks();
    const Tally unchecked = Run(bus, slot, path, kCleanSaves);
    PrintClean("clean line, trailing byte not a checksum:", unchecked, kCleanSaves);

    ClosePort(slot);
    StopPortLayer();
    bus.Stop();
    ::unlink(path.c_str());
    return noisy.wrong == 0 && clean.right == kCleanSaves && unchecked.right == kCleanSaves ? 0 : 1;
}
