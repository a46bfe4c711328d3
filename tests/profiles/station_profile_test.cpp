// A profile made from one controller of a simulated station of eight and applied to the others
// with velmar-cli: the preview, the writes, the backups, the journal, a controller that fails
// half-way with its rollback, and the compliance check.
#include "cli/cli_bus_fixture.h"
#include "data/channel_setts.h"
#include "data/ctrlr_params.h"
#include "data/journal.h"
#include "data/make_block.h"
#include "data/memory_map.h"
#include "data/profile.h"

#include <algorithm>
#include <map>
#include <set>

namespace velmar::test {
namespace {

using nlohmann::json;

constexpr int kExitCodeChanges = 1;
constexpr int kExitCodeUsage = 2;
constexpr int kExitCodeFile = 3;
constexpr int kSource = 1;
constexpr int kFirstTarget = 2;
constexpr int kLastTarget = 8;
constexpr int kFailing = 5;
constexpr int kAlreadySet = 3; // holds one of the profile's values before the run
constexpr int kChangedBehind = 6;
constexpr const char* kProfileFile = "station.prf";
constexpr const char* kProfileName = "station";
constexpr const char* kConfirm = "MeterType,PhaseMet";

// The settings the source controller is given; the defaults of the others differ from each.
constexpr uint8_t kSlowStartStored = 3; // shown as 300
constexpr uint8_t kMetTOut = 45;
constexpr uint8_t kNozzleWait = 7;
constexpr uint8_t kShimDuration = 9;
constexpr uint8_t kBehindValue = 11;

std::vector<int> Station() {
    std::vector<int> numbers;
    for (int n = kSource; n <= kLastTarget; ++n) numbers.push_back(n);
    return numbers;
}

class StationProfileTest : public CliBusTest {
  protected:
    StationProfileTest() : CliBusTest(Controllers(Station(), 1)) {}

    void SetUp() override {
        CliBusTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        auto lock = sim.Lock();
        sim::Controller* source = sim.Find(kSource);
        ASSERT_NE(source, nullptr);
        for (const auto& [field, value] : SourceValues())
            ASSERT_NE(Byte(*source, field), value) << "the default already holds it";
        for (const auto& [field, value] : SourceValues()) Byte(*source, field) = value;
        source->FixParamsChecksum();
        Byte(*sim.Find(kAlreadySet), params::kMetTOut.name) = kMetTOut;
        sim.Find(kAlreadySet)->FixParamsChecksum();
    }

    static std::map<std::string, uint8_t> SourceValues() {
        return {{params::kSlowStart.name, kSlowStartStored},
                {params::kMetTOut.name, kMetTOut},
                {params::kNozzleWait.name, kNozzleWait},
                {make::kShimDuration.name, kShimDuration}};
    }

    // The byte of a parameter block or make-specific block field in a controller's memory.
    static uint8_t& Byte(sim::Controller& c, const std::string& field) {
        if (field == make::kShimDuration.name)
            return c.Space(0)[addr::kMakeBlock + make::kShimDuration.offset];
        for (const Field& f : params::kFields)
            if (field == f.name) return c.Space(0)[addr::kParams + f.offset];
        throw std::invalid_argument(field);
    }

    std::map<int, std::vector<uint8_t>> Images() {
        auto lock = sim.Lock();
        std::map<int, std::vector<uint8_t>> images;
        for (int n : Station()) images[n] = sim.Find(n)->ImageBytes();
        return images;
    }

    void MakeProfile() {
        const CliOutcome made = Run({"-a", std::to_string(kSource), "profile", "make", kProfileFile,
                                     "--records", "Params,MakeBlock", "--metrological", kConfirm});
        ASSERT_EQ(made.exitCode, 0) << made.err;
        const std::string text = SlurpFile(Path(kProfileFile));
        EXPECT_NE(text.find("(SlowStart) = 300"), std::string::npos) << text;
        // What makes a controller itself stays out unless named.
        for (const char* own : {"AdrTrk_1", "SpeedTrk", "UpgrCountNara"})
            EXPECT_EQ(text.find(std::string("(") + own), std::string::npos) << own;
    }

