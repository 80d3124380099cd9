#include "divelog/logbook_store.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <set>

#include <json/writer.h>

#include "base/json_safe.h"
#include "divelog/calendar_model.h"

namespace vorta_divelog {

namespace {

// How long a write waits for another instance's lock before it gives up.
constexpr int kBusyTimeoutMs = 5000;

const char* const kCreateSql =
    "CREATE TABLE IF NOT EXISTS answers("
    " user_id TEXT NOT NULL, kind INTEGER NOT NULL, key TEXT NOT NULL,"
    " body TEXT NOT NULL, fetched_at INTEGER NOT NULL,"
    " PRIMARY KEY(user_id, kind, key)) WITHOUT ROWID;"
    "CREATE TABLE IF NOT EXISTS accounts("
    " user_id TEXT PRIMARY KEY, email TEXT NOT NULL, user_name TEXT NOT NULL, signed_in_at INTEGER NOT NULL)";

// A prepared statement, finalised on every path; or a kept one (see
// LogbookStore::Prepared), reset and its values unbound on every path.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr); }
    explicit Statement(sqlite3_stmt* kept) : stmt_(kept), kept_(true) {}
    ~Statement() {
        if (!kept_) {
            sqlite3_finalize(stmt_);
        } else if (stmt_) {
            sqlite3_reset(stmt_);
            sqlite3_clear_bindings(stmt_);
        }
    }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool ok() const { return stmt_ != nullptr; }
    // The text is read where it is, not copied: it must outlive Step().
    void Bind(int i, const std::string& text) {
        sqlite3_bind_text(stmt_, i, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
    }
    void Bind(int i, int64_t v) { sqlite3_bind_int64(stmt_, i, v); }
    // SQLITE_ROW, SQLITE_DONE or an error code.
    int Step() { return stmt_ ? sqlite3_step(stmt_) : SQLITE_ERROR; }
    std::string Text(int col) const {
        const unsigned char* t = sqlite3_column_text(stmt_, col);
        return t ? std::string(reinterpret_cast<const char*>(t), static_cast<size_t>(sqlite3_column_bytes(stmt_, col)))
                 : std::string();
    }
    int64_t Int(int col) const { return sqlite3_column_int64(stmt_, col); }
    bool Null(int col) const { return sqlite3_column_type(stmt_, col) == SQLITE_NULL; }

private:
    sqlite3_stmt* stmt_ = nullptr;
    bool kept_ = false;
};

// A transaction that rolls back unless committed.
class Transaction {
public:
    explicit Transaction(sqlite3* db) : db_(db) {
        ok_ = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    ~Transaction() {
        if (ok_ && !done_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    bool ok() const { return ok_; }
    bool Commit() {
        done_ = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
        return done_;
    }

private:
    sqlite3* db_;
    bool ok_ = false;
    bool done_ = false;
};

int64_t PragmaInt(sqlite3* db, const char* sql, bool* ok) {
    Statement s(db, sql);
    const int rc = s.Step();
    if (rc != SQLITE_ROW) {
        *ok = false;
        return 0;
    }
    return s.Int(0);
}

enum class FileState { kUsable, kSetAside, kError };

// Opens the file at `path`, checks it is this program's store (or empty) and
// brings it to the current layout. kSetAside: it holds something else.
FileState OpenChecked(const std::string& path, sqlite3** out) {
    // The file is made here first so that it is private from its first byte;
    // SQLite gives its journal the same mode.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return errno == ELOOP ? FileState::kSetAside : FileState::kError;
    struct stat st {};
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (regular) ::fchmod(fd, 0600);
    ::close(fd);
    if (!regular) return FileState::kSetAside;

    sqlite3* db = nullptr;
    // Serialized: the offline save writes from its worker thread.
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return FileState::kSetAside;
    }
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    auto fail = [&](FileState state) {
        sqlite3_close(db);
        return state;
    };

    bool ok = true;
    {
        Statement check(db, "PRAGMA quick_check");
        const int rc = check.Step();
        if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) return fail(FileState::kError);
        if (rc != SQLITE_ROW || check.Text(0) != "ok") return fail(FileState::kSetAside);
    }
    // Set up (or checked) under the write lock, so that two instances starting
    // together make the tables once.
    Transaction tx(db);
    if (!tx.ok()) return fail(FileState::kError);
    const int64_t app_id = PragmaInt(db, "PRAGMA application_id", &ok);
    const int64_t version = PragmaInt(db, "PRAGMA user_version", &ok);
    const int64_t tables = PragmaInt(db, "SELECT count(*) FROM sqlite_master", &ok);
    if (!ok) return fail(FileState::kSetAside);
    if (app_id == 0 && version == 0 && tables == 0) {
        const std::string init = std::string(kCreateSql) +
                                 ";PRAGMA application_id=" + std::to_string(LogbookStore::kApplicationId) +
                                 ";PRAGMA user_version=" + std::to_string(LogbookStore::kSchemaVersion);
        if (sqlite3_exec(db, init.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) return fail(FileState::kError);
    } else if (app_id != LogbookStore::kApplicationId || version != LogbookStore::kSchemaVersion) {
        // Another program's database, or a layout this program does not know
        // (an older one would be brought up to date here).
        return fail(FileState::kSetAside);
    }
    if (!tx.Commit()) return fail(FileState::kError);
    // A write-ahead log: a commit is an append without waiting for the disk
    // each time (the store is a copy of the cloud's answers; a crash can lose
    // the last answers, never the file's integrity), and readers of a second
    // instance do not block its writer. The page cache is kept small: a
    // lookup reads a few pages of one row, which the system's file cache
    // serves as well, and SQLite's default 2 MB would fill over a long
    // session and stay.
    sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA cache_size=-256", nullptr, nullptr,
                 nullptr);
    *out = db;
    return FileState::kUsable;
}

std::string Compact(const Json::Value& v) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    return Json::writeString(builder, v);
}

}  // namespace

std::string CompactAnswer(const Json::Value& response) {
    return Compact(response);
}

std::vector<std::string> DayListIds(const Json::Value& day_response) {
    std::vector<std::string> ids;
    const Json::Value& logs = json_safe::Member(day_response, "divelogs");
    for (Json::ArrayIndex i = 0; i < json_safe::Size(logs); ++i) {
        std::string id = json_safe::String(json_safe::Element(logs, i), "divelog_id");
        if (!id.empty()) ids.push_back(std::move(id));
    }
    return ids;
}

LogbookStore::Opened LogbookStore::Open(const std::string& path, const std::string& user_id) {
    Opened opened;
    sqlite3* db = nullptr;
    FileState state = OpenChecked(path, &db);
    if (state == FileState::kSetAside) {
        const std::string aside = path + ".set-aside-" + std::to_string(static_cast<long long>(std::time(nullptr)));
        if (std::rename(path.c_str(), aside.c_str()) == 0) {
            opened.set_aside = aside;
            // Its journal and log belong to it, not to the new store.
            for (const char* suffix : {"-journal", "-wal", "-shm"})
                std::rename((path + suffix).c_str(), (aside + suffix).c_str());
            state = OpenChecked(path, &db);
        }
    }
    if (state == FileState::kUsable) opened.store.reset(new LogbookStore(db, user_id));
    return opened;
}

LogbookStore::~LogbookStore() {
    for (sqlite3_stmt* stmt : prepared_) sqlite3_finalize(stmt);
    sqlite3_close(db_);
}

sqlite3_stmt* LogbookStore::Prepared(Query query) const {
    static const char* const kSql[kQueries] = {
        "SELECT body, fetched_at FROM answers WHERE user_id=?1 AND kind=?2 AND key=?3",
        "SELECT 1 FROM answers WHERE user_id=?1 AND kind=?2 AND key=?3",
        "INSERT OR REPLACE INTO answers(user_id, kind, key, body, fetched_at) VALUES(?1,?2,?3,?4,?5)",
        "DELETE FROM answers WHERE user_id=?1 AND kind=?2 AND key=?3",
        "SELECT key FROM answers WHERE user_id=?1 AND kind=?2 ORDER BY key",
        // A day's key is "YYYYMMDD": the month's days lie between its "00" and "99".
        "SELECT key FROM answers WHERE user_id=?1 AND kind=?2 AND key>=?3||'00' AND key<=?3||'99' ORDER BY key",
        // A reply that is not well-formed makes the others fail: no row either.
        ("SELECT json_extract(?1,'$.response') WHERE json_valid(?1) AND json_extract(?1,'$.code')='0000000' AND "
         "json_type(?1,'$.response.divelog')='object'"),
    };
    if (!prepared_[query])
        sqlite3_prepare_v3(db_, kSql[query], -1, SQLITE_PREPARE_PERSISTENT, &prepared_[query], nullptr);
    return prepared_[query];
}

bool LogbookStore::Exec(const char* sql) const {
    return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

std::optional<StoredAnswer> LogbookStore::Get(StoredKind kind, const std::string& key) const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    Statement s(Prepared(kGet));
    s.Bind(1, user_id_);
    s.Bind(2, static_cast<int64_t>(kind));
    s.Bind(3, key);
    if (s.Step() != SQLITE_ROW) return std::nullopt;
    StoredAnswer answer;
    // The file is outside input like any other: a row that does not read is
    // as good as none.
    if (!json_safe::Parse(s.Text(0), answer.response)) return std::nullopt;
    answer.fetched_at = s.Int(1);
    return answer;
}

bool LogbookStore::Has(StoredKind kind, const std::string& key) const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    Statement s(Prepared(kHas));
    s.Bind(1, user_id_);
    s.Bind(2, static_cast<int64_t>(kind));
    s.Bind(3, key);
    return s.Step() == SQLITE_ROW;
}

