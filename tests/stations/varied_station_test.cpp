// Varied stations: seeded lines of several controllers, each with its own turnaround between
// nothing and the address poll's wait, under one fault kind per row of kFaultRows. Over each the
// engineer's commands run (velmar-cli against the in-process simulator) and the window's write
// sequences (in this process, over a live store). Every run either gives the right bytes or
// fails loudly, naming the controller: it never exits 0 with a controller or record missing,
// never writes a wrong file and never leaves a wrong byte in a controller. And each row must
// see at least its stated share of steps succeed (all of them on a clean line): a tool that
// reads nothing fails every step loudly, and must not pass.
//
// VELMAR_STATION_SEEDS=N runs N seeds per row (default 1), VELMAR_STATION_SEED=S starts at S.
// A failure prints the row and the seed; rerun one with VELMAR_STATION_SEED=S
// VELMAR_STATION_SEEDS=1 --gtest_filter=*.'<row>'.
#include "../cli/cli_runner.h"
#include "data/channel_io.h"
#include "data/controller_model.h"
#include "data/default_image.h"
#include "data/live_store.h"
#include "data/memory_map.h"
#include "data/model_writes.h"
#include "protocol/read_retry.h"
#include "sim/core/bus_simulator.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

namespace velmar::test {
namespace {

using nlohmann::json;
using Rng = std::mt19937;

constexpr int kTopNumber = 12;    // stations use the numbers 1..kTopNumber
constexpr int kPollLimitMs = 110; // the slowest turnaround drawn: near the poll's 120 ms
constexpr int kQuickLimitMs = 25; // the other controllers' turnarounds
constexpr const char* kBaud = "38400";
constexpr int kControllers = 2; // per station: one slow, one quick

int Draw(Rng& rng, int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(rng);
}

// ---- the fault kinds: one row each, applied again before every step of a run

struct FaultRow {
    const char* name;
    // Steps (commands and the window's write sequences) that must succeed, in percent: where
    // success is possible a tool that only fails loudly is not a working tool.
    int requiredPercent;
    std::function<void(sim::Faults&, Rng&, const std::vector<int>& numbers)> apply;
    // Whether a step under these faults can succeed at all (counted towards the share); a fault
    // that outlasts the tool's retries cannot be asked to.
    std::function<bool(const sim::Faults&)> permits = [](const sim::Faults&) { return true; };
};

constexpr int kDefaultRetries = 2; // velmar-cli's, as these steps run it

// Rows that wait for a fix of the tool elsewhere, skipped until it is in.
struct AwaitingFix {
    const char* row;
    const char* fix;
};
const AwaitingFix kAwaitingFix[] = {
    // Replies in pieces up to 20 ms apart (well within the protocol's pauses) are taken for
    // short or garbled ones: scans and backups fail.
    {"pieces", "reply accounting: a reply in pieces awaited whole"},
};

const std::vector<FaultRow> kFaultRows = {
    {"clean", 100, [](sim::Faults&, Rng&, const std::vector<int>&) {}},
    {"sum_trailer", 100,
     [](sim::Faults& f, Rng&, const std::vector<int>&) { f.trailerNotChecksum = true; }},
    {"line_noise", 80,
     [](sim::Faults& f, Rng& rng, const std::vector<int>&) {
         f.flipRate = Draw(rng, 1, 4) / 100.0;
         f.cutRate = Draw(rng, 0, 3) / 100.0;
         f.addRate = Draw(rng, 0, 3) / 100.0;
         f.noiseSeed = static_cast<uint32_t>(rng());
     }},
    {"truncated", 95,
     [](sim::Faults& f, Rng& rng, const std::vector<int>&) { f.truncateReplies = Draw(rng, 0, 3); },
     [](const sim::Faults& f) { return f.truncateReplies <= kDefaultRetries; }},
    {"garbled", 80,
     // Up to two in a row, garbled alike (the simulator garbles every reply the same way). A
     // garbled identification text (it has no checksum) is another device's: not all can pass.
     [](sim::Faults& f, Rng& rng, const std::vector<int>&) { f.corruptReplies = Draw(rng, 0, 2); }},
    {"extra_bytes", 95,
     [](sim::Faults& f, Rng& rng, const std::vector<int>&) { f.extraReplyBytes = Draw(rng, 0, 1); },
     [](const sim::Faults& f) { return f.extraReplyBytes == 0; }},
    {"deaf_after_restart", 100,
     [](sim::Faults& f, Rng& rng, const std::vector<int>&) {
         f.deafAfterRestartMs = Draw(rng, 50, 800);
     }},
    {"muted_reads", 40,
     [](sim::Faults& f, Rng& rng, const std::vector<int>& numbers) {
         static constexpr int kRecords[] = {addr::kChannelSettsBase, addr::kChannelRegsBase + 0x300,
                                            addr::kSideStateA, addr::kMakeBlock};
         f.mutedReadController =
             numbers[static_cast<size_t>(Draw(rng, 0, int(numbers.size()) - 1))];
         f.mutedReadAddress = kRecords[Draw(rng, 0, 3)];
     }},
    // The rows below fall on the second backup, the image round trip and set-params in turn
    // (the heavy step is picked by row index + seed).
    {"pieces", 100,
     [](sim::Faults& f, Rng& rng, const std::vector<int>&) {
         f.replyPieces = Draw(rng, 2, 4);
         f.replyPieceGapMs = Draw(rng, 1, 20);
     }},
    {"varying_trailer", 100,
     [](sim::Faults& f, Rng&, const std::vector<int>&) { f.trailerVaries = true; }},
    {"lost_restart_status", 95,
     [](sim::Faults& f, Rng&, const std::vector<int>&) { f.loseRestartStatus = -1; }},
};

// ---- one run: a seeded station under one row

class StationRun {
  public:
    // Each row draws its own stations from the same seed.
    StationRun(const FaultRow& row, size_t rowIndex, uint32_t seed, const std::string& binary,
               const std::string& workDir)
        : row_(row), seed_(seed), rng_(seed ^ static_cast<uint32_t>(rowIndex * 0x9E3779B9u)),
          binary_(binary), workDir_(workDir) {
        sim::Options options;
        options.emulateBaud = 38400;
        options.checkBaud = false;
        const int count = kControllers;
        std::set<int> taken;
        while (static_cast<int>(taken.size()) < count) taken.insert(Draw(rng_, 1, kTopNumber - 1));
        options.addresses.assign(taken.begin(), taken.end());
        options.sides = Draw(rng_, 1, 2);
        options.hosesPerSide = Draw(rng_, 1, 4);
        sim_ = std::make_unique<sim::BusSimulator>(options);
        auto lock = sim_->Lock();
        for (size_t i = 0; i < sim_->Controllers().size(); ++i) {
            sim::Controller& c = *sim_->Controllers()[i];
            c.turnaroundMs = Draw(rng_, 0, i == 0 ? kPollLimitMs : kQuickLimitMs);
            sideA_.push_back(c.SideAAddress());
            answering_.insert(c.SideAAddress());
            if (c.SideBAddress() > 0 && c.SideBAddress() <= kTopNumber)
                answering_.insert(c.SideBAddress());
            plan_ += " " + std::to_string(c.SideAAddress()) + "(" + std::to_string(c.turnaroundMs) +
                     " ms)";
        }
    }

