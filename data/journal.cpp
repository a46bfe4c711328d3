#include "data/journal.h"

#include "data/sha256.h"
#include "data/text_fold.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <pwd.h>
#include <set>
#include <sqlite3.h>
#include <sys/random.h>
#include <thread>
#include <unistd.h>

namespace velmar {

namespace {

// How long a writer waits for the other program's transaction before it gives up.
constexpr int kBusyTimeoutMs = 5000;
constexpr char kFieldSeparator = '\x1f';
constexpr int64_t kMsPerSecond = 1000;
constexpr long kNsPerMs = 1000000;

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS entries("
    "id INTEGER PRIMARY KEY, time TEXT NOT NULL, user TEXT, host TEXT,"
    " program TEXT, operation TEXT, port TEXT, ctrlr INTEGER,"
    " ident TEXT, record_kind TEXT, record_index INTEGER, record TEXT,"
    " field TEXT, caption TEXT, old_value TEXT, new_value TEXT,"
    " outcome TEXT, origin TEXT, prev_hash TEXT, hash TEXT NOT NULL,"
    " content_key TEXT);"
    "CREATE INDEX IF NOT EXISTS entries_time ON entries(time);"
    "CREATE INDEX IF NOT EXISTS entries_key ON entries(content_key);"
    // A journal of an older version gains these two on its first
    // open; its entries carry their outcome in the entry itself.
    "CREATE TABLE IF NOT EXISTS writes("
    "first_entry INTEGER PRIMARY KEY, last_entry INTEGER NOT NULL,"
    " ctrlr INTEGER, port TEXT, ident TEXT, space INTEGER,"
    " address INTEGER, new_bytes BLOB, old_bytes BLOB);"
    "CREATE INDEX IF NOT EXISTS writes_place ON writes(ctrlr, space,"
    " address);"
    "CREATE TABLE IF NOT EXISTS outcomes("
    "id INTEGER PRIMARY KEY, first_entry INTEGER NOT NULL,"
    " last_entry INTEGER NOT NULL, time TEXT, outcome TEXT,"
    " source TEXT, prev_hash TEXT, hash TEXT NOT NULL);"
    "CREATE INDEX IF NOT EXISTS outcomes_write ON outcomes(first_entry);";

// What a journal says of itself: its source (a random id made when it is created) and its host;
// an export names the journal it was made from instead. A journal made before sources had none: its
// entries become its own source's, hashed as they were ("legacy").
constexpr const char* kSourceSchema =
    "CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value TEXT);";
constexpr const char* kSourceColumns =
    "ALTER TABLE entries ADD COLUMN source TEXT;"
    "ALTER TABLE entries ADD COLUMN legacy INTEGER NOT NULL DEFAULT 0;"
    // The outcome an exported entry's write had when it was exported (its own is the one entered
    // before the write); shown, not hashed.
    "ALTER TABLE entries ADD COLUMN carried_outcome TEXT;"
    "CREATE INDEX IF NOT EXISTS entries_source ON entries(source, id);";
constexpr const char* kMetaSource = "source";
constexpr const char* kMetaHost = "host";
constexpr const char* kMetaExportOf = "export_of";
constexpr int kSourceIdBytes = 16;
// A setup that met another process creating the same file tries again this often.
constexpr int kSetupRetryMs = 20;

// The entry's columns before its outcome, and after it.
constexpr const char* kHeadColumns =
    "id, time, user, host, program, operation, port, ctrlr, ident, record_kind, record_index,"
    " record, field, caption, old_value, new_value, ";
constexpr const char* kTailColumns = ", origin, prev_hash, hash";
constexpr const char* kSourceTail = ", source, legacy, carried_outcome";
// A journal made before sources, read as it is.
constexpr const char* kLegacySourceTail = ", '', 1, ''";
// The outcome of the entry's write as last entered (the entry's own outcome for entries that
// belong to no entered write: those of older journals, and imports, which carry theirs).
constexpr const char* kWriteOutcome =
    "(SELECT o.outcome FROM outcomes o WHERE o.first_entry ="
    " (SELECT max(w.first_entry) FROM writes w WHERE w.first_entry <= entries.id)"
    " AND o.last_entry >= entries.id ORDER BY o.id DESC LIMIT 1)";

std::string SqlError(sqlite3* db, const std::string& what) {
    return what + ": " + (db != nullptr ? sqlite3_errmsg(db) : "нет памяти");
}

// A prepared statement that finalises itself.
class Statement {
  public:
    Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr); }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    bool Ok() const { return stmt_ != nullptr; }
    sqlite3_stmt* get() const { return stmt_; }
    void Bind(int i, const std::string& text) {
        sqlite3_bind_text(stmt_, i, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    }
    void Bind(int i, int64_t v) { sqlite3_bind_int64(stmt_, i, v); }
    void Bind(int i, const std::vector<uint8_t>& bytes) {
        sqlite3_bind_blob(stmt_, i, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
    }
    std::vector<uint8_t> Blob(int i) const {
        const auto* b = static_cast<const uint8_t*>(sqlite3_column_blob(stmt_, i));
        return b != nullptr ? std::vector<uint8_t>(b, b + sqlite3_column_bytes(stmt_, i))
                            : std::vector<uint8_t>();
    }
    std::string Text(int i) const {
        const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, i));
        return t != nullptr ? std::string(t, static_cast<size_t>(sqlite3_column_bytes(stmt_, i)))
                            : std::string();
    }
    int64_t Int(int i) const { return sqlite3_column_int64(stmt_, i); }

