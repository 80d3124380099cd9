// Exporting a span of months against a scripted cloud: which months and
// dives are read, the file's dives in date order, an offline session from the
// store alone, and no file after a Cancel, a failure or an empty span.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <map>
#include <sstream>

#include "divelog/export_logbook.h"
#include "tests/support/fake_peers.h"

using namespace vorta_divelog;

namespace {

const std::string kOk = R"({"code": "0000000", "response": )";
const std::string kMonth = "api/v1/divelogs/calendar/month?year_month=";
const std::string kDay = "api/v1/divelogs/calendar/date?year_month_date=";
const std::string kLog = "api/v1/divelogs/divelog/";

// 2024-03-05: dives a (10 m, 12:00 UTC) and b (20 m, earlier that day);
// 2024-01-20: dive c (30 m); 2022-02-14, more than a year before: dive d
// (40 m). Every other month is empty. Paths in `broken` get no answer.
class LogbookCloud : public HttpPost {
public:
    LogbookCloud() : HttpPost(HttpOptions()) {}
    bool connect(const std::string&, int) override { return true; }
    std::string request(const void*, uint32_t, int, const std::string&, const std::string& path,
                        const std::string&) override {
        requested.push_back(path);
        if (before_answer) before_answer();
        if (broken.count(path)) return "";
        static const std::map<std::string, std::string> kAnswers = {
            {kMonth + "202403", R"({"month_summary": [{"year_month_date": "20240305", "scuba_count": 2}]})"},
            {kMonth + "202401", R"({"month_summary": [{"year_month_date": "20240120", "free_count": 1}]})"},
            {kMonth + "202202", R"({"month_summary": [{"year_month_date": "20220214", "scuba_count": 1}]})"},
            {kDay + "20240305", R"({"divelogs": [{"divelog_id": "a"}, {"divelog_id": "b"}]})"},
            {kDay + "20240120", R"({"divelogs": [{"divelog_id": "c"}]})"},
            {kDay + "20220214", R"({"divelogs": [{"divelog_id": "d"}]})"},
            {kLog + "a", R"({"divelog": {"dive_datetime": 1709640000, "max_depth": "10", "dive_type": "scuba"}})"},
            {kLog + "b", R"({"divelog": {"dive_datetime": 1709600000, "max_depth": "20", "dive_type": "scuba"}})"},
            {kLog + "c", R"({"divelog": {"dive_datetime": 1705750000, "max_depth": "30", "dive_type": "free"}})"},
            {kLog + "d", R"({"divelog": {"dive_datetime": 1644840000, "max_depth": "40", "dive_type": "scuba"}})"},
        };
        const auto found = kAnswers.find(path);
        if (found != kAnswers.end()) return kOk + found->second + "}";
        if (path.rfind(kMonth, 0) == 0) return kOk + R"({"month_summary": []})" + "}";
        return "";
    }
    std::vector<std::string> requested;
    std::set<std::string> broken;
    std::function<void()> before_answer;
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The greatest depths of the document's dives, in document order.
std::vector<std::string> Depths(const std::string& uddf) {
    std::vector<std::string> out;
    const std::string open = "<greatestdepth>";
    for (size_t at = uddf.find(open); at != std::string::npos; at = uddf.find(open, at + 1)) {
        const size_t from = at + open.size();
        out.push_back(uddf.substr(from, uddf.find('<', from) - from));
    }
    return out;
}

class ExportLogbookTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/export-logbook-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        store_ = LogbookStore::Open(dir_ + "/logbook.sqlite", "1001").store;
        ASSERT_TRUE(store_);
        target_.path = dir_ + "/out.uddf";
        target_.lang = [](const std::string& key) { return key; };
        target_.generator = {"VORTA PC TOOL", "1.0"};
    }
    void TearDown() override {
        store_.reset();
        std::system(("rm -rf '" + dir_ + "'").c_str());
    }
    LogbookExportResult Export(HttpPost* cloud, vorta_test::FakeSink& sink, ExportMonths months) {
        return ExportLogbook(*store_, cloud, sink, months, target_, [] { return int64_t(77); });
    }
    bool FileExists() {
        struct stat st;
        return stat(target_.path.c_str(), &st) == 0;
    }

    std::string dir_;
    std::unique_ptr<LogbookStore> store_;
    ExportTarget target_;
};

TEST(ExportMonthsOfTest, ScopesBecomeSpansOfMonths) {
    struct Case {
        const char *scope, *from, *to;
        bool ok;
        int first, last;
    } cases[] = {
        {"month", "", "", true, 202403, 202403},
        {"all", "", "", true, 0, 202403},
        {"range", "2023-11", "2024-02", true, 202311, 202402},
        {"range", "2024-02", "2023-11", true, 202311, 202402},  // either order
        {"range", "2023-11", "2025-06", true, 202311, 202403},  // not past this month
        {"range", "2025-01", "2025-06", false, 0, 0},           // only months to come
        {"range", "2023-13", "2024-02", false, 0, 0},
        {"range", "2023-1", "2024-02", false, 0, 0},
        {"range", "2023-01x", "2024-02", false, 0, 0},
        {"range", "", "2024-02", false, 0, 0},
        {"dive", "", "", false, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.scope) + " " + c.from + " " + c.to);
        ExportMonths months;
        ASSERT_EQ(ExportMonthsOf(c.scope, 202403, c.from, c.to, months), c.ok);
        if (!c.ok) continue;
        EXPECT_EQ(months.first, c.first);
        EXPECT_EQ(months.last, c.last);
    }
}

