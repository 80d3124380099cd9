// Editing a dive log in the real program against the cloud emulator's demo
// account: the edit dialog with its map and site search, "save" shown in the
// detail page at once and stored in the cloud with nothing else changed,
// "exit" sending nothing, and a save the cloud refuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <functional>

#include "base/json_safe.h"
#include "tests/e2e/e2e_app.h"
#include "tests/support/calendar_cell.h"
#include "tests/support/cloudemu_process.h"

using vorta_test::CloudEmuProcess;
using vorta_test::CloudRequest;

namespace {

const char* const kFrame = "framepage1";
const char* const kDialog = "log_edit.htm";

// A dive of the demo account and where the calendar shows it.
struct FoundDive {
    std::string id;
    int months_back = 0;  // from this month
    int cell = -1;        // calendar cell of its day
    int row = 0;          // its row in the day's list
    Json::Value doc;      // the "divelog" the emulator serves
};

std::string Fixed(const char* pattern, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, pattern, v);
    return buf;
}

bool HasPositions(const Json::Value& doc) {
    for (const char* p : {"entry_position", "exit_position"})
        for (const char* c : {"latitude", "longitude"})
            if (std::trunc(json_safe::Double(json_safe::Member(doc, p), c) * 1e6) != 0) return true;
    return false;
}

