// Browsing the account's dives in the real program: the calendar month and
// its dive days, month steps, a day's dive list, the statistics panel, a unit
// change and the reload after a sync, against the cloud emulator's demo
// account. What the program shows is compared with what the emulator serves,
// computed here on the test's side.
#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <map>
#include <regex>

#include "base/json_safe.h"
#include "divelog/dive_values.h"
#include "tests/e2e/e2e_app.h"
#include "tests/support/cloudemu_process.h"
#include "tests/support/devsim_process.h"

using vorta_test::CloudEmuProcess;

namespace {

const char* const kFrame = "framepage1";

struct Month {
    int year, month;
    bool operator==(const Month& o) const { return year == o.year && month == o.month; }
};

Month ThisMonth() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return {local.tm_year + 1900, local.tm_mon + 1};
}

Month Step(Month m, int by) {
    int months = m.year * 12 + m.month - 1 + by;
    return {months / 12, months % 12 + 1};
}

std::string Title(Month m) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.4d-%.2d", m.year, m.month);
    return buf;
}

// The grid as the calendar lays it out: from the Sunday before the 1st (a
// whole week before when the 1st is a Sunday), 42 days.
std::vector<std::tm> Grid(Month m) {
    std::tm first{};
    first.tm_year = m.year - 1900;
    first.tm_mon = m.month - 1;
    first.tm_mday = 1;
    first.tm_hour = 12;
    const std::time_t t = timegm(&first);
    std::tm day{};
    gmtime_r(&t, &day);
    const int back = day.tm_wday == 0 ? 7 : day.tm_wday;
    std::vector<std::tm> cells;
    for (int i = 0; i < 42; ++i) {
        const std::time_t c = t + static_cast<std::time_t>(i - back) * 86400;
        gmtime_r(&c, &day);
        cells.push_back(day);
    }
    return cells;
}

std::string CellId(int i) {
    char id[32];
    std::snprintf(id, sizeof id, "date_cell_%.2d", i);
    return id;
}

