// The journal's head kept outside its file: every backup's manifest records the journal's
// source, entry count and newest hash, and `journal verify` given the backups finds a journal
// cut short, replaced or rebuilt since. The runs of a backup folder keep their order by number:
// one made while the clock was ahead does not keep `latest` for good, and verify says so.
#include "cli_bus_fixture.h"
#include "data/journal.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

namespace velmar::test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr int kExitOk = 0;
constexpr int kExitBroken = 1;

void Sql(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK)
        << (error != nullptr ? error : "");
    sqlite3_free(error);
    sqlite3_close(db);
}

class BackupHeads : public CliBusTest {
  protected:
    BackupHeads() : CliBusTest(Controllers({1}, 1)) {}
    void SetUp() override {
        CliBusTest::SetUp();
        if (IsSkipped()) return;
        journal = Path("j.sqlite");
        for (const char* value : {"SlowStart=3", "SlowStart=4"})
            ASSERT_EQ(Run({"--journal", journal, "set-params", value}).exitCode, kExitOk);
    }
    std::string Backup() {
        const CliOutcome r = Run({"--journal", journal, "--json", "backup", "st", "1", "1"});
        EXPECT_EQ(r.exitCode, kExitOk) << r.err;
        return Parse(r.out).value("folder", "?");
    }
    std::string Latest() const {
        std::error_code ec;
        return fs::read_symlink(Path("st/latest"), ec).string();
    }
    CliOutcome VerifyJournal() { return Run({"--journal", journal, "journal", "verify", "st"}); }

    std::string journal;
};

TEST_F(BackupHeads, TheManifestRecordsTheHeadAndVerifyFindsAJournalCutShortReplacedOrRebuilt) {
    std::string why;
    const size_t made = Journal::OpenExisting(journal, why)->List({}, why).size();
    ASSERT_GT(made, 1u);
    const std::string folder = Backup();
    const json manifest = Parse(SlurpFile(Path("st/" + folder + "/manifest.json")));
    EXPECT_EQ(manifest["journal"]["entries"], made) << manifest.dump(2);
    EXPECT_EQ(manifest["journal"]["source"].get<std::string>().size(), 32u);
    CliOutcome r = VerifyJournal();
    EXPECT_EQ(r.exitCode, kExitOk) << r.err;
    EXPECT_NE(r.out.find("Сверено с копиями: 1"), std::string::npos) << r.out;

    // Whoever cuts the journal removes the outcome rows of the writes cut too, and any that name
    // an entry rehashed: what is left of both chains holds.
    const std::string kDropOutcomes =
        "DELETE FROM outcomes WHERE last_entry >= (SELECT coalesce(max(id), 0) FROM entries);"
        "DELETE FROM writes WHERE last_entry >= (SELECT coalesce(max(id), 0) FROM entries);";
    const std::string kept = Path("kept.sqlite");
    fs::copy_file(journal, kept);
    // The newest entry edited and the chain hashed afresh: its own chain holds, the head not.
    auto rehash = [&] {
        std::string error;
        auto j = Journal::OpenExisting(journal, error);
        auto entries = j->List({}, error);
        j.reset();
        JournalEntry& e = entries.back();
        e.newValue = "900";
        e.outcome = kOutcomeUnknown; // as entered before the write: what the hash covers
        e.hash = JournalEntryHash(e, e.prevHash);
        Sql(journal, "UPDATE entries SET new_value='900', hash='" + e.hash +
                         "' WHERE id=" + std::to_string(e.id) + ";" + kDropOutcomes);
    };
    auto replace = [&] {
        fs::remove(journal);
        std::string error;
        auto fresh = Journal::Open(journal, error);
        std::vector<JournalEntry> one(1);
        one[0].time = JournalNow();
        one[0].outcome = kOutcomeWritten;
        ASSERT_TRUE(fresh->Append(one, error)) << error;
    };
    struct Case {
        const char* name;
        std::function<void()> tamper;
        const char* found;
    };
    const Case cases[] = {
        {"newest entry deleted",
         [&] {
             Sql(journal,
                 "DELETE FROM entries WHERE id=(SELECT max(id) FROM entries);" + kDropOutcomes);
         },
         "короче"},
        {"every entry deleted", [&] { Sql(journal, "DELETE FROM entries;" + kDropOutcomes); },
         "короче"},
        {"file replaced by another journal", replace, "короче"},
        {"newest entry edited and rehashed", rehash, "отличается"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.tamper();
        // The file alone says nothing: what is left is a chain that holds.
        EXPECT_EQ(Run({"--journal", journal, "journal", "verify"}).exitCode, kExitOk);
        r = VerifyJournal();
        EXPECT_EQ(r.exitCode, kExitBroken) << r.out << r.err;
        EXPECT_NE(r.err.find(c.found), std::string::npos) << r.err;
        fs::remove(journal);
        fs::copy_file(kept, journal);
    }
}

TEST_F(BackupHeads, ARunMadeWhileTheClockWasAheadDoesNotKeepLatest) {
    const std::string first = Backup();
    ASSERT_EQ(Latest(), first);
    // What a run with the clock years ahead leaves: a later name and time, the next number.
    const std::string ahead = "20991231-235959";
    fs::copy(Path("st/" + first), Path("st/" + ahead));
    json manifest = Parse(SlurpFile(Path("st/" + ahead + "/manifest.json")));
    manifest["folder"] = ahead;
    manifest["created"] = "2099-12-31T23:59:59+0000";
    manifest["sequence"] = manifest["sequence"].get<int>() + 1;
    std::ofstream(Path("st/" + ahead + "/manifest.json")) << manifest.dump();
    std::ofstream(Path("st/" + ahead + "/.sequence")) << manifest["sequence"].get<int>() << "\n";
    fs::remove(Path("st/latest"));
    fs::create_directory_symlink(ahead, Path("st/latest"));

    const CliOutcome check = Run({"verify", "st"});
    EXPECT_EQ(check.exitCode, kExitOk) << check.err;
    EXPECT_NE(check.err.find("Часы расходятся"), std::string::npos) << check.err;

    const std::string next = Backup();
    EXPECT_EQ(Latest(), next);
    EXPECT_GT(Parse(SlurpFile(Path("st/" + next + "/manifest.json")))["sequence"].get<int>(),
              manifest["sequence"].get<int>());
}

TEST_F(BackupHeads, AManifestThatNamesNoLineIsRefusedForAnyLine) {
    const std::string folder = Backup();
    json manifest = Parse(SlurpFile(Path("st/" + folder + "/manifest.json")));
    manifest.erase("port");
    std::ofstream(Path("st/" + folder + "/manifest.json")) << manifest.dump();
    constexpr int kExitUsage = 2;
    const CliOutcome r = Run({"verify", "st/" + folder});
    EXPECT_EQ(r.exitCode, kExitUsage) << r.out << r.err;
    EXPECT_NE(r.err.find("не указана линия"), std::string::npos) << r.err;
}

} // namespace
} // namespace velmar::test