  private:
    sqlite3_stmt* stmt_ = nullptr;
};

bool Exec(sqlite3* db, const char* sql, std::string& error, const char* what) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
    error = std::string(what) + ": " + (message != nullptr ? message : sqlite3_errmsg(db));
    sqlite3_free(message);
    return false;
}

JournalEntry Row(const Statement& s) {
    JournalEntry e;
    e.id = s.Int(0);
    e.time = s.Text(1);
    e.user = s.Text(2);
    e.host = s.Text(3);
    e.program = s.Text(4);
    e.operation = s.Text(5);
    e.port = s.Text(6);
    e.ctrlr = static_cast<int>(s.Int(7));
    e.ident = s.Text(8);
    e.recordKind = s.Text(9);
    e.recordIndex = static_cast<int>(s.Int(10));
    e.record = s.Text(11);
    e.field = s.Text(12);
    e.caption = s.Text(13);
    e.oldValue = s.Text(14);
    e.newValue = s.Text(15);
    e.outcome = s.Text(16);
    e.origin = s.Text(17);
    e.prevHash = s.Text(18);
    e.hash = s.Text(19);
    e.source = s.Text(20);
    e.legacy = s.Int(21) != 0;
    e.carriedOutcome = s.Text(22);
    return e;
}

bool HasColumn(sqlite3* db, const char* table, const char* column) {
    Statement s(db, (std::string("PRAGMA table_info(") + table + ")").c_str());
    while (s.Ok() && sqlite3_step(s.get()) == SQLITE_ROW)
        if (s.Text(1) == column) return true;
    return false;
}

std::string MetaValue(sqlite3* db, const char* key) {
    Statement s(db, "SELECT value FROM meta WHERE key = ?1");
    if (!s.Ok()) return {};
    s.Bind(1, std::string(key));
    return sqlite3_step(s.get()) == SQLITE_ROW ? s.Text(0) : std::string();
}

std::string RandomSourceId() {
    uint8_t bytes[kSourceIdBytes] = {};
    size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    std::string hex;
    char pair[3];
    for (uint8_t b : bytes) {
        std::snprintf(pair, sizeof pair, "%02x", b);
        hex += pair;
    }
    return hex;
}

bool IsBusy(sqlite3* db) {
    const int code = sqlite3_errcode(db) & 0xff;
    return code == SQLITE_BUSY || code == SQLITE_LOCKED;
}

// Makes the tables, the journal's own source and the columns of sources in one transaction.
bool SetUpOnce(sqlite3* db, std::string& error, const std::string& what) {
    if (!Exec(db, "PRAGMA journal_mode=WAL", error, what.c_str())) return false;
    // A journal already set up needs no write: another program may hold it meanwhile.
    if (HasColumn(db, "entries", "carried_outcome") && HasColumn(db, "outcomes", "id") &&
        (!MetaValue(db, kMetaSource).empty() || !MetaValue(db, kMetaExportOf).empty()))
        return true;
    if (!Exec(db, "BEGIN IMMEDIATE", error, what.c_str())) return false;
    bool ok =
        Exec(db, kSchema, error, what.c_str()) && Exec(db, kSourceSchema, error, what.c_str());
    if (ok && !HasColumn(db, "entries", "source")) {
        const bool exportFile = !MetaValue(db, kMetaExportOf).empty();
        ok = Exec(db, kSourceColumns, error, what.c_str()) &&
             (exportFile || Exec(db, "UPDATE entries SET legacy = 1", error, what.c_str()));
    }
    if (ok && MetaValue(db, kMetaSource).empty() && MetaValue(db, kMetaExportOf).empty()) {
        const JournalOrigin here = CurrentJournalOrigin({});
        Statement s(db,
                    "INSERT OR IGNORE INTO meta(key, value) VALUES('source', ?1), ('host', ?2)");
        s.Bind(1, RandomSourceId());
        s.Bind(2, here.host);
        ok = s.Ok() && sqlite3_step(s.get()) == SQLITE_DONE;
        if (!ok) error = SqlError(db, what);
    }
    // Entries of the time before sources belong to the journal's own.
    if (ok) {
        Statement s(db, "UPDATE entries SET source = ?1 WHERE source IS NULL OR source = ''");
        s.Bind(1, MetaValue(db, kMetaSource));
        ok = s.Ok() && sqlite3_step(s.get()) == SQLITE_DONE;
        if (!ok) error = SqlError(db, what);
    }
    if (ok && Exec(db, "COMMIT", error, what.c_str())) return true;
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    return false;
}