class BrowseE2e : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why = E2eMissing();
        if (!why.empty()) GTEST_SKIP() << why;
        ASSERT_TRUE(emu.Start());
        token_ = emu.DemoToken();
        ASSERT_FALSE(token_.empty());
    }

    void StartSignedIn(const std::string& device_port = "") {
        app.env["VORTA_CLOUD_HOST"] = emu.host();
        app.env["VORTA_CA_FILE"] = emu.ca_file();
        app.env["VORTA_DEVICE_PORT"] = device_port.empty() ? app.home() + "/no-such-tty" : device_port;
        ASSERT_TRUE(app.Start());
        ASSERT_TRUE(app.SignIn(CloudEmuProcess::kDemoEmail, CloudEmuProcess::kDemoPassword));
        ASSERT_TRUE(app.ui().WaitWindow("main.htm", 20000));
        // The first month load and the statistics run as the page is bound.
        ASSERT_TRUE(E2eApp::WaitFor([&] { return Text("calendardate") == Title(ThisMonth()); }, 20000));
    }

    // The emulator's answer ("response") to an authenticated GET.
    Json::Value Cloud(const std::string& path) {
        const auto reply = emu.Call("GET", path, "", {"Authorization: Bearer " + token_});
        Json::Value root;
        EXPECT_TRUE(json_safe::Parse(reply.body, root)) << path;
        EXPECT_EQ(json_safe::String(root, "code"), "0000000") << path;
        return json_safe::Member(root, "response");
    }
    std::map<int, int> DiveDays(Month m) {
        char path[96];
        std::snprintf(path, sizeof path, "/api/v1/divelogs/calendar/month?year_month=%.4d%.2d", m.year, m.month);
        std::map<int, int> days;
        const Json::Value response = Cloud(path);
        for (const Json::Value& d : response["month_summary"])
            days[std::stoi(d["year_month_date"].asString())] = d["scuba_count"].asInt() + d["free_count"].asInt();
        return days;
    }

    std::string Text(const std::string& id) { return app.Text("main.htm", id, kFrame); }
    std::string Attr(const std::string& id, const std::string& name) {
        app.ui().SetTargetPage("main.htm");
        auto v = app.ui().GetAttr(id, name, kFrame);
        app.ui().SetTargetPage("");
        return v.value_or("<missing>");
    }
    bool Click(const std::string& id) { return app.ClickOn("main.htm", id, kFrame); }

    // Title, every cell's day and class, as the emulator's month says.
    void ExpectMonthShown(Month m) {
        SCOPED_TRACE(Title(m));
        EXPECT_EQ(Text("calendardate"), Title(m));
        const std::map<int, int> days = DiveDays(m);
        const std::vector<std::tm> grid = Grid(m);
        for (int i = 0; i < 42; ++i) {
            char id[16];
            std::snprintf(id, sizeof id, "date_cell_%.2d", i);
            const std::tm& d = grid[static_cast<size_t>(i)];
            const int date = (d.tm_year + 1900) * 10000 + (d.tm_mon + 1) * 100 + d.tm_mday;
            auto found = days.find(date);
            const char* expected = found != days.end() && found->second != 0 ? "date_td_in_dive_day btnctrl"
                                   : d.tm_mon + 1 == m.month                 ? "date_td"
                                                                             : "date_td_in_month";
            EXPECT_EQ(Text(id), std::to_string(d.tm_mday)) << id;
            EXPECT_EQ(Attr(id, "class"), expected) << id;
            EXPECT_EQ(Attr(id, "objid"), std::to_string(i)) << id;
        }
    }

    // Steps back from this month to the nearest month with dives.
    Month GoToAMonthWithDives() {
        Month m = ThisMonth();
        for (int i = 0; i < 4 && DiveDays(m).empty(); ++i) {
            EXPECT_TRUE(Click("lastmon"));
            m = Step(m, -1);
        }
        EXPECT_EQ(Text("calendardate"), Title(m));
        return m;
    }

    // The index of the first cell of `m` whose day has dives, and its date.
    int FirstDiveCell(Month m, int* date) {
        const std::map<int, int> days = DiveDays(m);
        const std::vector<std::tm> grid = Grid(m);
        for (int i = 0; i < 42; ++i) {
            const std::tm& d = grid[static_cast<size_t>(i)];
            *date = (d.tm_year + 1900) * 10000 + (d.tm_mon + 1) * 100 + d.tm_mday;
            auto found = days.find(*date);
            if (d.tm_mon + 1 == m.month && found != days.end() && found->second) return i;
        }
        return -1;
    }

    // The last call of `function` that the detail page in framepage1
    // received (its arguments), null when none.
    Json::Value Received(const std::string& function) {
        Json::Value req;
        req["cmd"] = "get_received";
        req["page"] = "main.htm";
        req["frame"] = kFrame;
        req["element"] = "ie_page";
        const Json::Value answer = app.ui().Request(req);
        Json::Value last;
        for (const Json::Value& call : answer["value"])
            if (call["f"].asString() == function) last = call["a"];
        return last;
    }

    // Goes back to the nearest month with a day of two dives or more; the
    // cell of that day and its date.
    int DayOfSeveralDives(int* date) {
        Month m = ThisMonth();
        for (int i = 0; i < 12; ++i, m = Step(m, -1)) {
            const std::map<int, int> days = DiveDays(m);
            const std::vector<std::tm> grid = Grid(m);
            for (int c = 0; c < 42; ++c) {
                const std::tm& d = grid[static_cast<size_t>(c)];
                *date = (d.tm_year + 1900) * 10000 + (d.tm_mon + 1) * 100 + d.tm_mday;
                auto found = days.find(*date);
                if (d.tm_mon + 1 != m.month || found == days.end() || found->second < 2) continue;
                for (int back = 0; back < i; ++back) EXPECT_TRUE(Click("lastmon"));
                EXPECT_EQ(Text("calendardate"), Title(m));
                return c;
            }
        }
        return -1;
    }

    // "view" of the second dive of the day; the page received exactly the
    // value panel and the profile of the emulator's dive, every sample.
    void ExpectSecondDiveViewed(int cell, int date, int32_t unit) {
        SCOPED_TRACE(unit);
        ASSERT_TRUE(Click(CellId(cell)));
        const Json::Value logs =
            Cloud("/api/v1/divelogs/calendar/date?year_month_date=" + std::to_string(date))["divelogs"];
        ASSERT_GE(logs.size(), 2u);
        const std::string id = logs[1]["divelog_id"].asString();
        ASSERT_EQ(Attr("view", "objid"), logs[0]["divelog_id"].asString());
        app.ui().SetTargetPage("main.htm");
        ASSERT_TRUE(app.ui().Click("view", kFrame, 1));
        app.ui().SetTargetPage("");
        const Json::Value dive = Cloud("/api/v1/divelogs/divelog/" + id)["divelog"];
        ASSERT_TRUE(dive.isObject());
        const std::string chart = vorta_divelog::ProfileChartJson(dive, unit);
        ASSERT_TRUE(E2eApp::WaitFor(
            [&] {
                const Json::Value a = Received("setDiveChart");
                return a.size() == 2 && a[1].asString() == chart;
            },
            10000))
            << Received("setDiveChart").toStyledString().substr(0, 400);
        EXPECT_EQ(Received("setDiveChart")[0].asString(), std::to_string(unit));
        const std::string values = vorta_divelog::ValuePanelJson(dive, unit, &E2eApp::Lang);
        EXPECT_EQ(Received("setDiveValue")[0].asString(), values);

        // Beside the core's own output: one point per sample of the
        // emulator's profile, at its time, and the panel as shown.
        Json::Value points;
        ASSERT_TRUE(json_safe::Parse(chart, points));
        const Json::Value& samples = dive["dive_profiles"];
        ASSERT_GT(samples.size(), 2u);
        ASSERT_EQ(points.size(), samples.size());
        for (Json::ArrayIndex i = 0; i < samples.size(); ++i)
            ASSERT_EQ(points[i][0].asInt(), samples[i]["profile_time"].asInt()) << i;
        const double factor = unit == 0 ? 1.0 : 3.2808399;
        char depth[32];
        std::snprintf(depth, sizeof depth, "%.1f", std::stod(dive["max_depth"].asString()) * factor);
        auto shown = [&](const std::string& element) {
            return app.ui()
                .Request([&] {
                    Json::Value r;
                    r["cmd"] = "get_text";
                    r["page"] = "main.htm";
                    r["frames"].append(kFrame);
                    r["frames"].append("ie_page");
                    r["element"] = element;
                    return r;
                }())["value"]
                .asString();
        };
        EXPECT_EQ(shown("log_max_depth"), depth);
        EXPECT_EQ(shown("log_max_depth_unit"), unit == 0 ? "m" : "ft");
    }

    CloudEmuProcess emu;
    E2eApp app;
    std::string token_;
};

}  // namespace

