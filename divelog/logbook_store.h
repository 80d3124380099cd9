// The program's own copy of the diver's logbook: every successful cloud
// answer that the dive-log pages read (month summaries, day lists, dive logs,
// statistics), with the time it was fetched, in one SQLite file. Rows are
// keyed by the cloud's user id, so two accounts on one machine never see each
// other's dives. The cloud stays the source of truth: a fresh month summary
// or day list replaces the stored one whole, and what it no longer lists goes.
#pragma once

#include <json/value.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace vorta_divelog {

enum class StoredKind {
    kMonth = 1,       // key "YYYYMM": the calendar month answer
    kDay = 2,         // key "YYYYMMDD": the calendar date answer (day list)
    kDiveLog = 3,     // key: the dive log's id; the dive log answer
    kStatistics = 4,  // key "": the statistics answer
};

struct StoredAnswer {
    Json::Value response;  // the answer's "response" as the cloud sent it
    int64_t fetched_at = 0;
};

class LogbookStore {
public:
    // The layout this program writes (PRAGMA user_version).
    static constexpr int kSchemaVersion = 1;
    // Marks a file as this program's store (PRAGMA application_id, "VLOG").
    static constexpr int32_t kApplicationId = 0x564C4F47;

    struct Opened {
        std::unique_ptr<LogbookStore> store;  // null only when no file could be made at all
        // The path a damaged, foreign or newer file was moved to before a new
        // store was started; "" when none was set aside.
        std::string set_aside;
    };

    // Opens (or creates, mode 0600) the store at `path` for `user_id`. A file
    // that is not a readable store of this program (damaged, another
    // program's database, a newer layout) is renamed to
    // "<path>.set-aside-<time>" and a new store is started.
    static Opened Open(const std::string& path, const std::string& user_id);

    ~LogbookStore();
    LogbookStore(const LogbookStore&) = delete;
    LogbookStore& operator=(const LogbookStore&) = delete;

    const std::string& user_id() const { return user_id_; }

    // The stored answer; nothing when none is stored or it cannot be read.
    std::optional<StoredAnswer> Get(StoredKind kind, const std::string& key) const;
    bool Has(StoredKind kind, const std::string& key) const;

    // Stores a fresh answer in one transaction. A month summary drops the
    // stored days of that month that it no longer lists with dives (with
    // their dive logs); a day list drops the dive logs it no longer lists. A
    // dive log answer without a "divelog" object is not stored. False when
    // nothing was written.
    bool Put(StoredKind kind, const std::string& key, const Json::Value& response, int64_t fetched_at);

    // Several fresh answers, each as Put stores it, in one transaction, in
    // their order (a day list before the dive logs it lists). One commit
    // instead of one per answer, and the write lock held only while they are
    // written. False (nothing written) when one of them could not be.
    struct Write {
        StoredKind kind;
        std::string key;
        Json::Value response;
        int64_t fetched_at = 0;
        // The JSON text of `response` when the caller has it already (made
        // off the thread that writes, or as received); "" to have it made
        // here.
        std::string compact;
        // A dive log's `compact` found a dive log by DiveLogResponseOf:
        // stored without `response`.
        bool judged = false;
    };
    bool PutAll(const std::vector<Write>& writes);

    // The response of a dive-log reply that is plainly a success carrying a
    // dive log (well-formed JSON, the success code, a "divelog" object), as
    // JSON text, judged by the database's own JSON reader, which builds no
    // values; nothing for any other reply, which is then to be judged in
    // full.
    std::optional<std::string> DiveLogResponseOf(const std::string& reply) const;

    // Removes one stored answer (nothing else).
    bool Remove(StoredKind kind, const std::string& key);

    // Notes which e-mail address (and name) signed in as this store's user,
    // so that the account can be found without the cloud.
    bool RememberAccount(const std::string& email, const std::string& user_name);

    // The newest fetch time of this account's answers; nothing when none.
    std::optional<int64_t> LastRefreshed() const;
    // The keys this account has stored of `kind`, in order.
    std::vector<std::string> Keys(StoredKind kind) const;

private:
    // The statements the store runs again and again, each prepared on its
    // first use and kept until the store closes.
    enum Query { kGet, kHas, kUpsert, kRemove, kKeys, kDaysOfMonth, kJudgeDiveLog, kQueries };

    LogbookStore(sqlite3* db, std::string user_id) : db_(db), user_id_(std::move(user_id)) {}
    // The kept statement (reset, nothing bound) under `mutex_`; nullptr when
    // it cannot be prepared.
    sqlite3_stmt* Prepared(Query query) const;
    // The stored days of month `month` ("YYYYMM"), in order.
    std::vector<std::string> DaysOfMonth(const std::string& month) const;
    // Put's work inside an open transaction.
    bool PutInTransaction(StoredKind kind, const std::string& key, const Json::Value& response, int64_t fetched_at,
                          const std::string& compact = std::string());
    bool Upsert(StoredKind kind, const std::string& key, const std::string& body, int64_t fetched_at);
    bool DeleteDay(const std::string& day);
    bool Exec(const char* sql) const;

    sqlite3* db_;
    std::string user_id_;
    // A kept statement is one cursor: the threads that use the store (the
    // offline save writes from its own) take turns at it, a whole call at a
    // time. Recursive: a write reads what it replaces.
    mutable std::recursive_mutex mutex_;
    mutable sqlite3_stmt* prepared_[kQueries] = {};
};

// An account that signed in on this machine and has a stored logbook.
struct StoredAccount {
    std::string user_id;
    std::string user_name;
};
// The account that last signed in with `email` (compared without regard to
// case) and has at least one stored answer; nothing when there is none, or no
// readable store at `path` (the file is only read, never made or changed).
std::optional<StoredAccount> FindStoredAccount(const std::string& path, const std::string& email);

// The dive log ids a day list answer lists, in order.
std::vector<std::string> DayListIds(const Json::Value& day_response);

// The answer as the store keeps it: compact JSON text.
std::string CompactAnswer(const Json::Value& response);

// Where the store lives: $XDG_DATA_HOME (default ~/.local/share) followed by
// "VORTA PC TOOL/logbook.sqlite"; the folder is created (mode 0700). "" when
// it cannot be made.
std::string LogbookStorePath();

}  // namespace vorta_divelog
