// The journal and `changes` as the engineer and the backup service use them: velmar-cli against
// the simulator, and four nightly backups with a change made through Velmar, a price change and a
// meter factor changed behind its back.
#include "../data/data_test_support.h"
#include "cli/cli_bus_fixture.h"
#include "data/device_image.h"
#include "data/image_file.h"
#include "data/journal.h"
#include "data/records.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sqlite3.h>

namespace velmar {
namespace {

using test::CliOutcome;

nlohmann::json ParseJson(const std::string& text) {
    nlohmann::json doc = nlohmann::json::parse(text, nullptr, false);
    EXPECT_FALSE(doc.is_discarded()) << text;
    return doc;
}

constexpr int kExitOk = 0;
constexpr int kExitUnrecorded = 1;
constexpr int kExitFile = 3;

class JournalCli : public test::CliBusTest {};

TEST_F(JournalCli, ASetParamsWriteIsListedVerifiedAndItsTamperingFound) {
    const std::string journal = Path("j.sqlite");
    CliOutcome r = Run({"--journal", journal, "set-params", "SlowStart=3"});
    ASSERT_EQ(r.exitCode, kExitOk) << r.err;
    r = Run({"--journal", journal, "journal"});
    ASSERT_EQ(r.exitCode, kExitOk) << r.err;
    EXPECT_NE(r.out.find("Параметры контроллера: Доза в начале, мл: 100 -> 300 (записано)"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("velmar-cli set-params"), std::string::npos);
    EXPECT_NE(r.out.find("Трк №1"), std::string::npos);
    r = Run({"--journal", journal, "journal", "--field", "Доза в начале", "--json"});
    const auto doc = Parse(r.out);
    ASSERT_EQ(doc.size(), 1u);
    EXPECT_EQ(doc[0]["old"], "100");
    EXPECT_EQ(doc[0]["new"], "300");
    EXPECT_EQ(Run({"--journal", journal, "journal", "verify"}).exitCode, kExitOk);

    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(journal.c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "UPDATE entries SET new_value='200' WHERE id=1", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    r = Run({"--journal", journal, "journal", "verify"});
    EXPECT_EQ(r.exitCode, kExitUnrecorded);
    EXPECT_NE(r.err.find("запись 1"), std::string::npos) << r.err;
}

TEST_F(JournalCli, AJournalOnAReadOnlyDiskKeepsTheWriteFromStarting) {
    const CliOutcome r =
        Run({"--journal", "/proc/velmar-journal.sqlite", "set-params", "SlowStart=4"});
    EXPECT_EQ(r.exitCode, kExitFile);
    EXPECT_NE(r.err.find("Запись не начата"), std::string::npos) << r.err;
    const CliOutcome check = Run({"--journal", Path("j.sqlite"), "set-params", "SlowStart=1"});
    EXPECT_NE(check.out.find("Не было изменений"), std::string::npos) << check.out << check.err;
}

// What newer manifests add: the run's number and when the controller's read began and ended.
struct RunTimes {
    int64_t sequence = 0;
    std::string started;
    std::string finished;
};

// Four nightly backups of one controller under a line folder, as the backup service leaves them,
// made from the simulated controller's saved image.
class ChangesCli : public test::CliBusTest {
  protected:
    void SetUp() override {
        CliBusTest::SetUp();
        if (IsSkipped()) return;
        const CliOutcome saved = Run({"image", "save", Path("base.bin")});
        ASSERT_EQ(saved.exitCode, kExitOk) << saved.err;
        ASSERT_EQ(LoadImageFile(Path("base.bin"), image), ImageLoadResult::Loaded);
    }
    size_t At(RecordKind kind, int index, const Field& field) const {
        const auto span = FindImageSpan(image.data(), kind, index);
        EXPECT_TRUE(span.has_value());
        return static_cast<size_t>(span->offset + field.offset);
    }
    void Backup(const std::string& folder, const std::string& time, const RunTimes& run = {}) {
        const std::string path = dir.File("line_ab12/" + folder);
        std::filesystem::create_directories(path);
        test::WriteBytes(path + "/trk1.bin", image);
        std::ofstream(path + "/manifest.json")
            << R"({"version":1,"port":"/dev/ttyUSB0","created":")" << time << R"(","folder":")"
            << folder << R"(","sequence":)" << run.sequence
            << R"(,"first":1,"last":1,"controllers":[)"
            << R"({"number":1,"ident":"x","status":"saved","file":"trk1.bin","size":)"
            << image.size() << R"(,"sha256":"","time":")" << time << R"(","started":")"
            << run.started << R"(","finished":")" << run.finished << R"(","retries":0}]})";
    }
    void Record(const std::string& time, const char* kind, const char* field,
                const std::string& value, const std::string& port = kLine) {
        std::string error;
        auto j = Journal::Open(journal, error);
        JournalEntry e;
        e.time = time;
        e.port = port;
        e.ctrlr = 1;
        e.recordKind = kind;
        e.field = field;
        e.newValue = value;
        e.outcome = kOutcomeWritten;
        std::vector<JournalEntry> one{e};
        ASSERT_TRUE(j->Append(one, error)) << error;
    }
    CliOutcome Changes(std::vector<std::string> more = {}) {
        std::vector<std::string> args{"--journal", journal, "changes", dir.Path(), "--json"};
        args.insert(args.end(), more.begin(), more.end());
        return test::RunCliProgram(binary, dir.Path(), args);
    }

    static constexpr const char* kLine = "/dev/ttyUSB0";
    test::TempDir dir;
    std::string journal = dir.File("j.sqlite");
    std::vector<uint8_t> image;
};