    std::vector<std::string> Apply(std::vector<std::string> extra, int& code, json& doc) {
        std::vector<std::string> args{"--json",
                                      "--journal",
                                      Path("journal.sqlite"),
                                      "apply",
                                      kProfileFile,
                                      std::to_string(kFirstTarget),
                                      std::to_string(kLastTarget),
                                      "--backup-dir",
                                      Path("backups"),
                                      "--metrological",
                                      kConfirm};
        args.insert(args.end(), extra.begin(), extra.end());
        const CliOutcome r = Run(args);
        code = r.exitCode;
        doc = Parse(r.out);
        return {r.err};
    }

    // The fields each target's preview names.
    static std::map<int, std::set<std::string>> Changes(const json& doc) {
        std::map<int, std::set<std::string>> out;
        for (const json& c : doc["controllers"])
            for (const json& f : c["changes"]) out[c["number"]].insert(f["field"]);
        return out;
    }

    static std::set<std::string> Expected(int number) {
        std::set<std::string> fields;
        for (const auto& [field, value] : SourceValues())
            if (!(number == kAlreadySet && field == params::kMetTOut.name)) fields.insert(field);
        return fields;
    }

    bool HoldsProfile(int number) {
        auto lock = sim.Lock();
        for (const auto& [field, value] : SourceValues())
            if (Byte(*sim.Find(number), field) != value) return false;
        return true;
    }
};

TEST_F(StationProfileTest, DryRunShowsExactlyTheDifferingFieldsAndWritesNothing) {
    MakeProfile();
    const auto before = Images();
    int code = -1;
    json doc;
    const auto err = Apply({"--dry-run"}, code, doc);
    EXPECT_EQ(code, kExitCodeChanges) << err[0];
    const auto changes = Changes(doc);
    ASSERT_EQ(doc["controllers"].size(), static_cast<size_t>(kLastTarget - kFirstTarget + 1));
    for (int n = kFirstTarget; n <= kLastTarget; ++n) {
        EXPECT_EQ(changes.count(n) ? changes.at(n) : std::set<std::string>{}, Expected(n))
            << "Трк №" << n;
    }
    EXPECT_EQ(Images(), before);
    // The source itself complies: nothing would change.
    const CliOutcome source =
        Run({"apply", kProfileFile, std::to_string(kSource), std::to_string(kSource), "--dry-run",
             "--metrological", kConfirm});
    EXPECT_EQ(source.exitCode, 0) << source.err << source.out;
}

TEST_F(StationProfileTest, ApplyBacksUpWritesVerifiesAndJournalsEveryTarget) {
    MakeProfile();
    const auto before = Images();
    int code = -1;
    json doc;
    const auto err = Apply({}, code, doc);
    ASSERT_EQ(code, 0) << err[0] << doc.dump(1);
    for (const json& c : doc["controllers"]) EXPECT_EQ(c["state"], "verified") << c.dump();
    for (int n = kFirstTarget; n <= kLastTarget; ++n) EXPECT_TRUE(HoldsProfile(n)) << "Трк №" << n;

    // Each was backed up before the write: its backup is the image it had.
    const std::string folder = Path("backups/") + doc["backupFolder"].get<std::string>();
    const json manifest = Parse(SlurpFile(folder + "/manifest.json"));
    std::set<int> backedUp;
    for (const json& e : manifest["controllers"]) {
        const int n = e["number"];
        backedUp.insert(n);
        const std::string bytes = SlurpFile(folder + "/" + e["file"].get<std::string>());
        EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.end()), before.at(n)) << n;
    }
    EXPECT_EQ(backedUp.size(), static_cast<size_t>(kLastTarget - kFirstTarget + 1));

