// "Export..." of the dive shown on the detail panel, in the real program
// against the cloud emulator: the save dialog, a UDDF file that validates
// against the format's schema and holds the emulator's dive, a CSV file with
// its row, and no file at all after a Cancel or a failed fetch.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <set>
#include <sstream>
#include <vector>

#include "base/json_safe.h"
#include "tests/e2e/e2e_app.h"
#include "tests/support/cloudemu_process.h"
#include "tests/support/skip_or_fail.h"

using vorta_test::CloudEmuProcess;

namespace {

const char* const kFrame = "framepage1";

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> FilesIn(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.') names.push_back(e->d_name);
        closedir(d);
    }
    return names;
}

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// The dive's local start as the detail shows it, "YYYY-MM-DD hh:mm": the
// cloud's UTC seconds less its "timezone" (minutes, UTC minus local).
std::string LocalStart(const Json::Value& dive) {
    const std::time_t local =
        static_cast<std::time_t>(dive["dive_datetime"].asInt64() - dive["timezone"].asInt64() * 60);
    std::tm t{};
    gmtime_r(&local, &t);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &t);
    return text;
}

class ExportE2e : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why = E2eMissing();
        if (!why.empty()) VORTA_SKIP_OR_FAIL(why);
        schema_ = std::string(VORTA_SOURCE_DIR) + "/../shared/uddf/uddf_3.2.3.xsd";
        if (!std::ifstream(schema_) || std::system("xmllint --version >/dev/null 2>&1") != 0)
            VORTA_SKIP_OR_FAIL("no xmllint or no UDDF schema at " + schema_);
        ASSERT_TRUE(emu.Start());
        token_ = emu.DemoToken();
        ASSERT_FALSE(token_.empty());
        app.UseTestbed(emu);
        pdf_ = app.home() + "/dive.pdf";
        // A test can print where nothing can be written.
        const char* name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        if (std::string(name).find("Unwritable") != std::string::npos) pdf_ = app.home() + "/no-such-folder/dive.pdf";
        app.env["VORTA_PRINT_PDF"] = pdf_;
        ASSERT_TRUE(app.Start());
        ASSERT_TRUE(app.SignInDemo());
        dir_ = app.home() + "/exports";
        mkdir(dir_.c_str(), 0700);
    }

    Json::Value Cloud(const std::string& path) {
        const auto reply = emu.Call("GET", path, "", {"Authorization: Bearer " + token_});
        Json::Value root;
        EXPECT_TRUE(json_safe::Parse(reply.body, root)) << path;
        return json_safe::Member(root, "response");
    }
    std::string Text(const std::string& id) { return app.Text("main.htm", id, kFrame); }
    bool Click(const std::string& id) { return app.ClickOn("main.htm", id, kFrame); }
    std::string Detail(const std::string& element) {
        Json::Value r;
        r["cmd"] = "get_text";
        r["page"] = "main.htm";
        r["frames"].append(kFrame);
        r["frames"].append("ie_page");
        r["element"] = element;
        return app.ui().Request(r)["value"].asString();
    }

    // Steps back from this month to the nearest month with dives and views
    // the first dive of its first dive day; its dive log as the emulator
    // serves it.
    Json::Value ViewADive() {
        const std::time_t now = std::time(nullptr);
        std::tm month{};
        localtime_r(&now, &month);
        month.tm_mday = 1;
        month.tm_hour = 12;
        Json::Value days;
        for (int back = 0; back < 12; ++back) {
            if (back > 0) {
                --month.tm_mon;
                EXPECT_TRUE(Click("lastmon"));
            }
            mktime(&month);
            char path[96];
            std::snprintf(path, sizeof path, "/api/v1/divelogs/calendar/month?year_month=%.4d%.2d",
                          month.tm_year + 1900, month.tm_mon + 1);
            days = Cloud(path)["month_summary"];
            month_ = path + std::strlen(path) - 6;
            if (!days.empty()) break;
        }
        if (days.empty()) return Json::Value();
        const std::string date = days[0]["year_month_date"].asString();
        // The grid starts on the Sunday before the 1st (a week before when the 1st is one).
        const int cell = (month.tm_wday == 0 ? 7 : month.tm_wday) + std::stoi(date) % 100 - 1;
        char id[32];
        std::snprintf(id, sizeof id, "date_cell_%.2d", cell);
        EXPECT_TRUE(Click(id));
        const Json::Value logs = Cloud("/api/v1/divelogs/calendar/date?year_month_date=" + date)["divelogs"];
        if (logs.empty()) return Json::Value();
        EXPECT_TRUE(E2eApp::WaitFor([&] { return !Text("cell_tbody").empty(); }, 10000));
        app.ui().SetTargetPage("main.htm");
        EXPECT_TRUE(app.ui().Click("view", kFrame, 0));
        app.ui().SetTargetPage("");
        const Json::Value dive = Cloud("/api/v1/divelogs/divelog/" + logs[0]["divelog_id"].asString())["divelog"];
        const std::string shown = LocalStart(dive);
        EXPECT_TRUE(E2eApp::WaitFor([&] { return Detail("log_date") == shown; }, 10000)) << shown;
        return dive;
    }

    // What a command prints on its standard output.
    static std::string Output(const std::string& command) {
        std::string out;
        if (FILE* p = popen(command.c_str(), "r")) {
            char buf[4096];
            size_t n;
            while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
            pclose(p);
        }
        return out;
    }

    bool Validates(const std::string& file) {
        const std::string command = "xmllint --noout --schema '" + schema_ + "' '" + file + "' 2>/dev/null";
        return std::system(command.c_str()) == 0;
    }

    CloudEmuProcess emu;
    E2eApp app;
    std::string token_, dir_, schema_, pdf_;
    std::string month_;  // YYYYMM of the month ViewADive found
};

}  // namespace

