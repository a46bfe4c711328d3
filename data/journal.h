// The journal of what Velmar writes into controllers: one entry per changed field, kept in an
// SQLite file that the window and velmar-cli share. Each journal is a source: a random id made
// when it is created, with its host. Each entry carries a SHA-256 over its content, its source
// and the previous entry of that source, so that an edited, deleted or reordered entry breaks
// its source's chain. Entries carried in from another journal keep their source, hashes and
// chain; a journal holds the chains of several sources and verifies each. How far a journal went
// is recorded outside it too (in each backup's manifest), so that one cut short or rebuilt is
// found against those heads.
// A write is entered before it goes on the line, with its outcome unknown; what became of it is
// appended after, as an outcome row of a second chain that also covers the hash of the write's
// last entry. The entry's own hash never changes, so an entry stays verifiable from the moment
// it was committed, and a crash between the two leaves the write in the journal as unknown.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct sqlite3;

namespace velmar {

// What became of the write an entry belongs to, as the listing words it.
inline constexpr const char* kOutcomeWritten = "записано";
inline constexpr const char* kOutcomeRefused = "отказ";
inline constexpr const char* kOutcomePartial = "частично";
// Entered before the write: what the listing shows until an outcome is known (a crash, a lost
// answer, an outcome that could not be entered).
inline constexpr const char* kOutcomeUnknown = "неизвестно";
// A later read found the record still as it was before the write.
inline constexpr const char* kOutcomeNotWritten = "не записано";
// How an outcome became known.
inline constexpr const char* kOutcomeByAnswer = "ответ контроллера";
inline constexpr const char* kOutcomeByRead = "чтение";

struct JournalEntry {
    int64_t id = 0;         // the entry's place in this journal, from 1
    std::string time;       // UTC, "2026-12-08T01:13:05.123Z" (older entries: to the second)
    std::string user;       // the OS user
    std::string host;       // the computer
    std::string program;    // "velmar", "velmar-cli"
    std::string operation;  // "Настройки контроллера", "velmar-cli set-params"
    std::string port;       // the port name
    int ctrlr = 0;          // the controller's number
    std::string ident;      // the controller's identification text
    std::string recordKind; // the memory map's name of the record ("Params"), "" for raw memory
    int recordIndex = 0;    // channel 0..15, side 0..1, else 0
    std::string record; // "Параметры контроллера", "Настройки канала 3 (Сторона А. Рукав 3)"
    std::string field;  // the field's name ("SlowStart", "Price"), "" for uncovered bytes
    std::string caption;  // "Доза в начале, мл", or "байты 34..35"
    std::string oldValue; // as the screen shows it; "?" when it was never read
    std::string newValue;
    std::string outcome;  // kOutcome*
    std::string origin;   // a label of where an exported entry came from ("anna@pc"), else ""
    std::string prevHash; // the hash of the source's previous entry ("" for its first)
    std::string hash;     // SHA-256 over the content, the source and prevHash
    std::string source{}; // the journal the entry was made in: its random id
    bool legacy = false;  // made before sources: hashed with its origin instead of its source
    // Of an imported entry: the outcome its write had when it was exported (not hashed).
    std::string carriedOutcome{};
};

// How far the journal's own chain goes: what a backup records of it.
struct JournalHead {
    std::string source;
    std::string host;
    int64_t entries = 0;
    std::string hash; // the newest entry's ("" when there is none)
};

// One write entered before it went on the line: the entries it made and the bytes a later read
// of the record is compared with.
struct JournalWrite {
    int64_t firstEntry = 0; // 0: nothing entered (the write changes no field)
    int64_t lastEntry = 0;
    int ctrlr = 0;
    std::string port;
    std::string ident;
    uint8_t space = 0;
    int address = 0;
    std::vector<uint8_t> newBytes;
    std::vector<uint8_t> oldBytes; // empty when the record was not read before
    std::string outcome;           // the last outcome entered; empty while unknown
};

// The content the hash covers, with the previous hash: 64 hex digits.
std::string JournalEntryHash(const JournalEntry& entry, const std::string& prevHash);

// Which entries a listing or an export takes. Empty texts and zero limits take everything.
struct JournalFilter {
    std::string since; // UTC time text, inclusive
    std::string until; // UTC time text, exclusive
    int ctrlr = 0;     // 0: any controller
    std::string field; // a part of the caption, the field name or the record title
    int last = 0;      // only the last N entries
};

// "2026-12-08", "2026-12-08 10:00" or "2026-12-08T10:00:00" in local time (a trailing Z: UTC)
// as the journal's UTC text; empty when the text is no date.
std::string JournalTimeFromUser(const std::string& text);
// The journal's UTC text as local time "2026-12-08 13:13:05".
std::string JournalLocalTime(const std::string& utc);
// Now, as the journal's UTC text, to the millisecond.
std::string JournalNow();
// The journal's UTC text (with or without milliseconds) as milliseconds since 1970; -1 when it is
// no such text.
int64_t JournalTimeMs(const std::string& utc);

// The user, host and program every entry of this process carries.
struct JournalOrigin {
    std::string user;
    std::string host;
    std::string program;
};
JournalOrigin CurrentJournalOrigin(const std::string& program);

class Journal {
  public:
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    // Opens (creating when absent) the journal at `path`; nullptr with `error` saying why.
    static std::unique_ptr<Journal> Open(const std::string& path, std::string& error);
    // Opens an existing journal for reading only.
    static std::unique_ptr<Journal> OpenExisting(const std::string& path, std::string& error);