bool LogbookStore::Upsert(StoredKind kind, const std::string& key, const std::string& body, int64_t fetched_at) {
    Statement s(Prepared(kUpsert));
    s.Bind(1, user_id_);
    s.Bind(2, static_cast<int64_t>(kind));
    s.Bind(3, key);
    s.Bind(4, body);
    s.Bind(5, fetched_at);
    return s.Step() == SQLITE_DONE;
}

std::optional<std::string> LogbookStore::DiveLogResponseOf(const std::string& reply) const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    Statement s(Prepared(kJudgeDiveLog));
    s.Bind(1, reply);
    if (s.Step() != SQLITE_ROW || s.Null(0)) return std::nullopt;
    return s.Text(0);
}

bool LogbookStore::Remove(StoredKind kind, const std::string& key) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    Statement s(Prepared(kRemove));
    s.Bind(1, user_id_);
    s.Bind(2, static_cast<int64_t>(kind));
    s.Bind(3, key);
    return s.Step() == SQLITE_DONE;
}

bool LogbookStore::DeleteDay(const std::string& day) {
    if (const std::optional<StoredAnswer> old = Get(StoredKind::kDay, day)) {
        for (const std::string& id : DayListIds(old->response))
            if (!Remove(StoredKind::kDiveLog, id)) return false;
    }
    return Remove(StoredKind::kDay, day);
}