TEST_F(ExportE2e, TheDiveShownGoesToAUddfOrCsvFileAndNothingElseIsWritten) {
    // Nothing shown yet: nothing to export.
    ASSERT_TRUE(E2eApp::WaitFor([&] { return !Text("calendardate").empty(); }, 20000));
    ASSERT_TRUE(Click("export_log"));
    ASSERT_TRUE(E2eApp::WaitFor([&] { return Text("message") == E2eApp::Lang("EXPORT_NO_DIVE"); }, 5000));

    const Json::Value dive = ViewADive();
    ASSERT_TRUE(dive.isObject()) << "the demo account has no dive in the last year";

    // UDDF, the default: a name without extension becomes ".uddf".
    ASSERT_TRUE(Click("export_log"));
    Json::Value dialog;
    ASSERT_TRUE(app.ui().AnswerFileDialog(dir_ + "/dive", &dialog)) << app.ui().last_error();
    EXPECT_TRUE(dialog["save"].asBool());
    EXPECT_EQ(dialog["title"].asString(), E2eApp::Lang("EXPORT_TITLE"));
    EXPECT_EQ(dialog["filters"][0].asString(), "UDDF Files (*.uddf)");
    EXPECT_EQ(dialog["filters"][1].asString(), "CSV Files (*.csv)");
    EXPECT_EQ(dialog["extension"].asString(), "uddf");
    const std::string uddf_path = dir_ + "/dive.uddf";
    ASSERT_TRUE(E2eApp::WaitFor([&] { return ReadFile(uddf_path).find("</uddf>") != std::string::npos; }, 10000));
    EXPECT_TRUE(Validates(uddf_path)) << ReadFile(uddf_path).substr(0, 2000);
    const std::string uddf = ReadFile(uddf_path);
    // One waypoint per sample of the emulator's dive, the diver and its
    // greatest depth in metres as the cloud has it.
    EXPECT_EQ(Count(uddf, "<waypoint>"), dive["dive_profiles"].size());
    EXPECT_EQ(Count(uddf, "<dive id="), 1u);
    EXPECT_NE(uddf.find("<email>demo@vorta.example</email>"), std::string::npos);
    char depth[96];
    std::snprintf(depth, sizeof depth, "<greatestdepth>%g</greatestdepth>", std::stod(dive["max_depth"].asString()));
    EXPECT_NE(uddf.find(depth), std::string::npos) << depth;

    // CSV by its name: a header and the dive's row, starting with its date.
    ASSERT_TRUE(Click("export_log"));
    ASSERT_TRUE(app.ui().AnswerFileDialog(dir_ + "/dive.csv")) << app.ui().last_error();
    const std::string csv_path = dir_ + "/dive.csv";
    ASSERT_TRUE(E2eApp::WaitFor([&] { return Count(ReadFile(csv_path), "\r\n") == 2; }, 10000));
    const std::string csv = ReadFile(csv_path);
    EXPECT_EQ(csv.substr(0, E2eApp::Lang("CSV_DATE").size()), E2eApp::Lang("CSV_DATE"));
    const std::string row = csv.substr(csv.find("\r\n") + 2);
    EXPECT_EQ(row.substr(0, row.find(',')), Detail("log_date"));

    // Cancel, and a fetch the cloud refuses: no file, not even a partial one.
    ASSERT_TRUE(Click("export_log"));
    ASSERT_TRUE(app.ui().CancelFileDialog());
    vorta_test::CloudFault refuse;
    refuse.kind = "code";
    refuse.path = "/api/v1/divelogs/divelog/";
    ASSERT_TRUE(emu.SetFault(refuse));
    ASSERT_TRUE(Click("export_log"));
    ASSERT_TRUE(app.ui().AnswerFileDialog(dir_ + "/refused.uddf")) << app.ui().last_error();
    ASSERT_TRUE(E2eApp::WaitFor([&] { return Text("message") == E2eApp::Lang("DATA_ERROR"); }, 10000))
        << Text("message");
    EXPECT_EQ(FilesIn(dir_), (std::vector<std::string>{"dive.csv", "dive.uddf"})) << "left behind";
}