    // One journal entry per changed field, under the profile's name (the parameter block's
    // checksum follows its fields and is entered as such).
    std::string error;
    auto journal = Journal::OpenExisting(Path("journal.sqlite"), error);
    ASSERT_NE(journal, nullptr) << error;
    std::map<int, std::set<std::string>> journaled;
    for (const JournalEntry& e : journal->List({}, error)) {
        EXPECT_NE(e.operation.find(kProfileName), std::string::npos) << e.operation;
        if (e.field == params::kKsm.name) continue;
        EXPECT_TRUE(journaled[e.ctrlr].insert(e.field).second) << e.field << " twice";
    }
    for (int n = kFirstTarget; n <= kLastTarget; ++n)
        EXPECT_EQ(journaled[n], Expected(n)) << "Трк №" << n;

    // A second run finds nothing to do.
    const auto again = Apply({"--dry-run"}, code, doc);
    EXPECT_EQ(code, 0) << again[0];
}

TEST_F(StationProfileTest, FailingControllerStopsTheRunAndRollsBackByteForByte) {
    MakeProfile();
    const auto before = Images();
    {
        auto lock = sim.Lock();
        sim::Controller* failing = sim.Find(kFailing);
        failing->sealedAddress = addr::kParams;
    }
    int code = -1;
    json doc;
    const auto err = Apply({"--rollback"}, code, doc);
    EXPECT_EQ(code, kExitCodeChanges) << err[0];
    std::map<int, json> states;
    for (const json& c : doc["controllers"]) states[c["number"]] = c;
    for (int n = kFirstTarget; n <= kLastTarget; ++n) {
        const std::string want = n < kFailing ? "verified" : n == kFailing ? "failed" : "untouched";
        EXPECT_EQ(states[n]["state"], want) << "Трк №" << n;
    }
    // What the failed controller held after the refused write: its make-specific block was
    // written, its parameter block not.
    std::set<std::string> held;
    for (const json& f : states[kFailing]["holds"]) held.insert(f["field"]);
    std::set<std::string> params = Expected(kFailing);
    params.erase(make::kShimDuration.name);
    EXPECT_EQ(held, params);
    EXPECT_EQ(states[kFailing]["rollback"], "restored");
    const auto after = Images();
    EXPECT_EQ(after.at(kFailing), before.at(kFailing)) << "rolled back byte for byte";
    for (int n = kFailing + 1; n <= kLastTarget; ++n) EXPECT_EQ(after.at(n), before.at(n)) << n;
    for (int n = kFirstTarget; n < kFailing; ++n) EXPECT_TRUE(HoldsProfile(n)) << n;
}

TEST_F(StationProfileTest, CheckFindsAControllerChangedBehindTheToolsBack) {
    MakeProfile();
    int code = -1;
    json doc;
    const auto err = Apply({}, code, doc);
    ASSERT_EQ(code, 0) << err[0];
    const std::vector<std::string> check{"--json", "check", kProfileFile, std::to_string(kSource),
                                         std::to_string(kLastTarget)};
    const CliOutcome clean = Run(check);
    EXPECT_EQ(clean.exitCode, 0) << clean.err << clean.out;
    {
        auto lock = sim.Lock();
        Byte(*sim.Find(kChangedBehind), params::kNozzleWait.name) = kBehindValue;
        sim.Find(kChangedBehind)->FixParamsChecksum();
    }
    auto deviating = [](const json& d) {
        std::map<int, std::set<std::string>> out;
        for (const json& c : d["controllers"])
            if (c["status"] != "complies")
                for (const json& f : c["fields"]) out[c["number"]].insert(f["field"]);
        return out;
    };
    const std::map<int, std::set<std::string>> expected{
        {kChangedBehind, {params::kNozzleWait.name}}};
    const CliOutcome line = Run(check);
    EXPECT_EQ(line.exitCode, kExitCodeChanges) << line.err;
    EXPECT_EQ(deviating(Parse(line.out)), expected);

    // The same from the latest backups.
    const CliOutcome backup =
        Run({"backup", Path("station"), std::to_string(kSource), std::to_string(kLastTarget)});
    ASSERT_EQ(backup.exitCode, 0) << backup.err;
    const CliOutcome saved = Run({"--json", "check", kProfileFile, Path("station")});
    EXPECT_EQ(saved.exitCode, kExitCodeChanges) << saved.err;
    EXPECT_EQ(deviating(Parse(saved.out)), expected);
}