// Two processes creating one journal at once: the second may find the file mid-way through the
// first's set-up, where SQLite answers "locked" without waiting. It tries again for as long as a
// writer waits for another's transaction.
bool SetUp(sqlite3* db, std::string& error, const std::string& what) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMs);
    for (;;) {
        error.clear();
        if (SetUpOnce(db, error, what)) return true;
        if (!IsBusy(db) || std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(kSetupRetryMs));
    }
}

// fold(text) for the listing's search: lower() of SQLite folds ASCII only.
void FoldSql(sqlite3_context* context, int, sqlite3_value** argv) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
    if (text == nullptr) {
        sqlite3_result_null(context);
        return;
    }
    const std::string folded =
        FoldCase(std::string(text, static_cast<size_t>(sqlite3_value_bytes(argv[0]))));
    sqlite3_result_text(context, folded.data(), static_cast<int>(folded.size()), SQLITE_TRANSIENT);
}

// The newest hash of the source's chain.
std::string LastHash(sqlite3* db, const std::string& source) {
    Statement s(db, "SELECT hash FROM entries WHERE source = ?1 ORDER BY id DESC LIMIT 1");
    s.Bind(1, source);
    if (s.Ok() && sqlite3_step(s.get()) == SQLITE_ROW) return s.Text(0);
    return {};
}

// Inserts inside the caller's transaction and fills id; with `chain`, prevHash and hash are made
// here from `prev` (an entry of this journal's own), else the entry keeps its own (an imported
// one, whose chain was checked).
bool Insert(sqlite3* db, JournalEntry& e, std::string& prev, bool chain, std::string& error) {
    Statement s(db, "INSERT INTO entries(time, user, host, program, operation, port, ctrlr, ident,"
                    " record_kind, record_index, record, field, caption, old_value, new_value,"
                    " outcome, origin, prev_hash, hash, content_key, source, legacy,"
                    " carried_outcome) VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
    if (!s.Ok()) {
        error = SqlError(db, "Журнал изменений");
        return false;
    }
    if (chain) {
        e.prevHash = prev;
        e.hash = JournalEntryHash(e, prev);
    }
    int i = 1;
    for (const std::string* t : {&e.time, &e.user, &e.host, &e.program, &e.operation, &e.port})
        s.Bind(i++, *t);
    s.Bind(i++, int64_t{e.ctrlr});
    s.Bind(i++, e.ident);
    s.Bind(i++, e.recordKind);
    s.Bind(i++, int64_t{e.recordIndex});
    for (const std::string* t : {&e.record, &e.field, &e.caption, &e.oldValue, &e.newValue,
                                 &e.outcome, &e.origin, &e.prevHash, &e.hash})
        s.Bind(i++, *t);
    JournalEntry keyed = e;
    keyed.origin.clear();
    s.Bind(i++, JournalEntryHash(keyed, {}));
    s.Bind(i++, e.source);
    s.Bind(i++, int64_t{e.legacy ? 1 : 0});
    s.Bind(i++, e.carriedOutcome);
    if (sqlite3_step(s.get()) != SQLITE_DONE) {
        error = SqlError(db, "Запись в журнал изменений");
        return false;
    }
    e.id = sqlite3_last_insert_rowid(db);
    prev = e.hash;
    return true;
}

// Appends entries of `source` chained after its newest, or (`chain` false) entries that keep
// their own hashes.
bool AppendAll(sqlite3* db, std::vector<JournalEntry>& entries, const std::string& source,
               bool chain, std::string& error) {
    if (!Exec(db, "BEGIN IMMEDIATE", error, "Журнал изменений занят или недоступен")) return false;
    std::string prev = chain ? LastHash(db, source) : std::string();
    for (JournalEntry& e : entries) {
        if (chain) {
            e.source = source;
            e.legacy = false;
        }
        if (Insert(db, e, prev, chain, error)) continue;
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        return false;
    }
    if (!Exec(db, "COMMIT", error, "Запись в журнал изменений")) {
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        return false;
    }
    return true;
}

// The outcome chain: each row covers its write's entries, the hash of the write's last entry
// (an outcome cannot be moved to another write) and the previous outcome row's hash.
std::string OutcomeHash(int64_t first, int64_t last, const std::string& entryHash,
                        const std::string& time, const std::string& outcome,
                        const std::string& source, const std::string& prevHash) {
    std::string content;
    for (const std::string& t : {std::to_string(first), std::to_string(last), entryHash, time,
                                 outcome, source, prevHash}) {
        content += t;
        content += kFieldSeparator;
    }
    return Sha256Hex(reinterpret_cast<const uint8_t*>(content.data()), content.size());
}

std::string EntryHashOf(sqlite3* db, int64_t id) {
    Statement s(db, "SELECT hash FROM entries WHERE id = ?1");
    s.Bind(1, id);
    if (s.Ok() && sqlite3_step(s.get()) == SQLITE_ROW) return s.Text(0);
    return {};
}

constexpr const char* kWriteColumns =
    "w.first_entry, w.last_entry, w.ctrlr, w.port, w.ident, w.space, w.address, w.new_bytes,"
    " w.old_bytes, (SELECT o.outcome FROM outcomes o WHERE o.first_entry = w.first_entry"
    " ORDER BY o.id DESC LIMIT 1)";

JournalWrite WriteRow(const Statement& s) {
    JournalWrite w;
    w.firstEntry = s.Int(0);
    w.lastEntry = s.Int(1);
    w.ctrlr = static_cast<int>(s.Int(2));
    w.port = s.Text(3);
    w.ident = s.Text(4);
    w.space = static_cast<uint8_t>(s.Int(5));
    w.address = static_cast<int>(s.Int(6));
    w.newBytes = s.Blob(7);
    w.oldBytes = s.Blob(8);
    w.outcome = s.Text(9);
    return w;
}

// The journal's UTC text, "2026-12-08T01:13:05Z", or to the millisecond when `ms` is given:
// "2026-12-08T01:13:05.123Z".
std::string FormatUtc(std::time_t t, int ms = -1) {
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[40];
    const size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &tm);
    if (ms >= 0)
        std::snprintf(text + n, sizeof text - n, ".%03dZ", ms);
    else
        std::snprintf(text + n, sizeof text - n, "Z");
    return text;
}