TEST_F(ExportLogbookTest, ASpanFetchesItsMonthsAndWritesTheirDivesOldestFirst) {
    struct Case {
        const char* what;
        ExportMonths months;
        std::vector<std::string> depths;
        std::vector<std::string> logs_fetched;
    } cases[] = {
        {"one month", {202403, 202403}, {"20", "10"}, {"a", "b"}},
        {"a range with a gap of two years", {202201, 202403}, {"40", "30", "20", "10"}, {"a", "b", "c", "d"}},
        {"a range without dives", {202306, 202311}, {}, {}},
        // The logbook ends where a year passes without dives, as the
        // offline save's walk has it.
        {"the whole logbook", {0, 202403}, {"30", "20", "10"}, {"a", "b", "c"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        LogbookCloud cloud;
        vorta_test::FakeSink sink;
        const LogbookExportResult r = Export(&cloud, sink, c.months);
        EXPECT_EQ(r.status,
                  c.depths.empty() ? LogbookExportResult::Status::kNoDives : LogbookExportResult::Status::kDone);
        EXPECT_EQ(r.dives, static_cast<int>(c.depths.size()));
        EXPECT_EQ(Depths(ReadFile(target_.path)), c.depths);
        EXPECT_EQ(FileExists(), !c.depths.empty());
        std::vector<std::string> logs;
        for (const std::string& p : cloud.requested)
            if (p.rfind(kLog, 0) == 0) logs.push_back(p.substr(kLog.size()));
        std::sort(logs.begin(), logs.end());
        EXPECT_EQ(logs, c.logs_fetched);
        // Nothing before the span is asked for.
        for (const std::string& p : cloud.requested) {
            if (p.rfind(kMonth, 0) == 0 && c.months.first) {
                EXPECT_GE(std::stoi(p.substr(kMonth.size())), c.months.first);
            }
        }
        EXPECT_EQ(sink.With("status:").front(), "EXPORT_MONTHS");
        EXPECT_EQ(sink.With("status:").back(), "EXPORT_WRITING");
    }
}

TEST_F(ExportLogbookTest, OfflineTheStoreAloneIsExported) {
    vorta_test::FakeSink sink;
    EXPECT_EQ(Export(nullptr, sink, {0, 202403}).status, LogbookExportResult::Status::kNoDives);
    EXPECT_FALSE(FileExists());

    // March fetched once; offline, the whole logbook is what is stored.
    LogbookCloud cloud;
    ASSERT_EQ(Export(&cloud, sink, {202403, 202403}).status, LogbookExportResult::Status::kDone);
    ASSERT_EQ(std::remove(target_.path.c_str()), 0);
    EXPECT_EQ(Export(nullptr, sink, {0, 202403}).dives, 2);
    EXPECT_EQ(Depths(ReadFile(target_.path)), (std::vector<std::string>{"20", "10"}));

    // Everything stored: a second online export asks the cloud nothing.
    LogbookCloud again;
    EXPECT_EQ(Export(&again, sink, {202403, 202403}).requests, 0);
}

TEST_F(ExportLogbookTest, ACancelledOrFailedExportLeavesNoFile) {
    struct Case {
        const char* what;
        size_t cancel_after;  // 0: not cancelled
        const char* broken;
        LogbookExportResult::Status status;
        const char* message_key;
    } cases[] = {
        {"Cancel while reading the months", 1, "", LogbookExportResult::Status::kCancelled, ""},
        {"Cancel between two dives", 3, "", LogbookExportResult::Status::kCancelled, ""},
        {"the cloud gone at a dive", 0, "api/v1/divelogs/divelog/b", LogbookExportResult::Status::kFailed,
         "HOST_NOT_CONN"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        LogbookCloud cloud;
        vorta_test::FakeSink sink;
        if (*c.broken) cloud.broken.insert(c.broken);
        if (c.cancel_after) cloud.before_answer = [&] { sink.cancel = cloud.requested.size() >= c.cancel_after; };
        const LogbookExportResult r = Export(&cloud, sink, {202401, 202403});
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.message_key, c.message_key);
        EXPECT_FALSE(FileExists());
    }
    // A file that cannot be written is a failure too.
    target_.path = dir_ + "/no-such-folder/out.csv";
    LogbookCloud cloud;
    vorta_test::FakeSink sink;
    const LogbookExportResult r = Export(&cloud, sink, {202403, 202403});
    EXPECT_EQ(r.status, LogbookExportResult::Status::kFailed);
    EXPECT_EQ(r.message_key, "EXPORT_NOT_SAVED");
}

}  // namespace