// "This month" goes to one file that validates and holds every dive of the
// calendar's month, as the emulator has them; a dive of another month is not
// in it.
TEST_F(ExportE2e, AMonthGoesToOneFileWithEveryDiveOfIt) {
    const Json::Value viewed = ViewADive();
    ASSERT_TRUE(viewed.isObject()) << "the demo account has no dive in the last year";
    std::multiset<std::string> depths;
    const Json::Value days = Cloud("/api/v1/divelogs/calendar/month?year_month=" + month_)["month_summary"];
    for (const Json::Value& day : days) {
        const std::string date = day["year_month_date"].asString();
        const Json::Value logs = Cloud("/api/v1/divelogs/calendar/date?year_month_date=" + date)["divelogs"];
        for (const Json::Value& log : logs) {
            const Json::Value dive = Cloud("/api/v1/divelogs/divelog/" + log["divelog_id"].asString())["divelog"];
            char depth[64];
            std::snprintf(depth, sizeof depth, "%g", std::stod(dive["max_depth"].asString()));
            depths.insert(depth);
        }
    }
    ASSERT_FALSE(depths.empty());

    app.ui().SetTargetPage("main.htm");
    ASSERT_TRUE(app.ui().SetValue("export_scope", "month", kFrame)) << app.ui().last_error();
    app.ui().SetTargetPage("");
    ASSERT_TRUE(Click("export_log"));
    ASSERT_TRUE(app.ui().AnswerFileDialog(dir_ + "/month")) << app.ui().last_error();
    EXPECT_EQ(app.TakeMessage(60000), E2eApp::Lang("EXPORT_DONE"));
    const std::string path = dir_ + "/month.uddf";
    EXPECT_TRUE(Validates(path)) << ReadFile(path).substr(0, 2000);
    const std::string uddf = ReadFile(path);
    EXPECT_EQ(Count(uddf, "<dive id="), depths.size());
    std::multiset<std::string> written;
    const std::string open = "<greatestdepth>";
    for (size_t at = uddf.find(open); at != std::string::npos; at = uddf.find(open, at + 1))
        written.insert(uddf.substr(at + open.size(), uddf.find('<', at + open.size()) - at - open.size()));
    EXPECT_EQ(written, depths);
    // The first dive is numbered 1 and starts at its local time.
    EXPECT_NE(uddf.find("<datetime>" + month_.substr(0, 4) + "-" + month_.substr(4, 2)), std::string::npos);
}

