// The journal file itself: the hash chain catches edited, deleted and reordered entries, an
// import refuses a broken chain and keeps each entry's origin, and two programs append to one
// journal at once without breaking it.
#include "../data/data_test_support.h"
#include "data/journal.h"
#include "data/journal_record.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <thread>

namespace velmar {
namespace {

JournalEntry Entry(const std::string& caption, const std::string& from, const std::string& to) {
    JournalEntry e;
    e.time = JournalNow();
    e.user = "anna";
    e.host = "pc";
    e.program = "velmar-cli";
    e.operation = "velmar-cli set-params";
    e.port = "COM1";
    e.ctrlr = 1;
    e.recordKind = "Params";
    e.record = "Параметры контроллера";
    e.field = "SlowStart";
    e.caption = caption;
    e.oldValue = from;
    e.newValue = to;
    e.outcome = kOutcomeWritten;
    return e;
}

void Sql(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK)
        << (error != nullptr ? error : "");
    sqlite3_free(error);
    sqlite3_close(db);
}

class JournalChain : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        auto journal = Journal::Open(path, error);
        ASSERT_NE(journal, nullptr) << error;
        std::vector<JournalEntry> entries{Entry("Доза в начале, мл", "100", "300"),
                                          Entry("Доза в конце, мл", "50", "60"),
                                          Entry("Раздутие шланга, мл", "0", "10")};
        ASSERT_TRUE(journal->Append(entries, error)) << error;
    }
    int64_t Verify(const std::string& file) {
        std::string error, why;
        auto journal = Journal::OpenExisting(file, error);
        EXPECT_NE(journal, nullptr) << error;
        return journal != nullptr ? journal->Verify(why) : -1;
    }

    test::TempDir dir;
    std::string path = dir.File("j.sqlite");
};

TEST_F(JournalChain, AnIntactJournalVerifies) {
    EXPECT_EQ(Verify(path), 0);
}

TEST_F(JournalChain, TamperingIsFoundAtTheFirstBrokenEntry) {
    struct Case {
        const char* name;
        const char* sql;
        int64_t broken;
    };
    const Case cases[] = {
        {"edited value", "UPDATE entries SET new_value='200' WHERE id=2", 2},
        {"edited user", "UPDATE entries SET user='boris' WHERE id=1", 1},
        {"deleted entry", "DELETE FROM entries WHERE id=2", 3},
        {"deleted first entry", "DELETE FROM entries WHERE id=1", 2},
        {"reordered entries",
         "UPDATE entries SET id=10 WHERE id=2; UPDATE entries SET id=2 WHERE id=3;"
         " UPDATE entries SET id=3 WHERE id=10",
         2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string copy = dir.File(std::string("t") + std::to_string(&c - cases));
        std::filesystem::copy_file(path, copy);
        Sql(copy, c.sql);
        EXPECT_EQ(Verify(copy), c.broken);
        // A tampered journal is never merged into another.
        std::string error;
        auto mine = Journal::Open(dir.File("mine.sqlite"), error);
        ASSERT_NE(mine, nullptr);
        EXPECT_EQ(mine->Import(copy, "other", error), -1);
        EXPECT_NE(error.find("нарушена"), std::string::npos) << error;
        EXPECT_TRUE(mine->List({}, error).empty());
    }
}

// Two writes entered before they went on the line, each with its outcome after: an outcome
// edited, deleted, moved to another write or whose write's entry was edited breaks the outcome
// chain, named at its write's first entry.
TEST_F(JournalChain, AnOutcomeTamperedWithIsFoundAtItsWrite) {
    {
        std::string error;
        auto journal = Journal::Open(path, error);
        ASSERT_NE(journal, nullptr) << error;
        for (int i = 0; i < 2; ++i) {
            std::vector<JournalEntry> pending{Entry("Пауза пуска, с", "1", std::to_string(i))};
            pending[0].outcome = kOutcomeUnknown;
            JournalWrite w;
            w.ctrlr = 1;
            ASSERT_TRUE(journal->AppendPending(pending, w, error)) << error;
            ASSERT_TRUE(journal->AppendOutcome(w, kOutcomeWritten, kOutcomeByAnswer, error));
        }
        ASSERT_EQ(Verify(path), 0);
        EXPECT_EQ(journal->List({}, error).back().outcome, kOutcomeWritten);
    }
    struct Case {
        const char* name;
        const char* sql;
        int64_t broken;
    };
    const Case cases[] = {
        {"edited outcome", "UPDATE outcomes SET outcome='отказ' WHERE id=1", 4},
        {"deleted outcome", "DELETE FROM outcomes WHERE id=1", 5},
        {"outcome moved to another write",
         "UPDATE outcomes SET first_entry=5, last_entry=5 WHERE id=1", 5},
        {"pending entry edited", "UPDATE entries SET new_value='9' WHERE id=5", 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string copy = dir.File(std::string("o") + std::to_string(&c - cases));
        std::filesystem::copy_file(path, copy);
        Sql(copy, c.sql);
        EXPECT_EQ(Verify(copy), c.broken);
    }
}

// A journal of the version before outcome rows: read as it is, and on its first open for
// writing it takes entries entered before their write.
TEST_F(JournalChain, AJournalOfTheVersionBeforeOutcomeRowsIsReadAndTakesPendingWrites) {
    Sql(path, "DROP TABLE writes; DROP TABLE outcomes");
    std::string error;
    {
        auto old = Journal::OpenExisting(path, error);
        ASSERT_NE(old, nullptr) << error;
        EXPECT_EQ(old->List({}, error).size(), 3u) << error;
        EXPECT_EQ(old->Verify(error), 0) << error;
        EXPECT_TRUE(old->Unresolved(error).empty());
    }
    auto journal = Journal::Open(path, error);
    ASSERT_NE(journal, nullptr) << error;
    std::vector<JournalEntry> pending{Entry("Пауза пуска, с", "1", "2")};
    pending[0].outcome = kOutcomeUnknown;
    JournalWrite w;
    ASSERT_TRUE(journal->AppendPending(pending, w, error)) << error;
    EXPECT_EQ(journal->Unresolved(error).size(), 1u);
    const auto entries = journal->List({}, error);
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].outcome, kOutcomeWritten);
    EXPECT_EQ(entries[3].outcome, kOutcomeUnknown);
    EXPECT_EQ(Verify(path), 0);
}