// A bound of a listing as text that compares right with times to the second and to the
// millisecond alike: "…:05Z" becomes "…:05.000Z" (an entry "…:05Z" sorts after it, "…:04Z"
// before).
std::string MsBound(const std::string& utc) {
    if (utc.empty() || utc.find('.') != std::string::npos || utc.back() != 'Z') return utc;
    return utc.substr(0, utc.size() - 1) + ".000Z";
}

} // namespace

std::string JournalEntryHash(const JournalEntry& e, const std::string& prevHash) {
    std::string content;
    // The source is hashed in place of the origin, a label an export may fill in; entries made
    // before sources keep the hash they were made with.
    const std::string& last = e.legacy ? e.origin : e.source;
    for (const std::string* t :
         {&e.time, &e.user, &e.host, &e.program, &e.operation, &e.port, &e.ident, &e.recordKind,
          &e.record, &e.field, &e.caption, &e.oldValue, &e.newValue, &e.outcome, &last}) {
        content += *t;
        content += kFieldSeparator;
    }
    content += std::to_string(e.ctrlr) + kFieldSeparator + std::to_string(e.recordIndex) +
               kFieldSeparator + prevHash;
    return Sha256Hex(reinterpret_cast<const uint8_t*>(content.data()), content.size());
}

std::string JournalNow() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return FormatUtc(now.tv_sec, static_cast<int>(now.tv_nsec / kNsPerMs));
}

int64_t JournalTimeMs(const std::string& utc) {
    std::tm tm{};
    int consumed = 0;
    if (std::sscanf(utc.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%n", &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
                    &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &consumed) != 6)
        return -1;
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    int ms = 0;
    const char* rest = utc.c_str() + consumed;
    if (*rest == '.') {
        // Milliseconds: up to three digits, more are cut off.
        int digits = 0;
        for (++rest; *rest >= '0' && *rest <= '9'; ++rest)
            if (digits++ < 3) ms = ms * 10 + (*rest - '0');
        for (; digits < 3; ++digits) ms *= 10;
    }
    return static_cast<int64_t>(timegm(&tm)) * kMsPerSecond + ms;
}

std::string JournalTimeFromUser(const std::string& text) {
    std::tm tm{};
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    char sep = 0;
    const bool utc = !text.empty() && text.back() == 'Z';
    const std::string body = utc ? text.substr(0, text.size() - 1) : text;
    const int n =
        std::sscanf(body.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d", &y, &mo, &d, &sep, &h, &mi, &s);
    if (n != 3 && n < 6) return {};
    if (n > 3 && sep != ' ' && sep != 'T') return {};
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60) return {};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    tm.tm_isdst = -1;
    const std::time_t t = utc ? timegm(&tm) : std::mktime(&tm);
    if (t == static_cast<std::time_t>(-1)) return {};
    return FormatUtc(t);
}

std::string JournalLocalTime(const std::string& utc) {
    std::tm tm{};
    if (std::sscanf(utc.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d", &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
                    &tm.tm_hour, &tm.tm_min, &tm.tm_sec) != 6)
        return utc;
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    const std::time_t t = timegm(&tm);
    std::tm local{};
    localtime_r(&t, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

JournalOrigin CurrentJournalOrigin(const std::string& program) {
    JournalOrigin o;
    o.program = program;
    if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_name != nullptr)
        o.user = pw->pw_name;
    else if (const char* u = std::getenv("USER"))
        o.user = u;
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) == 0) o.host = host;
    return o;
}

Journal::Journal(sqlite3* db, std::string path) : db_(db), path_(std::move(path)) {
    sqlite3_create_function(db_, "fold", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, FoldSql,
                            nullptr, nullptr);
}

Journal::~Journal() {
    sqlite3_close(db_);
}

