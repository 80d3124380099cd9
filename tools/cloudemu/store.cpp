#include "store.h"

#include <openssl/rand.h>

#include <cstdio>

namespace cloudemu {
namespace {

// Small RAII wrapper for a prepared statement.
class Stmt {
public:
    Stmt(sqlite3* db, const char* sql) {
        if (sqlite3_prepare_v2(db, sql, -1, &st_, nullptr) != SQLITE_OK) st_ = nullptr;
    }
    ~Stmt() { sqlite3_finalize(st_); }
    bool ok() const { return st_ != nullptr; }
    Stmt& Bind(int i, const std::string& v) {
        if (st_) sqlite3_bind_text(st_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Stmt& Bind(int i, int64_t v) {
        if (st_) sqlite3_bind_int64(st_, i, v);
        return *this;
    }
    Stmt& Bind(int i, double v) {
        if (st_) sqlite3_bind_double(st_, i, v);
        return *this;
    }
    int Step() { return st_ ? sqlite3_step(st_) : SQLITE_ERROR; }
    bool Done() { return Step() == SQLITE_DONE; }
    std::string Text(int c) {
        const unsigned char* t = sqlite3_column_text(st_, c);
        return t ? std::string(reinterpret_cast<const char*>(t), sqlite3_column_bytes(st_, c)) : std::string();
    }
    int64_t Int(int c) { return sqlite3_column_int64(st_, c); }
    double Real(int c) { return sqlite3_column_double(st_, c); }

private:
    sqlite3_stmt* st_ = nullptr;
};

const char* kDiveColumns =
    "divelog_id, user_id, dive_number, dive_datetime, timezone, local_date, dive_type, max_depth, "
    "dive_duration, doc";

DiveRow ReadDive(Stmt& s) {
    DiveRow r;
    r.divelog_id = s.Text(0);
    r.user_id = s.Text(1);
    r.dive_number = s.Int(2);
    r.dive_datetime = s.Int(3);
    r.timezone = static_cast<int>(s.Int(4));
    r.local_date = static_cast<int>(s.Int(5));
    r.dive_type = s.Text(6);
    r.max_depth = s.Real(7);
    r.dive_duration = static_cast<int>(s.Int(8));
    r.doc = s.Text(9);
    return r;
}

}  // namespace

std::string RandomHex(size_t bytes) {
    std::string raw(bytes, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(&raw[0]), static_cast<int>(bytes)) != 1) return {};
    std::string hex;
    char buf[3];
    for (unsigned char c : raw) {
        std::snprintf(buf, sizeof buf, "%02x", c);
        hex += buf;
    }
    return hex;
}

Store::~Store() {
    if (db_) sqlite3_close(db_);
}

bool Store::Exec(const char* sql) {
    return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool Store::Open(const std::string& path, std::string& error) {
    std::lock_guard<std::mutex> lock(mu_);
    if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) {
        error = db_ ? sqlite3_errmsg(db_) : "cannot open store";
        return false;
    }
    sqlite3_busy_timeout(db_, 5000);
    const char* schema =
        "PRAGMA journal_mode=WAL;"
        "CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value TEXT);"
        "CREATE TABLE IF NOT EXISTS users(user_id TEXT PRIMARY KEY, email TEXT UNIQUE, password TEXT,"
        " user_name TEXT, facebook_id TEXT);"
        "CREATE TABLE IF NOT EXISTS sessions(token TEXT PRIMARY KEY, user_id TEXT NOT NULL);"
        "CREATE TABLE IF NOT EXISTS divelogs(divelog_id TEXT PRIMARY KEY, user_id TEXT NOT NULL,"
        " dive_number INTEGER NOT NULL, dive_datetime INTEGER, timezone INTEGER, local_date INTEGER,"
        " dive_type TEXT, max_depth REAL, dive_duration INTEGER, doc TEXT);"
        "CREATE INDEX IF NOT EXISTS divelogs_date ON divelogs(user_id, local_date);";
    if (sqlite3_exec(db_, schema, nullptr, nullptr, nullptr) != SQLITE_OK) {
        error = sqlite3_errmsg(db_);
        return false;
    }
    return true;
}

bool Store::GetMeta(const std::string& key, std::string& value) {
    std::lock_guard<std::mutex> lock(mu_);
    Stmt s(db_, "SELECT value FROM meta WHERE key=?");
    s.Bind(1, key);
    if (s.Step() != SQLITE_ROW) return false;
    value = s.Text(0);
    return true;
}

bool Store::SetMeta(const std::string& key, const std::string& value) {
    std::lock_guard<std::mutex> lock(mu_);
    Stmt s(db_, "INSERT OR REPLACE INTO meta(key, value) VALUES(?, ?)");
    return s.Bind(1, key).Bind(2, value).Done();
}

bool Store::AddUser(const User& u) {
    std::lock_guard<std::mutex> lock(mu_);
    Stmt s(db_, "INSERT INTO users(user_id, email, password, user_name, facebook_id) VALUES(?,?,?,?,?)");
    return s.Bind(1, u.user_id).Bind(2, u.email).Bind(3, u.password).Bind(4, u.user_name).Bind(5, u.facebook_id).Done();
}

static bool ReadUser(Stmt& s, User& u) {
    if (s.Step() != SQLITE_ROW) return false;
    u.user_id = s.Text(0);
    u.email = s.Text(1);
    u.password = s.Text(2);
    u.user_name = s.Text(3);
    u.facebook_id = s.Text(4);
    return true;
}

bool Store::UserByEmail(const std::string& email, User& u) {
    std::lock_guard<std::mutex> lock(mu_);
    Stmt s(db_, "SELECT user_id, email, password, user_name, facebook_id FROM users WHERE lower(email)=lower(?)");
    s.Bind(1, email);
    return ReadUser(s, u);
}

bool Store::UserByFacebookId(const std::string& facebook_id, User& u) {
    std::lock_guard<std::mutex> lock(mu_);
    Stmt s(db_, "SELECT user_id, email, password, user_name, facebook_id FROM users WHERE facebook_id=?");
    s.Bind(1, facebook_id);
    return ReadUser(s, u);
}

std::string Store::NewSession(const std::string& user_id) {
    const std::string token = RandomHex(16);
    if (token.empty()) return {};
    std::lock_guard<std::mutex> lock(mu_);
    Stmt s(db_, "INSERT INTO sessions(token, user_id) VALUES(?, ?)");
    return s.Bind(1, token).Bind(2, user_id).Done() ? token : std::string();
}

bool Store::UserForToken(const std::string& token, std::string& user_id) {
    if (token.empty()) return false;
    std::lock_guard<std::mutex> lock(mu_);
    Stmt s(db_, "SELECT user_id FROM sessions WHERE token=?");
    s.Bind(1, token);
    if (s.Step() != SQLITE_ROW) return false;
    user_id = s.Text(0);
    return true;
}

std::string Store::NextDivelogIdLocked() {
    Stmt s(db_, "SELECT COALESCE(MAX(CAST(divelog_id AS INTEGER)), 100000) FROM divelogs");
    int64_t next = 100001;
    if (s.Step() == SQLITE_ROW) next = s.Int(0) + 1;
    return std::to_string(next);
}

bool Store::AddDives(std::vector<DiveRow>& rows) {
    std::lock_guard<std::mutex> lock(mu_);
    if (!Exec("BEGIN IMMEDIATE")) return false;
    bool ok = true;
    for (auto& r : rows) {
        if (r.divelog_id.empty()) r.divelog_id = NextDivelogIdLocked();
        Stmt s(db_, (std::string("INSERT INTO divelogs(") + kDiveColumns + ") VALUES(?,?,?,?,?,?,?,?,?,?)").c_str());
        s.Bind(1, r.divelog_id)
            .Bind(2, r.user_id)
            .Bind(3, r.dive_number)
            .Bind(4, r.dive_datetime)
            .Bind(5, static_cast<int64_t>(r.timezone))
            .Bind(6, static_cast<int64_t>(r.local_date))
            .Bind(7, r.dive_type)
            .Bind(8, r.max_depth)
            .Bind(9, static_cast<int64_t>(r.dive_duration))
            .Bind(10, r.doc);
        if (!s.Done()) {
            ok = false;
            break;
        }
    }
    Exec(ok ? "COMMIT" : "ROLLBACK");
    return ok;
}

std::set<int64_t> Store::DiveNumbers(const std::string& user_id) {
    std::lock_guard<std::mutex> lock(mu_);
    std::set<int64_t> out;
    Stmt s(db_, "SELECT dive_number FROM divelogs WHERE user_id=? AND dive_number > 0");
    s.Bind(1, user_id);
    while (s.Step() == SQLITE_ROW) out.insert(s.Int(0));
    return out;
}

std::vector<DiveRow> Store::Dives(const std::string& user_id, int from_date, int to_date) {
    std::lock_guard<std::mutex> lock(mu_);
    std::vector<DiveRow> out;
    Stmt s(db_, (std::string("SELECT ") + kDiveColumns +
                 " FROM divelogs WHERE user_id=? AND local_date BETWEEN ? AND ? ORDER BY dive_datetime, divelog_id")
                    .c_str());
    s.Bind(1, user_id).Bind(2, static_cast<int64_t>(from_date)).Bind(3, static_cast<int64_t>(to_date));
    while (s.Step() == SQLITE_ROW) out.push_back(ReadDive(s));
    return out;
}

bool Store::Dive(const std::string& user_id, const std::string& divelog_id, DiveRow& row) {
    std::lock_guard<std::mutex> lock(mu_);
    Stmt s(db_, (std::string("SELECT ") + kDiveColumns + " FROM divelogs WHERE user_id=? AND divelog_id=?").c_str());
    s.Bind(1, user_id).Bind(2, divelog_id);
    if (s.Step() != SQLITE_ROW) return false;
    row = ReadDive(s);
    return true;
}

bool Store::UpdateDoc(const std::string& user_id, const std::string& divelog_id, const std::string& doc) {
    std::lock_guard<std::mutex> lock(mu_);
    Stmt s(db_, "UPDATE divelogs SET doc=? WHERE user_id=? AND divelog_id=?");
    if (!s.Bind(1, doc).Bind(2, user_id).Bind(3, divelog_id).Done()) return false;
    return sqlite3_changes(db_) == 1;
}

}  // namespace cloudemu