TEST_F(JournalChain, ExportAndImportKeepEachEntrysOrigin) {
    std::string error;
    auto journal = Journal::OpenExisting(path, error);
    JournalFilter filter;
    filter.field = "Доза";
    const auto chosen = journal->List(filter, error);
    ASSERT_EQ(chosen.size(), 2u);
    const std::string exported = dir.File("export.sqlite");
    ASSERT_TRUE(Journal::Export(chosen, "anna@pc", exported, error)) << error;
    EXPECT_EQ(Verify(exported), 0);

    auto other = Journal::Open(dir.File("boris.sqlite"), error);
    std::vector<JournalEntry> own{Entry("Пауза пуска, с", "1", "2")};
    ASSERT_TRUE(other->Append(own, error));
    EXPECT_EQ(other->Import(exported, "export.sqlite", error), 2) << error;
    // Importing again adds nothing: the entries are known.
    EXPECT_EQ(other->Import(exported, "export.sqlite", error), 0) << error;
    const auto merged = other->List({}, error);
    ASSERT_EQ(merged.size(), 3u);
    EXPECT_EQ(merged[0].origin, "");
    EXPECT_EQ(merged[1].origin, "anna@pc");
    EXPECT_EQ(merged[2].newValue, "60");
    EXPECT_EQ(other->Verify(error), 0);
}

TEST_F(JournalChain, TwoWritersAtOnceKeepTheChain) {
    constexpr int kEntriesEach = 40;
    auto writer = [&](const char* who) {
        std::string error;
        auto journal = Journal::Open(path, error);
        ASSERT_NE(journal, nullptr) << error;
        for (int i = 0; i < kEntriesEach; ++i) {
            std::vector<JournalEntry> one{Entry(who, std::to_string(i), std::to_string(i + 1))};
            ASSERT_TRUE(journal->Append(one, error)) << error;
        }
    };
    std::thread window(writer, "window");
    std::thread cli(writer, "cli");
    window.join();
    cli.join();
    std::string error;
    auto journal = Journal::OpenExisting(path, error);
    EXPECT_EQ(journal->List({}, error).size(), 3u + 2u * kEntriesEach);
    EXPECT_EQ(Verify(path), 0);
}

TEST(JournalFile, AJournalOnAReadOnlyFileSystemIsRefusedWithTheReason) {
    std::string error;
    EXPECT_EQ(Journal::Open("/proc/velmar-journal.sqlite", error), nullptr);
    EXPECT_NE(error.find("/proc/velmar-journal.sqlite"), std::string::npos) << error;
}

TEST(JournalFile, DatesFromTheUserAreLocalTimeUnlessMarkedUtc) {
    EXPECT_EQ(JournalTimeFromUser("2026-12-08T10:00:00Z"), "2026-12-08T10:00:00Z");
    EXPECT_EQ(JournalTimeFromUser("2026-12-08Z"), "2026-12-08T00:00:00Z");
    EXPECT_FALSE(JournalTimeFromUser("2026-12-08").empty());
    EXPECT_TRUE(JournalTimeFromUser("08.12.2026").empty());
    EXPECT_TRUE(JournalTimeFromUser("2026-13-01").empty());
}

} // namespace
} // namespace velmar