std::string Journal::Columns(bool resolved) const {
    std::string outcome = "outcome";
    if (resolved && sourced_) outcome = "coalesce(nullif(carried_outcome, ''), outcome)";
    if (resolved && outcomes_)
        outcome = std::string("coalesce(") + kWriteOutcome + ", " + outcome + ")";
    return kHeadColumns + outcome + kTailColumns + (sourced_ ? kSourceTail : kLegacySourceTail);
}

void Journal::ReadIdentity() {
    sourced_ = HasColumn(db_, "entries", "source");
    if (!HasColumn(db_, "meta", "key")) return;
    source_ = MetaValue(db_, kMetaSource);
    host_ = MetaValue(db_, kMetaHost);
    exportOf_ = MetaValue(db_, kMetaExportOf);
}

std::unique_ptr<Journal> Journal::Open(const std::string& path, std::string& error) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
        error = SqlError(db, "Не удалось открыть журнал изменений " + path);
        sqlite3_close(db);
        return nullptr;
    }
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    std::unique_ptr<Journal> journal(new Journal(db, path));
    if (!SetUp(db, error, "Журнал изменений " + path)) return nullptr;
    journal->ReadIdentity();
    return journal;
}

std::unique_ptr<Journal> Journal::OpenExisting(const std::string& path, std::string& error) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        error = SqlError(db, "Не удалось открыть журнал изменений " + path);
        sqlite3_close(db);
        return nullptr;
    }
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    std::unique_ptr<Journal> journal(new Journal(db, path));
    Statement s(db, "SELECT count(*) FROM entries");
    if (!s.Ok() || sqlite3_step(s.get()) != SQLITE_ROW) {
        error = SqlError(db, path + " не является журналом изменений");
        return nullptr;
    }
    // A journal of an older version, opened for reading only, keeps its outcomes in its entries.
    Statement t(db, "SELECT 1 FROM sqlite_master WHERE name = 'outcomes'");
    journal->outcomes_ = t.Ok() && sqlite3_step(t.get()) == SQLITE_ROW;
    journal->ReadIdentity();
    return journal;
}

bool Journal::CheckWritable(std::string& error) {
    if (!Exec(db_, "BEGIN IMMEDIATE", error, ("Журнал изменений " + path_ + " недоступен").c_str()))
        return false;
    // A page of the file must be writable too: a read-only disk lets the lock through.
    const bool ok = Exec(db_, "CREATE TABLE IF NOT EXISTS probe(x); DROP TABLE probe", error,
                         ("Журнал изменений " + path_ + " недоступен для записи").c_str());
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    return ok;
}

bool Journal::Append(std::vector<JournalEntry>& entries, std::string& error) {
    if (entries.empty()) return true;
    if (source_.empty()) {
        error = "Журнал изменений " + path_ + " - выгрузка, а не журнал: записи в него не вносятся";
        return false;
    }
    return AppendAll(db_, entries, source_, true, error);
}

bool Journal::AppendPending(std::vector<JournalEntry>& entries, JournalWrite& write,
                            std::string& error) {
    write.firstEntry = write.lastEntry = 0;
    if (entries.empty()) return true;
    if (!Exec(db_, "BEGIN IMMEDIATE", error, "Журнал изменений занят или недоступен")) return false;
    if (source_.empty()) {
        error = "Журнал изменений " + path_ + " - выгрузка, а не журнал: записи в него не вносятся";
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        return false;
    }
    std::string prev = LastHash(db_, source_);
    for (JournalEntry& e : entries) {
        e.source = source_;
        e.legacy = false;
        if (Insert(db_, e, prev, true, error)) continue;
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        return false;
    }
    Statement s(db_, "INSERT INTO writes(first_entry, last_entry, ctrlr, port, ident, space,"
                     " address, new_bytes, old_bytes) VALUES(?,?,?,?,?,?,?,?,?)");
    if (s.Ok()) {
        s.Bind(1, entries.front().id);
        s.Bind(2, entries.back().id);
        s.Bind(3, int64_t{write.ctrlr});
        s.Bind(4, write.port);
        s.Bind(5, write.ident);
        s.Bind(6, int64_t{write.space});
        s.Bind(7, int64_t{write.address});
        s.Bind(8, write.newBytes);
        s.Bind(9, write.oldBytes);
    }
    if (!s.Ok() || sqlite3_step(s.get()) != SQLITE_DONE) {
        error = SqlError(db_, "Запись в журнал изменений");
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        return false;
    }
    if (!Exec(db_, "COMMIT", error, "Запись в журнал изменений")) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        return false;
    }
    write.firstEntry = entries.front().id;
    write.lastEntry = entries.back().id;
    write.outcome.clear();
    return true;
}