    int Counted() const { return counted_; }
    int Succeeded() const { return succeeded_; }

    std::string Where(const std::string& step) const {
        return std::string("row ") + row_.name + ", seed " + std::to_string(seed_) + ", station" +
               plan_ + ", " + step;
    }

    void Execute(int heavyPick) {
        ASSERT_EQ(sim_->Start(), 0);
        const int target = sideA_[static_cast<size_t>(Draw(rng_, 0, int(sideA_.size()) - 1))];
        Identify(target);
        Scan();
        Backup("first backup");
        Verify();
        // One of the longer steps per run, in turn over rows and seeds.
        switch (heavyPick % 5) {
        case 0:
            ImageRoundTrip(target);
            break;
        case 1:
            SetParams(target);
            break;
        case 2:
            Defaults(target);
            break;
        case 3:
            ModelWrites(target);
            break;
        default:
            Backup("second backup"); // polls the first one's controllers with the full wait
            break;
        }
        sim_->Stop();
    }

  private:
    void ApplyFaults() {
        auto lock = sim_->Lock();
        sim::Faults fresh;
        row_.apply(fresh, rng_, sideA_);
        sim_->GetFaults() = fresh;
        permitted_ = row_.permits(fresh);
    }
    void ClearFaults() {
        auto lock = sim_->Lock();
        sim_->GetFaults() = sim::Faults{};
    }
    CliOutcome Cli(std::vector<std::string> args) {
        ApplyFaults();
        std::vector<std::string> full;
        if (std::getenv("VELMAR_STATION_LOG") != nullptr) full.emplace_back("--log");
        full.insert(full.end(), {"-p", sim_->SlavePath(), "-b", kBaud, "-q"});
        full.insert(full.end(), args.begin(), args.end());
        CliOutcome r = RunCliProgram(binary_, workDir_, full);
        ClearFaults();
        Tally(r.exitCode == 0);
        if (r.exitCode != 0)
            std::printf("%s: %s failed: %s", Where("").c_str(), args.back().c_str(), r.err.c_str());
        return r;
    }
    void Tally(bool ok) {
        if (!permitted_) return;
        ++counted_;
        succeeded_ += ok ? 1 : 0;
    }
    std::vector<uint8_t> Image(int number) {
        auto lock = sim_->Lock();
        return sim_->Find(number)->ImageBytes();
    }
    std::vector<uint8_t> File(const std::string& name) const {
        const std::string s = SlurpFile(workDir_ + "/" + name);
        return {s.begin(), s.end()};
    }
    bool Exists(const std::string& name) const {
        return ::access((workDir_ + "/" + name).c_str(), F_OK) == 0;
    }
    static bool Names(const CliOutcome& r, int number) {
        return r.err.find("№" + std::to_string(number)) != std::string::npos;
    }
    // A failure must say so: a non-zero exit with a message.
    void ExpectLoud(const CliOutcome& r, const std::string& step) {
        if (r.exitCode == 0) return;
        EXPECT_FALSE(r.err.empty()) << Where(step) << ": exit " << r.exitCode << " in silence";
    }

