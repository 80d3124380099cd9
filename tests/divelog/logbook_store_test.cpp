// The offline logbook store: accounts kept apart, fresh lists replacing the
// stored ones whole, a damaged or foreign file set aside, the layout version,
// two instances on one file, and the store-first read of the browsing pages.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "base/json_safe.h"
#include "divelog/logbook_browse.h"
#include "divelog/logbook_store.h"
#include "tests/browser/map_script_fake.h"
#include "tests/support/fake_peers.h"

using namespace vorta_divelog;

namespace {

Json::Value J(const char* text) {
    Json::Value v;
    EXPECT_TRUE(json_safe::Parse(text, v)) << text;
    return v;
}

Json::Value Day(std::initializer_list<const char*> ids) {
    Json::Value r(Json::objectValue);
    r["divelogs"] = Json::Value(Json::arrayValue);
    for (const char* id : ids) {
        Json::Value log;
        log["divelog_id"] = id;
        r["divelogs"].append(log);
    }
    return r;
}

Json::Value Log(const char* id) {
    Json::Value r;
    r["divelog"]["divelog_id"] = id;
    r["divelog"]["max_depth"] = "12.5";
    return r;
}

class LogbookStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/logbook-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        path_ = dir_ + "/logbook.sqlite";
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

    std::unique_ptr<LogbookStore> Open(const std::string& user) {
        LogbookStore::Opened o = LogbookStore::Open(path_, user);
        EXPECT_TRUE(o.store) << user;
        EXPECT_EQ(o.set_aside, "");
        return std::move(o.store);
    }
    int64_t Pragma(const char* sql) {
        sqlite3* db = nullptr;
        sqlite3_open_v2(path_.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(db, sql, -1, &s, nullptr);
        const int64_t v = sqlite3_step(s) == SQLITE_ROW ? sqlite3_column_int64(s, 0) : -1;
        sqlite3_finalize(s);
        sqlite3_close(db);
        return v;
    }

    std::string dir_, path_;
};

TEST_F(LogbookStoreTest, AccountsNeverSeeEachOthersAnswers) {
    auto a = Open("user-a");
    auto b = Open("user-b");
    ASSERT_TRUE(a->Put(StoredKind::kMonth, "202403", J(R"({"month_summary": []})"), 100));
    ASSERT_TRUE(a->Put(StoredKind::kDiveLog, "41", Log("41"), 110));
    ASSERT_TRUE(b->Put(StoredKind::kStatistics, "", J(R"({"scuba_mode_count": 3})"), 200));

    EXPECT_TRUE(a->Has(StoredKind::kMonth, "202403"));
    EXPECT_FALSE(b->Has(StoredKind::kMonth, "202403"));
    EXPECT_FALSE(b->Get(StoredKind::kDiveLog, "41"));
    EXPECT_FALSE(a->Get(StoredKind::kStatistics, ""));
    EXPECT_EQ(a->LastRefreshed(), std::optional<int64_t>(110));
    EXPECT_EQ(b->LastRefreshed(), std::optional<int64_t>(200));
    EXPECT_FALSE(Open("user-c")->LastRefreshed());
    // Kept across a reopen, as stored.
    a.reset();
    auto again = Open("user-a");
    const auto log = again->Get(StoredKind::kDiveLog, "41");
    ASSERT_TRUE(log);
    EXPECT_EQ(log->response, Log("41"));
    EXPECT_EQ(log->fetched_at, 110);
}

TEST_F(LogbookStoreTest, FreshListsReplaceTheStoredOnesWhole) {
    struct Case {
        const char* what;
        StoredKind kind;
        const char* key;
        Json::Value fresh;
        std::vector<std::string> days_left;
        std::vector<std::string> logs_left;
    } cases[] = {
        {"a day that lost a dive drops its log",
         StoredKind::kDay,
         "20240305",
         Day({"1"}),
         {"20240305", "20240306", "20240401"},
         {"1", "3", "4"}},
        {"an empty day list drops all its logs",
         StoredKind::kDay,
         "20240305",
         Day({}),
         {"20240305", "20240306", "20240401"},
         {"3", "4"}},
        {"a day with a new dive keeps the others",
         StoredKind::kDay,
         "20240305",
         Day({"1", "2", "9"}),
         {"20240305", "20240306", "20240401"},
         {"1", "2", "3", "4"}},
        {"a month no longer listing a day drops it and its logs",
         StoredKind::kMonth,
         "202403",
         J(R"({"month_summary": [{"year_month_date": "20240306", "scuba_count": 1, "free_count": 0}]})"),
         {"20240306", "20240401"},
         {"3", "4"}},
        {"a day listed with no dives counts as gone",
         StoredKind::kMonth,
         "202403",
         J(R"({"month_summary": [{"year_month_date": "20240305", "scuba_count": 0, "free_count": 0},
                                 {"year_month_date": "20240306", "scuba_count": 0, "free_count": 2}]})"),
         {"20240306", "20240401"},
         {"3", "4"}},
        {"an empty month leaves the other months alone", StoredKind::kMonth, "202403", J(R"({})"), {"20240401"}, {"4"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::remove(path_.c_str());
        auto store = Open("u");
        ASSERT_TRUE(store->Put(StoredKind::kDay, "20240305", Day({"1", "2"}), 1));
        ASSERT_TRUE(store->Put(StoredKind::kDay, "20240306", Day({"3"}), 1));
        ASSERT_TRUE(store->Put(StoredKind::kDay, "20240401", Day({"4"}), 1));
        for (const char* id : {"1", "2", "3", "4"}) ASSERT_TRUE(store->Put(StoredKind::kDiveLog, id, Log(id), 1));
        // Another account's copy of the same ids is not touched.
        auto other = Open("v");
        ASSERT_TRUE(other->Put(StoredKind::kDiveLog, "2", Log("2"), 1));

        ASSERT_TRUE(store->Put(c.kind, c.key, c.fresh, 2));
        EXPECT_EQ(store->Keys(StoredKind::kDay), c.days_left);
        EXPECT_EQ(store->Keys(StoredKind::kDiveLog), c.logs_left);
        EXPECT_TRUE(other->Has(StoredKind::kDiveLog, "2"));
    }
}

// The offline save writes from its own thread while the window reads the
// same store: each call gets its own answer, none a row of the other's.
TEST_F(LogbookStoreTest, ReadsAndWritesFromTwoThreadsEachGetTheirOwnRows) {
    auto store = Open("u");
    for (int i = 0; i < 50; ++i)
        ASSERT_TRUE(
            store->Put(StoredKind::kDiveLog, "r" + std::to_string(i), Log(("r" + std::to_string(i)).c_str()), 1));
    bool writes_ok = true;
    std::thread writer([&] {
        for (int i = 0; i < 200; ++i) {
            const std::string id = "w" + std::to_string(i);
            writes_ok = store->PutAll({{StoredKind::kDay, "2024030" + std::to_string(i % 9 + 1), Day({id.c_str()}), 2},
                                       {StoredKind::kDiveLog, id, Log(id.c_str()), 2}}) &&
                        writes_ok;
        }
    });
    int wrong = 0;
    for (int round = 0; round < 20; ++round) {
        for (int i = 0; i < 50; ++i) {
            const std::string id = "r" + std::to_string(i);
            const std::optional<StoredAnswer> got = store->Get(StoredKind::kDiveLog, id);
            if (!got || json_safe::String(got->response["divelog"], "divelog_id") != id || got->fetched_at != 1)
                ++wrong;
        }
    }
    writer.join();
    EXPECT_TRUE(writes_ok);
    EXPECT_EQ(wrong, 0);
    // Each day list replaced the one before: its month's last nine are left.
    EXPECT_EQ(store->Keys(StoredKind::kDiveLog).size(), 50u + 9u);
}

TEST_F(LogbookStoreTest, AnAccountIsFoundByItsEmailOnlyWithAStoredLogbook) {
    {
        auto with = Open("1001");
        ASSERT_TRUE(with->RememberAccount("Diver@Example.org", "Diver"));
        ASSERT_TRUE(with->Put(StoredKind::kStatistics, "", J("{}"), 1));
        auto without = Open("1002");
        ASSERT_TRUE(without->RememberAccount("empty@example.org", "Nobody"));
    }
    struct Case {
        const char* email;
        const char* user_id;  // "" = none found
    } cases[] = {
        {"diver@example.org", "1001"}, {"DIVER@EXAMPLE.ORG", "1001"},
        {"empty@example.org", ""},  // signed in, but nothing stored
        {"other@example.org", ""},     {"", ""},
    };
    for (const Case& c : cases) {
        const std::optional<StoredAccount> found = FindStoredAccount(path_, c.email);
        EXPECT_EQ(found ? found->user_id : "", c.user_id) << c.email;
        if (found) {
            EXPECT_EQ(found->user_name, "Diver");
        }
    }
    EXPECT_FALSE(FindStoredAccount(dir_ + "/none.sqlite", "diver@example.org"));
    EXPECT_FALSE(std::ifstream(dir_ + "/none.sqlite").good());  // looking makes no file
}

TEST_F(LogbookStoreTest, ANewStoreIsPrivateAndVersioned) {
    auto store = Open("u");
    ASSERT_TRUE(store->Put(StoredKind::kStatistics, "", J("{}"), 1));
    // The file and its write-ahead log and index, all private.
    for (const char* suffix : {"", "-wal", "-shm"}) {
        struct stat st {};
        ASSERT_EQ(stat((path_ + suffix).c_str(), &st), 0) << suffix;
        EXPECT_EQ(st.st_mode & 0777, 0600u) << suffix;
    }
    EXPECT_EQ(Pragma("PRAGMA user_version"), 1);
    EXPECT_EQ(Pragma("PRAGMA application_id"), 0x564C4F47);
}

TEST_F(LogbookStoreTest, AFileThatIsNotThisStoreIsSetAsideAndANewOneStarted) {
    struct Case {
        const char* what;
        const char* sql;  // run on a fresh SQLite file; null: write `bytes`
        std::string bytes;
        bool set_aside;
    } cases[] = {
        {"not a database", nullptr, "this is not a database, just some text\n", true},
        {"a database header with garbage after it", nullptr,
         std::string("SQLite format 3\0", 16) + std::string(4000, 'x'), true},
        {"another program's database", "CREATE TABLE t(x); PRAGMA application_id=1234;", "", true},
        {"a database of no known program", "CREATE TABLE t(x);", "", true},
        {"a newer layout of this store", "PRAGMA application_id=1447841607; PRAGMA user_version=2;", "", true},
        {"an empty file is simply used", nullptr, "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::system(("rm -f '" + dir_ + "'/*").c_str());
        if (c.sql) {
            sqlite3* db = nullptr;
            ASSERT_EQ(sqlite3_open(path_.c_str(), &db), SQLITE_OK);
            ASSERT_EQ(sqlite3_exec(db, c.sql, nullptr, nullptr, nullptr), SQLITE_OK);
            sqlite3_close(db);
        } else {
            std::ofstream(path_, std::ios::binary) << c.bytes;
        }
        std::ifstream before_file(path_, std::ios::binary);
        const std::string before((std::istreambuf_iterator<char>(before_file)), std::istreambuf_iterator<char>());

        LogbookStore::Opened o = LogbookStore::Open(path_, "u");
        ASSERT_TRUE(o.store);
        EXPECT_EQ(!o.set_aside.empty(), c.set_aside);
        // The new store works and the old file is kept as it was.
        EXPECT_TRUE(o.store->Put(StoredKind::kStatistics, "", J(R"({"scuba_mode_count": 1})"), 5));
        EXPECT_EQ(Pragma("PRAGMA user_version"), 1);
        if (c.set_aside) {
            EXPECT_EQ(o.set_aside.rfind(path_ + ".set-aside-", 0), 0u) << o.set_aside;
            std::ifstream kept(o.set_aside, std::ios::binary);
            EXPECT_EQ(std::string((std::istreambuf_iterator<char>(kept)), std::istreambuf_iterator<char>()), before);
        }
        // Reopened, it is this store again: nothing more is set aside.
        o.store.reset();
        EXPECT_TRUE(Open("u")->Has(StoredKind::kStatistics, ""));
    }
}

TEST_F(LogbookStoreTest, TwoInstancesShareOneFile) {
    auto first = Open("u");
    auto second = Open("u");
    for (int i = 0; i < 50; ++i) {
        ASSERT_TRUE(first->Put(StoredKind::kDiveLog, "a" + std::to_string(i), Log("a"), i));
        ASSERT_TRUE(second->Put(StoredKind::kDiveLog, "b" + std::to_string(i), Log("b"), i));
    }
    EXPECT_EQ(first->Keys(StoredKind::kDiveLog).size(), 100u);
    EXPECT_EQ(second->Keys(StoredKind::kDiveLog).size(), 100u);
    EXPECT_EQ(Pragma("SELECT count(*) FROM pragma_integrity_check WHERE integrity_check='ok'"), 1);
}

TEST_F(LogbookStoreTest, StoreFirstReadShowsEachAnswerOnce) {
    const char* const kStored = R"({"month_summary": [{"year_month_date": "20240305", "scuba_count": 1}]})";
    const char* const kChanged = R"({"month_summary": [{"year_month_date": "20240306", "scuba_count": 1}]})";
    const std::string same = std::string(R"({"code": "0000000", "response": )") + kStored + "}";
    const std::string changed = std::string(R"({"code": "0000000", "response": )") + kChanged + "}";
    struct Case {
        const char* what;
        bool have_stored;
        bool connects;
        std::string reply;
        std::vector<std::string> shown;  // in order
        bool offline;
        const char* message_key;
        int64_t stored_time;  // fetch time of what is stored afterwards; 0: nothing
    } cases[] = {
        {"same answer: drawn once, refreshed", true, true, same, {kStored}, false, "", 20},
        {"a different answer replaces it", true, true, changed, {kStored, kChanged}, false, "", 20},
        {"nothing stored: the answer, stored", false, true, changed, {kChanged}, false, "", 20},
        {"no answer keeps the stored copy: offline", true, true, "", {kStored}, true, "HOST_NOT_CONN", 10},
        {"no connection at all: offline", true, false, "", {kStored}, true, "", 10},
        {"an answer that is not JSON is reported, not offline",
         true,
         true,
         "<html>",
         {kStored},
         false,
         "HOST_NOT_CONN",
         10},
        {"a refused request is reported, not offline",
         true,
         true,
         R"({"code": "0000001"})",
         {kStored},
         false,
         "DATA_ERROR",
         10},
        {"nothing stored, no answer: nothing shown", false, true, "", {}, false, "HOST_NOT_CONN", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::remove(path_.c_str());
        auto store = Open("u");
        if (c.have_stored) store->Put(StoredKind::kMonth, "202403", J(kStored), 10);
        vorta_test::FakeCloud cloud;
        cloud.connect_result = c.connects;
        cloud.default_answer = c.reply;
        std::vector<Json::Value> shown;
        const StoreFirstRead read = ReadStoreFirst(
            store.get(), StoredKind::kMonth, "202403", cloud, "api/v1/divelogs/calendar/month?year_month=202403",
            [&](const Json::Value& v) {
                shown.push_back(v);
                return true;
            },
            20);
        std::vector<Json::Value> expected;
        for (const std::string& text : c.shown) expected.push_back(J(text.c_str()));
        EXPECT_EQ(shown, expected);
        EXPECT_EQ(read.offline(), c.offline);
        EXPECT_EQ(read.answer.message_key, c.message_key);
        const auto after = store->Get(StoredKind::kMonth, "202403");
        EXPECT_EQ(after ? after->fetched_at : 0, c.stored_time);
    }
}

TEST_F(LogbookStoreTest, ViewKeepsAnswersWithoutADiveLogOut) {
    auto store = Open("u");
    ASSERT_TRUE(store->Put(StoredKind::kDiveLog, "8", Log("8"), 10));
    const std::string same =
        R"({"code": "0000000", "response": {"divelog": {"divelog_id": "8", "max_depth": "12.5"}}})";
    const std::string empty = R"({"code": "0000000", "response": {}})";
    struct Case {
        const char* what;
        const char* id;
        std::string reply;
        bool ready;  // the page takes calls at once
        int draws;   // setDiveChart calls
        const char* message_key;
        bool stored;
    } cases[] = {
        {"stored, same answer: one draw", "8", same, true, 1, "", true},
        {"stored but the page was loading: the same answer is drawn again", "8", same, false, 2, "", true},
        {"nothing stored, no dive log in the answer", "9", empty, true, 0, "DATA_ERROR", false},
        {"stored, the answer lacks the dive log: stored copy stays", "8", empty, true, 1, "DATA_ERROR", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        vorta_test::FakeCloud cloud;
        cloud.default_answer = c.reply;
        browser_test::RecordingMapScript page;
        // A loading page is ready once the first call has gone.
        const StoreFirstRead read = ViewDiveLogStoreFirst(
            store.get(), cloud, c.id, 0, [](const std::string& k) { return k; }, page,
            [&] { return c.ready || !page.calls.empty(); }, 30);
        const std::vector<std::string> f = page.Functions();
        EXPECT_EQ(std::count(f.begin(), f.end(), "setDiveChart"), c.draws);
        EXPECT_EQ(read.answer.message_key, c.message_key);
        EXPECT_EQ(store->Has(StoredKind::kDiveLog, c.id), c.stored);
    }
}

TEST(LogbookText, OfflineLineNamesTheLastRefresh) {
    setenv("TZ", "UTC", 1);
    tzset();
    auto lang = [](const std::string& key) {
        return key == "LOGBOOK_OFFLINE" ? std::string("Offline, last refreshed %s.") : std::string();
    };
    EXPECT_EQ(OfflineLine(1709640000, lang), "Offline, last refreshed 2024-03-05 12:00.");
    EXPECT_EQ(MonthKey(2024, 3), "202403");
    EXPECT_EQ(DayKey(2024, 3, 5), "20240305");
}

TEST(LogbookText, StoreFolderFollowsXdgDataHome) {
    char tmpl[] = "/tmp/logbook-xdg-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string base = std::string(tmpl) + "/deeper/share";
    setenv("XDG_DATA_HOME", base.c_str(), 1);
    EXPECT_EQ(LogbookStorePath(), base + "/VORTA PC TOOL/logbook.sqlite");
    struct stat st {};
    ASSERT_EQ(stat((base + "/VORTA PC TOOL").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    unsetenv("XDG_DATA_HOME");
    std::system(("rm -rf '" + std::string(tmpl) + "'").c_str());
}

}  // namespace

TEST_F(LogbookStoreTest, AWriteOfSeveralAnswersStoresEachAsItsOwnWriteWould) {
    auto store = Open("u");
    ASSERT_TRUE(store->Put(StoredKind::kDay, "20240305", Day({"1", "2"}), 1));
    ASSERT_TRUE(store->Put(StoredKind::kDay, "20240306", Day({"3"}), 1));
    for (const char* id : {"1", "2", "3"}) ASSERT_TRUE(store->Put(StoredKind::kDiveLog, id, Log(id), 1));

    // In order: the day list drops dive 2, its new dive 9 is stored after
    // it, an answer without a dive log is left out, and the month no longer
    // listing the 6th drops that day and dive 3.
    EXPECT_TRUE(store->PutAll({
        {StoredKind::kDay, "20240305", Day({"1", "9"}), 5},
        {StoredKind::kDiveLog, "9", Log("9"), 5},
        {StoredKind::kDiveLog, "8", J(R"({"divelog": null})"), 5},
        {StoredKind::kMonth, "202403", J(R"({"month_summary": [{"year_month_date": "20240305", "scuba_count": 2}]})"),
         6},
    }));
    EXPECT_EQ(store->Keys(StoredKind::kDay), (std::vector<std::string>{"20240305"}));
    EXPECT_EQ(store->Keys(StoredKind::kDiveLog), (std::vector<std::string>{"1", "9"}));
    EXPECT_EQ(store->Keys(StoredKind::kMonth), (std::vector<std::string>{"202403"}));
    EXPECT_EQ(store->LastRefreshed(), std::optional<int64_t>(6));
    EXPECT_TRUE(store->PutAll({}));
}

TEST_F(LogbookStoreTest, OnlyAPlainSuccessWithADiveLogIsJudgedWithoutReadingItsValues) {
    auto store = Open("u");
    const std::string ok =
        R"({"code": "0000000", "message": "ok", "response": {"divelog": {"divelog_id": "7", "x": [1, 2.50]}}})";
    const struct {
        std::string reply;
        std::optional<std::string> response;
    } kCases[] = {
        {ok, std::string(R"({"divelog":{"divelog_id":"7","x":[1,2.50]}})")},
        {R"({"code": "1000001", "response": {"divelog": {}}})", std::nullopt},
        {R"({"code": 0, "response": {"divelog": {}}})", std::nullopt},
        {R"({"code": "0000000", "response": {"divelog": null}})", std::nullopt},
        {R"({"code": "0000000", "response": {}})", std::nullopt},
        {R"({"code": "0000000"})", std::nullopt},
        {ok.substr(0, ok.size() - 1), std::nullopt},  // cut short
        {"", std::nullopt},
        {"[1, 2]", std::nullopt},
    };
    for (const auto& c : kCases) EXPECT_EQ(store->DiveLogResponseOf(c.reply), c.response) << c.reply;

    // Stored from the judged text alone, it reads back as the dive log.
    LogbookStore::Write judged{StoredKind::kDiveLog, "7", Json::Value(), 3, *store->DiveLogResponseOf(ok), true};
    ASSERT_TRUE(store->PutAll({judged}));
    const std::optional<StoredAnswer> back = store->Get(StoredKind::kDiveLog, "7");
    ASSERT_TRUE(back);
    EXPECT_EQ(back->response["divelog"]["x"][1].asDouble(), 2.5);
}