bool LogbookStore::Put(StoredKind kind, const std::string& key, const Json::Value& response, int64_t fetched_at) {
    if (kind == StoredKind::kDiveLog && !json_safe::Member(response, "divelog").isObject()) return false;
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    Transaction tx(db_);
    return tx.ok() && PutInTransaction(kind, key, response, fetched_at) && tx.Commit();
}

bool LogbookStore::PutAll(const std::vector<Write>& writes) {
    if (writes.empty()) return true;
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    Transaction tx(db_);
    if (!tx.ok()) return false;
    for (const Write& w : writes) {
        // Skipped as Put skips it; the others are still stored.
        if (w.kind == StoredKind::kDiveLog && !w.judged && !json_safe::Member(w.response, "divelog").isObject())
            continue;
        if (!PutInTransaction(w.kind, w.key, w.response, w.fetched_at, w.compact)) return false;
    }
    return tx.Commit();
}

bool LogbookStore::PutInTransaction(StoredKind kind, const std::string& key, const Json::Value& response,
                                    int64_t fetched_at, const std::string& compact) {
    if (kind == StoredKind::kDay) {
        if (const std::optional<StoredAnswer> old = Get(kind, key)) {
            const std::vector<std::string> now = DayListIds(response);
            const std::set<std::string> listed(now.begin(), now.end());
            for (const std::string& id : DayListIds(old->response))
                if (!listed.count(id) && !Remove(StoredKind::kDiveLog, id)) return false;
        }
    } else if (kind == StoredKind::kMonth) {
        std::set<std::string> with_dives;
        for (const DaySummary& day : ParseMonthSummary(response))
            if (day.scuba_count + day.free_count > 0) with_dives.insert(std::to_string(day.date));
        for (const std::string& day : DaysOfMonth(key))
            if (day.size() == 8 && day.compare(0, 6, key) == 0 && !with_dives.count(day) && !DeleteDay(day))
                return false;
    }
    return Upsert(kind, key, compact.empty() ? Compact(response) : compact, fetched_at);
}

