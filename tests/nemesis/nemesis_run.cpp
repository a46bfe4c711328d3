#include "nemesis/nemesis_run.h"

#include "../cli/cli_runner.h"
#include "data/channel_io.h"
#include "data/controller_model.h"
#include "data/ctrlr_params.h"
#include "data/default_image.h"
#include "data/journal.h"
#include "data/live_store.h"
#include "data/memory_map.h"
#include "data/model_writes.h"
#include "nemesis/report_truth.h"
#include "sim/core/truth_record.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>
#include <unistd.h>

namespace velmar::test {

using nlohmann::json;
using sim::TruthAction;
using sim::TruthEvent;
using sim::TruthKind;

namespace {

constexpr const char* kBaud = "38400";
constexpr uint32_t kLineBaud = 38400;
constexpr int kTopNumber = 12; // the station's numbers lie in 1..kTopNumber
constexpr int kMaxRetries = 10;
constexpr int kNeighbourTurnaroundMs = 20;
constexpr const char* kJournal = "journal.sqlite";
constexpr const char* kSaved = "saved.bin";
constexpr const char* kBackups = "st";
// What velmar-cli says when a restart's status went astray: whether it restarted is unknown.
constexpr const char* kRestartStatusLost = "Ответ на команду рестарта потерян";
// A byte of the first optional block: stored memory no record the tool derives depends on.
constexpr int kScratchAddress = addr::kOptionalA + 0x10;
constexpr int kScratchLength = 3;

// How often each command's sequence carries out each action, at most.
struct ActionBudget {
    int restarts = 0;
    int pulseSimulator = 0;
};
ActionBudget Budget(Step step) {
    switch (step) {
    case Step::ImageLoad:
    case Step::SetParam:
    case Step::Defaults:
    case Step::Restart:
        return {1, 0};
    case Step::Renumber:
        return {1, 0};
    case Step::SimulatorOn:
    case Step::SimulatorOff:
        return {0, 1};
    default:
        return {};
    }
}

bool Restarts(Step step) {
    return Budget(step).restarts > 0;
}

MemorySpan Whole(int space) {
    return {space, 0, 0x10000};
}
MemorySpan Span0(int first, int length) {
    return {0, static_cast<uint32_t>(first), static_cast<uint32_t>(first + length)};
}

int ParamAt(const Field& f) {
    return addr::kParams + f.offset;
}

} // namespace

const char* StepName(Step step) {
    static const char* const kNames[] = {
        "image save",    "image load", "report",       "set-params", "set-params (number)",
        "write",         "defaults",   "backup",       "verify",     "simulator on",
        "simulator off", "restart",    "window writes"};
    return kNames[static_cast<int>(step)];
}

// The line: the simulator, and for gateway rows the serial device server in front of it.
struct NemesisRun::Station {
    std::unique_ptr<sim::BusSimulator> sim;
    sim::TcpBridge bridge;
    std::unique_ptr<GatewayStandIn> gateway;
    int targetUnit = 0;
    int neighbourUnit = 1;
    std::string plan;
    // The journal as each write lands (journal rows): what the command's writes found there.
    std::mutex mutex;
    bool watchJournal = false;
    size_t entriesBefore = 0;
    bool entrySeen = false;
    std::vector<std::string> journalFindings;
    std::string journalPath;
};

namespace {

size_t JournalEntries(const std::string& path, bool& readable) {
    std::string error;
    readable = false;
    if (!std::filesystem::exists(path)) {
        readable = true;
        return 0;
    }
    auto journal = Journal::OpenExisting(path, error);
    if (!journal) return 0;
    const auto entries = journal->List(JournalFilter{}, error);
    readable = error.empty();
    return entries.size();
}

} // namespace

NemesisRun::NemesisRun(const NemesisRow& row, uint32_t seed, std::string binary,
                       std::string workDir)
    : row_(row), seed_(seed),
      rng_(seed ^ static_cast<uint32_t>(std::hash<std::string>{}(row.name))),
      binary_(std::move(binary)), workDir_(std::move(workDir)),
      station_(std::make_unique<Station>()) {
    sim::Options options;
    options.emulateBaud = kLineBaud;
    options.checkBaud = false;
    std::set<int> taken;
    while (taken.size() < 2) taken.insert(NemesisDraw(rng_, 1, kTopNumber - 2));
    options.addresses.assign(taken.begin(), taken.end());
    options.sides = NemesisDraw(rng_, 1, 2);
    options.hosesPerSide = NemesisDraw(rng_, 1, 4);
    station_->sim = std::make_unique<sim::BusSimulator>(options);
    station_->targetUnit = NemesisDraw(rng_, 0, 1);
    station_->neighbourUnit = 1 - station_->targetUnit;
    station_->journalPath = workDir_ + "/" + kJournal;
    {
        auto lock = station_->sim->Lock();
        auto& cs = station_->sim->Controllers();
        cs[static_cast<size_t>(station_->neighbourUnit)]->turnaroundMs =
            NemesisDraw(rng_, 0, kNeighbourTurnaroundMs);
        station_->plan =
            "target " + std::to_string(cs[size_t(station_->targetUnit)]->SideAAddress()) +
            ", neighbour " + std::to_string(cs[size_t(station_->neighbourUnit)]->SideAAddress()) +
            ", " + std::to_string(options.sides) + " side(s) of " +
            std::to_string(options.hosesPerSide) + " hose(s)";
    }
    Station* st = station_.get();
    station_->sim->Truth().OnWrite([st](const TruthEvent& e) {
        std::lock_guard lock(st->mutex);
        if (!st->watchJournal || st->entrySeen || e.unit != st->targetUnit ||
            (e.space != 0 && e.space != 4))
            return;
        bool readable = false;
        const size_t now = JournalEntries(st->journalPath, readable);
        if (!readable) return; // held by the tool just now: no verdict
        if (now > st->entriesBefore) {
            st->entrySeen = true;
            return;
        }
        st->entrySeen = true; // one finding per command
        char at[16];
        std::snprintf(at, sizeof at, "0x%X", e.address);
        st->journalFindings.push_back(std::string("a write landed at ") + at +
                                      " with no journal entry of it yet");
    });
    station_->sim->Truth().Enable(true);
}

NemesisRun::~NemesisRun() {
    if (station_->gateway) station_->gateway->Stop();
    station_->bridge.Stop();
    station_->sim->Stop();
}

const std::string& NemesisRun::Plan() const {
    return station_->plan;
}

std::string NemesisRun::PortName() const {
    if (station_->gateway) return "tcp:127.0.0.1:" + std::to_string(station_->gateway->Port());
    return station_->sim->SlavePath();
}

int NemesisRun::TargetNumber() {
    auto lock = station_->sim->Lock();
    return station_->sim->Controllers()[size_t(station_->targetUnit)]->SideAAddress();
}

std::vector<uint8_t> NemesisRun::TargetImage() {
    auto lock = station_->sim->Lock();
    return station_->sim->Controllers()[size_t(station_->targetUnit)]->ImageBytes();
}

LineFaults NemesisRun::Draw() {
    LineFaults f;
    if (row_.line) row_.line(f, rng_);
    return f;
}

void NemesisRun::Apply(const LineFaults& f) {
    auto lock = station_->sim->Lock();
    station_->sim->GetFaults() = f.faults;
    station_->sim->Controllers()[size_t(station_->targetUnit)]->turnaroundMs = f.turnaroundMs;
    if (station_->gateway) station_->bridge.DropAfterBytes(f.dropAfterBytes);
}

NemesisRun::Outcome NemesisRun::Cli(const std::vector<std::string>& args) {
    Outcome r;
    r.retries = NemesisDraw(rng_, 0, kMaxRetries);
    const LineFaults faults = Draw();
    Apply(faults);
    {
        std::lock_guard lock(station_->mutex);
        bool readable = false;
        station_->entriesBefore = JournalEntries(station_->journalPath, readable);
        station_->entrySeen = false;
        station_->watchJournal = row_.journalFirst;
        station_->journalFindings.clear();
    }
    station_->sim->Truth().Clear();
    std::vector<std::string> full;
    if (std::getenv("VELMAR_NEMESIS_LOG") != nullptr) full.emplace_back("--log");
    full.insert(full.end(),
                {"-p", PortName(), "-b", kBaud, "-q", "--retries", std::to_string(r.retries),
                 "--journal", kJournal, "-a", std::to_string(TargetNumber())});
    full.insert(full.end(), args.begin(), args.end());
    const CliOutcome out = RunCliProgram(binary_, workDir_, full);
    r.exitCode = out.exitCode;
    r.out = out.out;
    r.err = out.err;
    Apply(LineFaults{});
    r.truth = station_->sim->Truth().Snapshot();
    // The engineer lets a dispenser restarted at the end of a command come back before the next
    // one: the waits within a command are the tool's, the one between commands is the engineer's.
    const bool restarted =
        std::any_of(r.truth.begin(), r.truth.end(), [](const sim::TruthEvent& e) {
            return e.kind == sim::TruthKind::Action && e.action == sim::TruthAction::Restart;
        });
    if (restarted && faults.faults.deafAfterRestartMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(faults.faults.deafAfterRestartMs));
    std::lock_guard lock(station_->mutex);
    station_->watchJournal = false;
    r.journalFindings = station_->journalFindings;
    return r;
}

RunTally NemesisRun::Execute(int steps) {
    RunTally tally;
    if (station_->sim->Start() != 0) {
        tally.findings.push_back("the simulator did not start");
        return tally;
    }
    if (row_.gateway) {
        if (station_->bridge.Start(station_->sim->SlavePath(), 0) != 0) {
            tally.findings.push_back("the tcp bridge did not start");
            return tally;
        }
        station_->gateway = std::make_unique<GatewayStandIn>(station_->bridge.Port());
        if (row_.relay) row_.relay(*station_->gateway, rng_);
        if (station_->gateway->outageAtPoll == -2) station_->gateway->outageAtPoll = TargetNumber();
        if (!station_->gateway->Start()) {
            tally.findings.push_back("the gateway stand-in did not start");
            return tally;
        }
    }
    std::vector<Step> kinds = row_.focus;
    if (kinds.empty())
        for (int k = 0; k <= static_cast<int>(Step::ModelWrites); ++k)
            kinds.push_back(static_cast<Step>(k));
    if (row_.tour) {
        std::shuffle(kinds.begin(), kinds.end(), rng_);
        for (const Step step : kinds) StepOnce(step, tally);
        return tally;
    }
    for (int i = 0; i < steps; ++i)
        StepOnce(kinds[static_cast<size_t>(NemesisDraw(rng_, 0, int(kinds.size()) - 1))], tally);
    return tally;
}

void NemesisRun::StepOnce(Step step, RunTally& tally) {
    const std::string number = std::to_string(TargetNumber());
    std::vector<std::string> args;
    switch (step) {
    case Step::ImageSave:
        std::filesystem::remove(workDir_ + "/" + kSaved);
        args = {"image", "save", kSaved};
        break;
    case Step::ImageLoad: {
        // What is loaded: the controller's own image with one channel's settings changed.
        std::vector<uint8_t> image = TargetImage();
        constexpr size_t kSizesLength = 7;
        const size_t channel = static_cast<size_t>(NemesisDraw(rng_, 0, 1));
        const size_t at = kSizesLength + static_cast<size_t>(DeviceBuffer::SettsOffset(0)) +
                          channel * len::kChannelSetts + 2;
        if (at < image.size()) image[at] ^= 0x11;
        {
            std::FILE* f = std::fopen((workDir_ + "/load.bin").c_str(), "wb");
            std::fwrite(image.data(), 1, image.size(), f);
            std::fclose(f);
        }
        args = {"image", "load", "load.bin"};
        break;
    }
    case Step::Report:
        args = {"report"};
        break;
    case Step::SetParam:
        args = {"set-params", "MetTOut=" + std::to_string(NemesisDraw(rng_, 10, 60))};
        break;
    case Step::Renumber: {
        std::set<int> used;
        {
            auto lock = station_->sim->Lock();
            for (const auto& c : station_->sim->Controllers()) {
                used.insert(c->SideAAddress());
                used.insert(c->SideBAddress());
            }
        }
        int to = 0;
        do to = NemesisDraw(rng_, 1, kTopNumber);
        while (used.count(to) != 0 || (used.count(to + 1) != 0));
        args = {"set-params", "AdrTrk_1=" + std::to_string(to)};
        break;
    }
    case Step::WriteBytes: {
        char text[16];
        std::snprintf(text, sizeof text, "%02X%02X%02X", NemesisDraw(rng_, 0, 255),
                      NemesisDraw(rng_, 0, 255), NemesisDraw(rng_, 0, 255));
        char address[8];
        std::snprintf(address, sizeof address, "%X", kScratchAddress);
        args = {"write", "ER", address, text};
        break;
    }
    case Step::Defaults:
        args = {"defaults",         "shelf",
                "--sides",          "1",
                "--nozzles",        std::to_string(NemesisDraw(rng_, 1, 4)),
                "--side-addresses", number};
        break;
    case Step::Backup:
        args = {"--json", "backup", kBackups, number, number};
        break;
    case Step::Verify:
        if (!haveBackup_) return StepOnce(Step::Backup, tally);
        args = {"--json", "verify", kBackups};
        break;
    case Step::SimulatorOn:
        args = {"simulator", "on"};
        break;
    case Step::SimulatorOff:
        args = {"simulator", "off"};
        break;
    case Step::Restart:
        args = {"restart"};
        break;
    case Step::ModelWrites:
        break;
    }
    const Outcome r = step == Step::ModelWrites ? Outcome{} : Cli(args);
    if (step == Step::ModelWrites) {
        // The window's write sequences run in this process; see CheckStep.
        CheckStep(step, r, args, tally);
        return;
    }
    CheckStep(step, r, args, tally);
}

void NemesisRun::CheckStep(Step step, const Outcome& given, const std::vector<std::string>& args,
                           RunTally& tally) {
    Outcome r = given;
    const int target = station_->targetUnit;
    bool ok = r.exitCode == 0;
    int channelSequences = 0; // the window's channel record writes: each ends with a restart
    std::vector<std::string> notes;
    std::vector<MemorySpan> allowed;

    if (step == Step::ModelWrites) {
        // The window's channel settings, channel registers and side state writes, over a live
        // store on the same line.
        const LineFaults faults = Draw();
        Apply(faults);
        station_->sim->Truth().Clear();
        StartPortLayer();
        PortSlot slot = 0;
        const bool open = OpenPort(slot, PortName().c_str()) == 0 &&
                          ConfigurePort(slot, kLineBaud, 8, 'N', 1) == 0;
        ok = open;
        int wrote = 0, written = 0;
        channelSequences = 0;
        if (open) {
            LiveRecordStore store(slot, TargetNumber());
            ControllerModel model;
            const int channel = NemesisDraw(rng_, 0, 1);
            uint8_t setts[len::kChannelSetts] = {};
            uint8_t regs[len::kChannelRegs] = {};
            uint8_t side[len::kSideState] = {};
            if (ReadChannelRecord(store, kSettsRecord, channel, setts) == ReadResult::Read) {
                model.Setts(channel).Take(
                    ChannelSetts(std::span<const uint8_t>(setts, sizeof setts)));
                auto& w = model.Setts(channel).working;
                w.SetImpLit(static_cast<uint16_t>(w.ImpLit() + 1));
                ++wrote;
                ++channelSequences;
                written += WriteModelChannelSetts(model, store, channel) == WriteResult::Written;
            } else {
                ok = false;
            }
            if (ReadChannelRecord(store, kRegsRecord, channel, regs) == ReadResult::Read) {
                model.Regs(channel).Take(ChannelRegs(std::span<const uint8_t>(regs, sizeof regs)));
                auto& w = model.Regs(channel).working;
                w.SetSetVol(w.SetVol() + 1);
                ++wrote;
                ++channelSequences;
                written += WriteModelChannelRegs(model, store, channel) == WriteResult::Written;
            } else {
                ok = false;
            }
            if (store.Read(addr::kSideStateA, len::kSideState, side, 0).Length() ==
                len::kSideState) {
                model.Side(0).Take(SideState(std::span<const uint8_t>(side, sizeof side)));
                model.Side(0).working.data()[1] ^= 0x01;
                ++wrote;
                written +=
                    WriteModelSide(model, store, 0, addr::kSideStateA) == WriteResult::Written;
            } else {
                ok = false;
            }
            ClosePort(slot);
            ok = ok && written == wrote;
        }
        StopPortLayer();
        Apply(LineFaults{});
        r.truth = station_->sim->Truth().Snapshot();
        r.retries = kMaxRetries; // the window's own retries
        r.exitCode = ok ? 0 : 1;
        allowed = {Span0(addr::kChannelSettsBase, 0x200), Span0(addr::kChannelRegsBase, 0x200),
                   Span0(addr::kSideStateA, len::kSideState)};
    }

    TruthChecker check(r.truth);
    for (const std::string& f : r.journalFindings) check.Add(f);
    ActionBudget budget = Budget(step);
    if (step == Step::ModelWrites) budget.restarts = channelSequences;
    // set-params brings the channels' meter settings in line with the block (after a window
    // write changed one, say); that conversion ends with a restart of its own.
    const bool converts = std::any_of(r.truth.begin(), r.truth.end(), [&](const TruthEvent& e) {
        return e.kind == TruthKind::Write && e.unit == target && e.space == 0 &&
               e.address >= static_cast<uint32_t>(addr::kChannelSettsBase) &&
               e.address < static_cast<uint32_t>(addr::kChannelRegsBase);
    });
    if ((step == Step::SetParam || step == Step::Renumber) && converts) ++budget.restarts;
    check.ActionsAtMost(TruthAction::Restart, target, budget.restarts);
    check.ActionsAtMost(TruthAction::PulseSimulator, target, budget.pulseSimulator);
    check.ActionsAtMost(TruthAction::Restart, station_->neighbourUnit, 0);
    check.ActionsAtMost(TruthAction::PulseSimulator, station_->neighbourUnit, 0);
    check.ChunksOnce();
    if (!ok) check.NoAppliedWriteCalledRefused(target, r.err);

    const std::vector<uint8_t> image = TargetImage();
    auto fileBytes = [&](const std::string& name) {
        const std::string s = SlurpFile(workDir_ + "/" + name);
        return std::vector<uint8_t>(s.begin(), s.end());
    };
    switch (step) {
    case Step::ImageSave:
        if (ok) {
            if (fileBytes(kSaved) != image)
                check.Add("exit 0 with an image unlike the controller's");
        } else if (std::filesystem::exists(workDir_ + "/" + kSaved)) {
            check.Add("a failed save left a file");
        }
        break;
    case Step::ImageLoad:
        allowed = {Whole(0), Whole(4)};
        if (ok && fileBytes("load.bin") != image)
            check.Add("exit 0, the controller unlike the image");
        break;
    case Step::Report: {
        std::vector<uint8_t> er, ir, im;
        {
            auto lock = station_->sim->Lock();
            const sim::Controller& c = *station_->sim->Controllers()[size_t(target)];
            er = c.Space(0);
            ir = c.Space(2);
            im = c.Space(4);
        }
        const std::string wrong =
            CheckReport(r.out, !ok, UnreadCount(r.err), er, ir, im, TargetNumber());
        if (!wrong.empty()) check.Add(wrong);
        break;
    }
    case Step::SetParam: {
        allowed = {Span0(addr::kParamsLength, 1 + len::kParams),
                   Span0(addr::kChannelSettsBase, 0x100 * kChannelCount)};
        const int value = std::atoi(args[1].c_str() + std::string("MetTOut=").size());
        auto lock = station_->sim->Lock();
        const auto& mem = station_->sim->Controllers()[size_t(target)]->Space(0);
        if (ok && mem[static_cast<size_t>(ParamAt(params::kMetTOut))] != value)
            check.Add("exit 0, MetTOut not written");
        break;
    }
    case Step::Renumber: {
        allowed = {Span0(addr::kParamsLength, 1 + len::kParams),
                   Span0(addr::kChannelSettsBase, 0x100 * kChannelCount)};
        const int to = std::atoi(args[1].c_str() + std::string("AdrTrk_1=").size());
        // Whatever the tool said, the run goes on where the controller really is.
        if (ok && TargetNumber() != to)
            check.Add("exit 0, the controller answers at " + std::to_string(TargetNumber()) +
                      ", not " + std::to_string(to));
        if (ok) {
            // The tool that said it moved the controller finds it there, by its identification.
            const Outcome again = Cli({"identify"});
            if (again.exitCode != 0 && row_.requiredPercent == 100)
                check.Add("identify at the new number failed: " + again.err);
        }
        break;
    }
    case Step::WriteBytes: {
        allowed = {Span0(kScratchAddress, kScratchLength)};
        if (ok) {
            auto lock = station_->sim->Lock();
            const auto& mem = station_->sim->Controllers()[size_t(target)]->Space(0);
            char held[16];
            std::snprintf(held, sizeof held, "%02X%02X%02X", mem[kScratchAddress],
                          mem[kScratchAddress + 1], mem[kScratchAddress + 2]);
            if (args[3] != held) check.Add("exit 0, the controller holds " + std::string(held));
        }
        break;
    }
    case Step::Defaults:
        allowed = {Whole(0), Whole(4)};
        break;
    case Step::Backup: {
        const json doc = json::parse(r.out, nullptr, false);
        if (ok) haveBackup_ = true;
        if (doc.is_discarded() || doc.contains("error")) {
            if (ok) check.Add("exit 0 without results");
            break;
        }
        for (const json& c : doc.value("controllers", json::array())) {
            if (c.value("status", "") != "saved") {
                if (ok) check.Add("exit 0 with a controller not saved");
                continue;
            }
            const std::string file = std::string(kBackups) + "/" +
                                     doc.at("folder").get<std::string>() + "/" +
                                     c.at("file").get<std::string>();
            if (fileBytes(file) != image) check.Add("backup file unlike the controller");
        }
        break;
    }
    case Step::Verify: {
        const json doc = json::parse(r.out, nullptr, false);
        if (doc.is_discarded() || doc.contains("error")) {
            if (ok) check.Add("exit 0 without results");
            break;
        }
        // Whatever changed since the backup (a later load, say), verify must report it; a
        // controller reported as changed is a result, not a failure of the command.
        bool allRead = true;
        for (const json& c : doc.value("controllers", json::array())) {
            const std::string status = c.value("status", "");
            if (status == "failed" && ok) check.Add("exit 0 with a controller failed");
            allRead = allRead && status != "failed";
        }
        ok = ok || allRead;
        break;
    }
    case Step::SimulatorOn:
    case Step::SimulatorOff: {
        auto lock = station_->sim->Lock();
        const auto& ir = station_->sim->Controllers()[size_t(target)]->Space(2);
        const bool on = (ir[0x24] & 0x40) != 0;
        if (ok && on != (step == Step::SimulatorOn))
            check.Add("exit 0, the simulator bit is not so");
        break;
    }
    case Step::Restart:
        if (ok && check.Actions(TruthAction::Restart, target) != 1)
            check.Add("exit 0 without the restart carried out");
        break;
    case Step::ModelWrites:
        break;
    }
    check.WritesOnly(target, allowed);

    if (std::getenv("VELMAR_NEMESIS_VERBOSE") != nullptr)
        std::printf("  %s: exit %d, retries %d, restarts %d, writes %d, findings %zu\n",
                    StepName(step), r.exitCode, r.retries,
                    check.Actions(TruthAction::Restart, target), check.Writes(target),
                    check.Findings().size());
    // A restart whose status was lost (or garbled on the line) leaves the tool unable to tell that
    // it happened: saying so is right, so such a command is not counted against the row's share.
    const bool counts =
        r.retries >= row_.minRetries && !(row_.restartRefused && Restarts(step)) &&
        check.RestartsWithStatusLost(target) == 0 &&
        !(step == Step::Restart && r.err.find(kRestartStatusLost) != std::string::npos);
    if (counts) {
        ++tally.counted;
        tally.succeeded += ok ? 1 : 0;
    }
    for (const std::string& f : check.Findings())
        tally.findings.push_back(std::string(StepName(step)) + " (exit " +
                                 std::to_string(r.exitCode) + ", retries " +
                                 std::to_string(r.retries) + "): " + f + "\n  " + r.err);
    if (!ok && counts) notes.push_back(std::string(StepName(step)) + " failed: " + r.err);
    for (const std::string& n : notes) tally.failures.push_back(n);
}

} // namespace velmar::test