    void Identify(int n) {
        const auto r = Cli({"-a", std::to_string(n), "identify"});
        ExpectLoud(r, "identify");
        if (r.exitCode == 0) {
            EXPECT_NE(r.out.find("Работа с Адресом №" + std::to_string(n)), std::string::npos)
                << Where("identify") << r.out;
        }
    }

    void Scan() {
        const auto r = Cli({"--json", "scan", "1", std::to_string(kTopNumber)});
        ExpectLoud(r, "scan");
        const json doc = json::parse(r.out, nullptr, false);
        ASSERT_FALSE(doc.is_discarded()) << Where("scan") << r.out << r.err;
        const auto found = doc.at("found").get<std::set<int>>();
        for (const int n : found)
            EXPECT_EQ(answering_.count(n), 1u) << Where("scan") << ": phantom " << n;
        if (r.exitCode == 0) {
            EXPECT_EQ(found, answering_) << Where("scan") << ": exit 0 with a controller missing";
        }
    }

    void Backup(const std::string& step) {
        const auto r = Cli({"--json", "backup", "st", "1", std::to_string(kTopNumber)});
        ExpectLoud(r, step);
        const json doc = json::parse(r.out, nullptr, false);
        // A backup that failed before it had results prints only its error.
        if (doc.is_discarded() || doc.contains("error")) {
            EXPECT_NE(r.exitCode, 0) << Where(step) << r.out;
            return;
        }
        std::set<int> saved;
        for (const json& c : doc.at("controllers")) {
            const int n = c.at("number").get<int>();
            if (c.at("status") != "saved") {
                EXPECT_TRUE(Names(r, n)) << Where(step) << ": " << n << " failed unnamed";
                continue;
            }
            ASSERT_EQ(answering_.count(n), 1u) << Where(step) << ": phantom " << n;
            saved.insert(n);
            const std::string file =
                "st/" + doc.at("folder").get<std::string>() + "/" + c.at("file").get<std::string>();
            EXPECT_EQ(File(file), Image(n)) << Where(step) << ": wrong file for " << n;
        }
        for (const int n : sideA_) {
            if (saved.count(n) != 0) continue;
            EXPECT_NE(r.exitCode, 0) << Where(step) << ": exit 0 without " << n;
            EXPECT_TRUE(Names(r, n)) << Where(step) << ": " << n << " missing unnamed\n" << r.err;
        }
    }