bool Journal::AppendOutcome(JournalWrite& write, const std::string& outcome,
                            const std::string& source, std::string& error) {
    if (write.firstEntry == 0) return true;
    if (!Exec(db_, "BEGIN IMMEDIATE", error, "Журнал изменений занят или недоступен")) return false;
    std::string prev;
    {
        Statement last(db_, "SELECT hash FROM outcomes ORDER BY id DESC LIMIT 1");
        if (last.Ok() && sqlite3_step(last.get()) == SQLITE_ROW) prev = last.Text(0);
    }
    const std::string time = JournalNow();
    const std::string hash =
        OutcomeHash(write.firstEntry, write.lastEntry, EntryHashOf(db_, write.lastEntry), time,
                    outcome, source, prev);
    Statement s(db_, "INSERT INTO outcomes(first_entry, last_entry, time, outcome, source,"
                     " prev_hash, hash) VALUES(?,?,?,?,?,?,?)");
    if (s.Ok()) {
        s.Bind(1, write.firstEntry);
        s.Bind(2, write.lastEntry);
        s.Bind(3, time);
        s.Bind(4, outcome);
        s.Bind(5, source);
        s.Bind(6, prev);
        s.Bind(7, hash);
    }
    if (!s.Ok() || sqlite3_step(s.get()) != SQLITE_DONE ||
        !Exec(db_, "COMMIT", error, "Запись в журнал изменений")) {
        if (error.empty()) error = SqlError(db_, "Запись в журнал изменений");
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        return false;
    }
    write.outcome = outcome;
    return true;
}

bool Journal::LastWriteAt(int ctrlr, const std::string& port, uint8_t space, int address,
                          JournalWrite& write, std::string& error) const {
    if (!outcomes_) return false;
    Statement s(db_, (std::string("SELECT ") + kWriteColumns +
                      " FROM writes w WHERE w.ctrlr = ?1 AND w.space = ?2 AND w.address = ?3"
                      " AND (?4 = '' OR w.port = ?4) ORDER BY w.first_entry DESC LIMIT 1")
                         .c_str());
    if (!s.Ok()) {
        error = SqlError(db_, "Чтение журнала изменений");
        return false;
    }
    s.Bind(1, int64_t{ctrlr});
    s.Bind(2, int64_t{space});
    s.Bind(3, int64_t{address});
    s.Bind(4, port);
    if (sqlite3_step(s.get()) != SQLITE_ROW) return false;
    write = WriteRow(s);
    return true;
}

std::vector<JournalWrite> Journal::Unresolved(std::string& error) const {
    std::vector<JournalWrite> out;
    if (!outcomes_) return out;
    Statement s(db_, (std::string("SELECT ") + kWriteColumns +
                      " FROM writes w WHERE NOT EXISTS (SELECT 1 FROM outcomes o"
                      " WHERE o.first_entry = w.first_entry) ORDER BY w.first_entry")
                         .c_str());
    if (!s.Ok()) {
        error = SqlError(db_, "Чтение журнала изменений");
        return out;
    }
    int rc = 0;
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) out.push_back(WriteRow(s));
    if (rc != SQLITE_DONE) error = SqlError(db_, "Чтение журнала изменений");
    return out;
}

std::vector<JournalEntry> Journal::List(const JournalFilter& filter, std::string& error) const {
    std::string sql = "SELECT " + Columns(true) + " FROM entries WHERE 1";
    if (!filter.since.empty()) sql += " AND time >= ?1";
    if (!filter.until.empty()) sql += " AND time < ?2";
    if (filter.ctrlr > 0) sql += " AND ctrlr = ?3";
    if (!filter.field.empty())
        sql += " AND (instr(fold(caption), fold(?4)) OR instr(fold(field), fold(?4))"
               " OR instr(fold(record), fold(?4)))";
    sql += " ORDER BY id";
    if (filter.last > 0) sql = "SELECT * FROM (" + sql + " DESC LIMIT ?5) ORDER BY id";
    std::vector<JournalEntry> out;
    Statement s(db_, sql.c_str());
    if (!s.Ok()) {
        error = SqlError(db_, "Чтение журнала изменений");
        return out;
    }
    s.Bind(1, MsBound(filter.since));
    s.Bind(2, MsBound(filter.until));
    s.Bind(3, int64_t{filter.ctrlr});
    s.Bind(4, filter.field);
    s.Bind(5, int64_t{filter.last});
    int rc = 0;
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) out.push_back(Row(s));
    if (rc != SQLITE_DONE) error = SqlError(db_, "Чтение журнала изменений");
    return out;
}

int64_t Journal::Verify(std::string& why) const {
    Statement s(db_, ("SELECT " + Columns(false) + " FROM entries ORDER BY id").c_str());
    if (!s.Ok()) {
        why = SqlError(db_, "Чтение журнала изменений");
        return -1;
    }
    // Each source's entries form a chain of their own. The journal's own chain starts at its
    // first entry; a chain carried in from another journal may start where its export began.
    std::map<std::string, std::string> last;
    int rc = 0;
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
        const JournalEntry e = Row(s);
        const auto held = last.find(e.source);
        const bool own = e.source == source_;
        if ((held != last.end() && e.prevHash != held->second) ||
            (held == last.end() && own && !e.prevHash.empty())) {
            why = "запись " + std::to_string(e.id) +
                  ": не продолжает цепочку (предыдущая запись удалена или переставлена)";
            return e.id;
        }
        if (JournalEntryHash(e, e.prevHash) != e.hash) {
            why = "запись " + std::to_string(e.id) + ": содержимое изменено после записи";
            return e.id;
        }
        last[e.source] = e.hash;
    }
    if (rc != SQLITE_DONE) {
        why = SqlError(db_, "Чтение журнала изменений");
        return -1;
    }
    return VerifyOutcomes(why);
}