// Cancel while the dive logs are read: the progress dialog closes, nothing
// is said, and no file (nor a temporary one) is left.
TEST_F(ExportE2e, ACancelledExportOfAllDivesLeavesNoFile) {
    ASSERT_TRUE(E2eApp::WaitFor([&] { return !Text("calendardate").empty(); }, 20000));
    const std::string dive_path = "/api/v1/divelogs/divelog/";
    auto dive_gets = [&] {
        size_t n = 0;
        for (const auto& r : emu.Log()) n += r.verb == "GET" && r.path.rfind(dive_path, 0) == 0;
        return n;
    };
    const size_t before = dive_gets();
    vorta_test::CloudFault slow;
    slow.kind = "slow";
    slow.path = dive_path;
    slow.delay_ms = 2500;
    slow.skip = 1;
    ASSERT_TRUE(emu.SetFault(slow));
    app.ui().SetTargetPage("main.htm");
    ASSERT_TRUE(app.ui().SetValue("export_scope", "all", kFrame)) << app.ui().last_error();
    app.ui().SetTargetPage("");
    ASSERT_TRUE(Click("export_logbook"));
    ASSERT_TRUE(app.ui().AnswerFileDialog(dir_ + "/all.uddf")) << app.ui().last_error();
    ASSERT_TRUE(E2eApp::WaitFor([&] { return dive_gets() >= before + 2; }, 60000));
    // An export that lasts shows its dialog once it has lasted a moment.
    ASSERT_TRUE(app.ui().WaitWindow("progress.htm", 20000));
    EXPECT_EQ(app.Text("progress.htm", "MsgText1"), E2eApp::Lang("EXPORT_DIVES"));
    ASSERT_TRUE(app.ClickOn("progress.htm", "cancel"));
    ASSERT_TRUE(E2eApp::WaitFor([&] { return !app.Visible("progress.htm"); }, 20000));
    EXPECT_FALSE(app.Visible("msg.htm"));
    EXPECT_EQ(FilesIn(dir_), std::vector<std::string>()) << "left behind";
}

// "Print..." to a PDF file without the dialog: one page, with the dive's
// date, greatest depth and duration as text, and the profile drawn where the
// chart stands (the upper right of the page).
TEST_F(ExportE2e, PrintMakesOneLogbookPageOfTheDiveShown) {
    if (std::system("pdfinfo -v >/dev/null 2>&1") != 0) VORTA_SKIP_OR_FAIL("poppler-utils not installed");
    const Json::Value dive = ViewADive();
    ASSERT_TRUE(dive.isObject()) << "the demo account has no dive in the last year";
    ASSERT_TRUE(Click("print_log"));
    const std::string quoted = "'" + pdf_ + "'";
    ASSERT_TRUE(E2eApp::WaitFor(
        [&] { return Output("pdfinfo " + quoted + " 2>/dev/null").find("Pages:") != std::string::npos; }, 30000));
    const std::string info = Output("pdfinfo " + quoted);
    int pages = 0;
    ASSERT_EQ(std::sscanf(info.c_str() + info.find("Pages:"), "Pages: %d", &pages), 1) << info;
    EXPECT_EQ(pages, 1) << info;
    const std::string text = Output("pdftotext -layout " + quoted + " -");
    for (const char* id : {"log_date", "log_max_depth", "log_dive_time"}) {
        const std::string shown = Detail(id);
        ASSERT_FALSE(shown.empty()) << id;
        EXPECT_NE(text.find(shown), std::string::npos) << id << " " << shown << "\n" << text;
    }

    // The page as a grey image (PGM, 40 dots per inch): dark pixels in the
    // chart's area, right of the values and above the map.
    ASSERT_EQ(std::system(("pdftoppm -r 40 -gray -singlefile " + quoted + " '" + app.home() + "/page'").c_str()), 0);
    const std::string pgm = ReadFile(app.home() + "/page.pgm");
    int width = 0, height = 0, max = 0, header = 0;
    ASSERT_EQ(std::sscanf(pgm.c_str(), "P5 %d %d %d%n", &width, &height, &max, &header), 3) << pgm.substr(0, 20);
    ASSERT_GT(width, 0);
    const size_t data = static_cast<size_t>(header) + 1;
    ASSERT_EQ(pgm.size(), data + static_cast<size_t>(width) * static_cast<size_t>(height));
    size_t dark = 0, all = 0;
    for (int y = height / 10; y < height / 3; ++y)
        for (int x = width * 45 / 100; x < width * 95 / 100; ++x, ++all)
            if (static_cast<unsigned char>(pgm[data + static_cast<size_t>(y) * width + x]) < 160) ++dark;
    EXPECT_GT(dark * 100, all) << dark << " of " << all << " pixels dark";
}

// A PDF that cannot be written: the user is told, nothing is left.
TEST_F(ExportE2e, APrintToAnUnwritableFileSaysSo) {
    const Json::Value dive = ViewADive();
    ASSERT_TRUE(dive.isObject()) << "the demo account has no dive in the last year";
    ASSERT_TRUE(Click("print_log"));
    EXPECT_EQ(app.TakeMessage(30000), E2eApp::Lang("PRINT_FAILED"));
    struct stat st;
    EXPECT_NE(stat(pdf_.c_str(), &st), 0);
}
