// "Save logbook for offline use" against a scripted cloud: what it fetches,
// where the walk back through the months stops, Cancel and failures half-way,
// and a second run that fetches only what is missing.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "base/json_safe.h"
#include "divelog/offline_save.h"
#include "tests/divelog/logbook_cloud.h"
#include "tests/support/fake_peers.h"

using namespace vorta_divelog;

namespace {

// 2024-03-05 has dives a and b, 2024-01-20 has dive c; every other month is
// empty.
class LogbookCloud : public vorta_test::ScriptedLogbookCloud {
public:
    LogbookCloud()
        : ScriptedLogbookCloud({
              {std::string(kMonthPath) + "202403",
               R"({"month_summary": [{"year_month_date": "20240305", "scuba_count": 2}]})"},
              {std::string(kMonthPath) + "202401",
               R"({"month_summary": [{"year_month_date": "20240120", "free_count": 1}]})"},
              {"api/v1/divelogs/calendar/date?year_month_date=20240305",
               R"({"divelogs": [{"divelog_id": "a"}, {"divelog_id": "b"}]})"},
              {"api/v1/divelogs/calendar/date?year_month_date=20240120", R"({"divelogs": [{"divelog_id": "c"}]})"},
              {"api/v1/divelogs/divelog/a", R"({"divelog": {"divelog_id": "a"}})"},
              {"api/v1/divelogs/divelog/b", R"({"divelog": {"divelog_id": "b"}})"},
              {"api/v1/divelogs/divelog/c", R"({"divelog": {"divelog_id": "c"}})"},
          }) {}
};

class OfflineSaveTest : public vorta_test::LogbookStoreTest {
protected:
    OfflineSaveResult Save(LogbookCloud& cloud, vorta_test::FakeSink& sink) {
        return SaveLogbookForOffline(*store_, cloud, sink, 2024, 3, [] { return int64_t(77); });
    }
};

// Every month from March 2024 back to the twelfth empty month in a row
// before January 2024, then the two dive days and their three dives.
const size_t kMonthsWalked = 3 + kEmptyMonthsToStop;

TEST_F(OfflineSaveTest, AWholeRunStoresEveryMonthDayAndDive) {
    LogbookCloud cloud;
    vorta_test::FakeSink sink;
    const OfflineSaveResult r = Save(cloud, sink);
    EXPECT_EQ(r.status, OfflineSaveResult::Status::kDone);
    EXPECT_EQ(r.requests, static_cast<int>(kMonthsWalked + 2 + 3));
    EXPECT_EQ(cloud.requested.size(), kMonthsWalked + 5);
    EXPECT_EQ(cloud.requested.back(), "api/v1/divelogs/divelog/c");
    EXPECT_EQ(cloud.requested[kMonthsWalked - 1], "api/v1/divelogs/calendar/month?year_month=202301");
    EXPECT_EQ(store_->Keys(StoredKind::kDiveLog), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(store_->Keys(StoredKind::kDay), (std::vector<std::string>{"20240120", "20240305"}));
    // A dive log reads back whole: its answer's "response" and nothing else.
    const std::optional<StoredAnswer> b = store_->Get(StoredKind::kDiveLog, "b");
    ASSERT_TRUE(b);
    EXPECT_EQ(b->response.getMemberNames(), std::vector<std::string>{"divelog"});
    EXPECT_EQ(json_safe::String(json_safe::Member(b->response, "divelog"), "divelog_id"), "b");
    EXPECT_EQ(sink.With("status:"), (std::vector<std::string>{"OFFLINE_SAVE_MONTHS", "OFFLINE_SAVE_DIVES"}));
    EXPECT_EQ(sink.With("counters:").back(), "2/2 3/3");
    EXPECT_EQ(sink.With("progress:").back(), "100");

    // Everything stored: a second run asks the cloud nothing.
    LogbookCloud again;
    EXPECT_EQ(Save(again, sink).requests, 0);
    EXPECT_TRUE(again.requested.empty());
}

TEST_F(OfflineSaveTest, AStoppedRunIsResumedFetchingOnlyWhatIsMissing) {
    struct Case {
        const char* what;
        size_t stop_after;   // requests answered before Cancel / the failing path
        const char* broken;  // "" = Cancel instead
        OfflineSaveResult::Status status;
        const char* message_key;
        bool refused = false;  // `broken` answers a refusal instead of nothing
    } cases[] = {
        {"Cancel during the months", 4, "", OfflineSaveResult::Status::kCancelled, ""},
        // Dive a's answer is still being stored when the walk stops.
        {"Cancel between two dives", kMonthsWalked + 2, "", OfflineSaveResult::Status::kCancelled, ""},
        {"Cancel after a month's last dive", kMonthsWalked + 3, "", OfflineSaveResult::Status::kCancelled, ""},
        {"the cloud gone at a dive", 0, "api/v1/divelogs/divelog/b", OfflineSaveResult::Status::kFailed,
         "HOST_NOT_CONN"},
        {"the cloud refuses a dive", 0, "api/v1/divelogs/divelog/b", OfflineSaveResult::Status::kFailed, "DATA_ERROR",
         true},
        {"the cloud refuses the last dive", 0, "api/v1/divelogs/divelog/c", OfflineSaveResult::Status::kFailed,
         "DATA_ERROR", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        LogbookCloud first;
        vorta_test::FakeSink sink;
        if (*c.broken) (c.refused ? first.refused : first.broken).insert(c.broken);
        else first.before_answer = [&] { sink.cancel = first.requested.size() >= c.stop_after; };
        const OfflineSaveResult stopped = Save(first, sink);
        EXPECT_EQ(stopped.status, c.status);
        EXPECT_EQ(stopped.message_key, c.message_key);
        EXPECT_EQ(stopped.requests, static_cast<int>(first.requested.size()));

        LogbookCloud second;
        vorta_test::FakeSink sink2;
        EXPECT_EQ(Save(second, sink2).status, OfflineSaveResult::Status::kDone);
        EXPECT_EQ(store_->Keys(StoredKind::kDiveLog), (std::vector<std::string>{"a", "b", "c"}));
        // Nothing answered in the first run is asked for again, and the two
        // runs together ask for each thing once (a failed request again).
        std::multiset<std::string> all(second.requested.begin(), second.requested.end());
        for (const std::string& p : first.requested)
            if (!first.broken.count(p) && !first.refused.count(p)) all.insert(p);
        EXPECT_EQ(all.size(), kMonthsWalked + 5);
        EXPECT_EQ(std::set<std::string>(all.begin(), all.end()).size(), all.size());
    }
}

}  // namespace

namespace {

Json::Value Parsed(const std::string& text) {
    Json::Value v;
    EXPECT_TRUE(json_safe::Parse(text, v));
    return v;
}

}  // namespace

TEST_F(OfflineSaveTest, AfterASyncEveryStoredMonthIsAskedForAgain) {
    const std::string month = "api/v1/divelogs/calendar/month?year_month=";
    const std::string day = "api/v1/divelogs/calendar/date?year_month_date=";
    struct Case {
        const char* what;
        int this_month;
        const char* skip;
        const char* broken;
        std::vector<std::string> requested;
        int refreshed;
        std::vector<std::string> march_5th;  // the stored day list's dives after it
    } cases[] = {
        {"a changed day is read again, an unchanged one not",
         3,
         "",
         "",
         {month + "202401", month + "202402", month + "202403", day + "20240305"},
         3,
         {"a", "b"}},
        {"this month is asked for too",
         4,
         "",
         "",
         {month + "202401", month + "202402", month + "202403", day + "20240305", month + "202404"},
         4,
         {"a", "b"}},
        {"a day list that fails leaves its month as stored",
         3,
         "",
         "api/v1/divelogs/calendar/date?year_month_date=20240305",
         {month + "202401", month + "202402", month + "202403", day + "20240305"},
         2,
         {"a"}},
        {"the month the calendar reloads is left to it",
         3,
         "202403",
         "",
         {month + "202401", month + "202402"},
         2,
         {"a"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        // Stored before the sync: March with one dive on the 5th, February
        // with dive x on the 10th, January as the cloud still has it.
        ASSERT_TRUE(store_->PutAll({
            {StoredKind::kMonth, "202403",
             Parsed(R"({"month_summary": [{"year_month_date": "20240305", "scuba_count": 1}]})"), 1},
            {StoredKind::kDay, "20240305", Parsed(R"({"divelogs": [{"divelog_id": "a"}]})"), 1},
            {StoredKind::kMonth, "202402",
             Parsed(R"({"month_summary": [{"year_month_date": "20240210", "scuba_count": 1}]})"), 1},
            {StoredKind::kDay, "20240210", Parsed(R"({"divelogs": [{"divelog_id": "x"}]})"), 1},
            {StoredKind::kDiveLog, "x", Parsed(R"({"divelog": {"divelog_id": "x"}})"), 1},
            {StoredKind::kMonth, "202401",
             Parsed(R"({"month_summary": [{"year_month_date": "20240120", "free_count": 1}]})"), 1},
            {StoredKind::kDay, "20240120", Parsed(R"({"divelogs": [{"divelog_id": "c"}]})"), 1},
        }));
        LogbookCloud cloud;
        if (*c.broken) cloud.broken.insert(c.broken);
        EXPECT_EQ(RefreshStoredMonths(*store_, cloud, 2024, c.this_month, 9, c.skip), c.refreshed);
        EXPECT_EQ(cloud.requested, c.requested);
        // February's dive is gone from the cloud, and from the store.
        EXPECT_EQ(store_->Keys(StoredKind::kDay), (std::vector<std::string>{"20240120", "20240305"}));
        EXPECT_FALSE(store_->Has(StoredKind::kDiveLog, "x"));
        EXPECT_EQ(DayListIds(store_->Get(StoredKind::kDay, "20240305")->response), c.march_5th);
    }
}
