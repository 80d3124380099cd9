// Exporting a span of months against a scripted cloud: which months and
// dives are read, the file's dives in date order, an offline session from the
// store alone, and no file after a Cancel, a failure or an empty span.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <map>
#include <sstream>

#include "divelog/export_logbook.h"
#include "tests/divelog/logbook_cloud.h"
#include "tests/support/fake_peers.h"

using namespace vorta_divelog;
using Status = LogbookExportResult::Status;

namespace {

const std::string kMonth = "api/v1/divelogs/calendar/month?year_month=", kLog = "api/v1/divelogs/divelog/";

// 2024-03-05: dives a (10 m) and b (20 m, earlier that day), both at site
// p1, a with a sample; 2024-01-20:
// dive c (30 m); 2022-02-14, after two years without dives: dive d (40 m).
class LogbookCloud : public vorta_test::ScriptedLogbookCloud {
public:
    LogbookCloud()
        : ScriptedLogbookCloud({
              {kMonth + "202403", R"({"month_summary": [{"year_month_date": "20240305", "scuba_count": 2}]})"},
              {kMonth + "202401", R"({"month_summary": [{"year_month_date": "20240120", "free_count": 1}]})"},
              {kMonth + "202202", R"({"month_summary": [{"year_month_date": "20220214", "scuba_count": 1}]})"},
              {"api/v1/divelogs/calendar/date?year_month_date=20240305",
               R"({"divelogs": [{"divelog_id": "a"}, {"divelog_id": "b"}]})"},
              {"api/v1/divelogs/calendar/date?year_month_date=20240120", R"({"divelogs": [{"divelog_id": "c"}]})"},
              {"api/v1/divelogs/calendar/date?year_month_date=20220214", R"({"divelogs": [{"divelog_id": "d"}]})"},
              {kLog + "a", R"({"divelog": {"dive_datetime": 1709640000, "max_depth": "10", "dive_type": "scuba",)"
                           R"("poi": {"poi_id": "p1"}, "dive_profiles": [{"profile_time": 0, "pressure": "1013"}]}})"},
              {kLog + "b", R"({"divelog": {"dive_datetime": 1709600000, "max_depth": "20", "dive_type": "scuba",)"
                           R"("poi": {"poi_id": "p1", "poi_name": "Reef", "gps_location": {"latitude": 25.5,)"
                           R"("longitude": 121.25}}}})"},
              {kLog + "c", R"({"divelog": {"dive_datetime": 1705750000, "max_depth": "30", "dive_type": "free"}})"},
              {kLog + "d", R"({"divelog": {"dive_datetime": 1644840000, "max_depth": "40", "dive_type": "scuba"}})"},
          }) {}
};

class ExportLogbookTest : public vorta_test::LogbookStoreTest {
protected:
    void SetUp() override {
        LogbookStoreTest::SetUp();
        target_.path = dir_ + "/out.uddf";
        target_.lang = [](const std::string& key) { return key; };
        sink_ = vorta_test::FakeSink();
    }
    LogbookExportResult Export(HttpPost* cloud, ExportMonths months) {
        return ExportLogbook(*store_, cloud, sink_, months, target_, [] { return int64_t(77); });
    }
    // The greatest depths of the file's dives, in file order.
    std::vector<std::string> Depths() {
        std::ifstream in(target_.path);
        std::stringstream s;
        s << in.rdbuf();
        const std::string uddf = s.str();
        std::vector<std::string> out;
        for (size_t at = uddf.find("<greatestdepth>"); at != std::string::npos;
             at = uddf.find("<greatestdepth>", at + 1))
            out.push_back(uddf.substr(at + 15, uddf.find('<', at + 15) - at - 15));
        return out;
    }
    std::string FileText() {
        std::ifstream in(target_.path);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    bool FileExists() {
        struct stat st;
        return stat(target_.path.c_str(), &st) == 0;
    }

    ExportTarget target_;
    vorta_test::FakeSink sink_;
};

TEST(ExportMonthsOfTest, ScopesBecomeSpansOfMonths) {
    struct Case {
        const char *scope, *from, *to;
        bool ok;
        int first, last;
    } cases[] = {
        {"month", "", "", true, 202403, 202403},
        {"all", "", "", true, 0, 202403},
        {"range", "2024-02", "2023-11", true, 202311, 202402},  // either order
        {"range", "2023-11", "2025-06", true, 202311, 202403},  // not past this month
        {"range", "2025-01", "2025-06", false, 0, 0},           // only months to come
        {"range", "2023-13", "2024-02", false, 0, 0},
        {"range", "2023-01x", "2024-02", false, 0, 0},
        {"dive", "", "", false, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.scope) + " " + c.from + " " + c.to);
        ExportMonths months;
        ASSERT_EQ(ExportMonthsOf(c.scope, 202403, c.from, c.to, months), c.ok);
        if (!c.ok) continue;
        EXPECT_EQ(std::make_pair(months.first, months.last), std::make_pair(c.first, c.last));
    }
}

TEST_F(ExportLogbookTest, ASpanFetchesItsMonthsAndWritesTheirDivesOldestFirst) {
    struct Case {
        const char* what;
        ExportMonths months;
        std::vector<std::string> depths;
        size_t logs_fetched;
    } cases[] = {
        {"one month", {202403, 202403}, {"20", "10"}, 2},
        {"a range with a gap of two years", {202201, 202403}, {"40", "30", "20", "10"}, 4},
        {"a range without dives", {202306, 202311}, {}, 0},
        // The logbook ends where a year passes without dives, as the offline
        // save's walk has it.
        {"the whole logbook", {0, 202403}, {"30", "20", "10"}, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        LogbookCloud cloud;
        const LogbookExportResult r = Export(&cloud, c.months);
        EXPECT_EQ(r.status, c.depths.empty() ? Status::kNoDives : Status::kDone);
        EXPECT_EQ(r.dives, static_cast<int>(c.depths.size()));
        EXPECT_EQ(Depths(), c.depths);
        EXPECT_EQ(FileExists(), !c.depths.empty());
        size_t logs = 0;
        for (const std::string& p : cloud.requested) {
            logs += p.rfind(kLog, 0) == 0;
            // Nothing before the span is asked for.
            EXPECT_TRUE(p.rfind(kMonth, 0) != 0 || std::stoi(p.substr(kMonth.size())) >= c.months.first) << p;
        }
        EXPECT_EQ(logs, c.logs_fetched);
        EXPECT_EQ(sink_.With("status:").front(), "EXPORT_MONTHS");
        EXPECT_EQ(sink_.With("status:").back(), "EXPORT_WRITING");
    }
}

TEST_F(ExportLogbookTest, OfflineTheStoreAloneIsExported) {
    EXPECT_EQ(Export(nullptr, {0, 202403}).status, Status::kNoDives);
    EXPECT_FALSE(FileExists());
    LogbookCloud cloud;
    ASSERT_EQ(Export(&cloud, {202403, 202403}).status, Status::kDone);
    const std::string fetched = FileText();
    ASSERT_EQ(std::remove(target_.path.c_str()), 0);
    // March is stored: offline, the whole logbook is March, the same file as
    // the one made from the dive logs as they were fetched (their site, their
    // order and a's waypoint included).
    EXPECT_EQ(Export(nullptr, {0, 202403}).dives, 2);
    EXPECT_EQ(Depths(), (std::vector<std::string>{"20", "10"}));
    EXPECT_EQ(FileText(), fetched);
    for (const char* part :
         {"<latitude>25.5</latitude>", "<divesite><site id=\"site1\"><name>Reef</name>", "<waypoint>"})
        EXPECT_NE(fetched.find(part), std::string::npos) << part;
    // Online again, nothing stored is asked for twice.
    LogbookCloud again;
    EXPECT_EQ(Export(&again, {202403, 202403}).requests, 0);
}

TEST_F(ExportLogbookTest, ACancelledOrFailedExportLeavesNoFile) {
    struct Case {
        const char *what, *broken, *file;
        bool cancel;
        Status status;
        const char* message_key;
        const char* refused = "";
    } cases[] = {
        {"Cancel between two dives", "", "out.uddf", true, Status::kCancelled, ""},
        {"the cloud gone at a dive", "api/v1/divelogs/divelog/b", "out.uddf", false, Status::kFailed, "HOST_NOT_CONN"},
        {"a file that cannot be written", "", "no-such-folder/out.csv", false, Status::kFailed, "EXPORT_NOT_SAVED"},
        // Judged while later requests may already be on the wire.
        {"the cloud refuses a dive", "", "out.uddf", false, Status::kFailed, "DATA_ERROR", "api/v1/divelogs/divelog/a"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        LogbookCloud cloud;
        cloud.broken.insert(c.broken);
        if (*c.refused) cloud.refused.insert(c.refused);
        if (c.cancel) cloud.before_answer = [&] { sink_.cancel = cloud.requested.size() >= 3; };
        target_.path = dir_ + "/" + c.file;
        const LogbookExportResult r = Export(&cloud, {202401, 202403});
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.message_key, c.message_key);
        EXPECT_FALSE(FileExists());
    }
}

}  // namespace