class LogEditE2e : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why = E2eMissing();
        if (!why.empty()) GTEST_SKIP() << why;
        ASSERT_TRUE(emu.Start());
        token_ = emu.DemoToken();
        ASSERT_FALSE(token_.empty());
        app.UseTestbed(emu);
        ASSERT_TRUE(app.Start());
        ASSERT_TRUE(app.SignInDemo());
        ASSERT_TRUE(E2eApp::WaitFor([&] { return !app.Text("main.htm", "calendardate", kFrame).empty(); }, 20000));
    }

    std::vector<std::string> Auth() const { return {"Authorization: Bearer " + token_}; }
    Json::Value Cloud(const std::string& path) {
        Json::Value root;
        EXPECT_TRUE(json_safe::Parse(emu.Call("GET", path, "", Auth()).body, root)) << path;
        return json_safe::Member(root, "response");
    }
    Json::Value Stored(const std::string& id) { return Cloud("/api/v1/divelogs/divelog/" + id)["divelog"]; }

    // The newest dive that `wanted` accepts, from this month back a year.
    FoundDive Find(const std::function<bool(const Json::Value&)>& wanted) {
        const std::time_t now = std::time(nullptr);
        std::tm t{};
        localtime_r(&now, &t);
        for (int back = 0; back <= 13; ++back) {
            const int months = (t.tm_year + 1900) * 12 + t.tm_mon - back;
            const int year = months / 12, month = months % 12 + 1;
            char path[96];
            std::snprintf(path, sizeof path, "/api/v1/divelogs/calendar/month?year_month=%.4d%.2d", year, month);
            std::vector<int> dates;
            const Json::Value month_summary = Cloud(path)["month_summary"];
            for (const Json::Value& d : month_summary) dates.push_back(std::stoi(d["year_month_date"].asString()));
            for (auto date = dates.rbegin(); date != dates.rend(); ++date) {
                const Json::Value logs =
                    Cloud("/api/v1/divelogs/calendar/date?year_month_date=" + std::to_string(*date))["divelogs"];
                for (Json::ArrayIndex i = 0; i < logs.size(); ++i) {
                    const Json::Value doc = Stored(logs[i]["divelog_id"].asString());
                    if (!wanted(doc)) continue;
                    return {doc["divelog_id"].asString(), back, vorta_test::CalendarCell(year, month, *date % 100),
                            static_cast<int>(i), doc};
                }
            }
        }
        ADD_FAILURE() << "no such dive in the demo account";
        return {};
    }

    // Shows the dive's day and presses its row's `button` ("view", "edit").
    void Press(const FoundDive& dive, const char* button) {
        app.ui().SetTargetPage("main.htm");
        while (months_shown_back_ < dive.months_back) {
            ASSERT_TRUE(app.ui().Click("lastmon", kFrame));
            ++months_shown_back_;
        }
        char cell[16];
        std::snprintf(cell, sizeof cell, "date_cell_%.2d", dive.cell);
        ASSERT_TRUE(app.ui().Click(cell, kFrame));
        ASSERT_EQ(Attr("main.htm", button, "objid", kFrame, dive.row), dive.id);
        ASSERT_TRUE(app.ui().Click(button, kFrame, dive.row));
        app.ui().SetTargetPage("");
    }

    // A text of the detail page (the script page in the dive-log page's "ie").
    std::string Detail(const std::string& id) {
        Json::Value r;
        r["cmd"] = "get_text";
        r["page"] = "main.htm";
        r["element"] = id;
        r["frames"].append(kFrame);
        r["frames"].append("ie_page");
        return app.ui().Request(r)["value"].asString();
    }

    // The calls the detail page has received, oldest first: [{"f", "a"}, ...].
    Json::Value DetailCalls() {
        Json::Value r;
        r["cmd"] = "get_received";
        r["page"] = "main.htm";
        r["frame"] = kFrame;
        r["element"] = "ie_page";
        return app.ui().Request(r)["value"];
    }
    static std::vector<std::string> Functions(const Json::Value& calls) {
        std::vector<std::string> out;
        for (const Json::Value& c : calls) out.push_back(c["f"].asString());
        return out;
    }
    std::string Message() { return app.Text("main.htm", "message", kFrame); }

    // The script calls the edit dialog's map has received, as "f a1 a2 ...".
    std::vector<std::string> MapCalls() {
        Json::Value r;
        r["cmd"] = "map_calls";
        r["page"] = kDialog;
        std::vector<std::string> out;
        const Json::Value answer = app.ui().Request(r);
        map_error_ = answer["error"].asString();
        for (const Json::Value& c : answer["calls"]) {
            std::string line = c["f"].asString();
            for (const Json::Value& a : c["a"]) line += " " + a.asString();
            out.push_back(line);
        }
        return out;
    }
    bool WaitMapCalls(size_t n) {
        return E2eApp::WaitFor([&] { return MapCalls().size() >= n; }, 15000);
    }

    std::string Dialog(const char* id) { return app.Text(kDialog, id); }
    // Whether an element of the dialog carries "hidden".
    bool Hidden(const char* id) {
        Json::Value r;
        r["cmd"] = "has_attr";
        r["page"] = kDialog;
        r["element"] = id;
        r["name"] = "hidden";
        const Json::Value a = app.ui().Request(r);
        EXPECT_TRUE(a["ok"].asBool()) << id;
        return a["value"].asBool();
    }
    // An attribute of the n-th element with id `id` of `page`.
    std::string Attr(const char* page, const char* id, const char* name, const char* frame, int nth) {
        Json::Value r;
        r["cmd"] = "get_attr";
        r["page"] = page;
        r["element"] = id;
        r["name"] = name;
        if (*frame) r["frame"] = frame;
        r["nth"] = nth;
        return app.ui().Request(r)["value"].asString();
    }
    std::string DialogValue(const char* id) {
        app.ui().SetTargetPage(kDialog);
        auto v = app.ui().GetValue(id);
        app.ui().SetTargetPage("");
        return v.value_or("<missing>");
    }
    bool Set(const char* id, const std::string& value) {
        app.ui().SetTargetPage(kDialog);
        bool ok = app.ui().SetValue(id, value);
        app.ui().SetTargetPage("");
        return ok;
    }
    bool DialogClosed() {
        return E2eApp::WaitFor([&] { return !app.Visible(kDialog); }, 15000);
    }

    // The program's PATCH requests so far (the test's own requests carry its token).
    std::vector<CloudRequest> Patches() {
        std::vector<CloudRequest> out;
        for (const CloudRequest& r : emu.Log())
            if (r.verb == "PATCH") out.push_back(r);
        return out;
    }

    CloudEmuProcess emu;
    E2eApp app;
    std::string token_;
    int months_shown_back_ = 0;
    std::string map_error_;  // of the last map_calls
};

}  // namespace