    // Nothing changed since the backup: each controller is the same, or not read (and said so);
    // never reported as different.
    void Verify() {
        const auto r = Cli({"--json", "verify", "st"});
        const json doc = json::parse(r.out, nullptr, false);
        if (doc.is_discarded() || doc.contains("error")) { // no complete backup to check
            ExpectLoud(r, "verify");
            return;
        }
        for (const json& c : doc.at("controllers")) {
            const std::string status = c.at("status");
            EXPECT_TRUE(status == "same" ||
                        (status == "failed" && r.exitCode != 0 && !c.value("detail", "").empty()))
                << Where("verify") << ": " << c.dump();
        }
    }

    // Saves a controller's image, scribbles over a channel's settings in it, loads the image
    // back and compares.
    void ImageRoundTrip(int n) {
        const std::string number = std::to_string(n);
        auto r = Cli({"-a", number, "image", "save", "a.bin"});
        ExpectLoud(r, "image save");
        if (r.exitCode != 0) {
            EXPECT_FALSE(Exists("a.bin")) << Where("image save") << ": a file after a failure";
            return;
        }
        const std::vector<uint8_t> before = Image(n);
        ASSERT_EQ(File("a.bin"), before) << Where("image save");
        const auto same = Cli({"diff", "a.bin", "a.bin"});
        EXPECT_EQ(same.exitCode, 0) << Where("diff") << same.err;
        {
            auto lock = sim_->Lock();
            auto& mem = sim_->Find(n)->Space(0);
            for (int i = 0; i < len::kChannelSetts; ++i)
                mem[addr::kChannelSettsBase + 0x100 + i] ^= 0x5A;
        }
        const std::vector<uint8_t> scribbled = Image(n);
        r = Cli({"-a", number, "image", "load", "a.bin"});
        ExpectLoud(r, "image load");
        const std::vector<uint8_t> after = Image(n);
        if (r.exitCode == 0) {
            EXPECT_EQ(after, before) << Where("image load");
        } else {
            for (size_t i = 0; i < after.size(); ++i)
                EXPECT_TRUE(after[i] == before[i] || after[i] == scribbled[i])
                    << Where("image load") << ": byte " << i << " neither old nor new";
        }
    }

    void SetParams(int n) {
        const std::vector<uint8_t> before = Image(n);
        const int value = Draw(rng_, 10, 60);
        const auto r =
            Cli({"-a", std::to_string(n), "set-params", "MetTOut=" + std::to_string(value)});
        ExpectLoud(r, "set-params");
        auto lock = sim_->Lock();
        const auto& mem = sim_->Find(n)->Space(0);
        const std::vector<uint8_t> after = sim_->Find(n)->ImageBytes();
        const int param = addr::kParamsLength + 1 + params::kMetTOut.offset;
        if (r.exitCode == 0) {
            EXPECT_EQ(mem[static_cast<size_t>(param)], value) << Where("set-params");
        }
        size_t changed = 0;
        for (size_t i = 0; i < after.size(); ++i) changed += after[i] != before[i] ? 1 : 0;
        // The field and the block's checksum byte (and the meter fields the channels bring in
        // line) are all a write of one field may change.
        EXPECT_LE(changed, 4u) << Where("set-params");
    }