int64_t Journal::VerifyOutcomes(std::string& why) const {
    if (!outcomes_) return 0;
    Statement s(db_, "SELECT o.first_entry, o.last_entry, o.time, o.outcome, o.source,"
                     " o.prev_hash, o.hash, e.hash FROM outcomes o"
                     " LEFT JOIN entries e ON e.id = o.last_entry ORDER BY o.id");
    if (!s.Ok()) {
        why = SqlError(db_, "Чтение журнала изменений");
        return -1;
    }
    std::string prev;
    int rc = 0;
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
        const int64_t first = s.Int(0);
        const std::string hash = s.Text(6);
        const std::string where =
            "исход записей " + std::to_string(first) + "–" + std::to_string(s.Int(1));
        if (s.Text(5) != prev) {
            why = where + ": не продолжает цепочку исходов (предыдущий исход удален или "
                          "переставлен)";
            return first;
        }
        if (OutcomeHash(first, s.Int(1), s.Text(7), s.Text(2), s.Text(3), s.Text(4), prev) !=
            hash) {
            why = where + ": исход изменен после записи или отнесен к другим записям";
            return first;
        }
        prev = hash;
    }
    if (rc != SQLITE_DONE) {
        why = SqlError(db_, "Чтение журнала изменений");
        return -1;
    }
    return 0;
}

std::vector<JournalEntry> Journal::Stored(std::string& error) const {
    std::vector<JournalEntry> out;
    Statement s(db_, ("SELECT " + Columns(false) + " FROM entries ORDER BY id").c_str());
    if (!s.Ok()) {
        error = SqlError(db_, "Чтение журнала изменений");
        return out;
    }
    int rc = 0;
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) out.push_back(Row(s));
    if (rc != SQLITE_DONE) error = SqlError(db_, "Чтение журнала изменений");
    return out;
}

JournalHead Journal::Head() const {
    JournalHead head;
    head.source = source_;
    head.host = host_;
    Statement s(db_, "SELECT count(*), (SELECT hash FROM entries WHERE source = ?1 ORDER BY id DESC"
                     " LIMIT 1) FROM entries WHERE source = ?1");
    s.Bind(1, source_);
    if (s.Ok() && sqlite3_step(s.get()) == SQLITE_ROW) {
        head.entries = s.Int(0);
        head.hash = s.Text(1);
    }
    return head;
}

std::string Journal::HashAt(const std::string& source, int64_t position, int64_t& held) const {
    held = 0;
    Statement count(db_, "SELECT count(*) FROM entries WHERE source = ?1");
    count.Bind(1, source);
    if (count.Ok() && sqlite3_step(count.get()) == SQLITE_ROW) held = count.Int(0);
    if (position < 1 || position > held) return {};
    Statement s(db_, "SELECT hash FROM entries WHERE source = ?1 ORDER BY id LIMIT 1 OFFSET ?2");
    s.Bind(1, source);
    s.Bind(2, position - 1);
    return s.Ok() && sqlite3_step(s.get()) == SQLITE_ROW ? s.Text(0) : std::string();
}

bool Journal::ExportChains(const JournalFilter& filter, const std::string& originName,
                           const std::string& path, size_t& written, std::string& error) const {
    namespace fs = std::filesystem;
    error.clear();
    std::string why;
    if (const int64_t broken = Verify(why); broken != 0) {
        error = "Журнал изменений нарушен, выгрузка отменена: " + why;
        return false;
    }
    std::error_code ec;
    if (fs::exists(path, ec)) {
        if (fs::equivalent(path, path_, ec)) {
            error = "Нельзя выгрузить журнал изменений в него самого: " + path;
            return false;
        }
        std::string ignored;
        if (const auto there = OpenExisting(path, ignored);
            there != nullptr && there->exportOf_.empty()) {
            error = path + " - журнал изменений, выгрузка его не заменит";
            return false;
        }
    }
    const std::vector<JournalEntry> chosen = List(filter, error);
    if (!error.empty()) return false;
    // A chain is carried without gaps: each source's entries from the first chosen on.
    std::map<std::string, int64_t> from;
    for (const JournalEntry& e : chosen)
        if (from.find(e.source) == from.end()) from[e.source] = e.id;
    std::vector<JournalEntry> entries;
    if (!from.empty()) {
        // As stored, so that each keeps its hash; the outcome its write has now goes along.
        const std::vector<JournalEntry> all = Stored(error);
        const std::vector<JournalEntry> shown = List({}, error);
        if (!error.empty() || all.size() != shown.size()) return false;
        for (size_t i = 0; i < all.size(); ++i) {
            const JournalEntry& e = all[i];
            const auto f = from.find(e.source);
            if (f == from.end() || e.id < f->second) continue;
            entries.push_back(e);
            if (shown[i].outcome != e.outcome) entries.back().carriedOutcome = shown[i].outcome;
        }
    }
    written = entries.size();
    return Export(entries, originName, path, error, source_.empty() ? exportOf_ : source_, host_);
}