TEST_F(LogEditE2e, ImperialEditOfWeatherAndWeightChangesNothingElse) {
    ASSERT_TRUE(app.SaveUnits("1"));
    const FoundDive dive = Find([](const Json::Value& d) {
        return d["dive_type"].asString() == "scuba" &&
               std::trunc(json_safe::Double(d["entry_position"], "latitude") * 1e6) != 0 &&
               std::trunc(json_safe::Double(d["exit_position"], "latitude") * 1e6) != 0;
    });
    ASSERT_FALSE(dive.id.empty());
    const Json::Value& before = dive.doc;
    ASSERT_TRUE(emu.Reset());
    // The dive is the one the detail page shows.
    Press(dive, "view");
    const std::vector<std::string> kWhole = {"setDiveValue", "clrMarker", "setSMarker",
                                             "setEMarker",   "setCenter", "setDiveChart"};
    auto ends_with_whole = [&](const std::vector<std::string>& f) {
        return f.size() >= kWhole.size() && std::equal(kWhole.begin(), kWhole.end(), f.end() - kWhole.size());
    };
    ASSERT_TRUE(E2eApp::WaitFor([&] { return ends_with_whole(Functions(DetailCalls())); }, 10000))
        << ::testing::PrintToString(Functions(DetailCalls()));
    const Json::Value viewed = DetailCalls();
    const Json::ArrayIndex n = viewed.size(), first = n - static_cast<Json::ArrayIndex>(kWhole.size());

    // "exit" sends nothing and changes nothing.
    Press(dive, "edit");
    ASSERT_TRUE(app.ui().WaitWindow(kDialog, 15000));
    ASSERT_TRUE(Set("weight", "99"));
    ASSERT_TRUE(app.ClickOn(kDialog, "exit"));
    ASSERT_TRUE(DialogClosed());
    EXPECT_TRUE(Patches().empty());
    EXPECT_EQ(Stored(dive.id), before);

    Press(dive, "edit");
    ASSERT_TRUE(app.ui().WaitWindow(kDialog, 15000));
    // The tank in psi; the site is not chosen for a log with positions.
    EXPECT_EQ(DialogValue("s_bar"), Fixed("%.0f", std::stod(before["air_in_text"].asString()) * 14.5037738));
    EXPECT_EQ(Dialog("s_bar_unit"), "psi");
    EXPECT_EQ(Dialog("weight_unit"), "lbs");
    EXPECT_EQ(DialogValue("weather"), std::to_string(before["weather_type"].asInt()));
    EXPECT_TRUE(Hidden("edit_ds"));
    // The map, once loaded: entry and exit at micro-degrees, centred between.
    ASSERT_TRUE(WaitMapCalls(3)) << ::testing::PrintToString(MapCalls()) << map_error_;
    auto micro = [](const Json::Value& p, const char* c) { return std::trunc(p[c].asDouble() * 1e6) / 1e6; };
    const Json::Value &in = before["entry_position"], &out = before["exit_position"];
    EXPECT_EQ(MapCalls(),
              (std::vector<std::string>{
                  "setSMarker " + Fixed("%.6f", micro(in, "latitude")) + " " + Fixed("%.6f", micro(in, "longitude")),
                  "setEMarker " + Fixed("%.6f", micro(out, "latitude")) + " " + Fixed("%.6f", micro(out, "longitude")),
                  "setCenter " + Fixed("%.6f", (micro(in, "latitude") + micro(out, "latitude")) / 2) + " " +
                      Fixed("%.6f", (micro(in, "longitude") + micro(out, "longitude")) / 2),
              }));

    const int weather = before["weather_type"].asInt() % 5 + 1;
    ASSERT_TRUE(Set("weather", std::to_string(weather)));
    ASSERT_TRUE(Set("weight", "9.9"));
    ASSERT_TRUE(app.ClickOn(kDialog, "save"));
    ASSERT_TRUE(DialogClosed());

    // The detail page shows the new values.
    const char* const kWeather[] = {"", "SUNNY", "CLOUDY", "RAIN", "SNOW", "OVERCAST"};
    ASSERT_TRUE(E2eApp::WaitFor([&] { return Detail("log_weather") == E2eApp::Lang(kWeather[weather]); }, 10000))
        << Detail("log_weather");
    EXPECT_EQ(Detail("log_weight"), "9.9");
    EXPECT_EQ(Detail("log_weight_unit"), "lbs");
    // All of it drawn again: the new panel, then the markers and the chart as
    // the view drew them (the edit changed neither).
    ASSERT_TRUE(E2eApp::WaitFor([&] { return DetailCalls().size() == n + kWhole.size(); }, 10000))
        << ::testing::PrintToString(Functions(DetailCalls()));
    const Json::Value calls = DetailCalls();
    EXPECT_EQ(calls[n]["f"].asString(), "setDiveValue");
    for (Json::ArrayIndex i = 1; i < kWhole.size(); ++i) EXPECT_EQ(calls[n + i], viewed[first + i]) << kWhole[i];

    // Stored: the two fields, in kilograms; every other member as it was.
    ASSERT_TRUE(E2eApp::WaitFor([&] { return Patches().size() == 1; }, 10000));
    const CloudRequest patch = Patches()[0];
    EXPECT_EQ(patch.path, "/api/v1/divelogs/" + dive.id);
    EXPECT_EQ(patch.Header("Content-Type"), "application/json");
    Json::Value expected = before;
    expected["weather_type"] = weather;
    expected["weight"] = "4.490564";  // 9.9 lbs
    EXPECT_EQ(Stored(dive.id), expected);
}