    void Defaults(int n) {
        DefaultTopology t;
        t.sides = 1;
        t.nozzles = Draw(rng_, 1, 4);
        t.sideA = n;
        const auto r =
            Cli({"-a", std::to_string(n), "defaults", "shelf", "--sides", "1", "--nozzles",
                 std::to_string(t.nozzles), "--side-addresses", std::to_string(n)});
        ExpectLoud(r, "defaults");
        if (r.exitCode != 0) return;
        const DeviceBuffer expected = BuildDefaultImage(DefaultPreset::Shelf, t);
        auto lock = sim_->Lock();
        sim::Controller* c = sim_->Find(n);
        ASSERT_NE(c, nullptr) << Where("defaults") << ": not at " << n << " after the write";
        const auto& mem = c->Space(0);
        for (int ch = 0; ch < kChannelCount; ++ch) {
            const ChannelSetts want = expected.Setts(ch);
            const auto at = mem.begin() + addr::kChannelSettsBase + 0x100 * ch;
            EXPECT_TRUE(std::equal(want.Bytes().begin(), want.Bytes().end(), at))
                << Where("defaults") << ": channel settings " << ch;
        }
    }

    // The window's write sequences, in this process over a live store.
    void ModelWrites(int n) {
        StartPortLayer();
        PortSlot slot = 0;
        ASSERT_EQ(OpenPort(slot, sim_->SlavePath().c_str()), 0);
        ASSERT_EQ(ConfigurePort(slot, 38400, 8, 'N', 1), 0);
        LiveRecordStore store(slot, n);
        ControllerModel model;
        const int channel = Draw(rng_, 0, 1);
        const int settsAt = addr::kChannelSettsBase + 0x100 * channel;
        ApplyFaults();
        uint8_t setts[len::kChannelSetts] = {};
        uint8_t sideA[len::kSideState] = {};
        const bool readSetts =
            ReadChannelRecord(store, kSettsRecord, channel, setts) == ReadResult::Read;
        const bool readSide =
            store.Read(addr::kSideStateA, len::kSideState, sideA, 0).Length() == len::kSideState;
        struct Check {
            const char* what;
            int address;
            std::vector<uint8_t> old, wanted;
            WriteResult result;
        };
        std::vector<Check> checks;
        if (readSetts) {
            model.Setts(channel).Take(
                ChannelSetts(std::span<const uint8_t>(setts, len::kChannelSetts)));
            auto& w = model.Setts(channel).working;
            w.SetImpLit(static_cast<uint16_t>(w.ImpLit() + 1));
            const std::vector<uint8_t> old(setts, setts + len::kChannelSetts);
            const WriteResult res = WriteModelChannelSetts(model, store, channel);
            const auto& now = model.Setts(channel).working.Bytes();
            checks.push_back({"channel settings", settsAt, old, {now.begin(), now.end()}, res});
        }
        if (readSide) {
            model.Side(0).Take(SideState(std::span<const uint8_t>(sideA, len::kSideState)));
            model.Side(0).working.data()[1] ^= 0x01;
            const std::vector<uint8_t> old(sideA, sideA + len::kSideState);
            const WriteResult res = WriteModelSide(model, store, 0, addr::kSideStateA);
            const auto& now = model.Side(0).working.Bytes();
            checks.push_back({"side state", addr::kSideStateA, old, {now.begin(), now.end()}, res});
        }
        ClearFaults();
        ClosePort(slot);
        StopPortLayer();
        bool allWritten = readSetts && readSide;
        for (const Check& c : checks) allWritten = allWritten && c.result == WriteResult::Written;
        Tally(allWritten);
        auto lock = sim_->Lock();
        const auto& mem = sim_->Find(n)->Space(0);
        for (const Check& c : checks) {
            const std::vector<uint8_t> held(
                mem.begin() + c.address, mem.begin() + c.address + static_cast<long>(c.old.size()));
            if (c.result == WriteResult::Written) {
                EXPECT_EQ(held, c.wanted) << Where(c.what);
            } else {
                for (size_t i = 0; i < held.size(); ++i)
                    EXPECT_TRUE(held[i] == c.old[i] || held[i] == c.wanted[i])
                        << Where(c.what) << ": byte " << i << " neither old nor new";
            }
        }
    }

