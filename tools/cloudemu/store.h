// The emulator's SQLite store: accounts, sessions and dive logs. Every call
// takes the store's lock, so handlers on the server's threads may share one.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace cloudemu {

struct User {
    std::string user_id;
    std::string email;
    std::string password;
    std::string user_name;
    std::string facebook_id;
};

// One dive log: the searchable columns plus the whole document as JSON text.
struct DiveRow {
    std::string divelog_id;
    std::string user_id;
    int64_t dive_number = 0;  // the device's dive number; 0 for dives not from a sync
    int64_t dive_datetime = 0;
    int timezone = 0;       // minutes, UTC minus local time
    int local_date = 0;     // YYYYMMDD of the local start
    std::string dive_type;  // "scuba", "gauge" or "free"
    double max_depth = 0;
    int dive_duration = 0;
    std::string doc;
};

class Store {
public:
    Store() = default;
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    bool Open(const std::string& path, std::string& error);

    bool GetMeta(const std::string& key, std::string& value);
    bool SetMeta(const std::string& key, const std::string& value);

    bool AddUser(const User& u);
    bool UserByEmail(const std::string& email, User& u);
    bool UserByFacebookId(const std::string& facebook_id, User& u);

    // Opens a session for the user and returns its bearer token (empty on failure).
    std::string NewSession(const std::string& user_id);
    bool UserForToken(const std::string& token, std::string& user_id);

    // Adds dive logs in one transaction; ids are assigned when empty.
    bool AddDives(std::vector<DiveRow>& rows);
    std::set<int64_t> DiveNumbers(const std::string& user_id);
    std::vector<DiveRow> Dives(const std::string& user_id, int from_date, int to_date);
    bool Dive(const std::string& user_id, const std::string& divelog_id, DiveRow& row);
    bool UpdateDoc(const std::string& user_id, const std::string& divelog_id, const std::string& doc);

private:
    bool Exec(const char* sql);
    std::string NextDivelogIdLocked();
    std::mutex mu_;
    sqlite3* db_ = nullptr;
};

// `bytes` random bytes from the system's generator, as hexadecimal digits
// (empty on failure).
std::string RandomHex(size_t bytes);

}  // namespace cloudemu