TEST_F(LogEditE2e, ALogWithoutPositionsTakesASiteFromTheSearch) {
    const FoundDive dive = Find([](const Json::Value& d) { return !HasPositions(d); });
    ASSERT_FALSE(dive.id.empty());
    Press(dive, "view");
    ASSERT_TRUE(E2eApp::WaitFor([&] { return !Detail("log_weight").empty(); }, 10000));
    Press(dive, "edit");
    ASSERT_TRUE(app.ui().WaitWindow(kDialog, 15000));
    EXPECT_FALSE(Hidden("edit_ds")) << "the site can be chosen";
    app.ui().SetTargetPage(kDialog);
    ASSERT_TRUE(app.ui().Click("edit_ds"));
    EXPECT_TRUE(Hidden("ie"));
    EXPECT_FALSE(Hidden("ds"));
    ASSERT_TRUE(app.ui().SetValue("ds_name", "Blue Hole"));
    ASSERT_TRUE(app.ui().Click("search"));
    // The rows the directory answers, in its order.
    Json::Value found;
    ASSERT_TRUE(json_safe::Parse(
        emu.Call("POST", "/api/v1/searches/divesites", "query=Blue%20Hole&limit=20", Auth()).body, found));
    const Json::Value& pois = found["response"]["pois"];
    ASSERT_GE(pois.size(), 1u);
    const Json::Value& site = pois[pois.size() - 1];
    const int nth = static_cast<int>(pois.size()) - 1;
    EXPECT_EQ(Attr(kDialog, "dive_site_poi", "poi_id", "", nth), site["poi_id"].asString());
    ASSERT_TRUE(app.ui().Click("dive_site_poi", "", nth));
    app.ui().SetTargetPage("");
    EXPECT_TRUE(Hidden("ds"));
    EXPECT_FALSE(Hidden("ie"));
    const double lat = site["gps_location"]["latitude"].asDouble(), lng = site["gps_location"]["longitude"].asDouble();
    const std::string at = Fixed("%.6f", lat) + " " + Fixed("%.6f", lng);
    ASSERT_TRUE(E2eApp::WaitFor(
        [&] {
            const auto calls = MapCalls();
            return calls.size() >= 2 && calls[calls.size() - 2] == "setSMarker " + at &&
                   calls.back() == "setCenter " + at;
        },
        10000))
        << ::testing::PrintToString(MapCalls()) << map_error_;

    ASSERT_TRUE(Set("weight", "4.5"));
    ASSERT_TRUE(app.ClickOn(kDialog, "save"));
    ASSERT_TRUE(DialogClosed());
    ASSERT_TRUE(E2eApp::WaitFor([&] { return Detail("log_weight") == "4.5"; }, 10000)) << Detail("log_weight");
    ASSERT_TRUE(E2eApp::WaitFor([&] { return Patches().size() == 1; }, 10000));
    const Json::Value stored = Stored(dive.id);
    EXPECT_EQ(stored["poi"]["poi_id"].asString(), site["poi_id"].asString());
    EXPECT_EQ(stored["weight"].asString(), "4.500000");
}

