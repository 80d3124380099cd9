// Browsing the account's dives in the real program: the calendar month and
// its dive days, month steps, a day's dive list, the statistics panel, a unit
// change and the reload after a sync, against the cloud emulator's demo
// account. What the program shows is compared with what the emulator serves,
// worked out here on the test's side by the pages' rules (nothing of the
// program's own code computes an expected value).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <map>
#include <regex>

#include "base/json_safe.h"
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

std::string Printed(const char* pattern, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, pattern, v);
    return buf;
}

// A number the cloud holds as text.
double Number(const Json::Value& dive, const char* key) {
    return std::strtod(dive[key].asString().c_str(), nullptr);
}

int DiveType(const Json::Value& dive) {
    const std::string type = dive["dive_type"].asString();
    return type == "gauge" ? 1 : type == "free" ? 2 : 0;
}

// The depth profile chart of a dive log: one [time, depth] per sample, depth
// from the sample's pressure over the surface pressure (10 m per bar in salt
// water, 10.25 in fresh; 1013 mbar when "altitude" is outside 520..1060),
// single precision, 0 above half a metre, at most the log's maximum depth;
// a symbol on the samples that the start (second sample), the end (second to
// last) and the shown alarms fall on, a later one replacing an earlier.
Json::Value ExpectedChart(const Json::Value& dive, int32_t unit) {
    static const char* const kStart[] = {"scuba_in", "gauge_in", "freedive_in"};
    static const char* const kEnd[] = {"scuba_out", "gauge_out", "freedive_out"};
    const bool feet = unit != 0;
    double surface = Number(dive, "altitude");
    if (surface < 520 || surface > 1060) surface = 1013;
    const double metres_per_bar = dive["water_type"].asInt() == 1 ? 10.25 : 10.0;
    const float deepest = static_cast<float>(Number(dive, "max_depth") * (feet ? 3.2808399 : 1.0));
    const Json::Value& samples = dive["dive_profiles"];
    std::map<int, std::string> symbol;
    const Json::ArrayIndex n = samples.size();
    if (n >= 2) symbol[samples[1]["profile_time"].asInt()] = kStart[DiveType(dive)];
    if (n >= 3) symbol[samples[n - 2]["profile_time"].asInt()] = kEnd[DiveType(dive)];
    for (const Json::Value& e : dive["events"]) {
        const int code = e["event_code"].asInt(), time = e["event_time"].asInt();
        if (code == 1 && e["event_value"].asInt() == 0) symbol[time] = "need_deco";
        if (code == 3) symbol[time] = "ascent_alarm";
        if (code == 18) symbol[time] = "depth_alarm";
    }
    Json::Value chart(Json::arrayValue);
    for (const Json::Value& sample : samples) {
        double metres = (Number(sample, "pressure") / 1000 - surface / 1000) * metres_per_bar;
        if (metres < 0.5) metres = 0;
        float depth = static_cast<float>(metres);
        if (feet) depth = static_cast<float>(depth * 3.2808399);
        Json::Value point(Json::arrayValue);
        point.append(sample["profile_time"].asInt());
        point.append(static_cast<double>(std::min(depth, deepest)));
        auto found = symbol.find(sample["profile_time"].asInt());
        if (found != symbol.end()) {
            Json::Value marker;
            marker["enabled"] = true;
            marker["symbol"] = "url(../../images/" + found->second + ".png)";
            point.append(marker);
        }
        chart.append(point);
    }
    return chart;
}

// A chart as the page received it, its depths taken as the single-precision
// values they stand for.
Json::Value ChartAsFloats(const std::string& text) {
    Json::Value chart;
    if (!json_safe::Parse(text, chart) || !chart.isArray()) return Json::Value();
    for (Json::Value& point : chart)
        if (point.isArray() && point.size() >= 2)
            point[1] = static_cast<double>(static_cast<float>(point[1].asDouble()));
    return chart;
}

// Where two charts part: the first point that differs, or the sizes.
std::string FirstDifference(const Json::Value& shown, const Json::Value& expected) {
    for (Json::ArrayIndex i = 0; i < std::min(shown.size(), expected.size()); ++i)
        if (shown[i] != expected[i])
            return "point " + std::to_string(i) + ": " + shown[i].toStyledString() + " instead of " +
                   expected[i].toStyledString();
    return std::to_string(shown.size()) + " points instead of " + std::to_string(expected.size());
}