    const std::string& Path() const { return path_; }

    // True when an entry could be committed now (the file and its folder take writes and no
    // other program holds the journal past the busy timeout); else false with `error`.
    bool CheckWritable(std::string& error);
    // Appends the entries in one transaction, chaining their hashes; ids, prevHash and hash are
    // filled in. False with `error` when nothing was committed.
    bool Append(std::vector<JournalEntry>& entries, std::string& error);
    // Enters a write about to be made: its entries (outcome kOutcomeUnknown) and its bytes, in
    // one transaction; `write`'s entry ids are filled in. False with `error` when nothing was
    // committed: the write must not start.
    bool AppendPending(std::vector<JournalEntry>& entries, JournalWrite& write, std::string& error);
    // Appends the outcome of a write entered with AppendPending, chained. False with `error`.
    bool AppendOutcome(JournalWrite& write, const std::string& outcome, const std::string& source,
                       std::string& error);
    // The last write entered at the controller's record (any port when `port` is empty), with
    // its last outcome; false when there is none.
    bool LastWriteAt(int ctrlr, const std::string& port, uint8_t space, int address,
                     JournalWrite& write, std::string& error) const;
    // Writes whose outcome is still unknown, oldest first.
    std::vector<JournalWrite> Unresolved(std::string& error) const;
    // The entries the filter takes, oldest first, each with its write's last outcome.
    std::vector<JournalEntry> List(const JournalFilter& filter, std::string& error) const;

    // 0 when every entry's hash and chain link hold, and so do the outcome rows' (each also
    // bound to its write's last entry); else the id of the first entry that breaks the chain
    // (edited, or following a deleted or moved entry, or whose outcome row was), with `why`.
    // -1: unreadable.
    int64_t Verify(std::string& why) const;

    // This journal's source and host; empty source for an export file (IsExport).
    const std::string& Source() const { return source_; }
    const std::string& Host() const { return host_; }
    bool IsExport() const { return !exportOf_.empty(); }
    JournalHead Head() const;
    // The hash of the source's entry at `position` (from 1) in this journal, with `held` the count
    // of its entries here; empty when it holds fewer.
    std::string HashAt(const std::string& source, int64_t position, int64_t& held) const;

    // Exports after verifying: refused (naming the first broken entry) when a chain is broken,
    // and never written over this journal itself nor over another journal. Each source's entries
    // go from the first the filter chooses to its newest, so that the chain carried has no gaps;
    // `written` their count.
    bool ExportChains(const JournalFilter& filter, const std::string& originName,
                      const std::string& path, size_t& written, std::string& error) const;
    // Writes `entries` (as listed, keeping their hashes and sources) into a new export file at
    // `path` that names `exportOf` and `host`; entries without an origin take `originName`.
    // False with `error`; a failed export leaves no file.
    static bool Export(const std::vector<JournalEntry>& entries, const std::string& originName,
                       const std::string& path, std::string& error,
                       const std::string& exportOf = {}, const std::string& host = {});
    // Merges the journal or export at `path` after verifying its chains: each source's entries
    // not yet held are appended with their own hashes, and must continue what is held of that
    // source; entries claiming this journal's own source that it does not hold are refused. The
    // count added, or -1 with `error` (nothing is added then).
    int Import(const std::string& path, const std::string& originName, std::string& error);

  private:
    Journal(sqlite3* db, std::string path);
    // The entry columns to select: with `resolved`, the outcome its write has now.
    std::string Columns(bool resolved) const;
    // Every entry as stored (its own outcome, the one its hash covers), oldest first.
    std::vector<JournalEntry> Stored(std::string& error) const;
    void ReadIdentity();
    int64_t VerifyOutcomes(std::string& why) const;
    sqlite3* db_;
    std::string path_;
    bool outcomes_ = true; // false: an older journal opened for reading, without outcome rows
    bool sourced_ = false; // the entries have their source columns
    std::string source_;
    std::string host_;
    std::string exportOf_;
};

} // namespace velmar
