// Each journal is a source with a chain of its own: an export refuses a broken chain and keeps
// each entry's hash and source, an import checks the chain it carries against what it already
// holds of that source, and never takes entries that claim the importing journal's own source.
// Two processes creating one journal at once both succeed; the listing's search folds Cyrillic.
#include "../data/data_test_support.h"
#include "data/journal.h"
#include "data/journal_record.h"
#include "data/text_fold.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

namespace velmar {
namespace {

constexpr int kBrokenId = 2;

JournalEntry Entry(const std::string& caption, const std::string& time, const std::string& to) {
    JournalEntry e;
    e.time = time;
    e.user = "anna";
    e.host = "pc";
    e.program = "velmar-cli";
    e.port = "COM1";
    e.ctrlr = 1;
    e.recordKind = "Params";
    e.record = "Параметры контроллера";
    e.field = "SlowStart";
    e.caption = caption;
    e.oldValue = "1";
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

class JournalSources : public ::testing::Test {
  protected:
    void SetUp() override {
        anna = Open(dir.File("anna.sqlite"));
        boris = Open(dir.File("boris.sqlite"));
        std::vector<JournalEntry> entries{
            Entry("Доза в начале, мл", "2026-12-01T10:00:00.000Z", "3"),
            Entry("Ожидание снятия пистолета, с", "2026-12-01T11:00:00.000Z", "4"),
            Entry("Доза в конце, мл", "2026-12-01T12:00:00.000Z", "5")};
        ASSERT_TRUE(anna->Append(entries, error)) << error;
    }
    static std::unique_ptr<Journal> Open(const std::string& path) {
        std::string error;
        auto j = Journal::Open(path, error);
        EXPECT_NE(j, nullptr) << error;
        return j;
    }
    size_t Export(const JournalFilter& filter = {}) {
        size_t written = 0;
        EXPECT_TRUE(anna->ExportChains(filter, "anna@pc", exported, written, error)) << error;
        return written;
    }

    test::TempDir dir;
    std::string error;
    std::string exported = dir.File("export.sqlite");
    std::unique_ptr<Journal> anna, boris;
};

TEST_F(JournalSources, EachJournalHasItsOwnSourceAndItsEntriesKeepItThroughAnImport) {
    EXPECT_EQ(anna->Source().size(), 32u);
    EXPECT_NE(anna->Source(), boris->Source());
    EXPECT_EQ(Export(), 3u);
    EXPECT_EQ(boris->Import(exported, "export.sqlite", error), 3) << error;
    const auto held = boris->List({}, error);
    const auto theirs = anna->List({}, error);
    ASSERT_EQ(held.size(), theirs.size());
    for (size_t i = 0; i < held.size(); ++i) {
        EXPECT_EQ(held[i].source, anna->Source());
        EXPECT_EQ(held[i].hash, theirs[i].hash);
        EXPECT_EQ(held[i].prevHash, theirs[i].prevHash);
    }
    // Boris's own entries form their own chain beside Anna's: both verify.
    std::vector<JournalEntry> own{Entry("Пауза пуска, с", "2026-12-02T10:00:00.000Z", "2")};
    ASSERT_TRUE(boris->Append(own, error));
    EXPECT_EQ(own[0].prevHash, "");
    EXPECT_EQ(boris->Verify(error), 0) << error;
    // Anna's later entries continue her chain in Boris's journal.
    std::vector<JournalEntry> more{Entry("Раздутие шланга, мл", "2026-12-03T10:00:00.000Z", "9")};
    ASSERT_TRUE(anna->Append(more, error));
    EXPECT_EQ(Export(), 4u);
    EXPECT_EQ(boris->Import(exported, "export.sqlite", error), 1) << error;
    EXPECT_EQ(boris->Verify(error), 0) << error;
}

TEST_F(JournalSources, AnEditedJournalIsNotExportedAndItsFirstBrokenEntryIsNamed) {
    Sql(dir.File("anna.sqlite"), "UPDATE entries SET new_value='999' WHERE id=2");
    size_t written = 0;
    EXPECT_FALSE(anna->ExportChains({}, "anna@pc", exported, written, error));
    EXPECT_NE(error.find("запись " + std::to_string(kBrokenId)), std::string::npos) << error;
    EXPECT_FALSE(std::filesystem::exists(exported));
}

TEST_F(JournalSources, AnImportRefusesAnEditedExportAndARehashedOne) {
    EXPECT_EQ(Export(), 3u);
    const std::string edited = dir.File("edited.sqlite");
    std::filesystem::copy_file(exported, edited);
    Sql(edited, "UPDATE entries SET new_value='999' WHERE id=2");
    EXPECT_EQ(boris->Import(edited, "x", error), -1);
    EXPECT_NE(error.find("запись 2"), std::string::npos) << error;

    // Boris holds Anna's chain; an export of it edited and hashed afresh is another chain.
    EXPECT_EQ(boris->Import(exported, "x", error), 3) << error;
    std::vector<JournalEntry> forged = anna->List({}, error);
    forged[1].newValue = "999";
    std::string prev = forged[0].hash;
    for (size_t i = 1; i < forged.size(); ++i) {
        forged[i].prevHash = prev;
        forged[i].hash = JournalEntryHash(forged[i], prev);
        prev = forged[i].hash;
    }
    const std::string rehashed = dir.File("rehashed.sqlite");
    ASSERT_TRUE(Journal::Export(forged, "anna@pc", rehashed, error, anna->Source())) << error;
    EXPECT_EQ(boris->Import(rehashed, "x", error), -1);
    EXPECT_NE(error.find("не продолжает цепочку"), std::string::npos) << error;
    EXPECT_EQ(boris->List({}, error).size(), 3u);
}

TEST_F(JournalSources, AHandMadeEntryClaimingTheJournalsOwnSourceIsRefused) {
    // An entry made up and chained onto Anna's newest, as if Anna had written it.
    auto listed = anna->List({}, error);
    JournalEntry made = Entry("Импульсов на литр", "2026-11-01T10:00:00.000Z", "264");
    made.source = anna->Source();
    made.prevHash = listed.back().hash;
    made.hash = JournalEntryHash(made, made.prevHash);
    const std::string file = dir.File("made.sqlite");
    ASSERT_TRUE(Journal::Export({made}, "", file, error, anna->Source())) << error;
    EXPECT_EQ(anna->Import(file, "made.sqlite", error), -1);
    EXPECT_NE(error.find("подделана"), std::string::npos) << error;
    EXPECT_EQ(anna->List({}, error).size(), 3u);
}

TEST_F(JournalSources, ExportNeverWritesOverItsOwnJournalNorAnotherOne) {
    size_t written = 0;
    for (const std::string& target : {dir.File("anna.sqlite"), dir.File("boris.sqlite")}) {
        SCOPED_TRACE(target);
        EXPECT_FALSE(anna->ExportChains({}, "anna@pc", target, written, error));
        EXPECT_FALSE(error.empty());
    }
    EXPECT_EQ(anna->List({}, error).size(), 3u);
    EXPECT_EQ(anna->Verify(error), 0);
    // An export file is no journal: nothing is appended to it.
    EXPECT_EQ(Export(), 3u);
    auto opened = Open(exported);
    std::vector<JournalEntry> one{Entry("x", JournalNow(), "1")};
    EXPECT_FALSE(opened->Append(one, error));
    // An older export is replaced by a new one.
    EXPECT_EQ(Export(), 3u);
}

TEST_F(JournalSources, AnExportWithAFilterCarriesEachChainWithoutGaps) {
    JournalFilter filter;
    filter.field = "Ожидание";
    EXPECT_EQ(Export(filter), 2u); // the chosen entry and the newer one
    EXPECT_EQ(boris->Import(exported, "x", error), 2) << error;
    EXPECT_EQ(boris->Verify(error), 0) << error;
}

TEST_F(JournalSources, ListingTakesSinceInclusiveTheNewestLastAndFoldsCyrillicCase) {
    JournalFilter since;
    since.since = JournalTimeFromUser("2026-12-01T11:00:00Z");
    auto listed = anna->List(since, error);
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0].newValue, "4");
    JournalFilter last;
    last.last = 2;
    listed = anna->List(last, error);
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0].newValue, "4");
    EXPECT_EQ(listed[1].newValue, "5");
    JournalFilter field;
    for (const char* text : {"ожидание", "ОЖИДАНИЕ", "Ожидание"}) {
        field.field = text;
        EXPECT_EQ(anna->List(field, error).size(), 1u) << text;
    }
}