// The value panel of a dive log, member by member in the page's order.
std::vector<std::pair<std::string, std::string>> ExpectedPanel(const Json::Value& dive, int32_t unit) {
    static const char* const kWeather[] = {"N/A", "SUNNY", "CLOUDY", "RAIN", "SNOW", "OVERCAST"};
    static const char* const kWaves[] = {"N/A", "WAVE_NO", "WAVE_SMALL", "WAVE_MEDIUM", "WAVE_HIGH"};
    static const char* const kCurrent[] = {"N/A", "CURRENT_NO", "CURRENT_SMALL", "CURRENT_MEDIUM", "CURRENT_STRONG"};
    static const char* const kVisibility[] = {"N/A", "VISIBILITY_CLEAR", "VISIBILITY_SOSO", "VISIBILITY_BAD"};
    static const char* const kType[] = {"SCUBA", "GAUGE", "FREEDIVE"};
    auto label = [](const char* const* table, int size, int code) {
        const char* key = code >= 0 && code < size ? table[code] : "N/A";
        return std::string(key) == "N/A" ? std::string("N/A") : E2eApp::Lang(key);
    };
    const bool feet = unit != 0, free = DiveType(dive) == 2;
    auto or_na = [free](const std::string& text) { return free ? std::string("N/A") : text; };

    const std::time_t local = dive["dive_datetime"].asInt64() - dive["timezone"].asInt64() * 60;
    std::tm t{};
    gmtime_r(&local, &t);
    char date[64];
    std::snprintf(date, sizeof date, "%.4d-%.2d-%.2d %.2d:%.2d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour,
                  t.tm_min);
    const int seconds = dive["dive_duration"].asInt();
    char duration[64];
    if (seconds >= 3600) std::snprintf(duration, sizeof duration, "%.2d:%.2d", seconds / 3600, seconds % 3600 / 60);
    else std::snprintf(duration, sizeof duration, "%.2d'%.2d", seconds / 60, seconds % 60);

    const double start = Number(dive, "air_in_text"), end = Number(dive, "air_out_text");
    const int volume = std::atoi(dive["cylinder_size_text"].asString().c_str());
    const double avg = Number(dive, "average_depth"), minutes = seconds / 60.0;
    // Litres a minute at the surface; imperial: cubic feet at a 3000 psi
    // rating, over the ambient pressure of the depth in feet (33 ft of salt
    // water or 34 ft of fresh water per atmosphere).
    const float sac = feet
                          ? static_cast<float>((start * 14.5037738 - end * 14.5037738) / minutes /
                                               (avg * 3.2808399 / (dive["water_type"].asInt() == 0 ? 33.0 : 34.0) + 1) *
                                               (volume / 3000.0))
                          : static_cast<float>((start - end) * volume / (avg / 10 + 1) / minutes);
    auto temperature = [feet](double celsius) {
        const float c = static_cast<float>(celsius);
        return Printed("%.1f", feet ? c * 9.0f / 5.0f + 32.0f : c);
    };
    const double depth_factor = feet ? 3.2808399 : 1.0, bar_factor = feet ? 14.5037738 : 1.0;
    const std::string depth_unit = feet ? "ft" : "m", bar_unit = feet ? "psi" : "bar";
    return {
        {"log_date", date},
        {"log_type", E2eApp::Lang(kType[DiveType(dive)])},
        {"log_s_bar", or_na(Printed("%.0f", start * bar_factor))},
        {"log_s_bar_unit", bar_unit},
        {"log_e_bar", or_na(Printed("%.0f", end * bar_factor))},
        {"log_e_bar_unit", bar_unit},
        {"log_volume", or_na(std::to_string(volume))},
        {"log_volume_unit", feet ? "cuft" : "L"},
        {"log_sac", or_na(Printed(feet ? "%.2f" : "%.1f", sac))},
        {"log_sac_unit", feet ? "cuft/min" : "L/min"},
        {"log_o2", or_na(std::to_string(dive["po2"].asInt()))},
        {"log_max_depth", Printed("%.1f", Number(dive, "max_depth") * depth_factor)},
        {"log_max_depth_unit", depth_unit},
        {"log_avg_depth", Printed("%.1f", avg * depth_factor)},
        {"log_avg_depth_unit", depth_unit},
        {"log_dive_time", duration},
        {"log_weather", label(kWeather, 6, dive["weather_type"].asInt())},
        {"log_air_temp", temperature(Number(dive, "air_temperature"))},
        {"log_air_temp_unit", feet ? "F" : "c"},
        {"log_water_temp", temperature(Number(dive, "min_temperature"))},
        {"log_water_temp_unit", feet ? "F" : "c"},
        {"log_wave", label(kWaves, 5, dive["wave_type"].asInt())},
        {"log_current", label(kCurrent, 5, dive["current_type"].asInt())},
        {"log_visibility", label(kVisibility, 4, dive["visibility_type"].asInt())},
        {"log_suit_thickness", Printed("%.0f", Number(dive, "suit_thickness"))},
        {"log_suit_thickness_unit", "mm"},
        {"log_weight", Printed("%.1f", Number(dive, "weight") * (feet ? 2.20462262 : 1.0))},
        {"log_weight_unit", feet ? "lbs" : "kg"},
    };
}

// The panel document's members, in the order its text lists them.
std::vector<std::pair<std::string, std::string>> PanelMembers(const std::string& text) {
    Json::Value doc;
    if (!json_safe::Parse(text, doc) || !doc["value"].isObject()) return {};
    std::vector<std::pair<size_t, std::string>> at;
    for (const std::string& name : doc["value"].getMemberNames()) at.push_back({text.find('"' + name + '"'), name});
    std::sort(at.begin(), at.end());
    std::vector<std::pair<std::string, std::string>> members;
    for (const auto& [pos, name] : at) members.push_back({name, doc["value"][name].asString()});
    return members;
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
        app.UseTestbed(emu, device_port);
        ASSERT_TRUE(app.Start());
        ASSERT_TRUE(app.SignInDemo());
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
        ASSERT_GT(dive["dive_profiles"].size(), 2u);
        const Json::Value chart = ExpectedChart(dive, unit);
        ASSERT_TRUE(E2eApp::WaitFor(
            [&] {
                const Json::Value a = Received("setDiveChart");
                return a.size() == 2 && ChartAsFloats(a[1].asString()) == chart;
            },
            10000))
            << FirstDifference(ChartAsFloats(Received("setDiveChart")[1].asString()), chart);
        EXPECT_EQ(Received("setDiveChart")[0].asString(), std::to_string(unit));
        EXPECT_EQ(PanelMembers(Received("setDiveValue")[0].asString()), ExpectedPanel(dive, unit));

        // The panel as the page shows it.
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