TEST_F(StationProfileTest, NewNumberAndSpeedAreFollowedThroughTheRestart) {
    constexpr int kRenumbered = kLastTarget;
    constexpr int kNewNumber = 20;
    constexpr int kFirstFaster = kChangedBehind;
    constexpr int kLastFaster = kLastTarget - 1;
    constexpr uint32_t kNewBaud = 9600;
    std::string sizes = std::string(kProfileSizesKey) + " =";
    {
        auto lock = sim.Lock();
        const std::vector<uint8_t> image = sim.Find(kSource)->ImageBytes();
        for (int byte : kProfileSizeBytes) sizes += " " + std::to_string(image[byte]);
    }
    auto write = [&](const std::string& name, const std::string& field) {
        std::FILE* f = std::fopen(Path(name).c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs((sizes + "\n[Параметры контроллера]\n" + field + "\n").c_str(), f);
        std::fclose(f);
    };
    write("number.prf", "AdrTrk_1 = " + std::to_string(kNewNumber));
    write("speed.prf", "SpeedTrk = " + std::to_string(kNewBaud));

    const CliOutcome numbered = Run({"apply", "number.prf", std::to_string(kRenumbered)});
    EXPECT_EQ(numbered.exitCode, 0) << numbered.err << numbered.out;
    // Two controllers, one after the other at the new speed: the port goes back to the line's
    // speed for the second.
    const CliOutcome faster =
        Run({"apply", "speed.prf", std::to_string(kFirstFaster), std::to_string(kLastFaster)});
    EXPECT_EQ(faster.exitCode, 0) << faster.err << faster.out;
    auto lock = sim.Lock();
    ASSERT_EQ(sim.Find(kRenumbered), nullptr);
    ASSERT_NE(sim.Find(kNewNumber), nullptr);
    for (int n = kFirstFaster; n <= kLastFaster; ++n)
        EXPECT_EQ(sim.Find(n)->LineBaud(), kNewBaud) << n;
    EXPECT_EQ(sim.Find(kFailing)->LineBaud(), sim::kDefaultLineBaud);
}

TEST_F(StationProfileTest, ProfileFromASavedImageIsTheSameAsFromTheController) {
    MakeProfile();
    {
        auto lock = sim.Lock();
        ASSERT_EQ(sim.Find(kSource)->SaveImageFile(Path("source.bin")), 0);
    }
    const CliOutcome made =
        Run({"profile", "make", "from-image.prf", "--from-image", Path("source.bin"), "--records",
             "Params,MakeBlock", "--metrological", kConfirm, "--name", kProfileName});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    EXPECT_EQ(SlurpFile(Path("from-image.prf")), SlurpFile(Path(kProfileFile)));
    // Without the confirmation no profile is written.
    const CliOutcome unconfirmed =
        Run({"profile", "make", "unconfirmed.prf", "--from-image", Path("source.bin")});
    EXPECT_EQ(unconfirmed.exitCode, kExitCodeFile) << unconfirmed.err;
    EXPECT_EQ(::access(Path("unconfirmed.prf").c_str(), F_OK), -1);
}

TEST_F(StationProfileTest, ChannelSettingsGoInThroughTheChannelWrites) {
    constexpr int kChannel = 1;             // the second channel in use
    constexpr uint16_t kStoredFactor = 512; // 256 pulses per litre
    const int at = addr::kChannelSettsBase + kChannel * 0x100 + setts::kImpLit.offset;
    {
        auto lock = sim.Lock();
        auto& memory = sim.Find(kSource)->Space(0);
        ASSERT_NE(GetLE(&memory[static_cast<size_t>(at)], setts::kImpLit.width), kStoredFactor);
        SetLE(&memory[static_cast<size_t>(at)], setts::kImpLit.width, kStoredFactor);
    }
    const CliOutcome unconfirmed = Run({"-a", std::to_string(kSource), "profile", "make",
                                        "channels.prf", "--records", "ChannelSetts"});
    EXPECT_EQ(unconfirmed.exitCode, kExitCodeFile) << unconfirmed.err;
    const CliOutcome made = Run({"-a", std::to_string(kSource), "profile", "make", "channels.prf",
                                 "--fields", "ImpLit", "--metrological", "ImpLit"});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    const CliOutcome applied = Run({"--json", "apply", "channels.prf", std::to_string(kFirstTarget),
                                    std::to_string(kAlreadySet), "--metrological", "ImpLit",
                                    "--backup-dir", Path("backups")});
    ASSERT_EQ(applied.exitCode, 0) << applied.err;
    const json doc = Parse(applied.out);
    for (const json& c : doc["controllers"]) {
        ASSERT_EQ(c["changes"].size(), 1U) << c.dump();
        EXPECT_EQ(c["changes"][0]["field"], "ImpLit");
        EXPECT_EQ(c["changes"][0]["new"], "256");
    }
    auto lock = sim.Lock();
    for (int n = kFirstTarget; n <= kAlreadySet; ++n)
        EXPECT_EQ(GetLE(&sim.Find(n)->Space(0)[static_cast<size_t>(at)], setts::kImpLit.width),
                  kStoredFactor)
            << n;
}

TEST_F(StationProfileTest, RefusedProfileWritesNothing) {
    MakeProfile();
    const auto before = Images();
    // Without the confirmation of its metrological fields.
    const CliOutcome unconfirmed = Run({"apply", kProfileFile, std::to_string(kFirstTarget)});
    EXPECT_EQ(unconfirmed.exitCode, kExitCodeFile);
    EXPECT_NE(unconfirmed.err.find(std::string(kProfileFile) + ":"), std::string::npos)
        << unconfirmed.err;
    // One number for every controller of the line.
    const std::string text = SlurpFile(Path(kProfileFile));
    auto numbered = [&](const std::string& name, int number) {
        std::FILE* f = std::fopen(Path(name).c_str(), "w");
        EXPECT_NE(f, nullptr);
        if (f == nullptr) return;
        std::fputs(
            (text + "[Параметры контроллера]\nAdrTrk_1 = " + std::to_string(number) + "\n").c_str(),
            f);
        std::fclose(f);
    };
    constexpr int kFreeNumber = 20;
    numbered("numbered.prf", kFreeNumber);
    const CliOutcome same = Run({"apply", "numbered.prf", std::to_string(kFirstTarget),
                                 std::to_string(kLastTarget), "--metrological", kConfirm});
    EXPECT_EQ(same.exitCode, kExitCodeUsage) << same.err;
    EXPECT_NE(same.err.find("номер " + std::to_string(kFreeNumber)), std::string::npos) << same.err;
    // Nor a profile of another controller family (other record sizes).
    {
        std::string other = text;
        const size_t sizes = other.find("\n" + std::string(kProfileSizesKey) + " =");
        ASSERT_NE(sizes, std::string::npos);
        const size_t value = other.find("= ", sizes) + 2;
        other.replace(value, other.find(' ', value) - value,
                      std::to_string(params::kUsualLength + 2));
        std::FILE* f = std::fopen(Path("other.prf").c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs(other.c_str(), f);
        std::fclose(f);
        const CliOutcome family = Run({"apply", "other.prf", std::to_string(kFirstTarget),
                                       std::to_string(kLastTarget), "--metrological", kConfirm});
        EXPECT_EQ(family.exitCode, kExitCodeFile) << family.err;
        EXPECT_NE(family.err.find("other.prf"), std::string::npos) << family.err;
        EXPECT_NE(family.err.find("другое семейство"), std::string::npos) << family.err;
    }
    // Nor one target the number another controller of the line answers at.
    numbered("taken.prf", kSource);
    const CliOutcome taken = Run({"apply", "taken.prf", std::to_string(kLastTarget),
                                  std::to_string(kLastTarget), "--metrological", kConfirm});
    EXPECT_EQ(taken.exitCode, kExitCodeUsage) << taken.err;
    EXPECT_NE(taken.err.find("занят"), std::string::npos) << taken.err;
    EXPECT_EQ(Images(), before);
}

} // namespace
} // namespace velmar::test