bool LogbookStore::RememberAccount(const std::string& email, const std::string& user_name) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    Statement s(db_, "INSERT OR REPLACE INTO accounts(user_id, email, user_name, signed_in_at) VALUES(?1,?2,?3,?4)");
    s.Bind(1, user_id_);
    s.Bind(2, email);
    s.Bind(3, user_name);
    s.Bind(4, static_cast<int64_t>(std::time(nullptr)));
    return s.Step() == SQLITE_DONE;
}

std::optional<StoredAccount> FindStoredAccount(const std::string& path, const std::string& email) {
    if (email.empty()) return std::nullopt;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return std::nullopt;
    }
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    std::optional<StoredAccount> found;
    {
        bool ok = true;
        const bool ours = PragmaInt(db, "PRAGMA application_id", &ok) == LogbookStore::kApplicationId &&
                          PragmaInt(db, "PRAGMA user_version", &ok) == LogbookStore::kSchemaVersion && ok;
        Statement s(db,
                    "SELECT a.user_id, a.user_name FROM accounts a WHERE lower(a.email)=lower(?1)"
                    " AND EXISTS(SELECT 1 FROM answers x WHERE x.user_id=a.user_id)"
                    " ORDER BY a.signed_in_at DESC LIMIT 1");
        s.Bind(1, email);
        if (ours && s.Step() == SQLITE_ROW) found = StoredAccount{s.Text(0), s.Text(1)};
    }
    sqlite3_close(db);
    return found;
}

std::optional<int64_t> LogbookStore::LastRefreshed() const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    Statement s(db_, "SELECT max(fetched_at) FROM answers WHERE user_id=?1");
    s.Bind(1, user_id_);
    if (s.Step() != SQLITE_ROW || s.Null(0)) return std::nullopt;
    return s.Int(0);
}

std::vector<std::string> LogbookStore::Keys(StoredKind kind) const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    std::vector<std::string> keys;
    Statement s(Prepared(kKeys));
    s.Bind(1, user_id_);
    s.Bind(2, static_cast<int64_t>(kind));
    while (s.Step() == SQLITE_ROW) keys.push_back(s.Text(0));
    return keys;
}

std::vector<std::string> LogbookStore::DaysOfMonth(const std::string& month) const {
    std::vector<std::string> days;
    Statement s(Prepared(kDaysOfMonth));
    s.Bind(1, user_id_);
    s.Bind(2, static_cast<int64_t>(StoredKind::kDay));
    s.Bind(3, month);
    while (s.Step() == SQLITE_ROW) days.push_back(s.Text(0));
    return days;
}

std::string LogbookStorePath() {
    std::string base;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && xdg[0] == '/') {
        base = xdg;
    } else if (const char* home = std::getenv("HOME"); home && home[0] == '/') {
        base = std::string(home) + "/.local/share";
    } else {
        return std::string();
    }
    // Each level is made if missing; the program's own folder is private.
    for (size_t slash = base.find('/', 1); slash != std::string::npos; slash = base.find('/', slash + 1))
        ::mkdir(base.substr(0, slash).c_str(), 0700);
    ::mkdir(base.c_str(), 0700);
    const std::string folder = base + "/VORTA PC TOOL";
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return std::string();
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return std::string();
    return folder + "/logbook.sqlite";
}

}  // namespace vorta_divelog