TEST_F(BrowseE2e, MonthDaysStepsAndADaysDives) {
    StartSignedIn();
    ExpectMonthShown(ThisMonth());

    // A step back shows that month; a step forward comes back.
    ASSERT_TRUE(Click("lastmon"));
    ExpectMonthShown(Step(ThisMonth(), -1));
    ASSERT_TRUE(Click("nextmon"));
    EXPECT_EQ(Text("calendardate"), Title(ThisMonth()));

    const Month m = GoToAMonthWithDives();
    int date = 0;
    const int cell = FirstDiveCell(m, &date);
    ASSERT_GE(cell, 0) << "the demo account has no dives in " << Title(m);
    ASSERT_TRUE(Click(CellId(cell)));

    const Json::Value logs =
        Cloud("/api/v1/divelogs/calendar/date?year_month_date=" + std::to_string(date))["divelogs"];
    ASSERT_GE(logs.size(), 1u);
    // One row per dive, in the emulator's order, each with its local time.
    const std::string list = Text("cell_tbody");
    const std::regex stamp("\\d\\d-\\d\\d \\d\\d:\\d\\d");
    std::vector<std::string> shown;
    for (std::sregex_iterator it(list.begin(), list.end(), stamp), end; it != end; ++it) shown.push_back(it->str());
    std::vector<std::string> expected;
    for (const Json::Value& log : logs) {
        const std::time_t local = log["dive_datetime"].asInt64() - log["timezone"].asInt64() * 60;
        std::tm t{};
        gmtime_r(&local, &t);
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.2d-%.2d %.2d:%.2d", t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min);
        expected.push_back(buf);
    }
    EXPECT_EQ(shown, expected);

    // The first row in full (the rows share their ids; the first is found).
    const Json::Value& first = logs[0];
    const std::string type = first["dive_type"].asString();
    const std::string key = type == "free" ? "FREEDIVE" : type == "gauge" ? "GAUGE" : "SCUBA";
    const std::string image = type == "free" ? "freedive" : type == "gauge" ? "gauge" : "scuba";
    char depth[32];
    std::snprintf(depth, sizeof depth, "%.1f", std::stod(first["max_depth"].asString()));
    const int seconds = first["dive_duration"].asInt();
    char time[32];
    if (seconds >= 3600) std::snprintf(time, sizeof time, "%.2d:%.2d", seconds / 3600, seconds % 3600 / 60);
    else std::snprintf(time, sizeof time, "%.2d'%.2d", seconds / 60, seconds % 60);
    EXPECT_EQ(Text("date_title"), expected[0]);
    EXPECT_EQ(Text("dive_type"), E2eApp::Lang(key));
    EXPECT_EQ(Attr("image", "src"), "../images/" + image + ".png");
    EXPECT_EQ(Text("depth"), depth);
    EXPECT_EQ(Text("depth_unit"), "m");
    EXPECT_EQ(Text("time"), time);
    EXPECT_EQ(Attr("view", "objid"), first["divelog_id"].asString());
    EXPECT_EQ(Attr("edit", "objid"), first["divelog_id"].asString());
}