TEST_F(ChangesCli, ExplainsVelmarsChangeIgnoresPricesAndReportsAMeterFactorChangedBehindItsBack) {
    Backup("2026-12-01_020000", "2026-12-01T02:00:00+00:00");
    image[At(RecordKind::Params, 0, params::kSlowStart)] = 3;
    Backup("2026-12-02_020000", "2026-12-02T02:00:00+00:00");
    Record("2026-12-01T10:00:00Z", "Params", "SlowStart", "300");
    image[At(RecordKind::ChannelRegs, 0, regs::kPrice)] ^= 0x11;
    Backup("2026-12-03_020000", "2026-12-03T02:00:00+00:00");

    CliOutcome r = Changes();
    EXPECT_EQ(r.exitCode, kExitOk) << r.out << r.err;
    auto doc = ParseJson(r.out);
    EXPECT_EQ(doc["recorded"], 1);
    EXPECT_EQ(doc["operating"], 1);
    EXPECT_EQ(doc["unrecorded"], 0);

    image[At(RecordKind::ChannelSetts, 0, setts::kImpLit)] ^= 0x01;
    Backup("2026-12-04_020000", "2026-12-04T02:00:00+00:00");
    // A run still in progress and the link to the newest copy are not backups of their own.
    image[At(RecordKind::ChannelSetts, 1, setts::kImpLit)] ^= 0x01;
    Backup("2026-12-05_020000.partial", "2026-12-05T02:00:00+00:00");
    std::filesystem::create_directory_symlink(dir.File("line_ab12/2026-12-01_020000"),
                                              dir.File("line_ab12/latest"));
    r = Changes();
    EXPECT_EQ(r.exitCode, kExitUnrecorded) << r.out << r.err;
    doc = ParseJson(r.out);
    EXPECT_EQ(doc["backups"], 4);
    EXPECT_EQ(doc["unrecorded"], 1);
    for (const auto& c : doc["changes"]) {
        if (c["recorded"] || c["operating"]) continue;
        EXPECT_EQ(c["field"], "ImpLit");
        EXPECT_TRUE(c["metrological"].get<bool>());
        EXPECT_EQ(c["from"], "2026-12-03T02:00:00Z");
        EXPECT_EQ(c["to"], "2026-12-04T02:00:00Z");
    }
    // The service's run: the warning for the system log, and only the newest pair.
    r = Changes({"--alarm", "--latest"});
    EXPECT_EQ(r.exitCode, kExitUnrecorded);
    EXPECT_NE(r.err.find("<4>Изменение не записано в журнал"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Импульсов на литр"), std::string::npos) << r.err;

    Record("2026-12-03T12:00:00Z", "ChannelSetts", "ImpLit",
           ParseJson(r.out)["changes"][0]["new"].get<std::string>());
    EXPECT_EQ(Changes().exitCode, kExitOk);
    EXPECT_EQ(test::RunCliProgram(binary, dir.Path(), {"changes", dir.File("none")}).exitCode,
              kExitFile);
}

TEST_F(ChangesCli, AnEntryExplainsAChangeOnlyOnItsLineWithItsValueWithinThePeriod) {
    Backup("2026-12-01_020000", "2026-12-01T02:00:00+00:00");
    image[At(RecordKind::Params, 0, params::kSlowStart)] = 3;
    Backup("2026-12-02_020000", "2026-12-02T02:00:00+00:00");
    struct Case {
        const char* name;
        const char* port;
        const char* time;
        const char* value;
        int recorded;
    };
    const Case cases[] = {
        {"on the line, in the period", kLine, "2026-12-01T10:00:00.000Z", "300", 1},
        {"the line named without /dev", "ttyUSB0", "2026-12-01T10:00:00.000Z", "300", 1},
        {"on another line", "/dev/ttyUSB1", "2026-12-01T10:00:00.000Z", "300", 0},
        {"before the earlier backup", kLine, "2026-11-30T10:00:00.000Z", "300", 0},
        {"after the later backup", kLine, "2026-12-02T03:00:00.000Z", "300", 0},
        {"another value", kLine, "2026-12-01T10:00:00.000Z", "200", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(journal);
        Record(c.time, "Params", "SlowStart", c.value, c.port);
        const CliOutcome r = Changes();
        const auto doc = ParseJson(r.out);
        EXPECT_EQ(doc["recorded"], c.recorded) << r.out;
        EXPECT_EQ(doc["unrecorded"], 1 - c.recorded);
    }
}

TEST_F(ChangesCli, AWriteInTheSecondOfABackupIsPlacedByTheReadsStartAndEnd) {
    Backup("a", "2026-12-01T02:00:00+00:00",
           {1, "2026-12-01T02:00:00.100Z", "2026-12-01T02:00:00.400Z"});
    image[At(RecordKind::Params, 0, params::kSlowStart)] = 3;
    Backup("b", "2026-12-02T02:00:00+00:00",
           {2, "2026-12-02T02:00:00.100Z", "2026-12-02T02:00:00.400Z"});
    // Made after the earlier read ended, in the same second: it explains the change.
    Record("2026-12-01T02:00:00.600Z", "Params", "SlowStart", "300");
    EXPECT_EQ(ParseJson(Changes().out)["recorded"], 1);
    // Made before that read began: the earlier backup would hold it already.
    std::filesystem::remove(journal);
    Record("2026-12-01T02:00:00.050Z", "Params", "SlowStart", "300");
    EXPECT_EQ(ParseJson(Changes().out)["recorded"], 0);
}

TEST_F(ChangesCli, ABackupMadeWhileTheClockWasAheadReversesNothingAndIsReported) {
    Backup("a", "2026-12-01T02:00:00+00:00", {1, "", ""});
    Backup("ahead", "2027-06-01T02:00:00+00:00", {2, "", ""});
    image[At(RecordKind::Params, 0, params::kSlowStart)] = 3;
    Backup("c", "2026-12-03T02:00:00+00:00", {3, "", ""});
    Record("2026-12-02T10:00:00.000Z", "Params", "SlowStart", "300");
    const CliOutcome r = Changes({"--latest"});
    EXPECT_EQ(r.exitCode, kExitOk) << r.out << r.err;
    const auto doc = ParseJson(r.out);
    ASSERT_EQ(doc["changes"].size(), 1u) << r.out;
    EXPECT_EQ(doc["changes"][0]["new"], "300");
    EXPECT_EQ(doc["recorded"], 1);
    EXPECT_EQ(doc["clock_notes"].size(), 1u);
    EXPECT_NE(r.err.find("Часы расходятся"), std::string::npos) << r.err;
}

TEST_F(ChangesCli, ThePeriodIsJudgedByTheLaterBackup) {
    Backup("a", "2026-12-01T02:00:00+00:00");
    image[At(RecordKind::Params, 0, params::kSlowStart)] = 3;
    Backup("b", "2026-12-03T02:00:00+00:00");
    auto doc = ParseJson(Changes({"--since", "2026-12-02T00:00:00Z"}).out);
    EXPECT_EQ(doc["unrecorded"], 1);
    doc = ParseJson(Changes({"--since", "2026-12-04T00:00:00Z"}).out);
    EXPECT_EQ(doc["unrecorded"], 0);
}

TEST_F(ChangesCli, ValuesShownAlikeAreListedWithTheStoredOnes) {
    constexpr uint8_t kStoredBefore = 200;
    constexpr uint8_t kStoredAfter = 201;
    const size_t at = At(RecordKind::ChannelSetts, 0, setts::kImpLit);
    image[at] = kStoredBefore;
    image[at + 1] = 0;
    Backup("a", "2026-12-01T02:00:00+00:00");
    image[at] = kStoredAfter;
    Backup("b", "2026-12-02T02:00:00+00:00");
    const auto doc = ParseJson(Changes().out);
    ASSERT_EQ(doc["changes"].size(), 1u);
    const auto& c = doc["changes"][0];
    EXPECT_EQ(c["old"], c["new"]);
    EXPECT_EQ(c["stored_old"], std::to_string(kStoredBefore));
    EXPECT_EQ(c["stored_new"], std::to_string(kStoredAfter));
    const CliOutcome text =
        test::RunCliProgram(binary, dir.Path(), {"--journal", journal, "changes", dir.Path()});
    EXPECT_NE(text.out.find("(в памяти 200 -> 201)"), std::string::npos) << text.out;
}

TEST_F(JournalCli, AWriteIntoTheMiddleOfARecordIsEnteredByField) {
    const std::string journal = Path("j.sqlite");
    // The byte of the start dose, 24 bytes into the parameter block at 0x3101.
    const CliOutcome w = Run({"--journal", journal, "write", "ER", "3119", "05"});
    ASSERT_EQ(w.exitCode, kExitOk) << w.err;
    const auto doc = Parse(Run({"--journal", journal, "journal", "--json"}).out);
    ASSERT_EQ(doc.size(), 1u) << doc.dump();
    EXPECT_EQ(doc[0]["field"], "SlowStart");
    EXPECT_EQ(doc[0]["record_kind"], "Params");
    EXPECT_EQ(doc[0]["new"], "500");
}

} // namespace
} // namespace velmar
