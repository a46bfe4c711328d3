#include "data/journal.h"

#include "data/sha256.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <pwd.h>
#include <sqlite3.h>
#include <unistd.h>

namespace velmar {

namespace {

// How long a writer waits for the other program's transaction before it gives up.
constexpr int kBusyTimeoutMs = 5000;
constexpr char kFieldSeparator = '\x1f';

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

constexpr const char* kColumns =
    "id, time, user, host, program, operation, port, ctrlr, ident, record_kind, record_index,"
    " record, field, caption, old_value, new_value, outcome, origin, prev_hash, hash";
// As kColumns, with the outcome of the entry's write as last entered (the entry's own outcome
// for entries that belong to no entered write: those of older journals and imports).
constexpr const char* kListColumns =
    "id, time, user, host, program, operation, port, ctrlr, ident, record_kind, record_index,"
    " record, field, caption, old_value, new_value,"
    " coalesce((SELECT o.outcome FROM outcomes o WHERE o.first_entry ="
    " (SELECT max(w.first_entry) FROM writes w WHERE w.first_entry <= entries.id)"
    " AND o.last_entry >= entries.id ORDER BY o.id DESC LIMIT 1), outcome),"
    " origin, prev_hash, hash";

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
    return e;
}

std::string LastHash(sqlite3* db) {
    Statement s(db, "SELECT hash FROM entries ORDER BY id DESC LIMIT 1");
    if (s.Ok() && sqlite3_step(s.get()) == SQLITE_ROW) return s.Text(0);
    return {};
}

// Inserts inside the caller's transaction; fills prevHash, hash and id.
bool Insert(sqlite3* db, JournalEntry& e, std::string& prev, std::string& error) {
    Statement s(db, "INSERT INTO entries(time, user, host, program, operation, port, ctrlr, ident,"
                    " record_kind, record_index, record, field, caption, old_value, new_value,"
                    " outcome, origin, prev_hash, hash, content_key)"
                    " VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
    if (!s.Ok()) {
        error = SqlError(db, "Журнал изменений");
        return false;
    }
    e.prevHash = prev;
    e.hash = JournalEntryHash(e, prev);
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
    if (sqlite3_step(s.get()) != SQLITE_DONE) {
        error = SqlError(db, "Запись в журнал изменений");
        return false;
    }
    e.id = sqlite3_last_insert_rowid(db);
    prev = e.hash;
    return true;
}

bool AppendAll(sqlite3* db, std::vector<JournalEntry>& entries, std::string& error) {
    if (!Exec(db, "BEGIN IMMEDIATE", error, "Журнал изменений занят или недоступен")) return false;
    std::string prev = LastHash(db);
    for (JournalEntry& e : entries)
        if (!Insert(db, e, prev, error)) {
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

std::string FormatUtc(std::time_t t) {
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

} // namespace

std::string JournalEntryHash(const JournalEntry& e, const std::string& prevHash) {
    std::string content;
    for (const std::string* t :
         {&e.time, &e.user, &e.host, &e.program, &e.operation, &e.port, &e.ident, &e.recordKind,
          &e.record, &e.field, &e.caption, &e.oldValue, &e.newValue, &e.outcome, &e.origin}) {
        content += *t;
        content += kFieldSeparator;
    }
    content += std::to_string(e.ctrlr) + kFieldSeparator + std::to_string(e.recordIndex) +
               kFieldSeparator + prevHash;
    return Sha256Hex(reinterpret_cast<const uint8_t*>(content.data()), content.size());
}

std::string JournalNow() {
    return FormatUtc(std::time(nullptr));
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

Journal::Journal(sqlite3* db, std::string path) : db_(db), path_(std::move(path)) {}

Journal::~Journal() {
    sqlite3_close(db_);
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
    if (!Exec(db, "PRAGMA journal_mode=WAL", error, ("Журнал изменений " + path).c_str()) ||
        !Exec(db, kSchema, error, ("Журнал изменений " + path).c_str()))
        return nullptr;
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
    return AppendAll(db_, entries, error);
}

bool Journal::AppendPending(std::vector<JournalEntry>& entries, JournalWrite& write,
                            std::string& error) {
    write.firstEntry = write.lastEntry = 0;
    if (entries.empty()) return true;
    if (!Exec(db_, "BEGIN IMMEDIATE", error, "Журнал изменений занят или недоступен")) return false;
    std::string prev = LastHash(db_);
    for (JournalEntry& e : entries)
        if (!Insert(db_, e, prev, error)) {
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
    std::string sql =
        std::string("SELECT ") + (outcomes_ ? kListColumns : kColumns) + " FROM entries WHERE 1";
    if (!filter.since.empty()) sql += " AND time >= ?1";
    if (!filter.until.empty()) sql += " AND time < ?2";
    if (filter.ctrlr > 0) sql += " AND ctrlr = ?3";
    if (!filter.field.empty())
        sql += " AND (instr(lower(caption), lower(?4)) OR instr(lower(field), lower(?4))"
               " OR instr(lower(record), lower(?4)))";
    sql += " ORDER BY id";
    if (filter.last > 0) sql = "SELECT * FROM (" + sql + " DESC LIMIT ?5) ORDER BY id";
    std::vector<JournalEntry> out;
    Statement s(db_, sql.c_str());
    if (!s.Ok()) {
        error = SqlError(db_, "Чтение журнала изменений");
        return out;
    }
    s.Bind(1, filter.since);
    s.Bind(2, filter.until);
    s.Bind(3, int64_t{filter.ctrlr});
    s.Bind(4, filter.field);
    s.Bind(5, int64_t{filter.last});
    int rc = 0;
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) out.push_back(Row(s));
    if (rc != SQLITE_DONE) error = SqlError(db_, "Чтение журнала изменений");
    return out;
}

int64_t Journal::Verify(std::string& why) const {
    Statement s(db_, (std::string("SELECT ") + kColumns + " FROM entries ORDER BY id").c_str());
    if (!s.Ok()) {
        why = SqlError(db_, "Чтение журнала изменений");
        return -1;
    }
    std::string prev;
    int rc = 0;
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
        const JournalEntry e = Row(s);
        if (e.prevHash != prev) {
            why = "запись " + std::to_string(e.id) +
                  ": не продолжает цепочку (предыдущая запись удалена или переставлена)";
            return e.id;
        }
        if (JournalEntryHash(e, prev) != e.hash) {
            why = "запись " + std::to_string(e.id) + ": содержимое изменено после записи";
            return e.id;
        }
        prev = e.hash;
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

bool Journal::Export(const std::vector<JournalEntry>& entries, const std::string& originName,
                     const std::string& path, std::string& error) {
    namespace fs = std::filesystem;
    const std::string partial = path + ".partial";
    std::error_code ec;
    fs::remove(partial, ec);
    {
        std::unique_ptr<Journal> out = Open(partial, error);
        if (out == nullptr) return false;
        std::vector<JournalEntry> copy = entries;
        for (JournalEntry& e : copy)
            if (e.origin.empty()) e.origin = originName;
        if (!Exec(out->db_, "PRAGMA journal_mode=DELETE", error, "Журнал изменений") ||
            !AppendAll(out->db_, copy, error)) {
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
    std::unique_ptr<Journal> other = OpenExisting(path, error);
    if (other == nullptr) return -1;
    std::string why;
    if (const int64_t broken = other->Verify(why); broken != 0) {
        error = path + ": цепочка журнала нарушена, " + why;
        return -1;
    }
    std::vector<JournalEntry> theirs = other->List({}, error);
    if (!error.empty()) return -1;
    std::vector<JournalEntry> fresh;
    Statement known(db_, "SELECT 1 FROM entries WHERE content_key = ?1 LIMIT 1");
    for (JournalEntry& e : theirs) {
        if (e.origin.empty()) e.origin = originName;
        JournalEntry keyed = e;
        keyed.origin.clear();
        sqlite3_reset(known.get());
        known.Bind(1, JournalEntryHash(keyed, {}));
        if (sqlite3_step(known.get()) == SQLITE_ROW) continue;
        fresh.push_back(std::move(e));
    }
    sqlite3_reset(known.get());
    if (!fresh.empty() && !AppendAll(db_, fresh, error)) return -1;
    return static_cast<int>(fresh.size());
}

} // namespace velmar