TEST(TextFold, FoldsLatinAndCyrillicCapitalsOnly) {
    struct Case {
        const char* in;
        const char* out;
    };
    const Case cases[] = {{"АБВЯЁЪ", "абвяёъ"},
                          {"Рукав Ж", "рукав ж"},
                          {"SlowStart", "slowstart"},
                          {"ёж 12,5 мл", "ёж 12,5 мл"}};
    for (const Case& c : cases) EXPECT_EQ(FoldCase(c.in), c.out) << c.in;
}

TEST(JournalFile, TheOutcomeAndThePhaseCountAreGuarded) {
    test::TempDir dir;
    std::string error;
    auto j = Journal::Open(dir.File("j.sqlite"), error);
    std::vector<JournalEntry> one{Entry("Доза в начале, мл", JournalNow(), "3")};
    one[0].outcome = kOutcomeRefused;
    ASSERT_TRUE(j->Append(one, error));
    Sql(dir.File("j.sqlite"), std::string("UPDATE entries SET outcome='") + kOutcomeWritten + "'");
    EXPECT_EQ(j->Verify(error), 1);
    EXPECT_TRUE(IsMetrologicalField("Params", "PhaseMet"));
    EXPECT_TRUE(IsMetrologicalField("Params", "MeterType"));
    EXPECT_FALSE(IsMetrologicalField("Params", "SlowStart"));
}

TEST(JournalFile, TwoProcessesCreatingOneJournalAtOnceBothSucceed) {
    constexpr int kTries = 30;
    test::TempDir dir;
    for (int t = 0; t < kTries; ++t) {
        const std::string path = dir.File("j" + std::to_string(t) + ".sqlite");
        pid_t children[2];
        for (pid_t& child : children) {
            child = fork();
            if (child == 0) {
                std::string error;
                auto j = Journal::Open(path, error);
                std::vector<JournalEntry> one{Entry("x", JournalNow(), "1")};
                _exit(j != nullptr && j->Append(one, error) ? 0 : 1);
            }
        }
        for (pid_t child : children) {
            int status = 0;
            waitpid(child, &status, 0);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "try " << t;
        }
        std::string error;
        auto j = Journal::OpenExisting(path, error);
        ASSERT_NE(j, nullptr) << error;
        EXPECT_EQ(j->List({}, error).size(), 2u);
        EXPECT_EQ(j->Verify(error), 0);
    }
}

} // namespace
} // namespace velmar