bool Journal::Export(const std::vector<JournalEntry>& entries, const std::string& originName,
                     const std::string& path, std::string& error, const std::string& exportOf,
                     const std::string& host) {
    namespace fs = std::filesystem;
    const std::string partial = path + ".partial";
    std::error_code ec;
    fs::remove(partial, ec);
    {
        sqlite3* db = nullptr;
        if (sqlite3_open_v2(partial.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                            nullptr) != SQLITE_OK) {
            error = SqlError(db, "Не удалось записать " + path);
            sqlite3_close(db);
            return false;
        }
        std::unique_ptr<Journal> out(new Journal(db, partial));
        // An export is no journal of its own: it names the journal it comes from instead.
        std::vector<JournalEntry> copy = entries;
        for (JournalEntry& e : copy)
            if (e.origin.empty() && !e.legacy) e.origin = originName;
        std::string ignored;
        bool ok = Exec(db, kSchema, error, "Выгрузка журнала изменений") &&
                  Exec(db, kSourceSchema, error, "Выгрузка журнала изменений") &&
                  Exec(db, kSourceColumns, error, "Выгрузка журнала изменений");
        if (ok) {
            Statement s(db, "INSERT INTO meta(key, value) VALUES('export_of', ?1), ('host', ?2)");
            s.Bind(1, exportOf.empty() ? std::string("-") : exportOf);
            s.Bind(2, host);
            ok = s.Ok() && sqlite3_step(s.get()) == SQLITE_DONE;
            if (!ok) error = SqlError(db, "Выгрузка журнала изменений");
        }
        if (!ok || !AppendAll(db, copy, {}, false, error)) {
            out.reset();
            fs::remove(partial, ec);
            return false;
        }
    }
    fs::rename(partial, path, ec);
    if (ec) {
        error = "Не удалось записать " + path + ": " + ec.message();
        fs::remove(partial, ec);
        return false;
    }
    return true;
}

int Journal::Import(const std::string& path, const std::string& originName, std::string& error) {
    error.clear();
    std::unique_ptr<Journal> other = OpenExisting(path, error);
    if (other == nullptr) return -1;
    std::string why;
    if (const int64_t broken = other->Verify(why); broken != 0) {
        error = path + ": цепочка журнала нарушена, " + why;
        return -1;
    }
    std::vector<JournalEntry> theirs = other->Stored(error);
    if (!error.empty()) return -1;
    // A journal written before sources holds one chain: it is carried as a source named by its
    // first entry, its hashes kept.
    if (!other->sourced_ && !theirs.empty())
        for (JournalEntry& e : theirs) e.source = "chain-" + theirs.front().hash.substr(0, 32);
    std::map<std::string, std::vector<JournalEntry*>> bySource;
    for (JournalEntry& e : theirs) bySource[e.source].push_back(&e);
    std::vector<JournalEntry> fresh;
    for (auto& [source, chain] : bySource) {
        // Hashes this journal holds of the source, in order.
        std::vector<std::string> held;
        Statement s(db_, "SELECT hash FROM entries WHERE source = ?1 ORDER BY id");
        s.Bind(1, source);
        while (s.Ok() && sqlite3_step(s.get()) == SQLITE_ROW) held.push_back(s.Text(0));
        const std::set<std::string> known(held.begin(), held.end());
        size_t first = 0;
        while (first < chain.size() && known.count(chain[first]->hash) != 0) ++first;
        const auto unknownAfter =
            std::find_if(chain.begin() + static_cast<long>(first), chain.end(),
                         [&](const JournalEntry* e) { return known.count(e->hash) != 0; });
        if (first == chain.size()) continue; // all held already
        const JournalEntry& next = *chain[first];
        if (source == source_) {
            error = path + ": запись " + std::to_string(next.id) +
                    " выдана за запись этого журнала, но в нем ее нет: выгрузка подделана";
            return -1;
        }
        if (unknownAfter != chain.end() || (!held.empty() && next.prevHash != held.back())) {
            error = path + ": запись " + std::to_string(next.id) +
                    " не продолжает цепочку источника " + source +
                    ", уже принятую в этот журнал: выгрузка подделана или пересчитана";
            return -1;
        }
        for (size_t i = first; i < chain.size(); ++i) {
            JournalEntry e = *chain[i];
            if (e.origin.empty() && !e.legacy)
                e.origin = other->host_.empty() ? originName : other->host_;
            fresh.push_back(std::move(e));
        }
    }
    std::sort(fresh.begin(), fresh.end(),
              [](const JournalEntry& a, const JournalEntry& b) { return a.id < b.id; });
    if (!fresh.empty() && !AppendAll(db_, fresh, {}, false, error)) return -1;
    return static_cast<int>(fresh.size());
}

} // namespace velmar