TEST_F(BrowseE2e, StatisticsFollowAUnitChange) {
    StartSignedIn();
    const Json::Value stats = Cloud("/api/v1/users/1001/statistics");
    auto shown_depth = [](const Json::Value& v, double factor) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.1f", static_cast<float>(std::stod(v.asString())) * factor);
        return std::string(buf);
    };
    auto total_time = [](const Json::Value& v) {
        const long long minutes = v.asInt64() / 60;
        char buf[32];
        std::snprintf(buf, sizeof buf, "%lld:%.2lld", minutes / 60, minutes % 60);
        return std::string(buf);
    };
    EXPECT_EQ(Text("scuba_total_dive"), std::to_string(stats["scuba_mode_count"].asInt()));
    EXPECT_EQ(Text("scuba_total_time"), total_time(stats["scuba_dive_time"]));
    EXPECT_EQ(Text("scuba_max_depth"), shown_depth(stats["scuba_max_depth"], 1));
    EXPECT_EQ(Text("scuba_max_depth_unit"), "m");
    EXPECT_EQ(Text("free_total_dive"), std::to_string(stats["freedive_mode_count"].asInt()));
    EXPECT_EQ(Text("free_total_time"), total_time(stats["free_dive_time"]));
    EXPECT_EQ(Text("free_max_depth"), shown_depth(stats["free_max_depth"], 1));
    // "odo_type" shows the kept figures again without asking the cloud.
    ASSERT_TRUE(emu.Reset());
    ASSERT_TRUE(Click("odo_type"));
    EXPECT_EQ(Text("scuba_total_dive"), std::to_string(stats["scuba_mode_count"].asInt()));
    EXPECT_TRUE(emu.Log().empty());

    // A day's list is open when the unit changes.
    const Month m = GoToAMonthWithDives();
    int date = 0;
    const int cell = FirstDiveCell(m, &date);
    ASSERT_GE(cell, 0);
    ASSERT_TRUE(Click(CellId(cell)));
    ASSERT_EQ(Text("depth_unit"), "m");

    ASSERT_TRUE(app.SaveUnits("1"));
    // The stored figures show in feet at once, before the cloud's answer;
    // the day list is cleared after it.
    ASSERT_TRUE(
        E2eApp::WaitFor([&] { return Text("scuba_max_depth_unit") == "ft" && Text("cell_tbody").empty(); }, 10000));
    EXPECT_EQ(Text("scuba_max_depth"), shown_depth(stats["scuba_max_depth"], 3.2808399));
    EXPECT_EQ(Text("free_max_depth"), shown_depth(stats["free_max_depth"], 3.2808399));
    EXPECT_EQ(Text("free_max_depth_unit"), "ft");
    EXPECT_EQ(Text("scuba_total_dive"), std::to_string(stats["scuba_mode_count"].asInt()));
    // The list was cleared; picked again it is in feet.
    EXPECT_EQ(Text("cell_tbody"), "");
    EXPECT_EQ(Text("calendardate"), Title(m));
    ASSERT_TRUE(Click(CellId(cell)));
    EXPECT_EQ(Text("depth_unit"), "ft");
}