TEST_F(LogEditE2e, ARefusedSaveIsReportedAndTheDetailShowsWhatIsStored) {
    const FoundDive dive = Find([](const Json::Value& d) { return d["dive_type"].asString() != "free"; });
    ASSERT_FALSE(dive.id.empty());
    const int stored_weather = dive.doc["weather_type"].asInt();
    vorta_test::CloudFault refuse;
    refuse.kind = "code";
    refuse.path = "/api/v1/divelogs/" + dive.id;
    refuse.verb = "PATCH";
    ASSERT_TRUE(emu.SetFault(refuse));

    Press(dive, "edit");
    ASSERT_TRUE(app.ui().WaitWindow(kDialog, 15000));
    ASSERT_TRUE(Set("weather", std::to_string(stored_weather % 5 + 1)));
    ASSERT_TRUE(app.ClickOn(kDialog, "save"));
    EXPECT_EQ(app.TakeMessage(), E2eApp::Lang("DATA_ERROR"));
    const char* const kWeather[] = {"", "SUNNY", "CLOUDY", "RAIN", "SNOW", "OVERCAST"};
    ASSERT_TRUE(E2eApp::WaitFor([&] { return Detail("log_weather") == E2eApp::Lang(kWeather[stored_weather]); }, 10000))
        << Detail("log_weather");
    EXPECT_EQ(Stored(dive.id), dive.doc);
}

// A success answer that holds no dive log: "edit" opens no dialog, "view"
// draws nothing of it (the page keeps the dive: at most its stored copy is
// drawn again), and both say so.
TEST_F(LogEditE2e, AnAnswerWithoutTheDiveLogIsADataError) {
    const FoundDive dive = Find([](const Json::Value& d) { return d["dive_type"].asString() == "scuba"; });
    ASSERT_FALSE(dive.id.empty());
    Press(dive, "view");
    const std::string depth = Fixed("%.1f", std::stod(dive.doc["max_depth"].asString()));
    ASSERT_TRUE(E2eApp::WaitFor(
        [&] {
            const std::vector<std::string> f = Functions(DetailCalls());
            return Detail("log_max_depth") == depth && !f.empty() && f.back() == "setDiveChart";
        },
        10000))
        << Detail("log_max_depth");
    const Json::Value drawn = DetailCalls();
    ASSERT_EQ(Message(), "");

    auto arm = [&](const char* kind) {
        vorta_test::CloudFault fault;
        fault.kind = kind;  // "short": {"code": "0000000", "response": {}}
        fault.path = "/api/v1/divelogs/divelog/" + dive.id;
        return emu.SetFault(fault);
    };
    ASSERT_TRUE(arm("short"));
    Press(dive, "edit");
    ASSERT_TRUE(E2eApp::WaitFor([&] { return Message() == E2eApp::Lang("DATA_ERROR"); }, 10000)) << Message();
    EXPECT_FALSE(app.Visible(kDialog));

    // Another message between the two, so that the view's own is seen.
    ASSERT_TRUE(arm("not_json"));
    Press(dive, "view");
    ASSERT_TRUE(E2eApp::WaitFor([&] { return Message() == E2eApp::Lang("HOST_NOT_CONN"); }, 10000)) << Message();

    ASSERT_TRUE(arm("short"));
    Press(dive, "view");
    ASSERT_TRUE(E2eApp::WaitFor([&] { return Message() == E2eApp::Lang("DATA_ERROR"); }, 10000)) << Message();
    EXPECT_EQ(Detail("log_max_depth"), depth);
    // The page's last values, markers and chart are those of the first drawing.
    auto last = [](const Json::Value& calls, const char* f) {
        for (Json::ArrayIndex i = calls.size(); i-- > 0;)
            if (calls[i]["f"].asString() == f) return calls[i];
        return Json::Value();
    };
    const Json::Value calls = DetailCalls();
    for (const char* f : {"setDiveValue", "setSMarker", "setEMarker", "setDiveChart"})
        EXPECT_EQ(last(calls, f), last(drawn, f)) << f;
    EXPECT_EQ(Functions(calls).back(), "setDiveChart");
}