    const FaultRow& row_;
    uint32_t seed_;
    Rng rng_;
    std::string binary_, workDir_;
    std::unique_ptr<sim::BusSimulator> sim_;
    std::vector<int> sideA_;
    std::set<int> answering_;
    std::string plan_;
    int counted_ = 0, succeeded_ = 0;
    bool permitted_ = true; // the faults of the step under way permit success
};

int EnvInt(const char* name, int fallback) {
    const char* v = std::getenv(name);
    return v != nullptr && *v != '\0' ? std::atoi(v) : fallback;
}

class VariedStation : public ::testing::TestWithParam<size_t> {
  protected:
    static void TearDownTestSuite() {
        std::printf("varied stations: %d runs (%zu rows x %d seeds) in %.1f s\n", runs,
                    kFaultRows.size(), EnvInt("VELMAR_STATION_SEEDS", 1), seconds);
    }
    static inline int runs = 0;
    static inline double seconds = 0;
};

TEST_P(VariedStation, RightBytesOrALoudFailure) {
    const char* dir = std::getenv("VELMAR_BINARY_DIR");
    if (dir == nullptr) GTEST_SKIP() << "VELMAR_BINARY_DIR is not set (run through ctest)";
    const std::string binary = std::string(dir) + "/cli/velmar-cli";
    const FaultRow& row = kFaultRows[GetParam()];
    for (const AwaitingFix& a : kAwaitingFix)
        if (std::string(a.row) == row.name && EnvInt("VELMAR_STATION_AWAITING", 0) == 0)
            GTEST_SKIP() << "awaits " << a.fix << " (VELMAR_STATION_AWAITING=1 runs it)";
    const int seeds = EnvInt("VELMAR_STATION_SEEDS", 1);
    const int first = EnvInt("VELMAR_STATION_SEED", 1);
    const auto start = std::chrono::steady_clock::now();
    int counted = 0, succeeded = 0;
    for (int s = 0; s < seeds; ++s) {
        const auto seed = static_cast<uint32_t>(first + s);
        char tmpl[] = "/tmp/velmar-station-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        const std::string work = tmpl;
        StationRun run(row, GetParam(), seed, binary, work);
        run.Execute(static_cast<int>(GetParam()) + static_cast<int>(seed));
        ++runs;
        counted += run.Counted();
        succeeded += run.Succeeded();
        if (HasFailure()) { // its files are kept: the exchange log, the backups
            std::printf("row %s failed at seed %u, files in %s\n", row.name, seed, work.c_str());
            break;
        }
        std::system(("rm -rf '" + work + "'").c_str());
    }
    const double took =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("row %s: %d seed(s) from %d, %d of %d steps succeeded (%d %% required) in %.1f s\n",
                row.name, seeds, first, succeeded, counted, row.requiredPercent, took);
    seconds += took;
    EXPECT_GE(succeeded * 100, row.requiredPercent * counted)
        << "row " << row.name << ": " << succeeded << " of " << counted << " steps succeeded, "
        << row.requiredPercent << " % required (seeds " << first << ".." << first + seeds - 1
        << ")";
}

INSTANTIATE_TEST_SUITE_P(Rows, VariedStation, ::testing::Range<size_t>(0, kFaultRows.size()),
                         [](const ::testing::TestParamInfo<size_t>& row) {
                             return std::string(kFaultRows[row.param].name);
                         });

} // namespace
} // namespace velmar::test