TEST_F(BrowseE2e, FailedLoadsKeepWhatIsShownAndSaySo) {
    StartSignedIn();
    const Month now = ThisMonth();
    const std::string first_cell = Text("date_cell_00"), first_class = Attr("date_cell_00", "class");

    vorta_test::CloudFault refuse;
    refuse.kind = "code";
    refuse.path = "/api/v1/divelogs/calendar/month";
    ASSERT_TRUE(emu.SetFault(refuse));
    ASSERT_TRUE(Click("nextmon"));
    // The title moves on; the grid stays as it was.
    EXPECT_EQ(Text("calendardate"), Title(Step(now, 1)));
    EXPECT_EQ(Text("message"), E2eApp::Lang("DATA_ERROR"));
    EXPECT_EQ(Text("date_cell_00"), first_cell);
    EXPECT_EQ(Attr("date_cell_00", "class"), first_class);

    // The next load draws the month again.
    ASSERT_TRUE(Click("lastmon"));
    ExpectMonthShown(now);

    // A statistics answer that is not JSON keeps the figures.
    const std::string dives = Text("scuba_total_dive");
    vorta_test::CloudFault garbage;
    garbage.kind = "not_json";
    garbage.path = "/api/v1/users/";
    ASSERT_TRUE(emu.SetFault(garbage));
    ASSERT_TRUE(Click("synclog"));
    ASSERT_TRUE(E2eApp::WaitFor([&] { return Text("message") == E2eApp::Lang("HOST_NOT_CONN"); }, 10000));
    EXPECT_EQ(Text("scuba_total_dive"), dives);
    EXPECT_NE(dives, "0");
}

TEST_F(BrowseE2e, AFinishedSyncReloadsTheCalendarAndTheStatistics) {
    DevSimProcess sim;
    ASSERT_TRUE(sim.Start({"--firmware", "1.025", "--model", "K7", "--dives", "6"})) << sim.error();
    StartSignedIn(sim.pty_path());
    const int before = std::stoi(Text("scuba_total_dive")) + std::stoi(Text("free_total_dive"));
    emu.Reset();

    ASSERT_TRUE(app.ClickOn("main.htm", "upload"));
    ASSERT_TRUE(E2eApp::WaitFor([&] { return app.Visible("progress.htm"); }, 20000));
    ASSERT_TRUE(E2eApp::WaitFor([&] { return !app.Visible("progress.htm"); }, 90000));

    const Json::Value stats = Cloud("/api/v1/users/1001/statistics");
    const int after = stats["scuba_mode_count"].asInt() + stats["freedive_mode_count"].asInt();
    ASSERT_GT(after, before) << "the sync added no dives";
    ASSERT_TRUE(E2eApp::WaitFor(
        [&] {
            return Text("scuba_total_dive") == std::to_string(stats["scuba_mode_count"].asInt()) &&
                   Text("free_total_dive") == std::to_string(stats["freedive_mode_count"].asInt());
        },
        10000));

    // The program's requests after the last dive was posted: the month
    // again, then the statistics.
    std::vector<std::string> after_posts;
    for (const auto& r : emu.Log()) {
        if (r.Header("Authorization") == "Bearer " + token_) continue;  // the test's own
        if (r.path.rfind("/api/v2/devices/addDivelogs", 0) == 0) after_posts.clear();
        else after_posts.push_back(r.path);
    }
    char month[64];
    std::snprintf(month, sizeof month, "/api/v1/divelogs/calendar/month?year_month=%.4d%.2d", ThisMonth().year,
                  ThisMonth().month);
    EXPECT_EQ(after_posts, (std::vector<std::string>{month, "/api/v1/users/1001/statistics"}));
    ExpectMonthShown(ThisMonth());
}

// "view" of a dive that is not the first of its day: the detail page gets the
// emulator's dive, in metres and, after a unit change, in feet.
TEST_F(BrowseE2e, AViewShowsTheEmulatorsDiveInEitherUnit) {
    StartSignedIn();
    int date = 0;
    const int cell = DayOfSeveralDives(&date);
    ASSERT_GE(cell, 0) << "the demo account has no day of two dives";
    ExpectSecondDiveViewed(cell, date, 0);

    ASSERT_TRUE(app.SaveUnits("1"));
    ASSERT_TRUE(E2eApp::WaitFor([&] { return Text("scuba_max_depth_unit") == "ft"; }, 10000));
    // The statistics show the stored figures in feet at once; the unit change
    // then loads the detail page again, and a view while it loads draws
    // nothing (as for a user). Its new page has received no call yet.
    ASSERT_TRUE(E2eApp::WaitFor(
        [&] {
            Json::Value req;
            req["cmd"] = "get_received";
            req["page"] = "main.htm";
            req["frame"] = kFrame;
            req["element"] = "ie_page";
            const Json::Value answer = app.ui().Request(req);
            return answer["ok"].asBool() && answer["value"].isArray() && answer["value"].empty();
        },
        10000));
    ExpectSecondDiveViewed(cell, date, 1);
}
