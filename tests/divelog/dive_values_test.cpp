// One dive log as the detail page gets it: the value panel, the map calls,
// the profile chart with its symbols, and the whole "view" over a recording
// cloud and page.
#include <gtest/gtest.h>

#include <cmath>

#include "base/json_safe.h"
#include "divelog/dive_values.h"
#include "divelog/divelog_cloud.h"
#include "tests/browser/map_script_fake.h"
#include "tests/support/fake_peers.h"

using namespace vorta_divelog;
using vorta_browser::MapScriptCall;

namespace {

Json::Value Parsed(const std::string& text) {
    Json::Value v;
    EXPECT_TRUE(json_safe::Parse(text, v)) << text;
    return v;
}

std::string Lang(const std::string& key) {
    return "<" + key + ">";
}

// A dive log with the given samples (time, mbar) and events (time, code, value).
Json::Value Dive(const std::vector<std::pair<int, double>>& samples, const std::vector<std::array<int, 3>>& events,
                 const std::string& extra = "") {
    std::string s = R"({"dive_type": "scuba", "max_depth": "30.0", "altitude": "1000", "water_type": 0)" + extra +
                    R"(, "dive_profiles": [)";
    for (size_t i = 0; i < samples.size(); ++i)
        s += (i ? "," : "") + std::string(R"({"profile_time": )") + std::to_string(samples[i].first) +
             R"(, "pressure": ")" + std::to_string(samples[i].second) + "\"}";
    s += R"(], "events": [)";
    for (size_t i = 0; i < events.size(); ++i)
        s += (i ? "," : "") + std::string(R"({"event_time": )") + std::to_string(events[i][0]) + R"(, "event_code": )" +
             std::to_string(events[i][1]) + R"(, "event_value": )" + std::to_string(events[i][2]) + "}";
    return Parsed(s + "]}");
}

struct Point {
    int time;
    double depth;
    std::string symbol;  // "" without a marker
};

std::vector<Point> Chart(const Json::Value& dive, int32_t unit) {
    Json::Value doc;
    const std::string text = ProfileChartJson(dive, unit);
    EXPECT_TRUE(json_safe::Parse(text, doc)) << text;
    std::vector<Point> points;
    for (const Json::Value& e : doc) {
        Point p{e[0].asInt(), e[1].asDouble(), ""};
        if (e.size() == 3) {
            EXPECT_EQ(e[2]["enabled"], Json::Value(true));
            EXPECT_EQ(e[2].getMemberNames(), (std::vector<std::string>{"enabled", "symbol"}));
            p.symbol = e[2]["symbol"].asString();
        }
        points.push_back(p);
    }
    return points;
}

const char* const kScubaIn = "url(../../images/scuba_in.png)";
const char* const kScubaOut = "url(../../images/scuba_out.png)";

}  // namespace

TEST(DiveChart, DepthFromPressure) {
    struct Case {
        const char* what;
        std::string extra;
        double mbar;
        int32_t unit;
        double depth;
    } cases[] = {
        {"fresh water at a standard surface", R"(, "altitude": "1013", "water_type": 1)", 1500, 0, 4.99175},
        {"a surface below 520 mbar is taken as 1013", R"(, "altitude": "400", "water_type": 1)", 1500, 0, 4.99175},
        {"a surface above 1060 mbar is taken as 1013", R"(, "altitude": "1100")", 2013, 0, 10.0},
        {"a missing surface is taken as 1013", R"(, "altitude": null)", 2013, 0, 10.0},
        {"salt water from the logged surface", "", 3000, 0, 20.0},
        {"any other water type is salt water", R"(, "water_type": 2)", 3000, 0, 20.0},
        {"imperial", "", 3000, 1, 20.0 * 3.2808399},
        {"less than half a metre is the surface", "", 1049, 0, 0.0},
        {"half a metre is not", "", 1050, 0, 0.5},
        {"above the surface", "", 900, 0, 0.0},
        {"deeper than the logged maximum: drawn at the maximum", "", 5000, 0, 30.0},
        {"the same in feet", "", 5000, 1, 30.0 * 3.2808399},
    };
    for (const auto& c : cases) {
        const std::vector<Point> points = Chart(Dive({{0, c.mbar}}, {}, c.extra), c.unit);
        ASSERT_EQ(points.size(), 1u) << c.what;
        // Single precision: the text the page gets reads back as the float
        // nearest the depth.
        EXPECT_EQ(static_cast<float>(points[0].depth), static_cast<float>(c.depth)) << c.what;
    }
    EXPECT_NEAR(Chart(Dive({{0, 1500}}, {}, R"(, "altitude": "1013", "water_type": 1)"), 0)[0].depth, 4.99, 0.005);
}

TEST(DiveChart, StartEndAndEventSymbols) {
    const std::vector<std::pair<int, double>> five = {{0, 1000}, {10, 2000}, {20, 3000}, {30, 2000}, {40, 1000}};
    struct Case {
        const char* what;
        std::vector<std::pair<int, double>> samples;
        std::vector<std::array<int, 3>> events;
        std::string extra;
        std::vector<std::string> symbols;  // per sample
    } cases[] = {
        {"start on the second sample, end on the second-to-last", five, {}, "", {"", kScubaIn, "", kScubaOut, ""}},
        {"two samples: a start and no end", {{0, 1000}, {10, 2000}}, {}, "", {"", kScubaIn}},
        {"one sample: no symbol", {{0, 1000}}, {}, "", {""}},
        {"three samples: the end on the middle one replaces the start",
         {{0, 1000}, {10, 2000}, {20, 1000}},
         {},
         "",
         {"", kScubaOut, ""}},
        {"gauge",
         five,
         {},
         R"(, "dive_type": "gauge")",
         {"", "url(../../images/gauge_in.png)", "", "url(../../images/gauge_out.png)", ""}},
        {"freedive",
         five,
         {},
         R"(, "dive_type": "free")",
         {"", "url(../../images/freedive_in.png)", "", "url(../../images/freedive_out.png)", ""}},
        {"decompression with value 0, ascent, depth alarm",
         five,
         {{0, 1, 0}, {20, 3, 5}, {40, 18, 30}},
         "",
         {"url(../../images/need_deco.png)", kScubaIn, "url(../../images/ascent_alarm.png)", kScubaOut,
          "url(../../images/depth_alarm.png)"}},
        {"code 1 with a value, and other codes, are not shown",
         five,
         {{0, 1, 4}, {20, 2, 0}, {40, 7, 0}},
         "",
         {"", kScubaIn, "", kScubaOut, ""}},
        {"a later event at the same time replaces an earlier one",
         five,
         {{10, 18, 0}, {20, 3, 0}, {20, 18, 0}},
         "",
         {"", "url(../../images/depth_alarm.png)", "url(../../images/depth_alarm.png)", kScubaOut, ""}},
        {"an event between samples has no sample to mark", five, {{15, 3, 0}}, "", {"", kScubaIn, "", kScubaOut, ""}},
        {"samples that share a time are both marked (here the end, which comes later, at both)",
         {{0, 1000}, {10, 2000}, {10, 2500}, {20, 1000}},
         {},
         "",
         {"", kScubaOut, kScubaOut, ""}},
    };
    for (const auto& c : cases) {
        const std::vector<Point> points = Chart(Dive(c.samples, c.events, c.extra), 0);
        ASSERT_EQ(points.size(), c.symbols.size()) << c.what;
        for (size_t i = 0; i < points.size(); ++i) {
            EXPECT_EQ(points[i].time, c.samples[i].first) << c.what;
            EXPECT_EQ(points[i].symbol, c.symbols[i]) << c.what << ", sample " << i;
        }
    }
}

TEST(DiveChart, MissingOrBrokenPartsGiveAnEmptyOrPlainChart) {
    EXPECT_EQ(ProfileChartJson(Parsed(R"({"max_depth": "10"})"), 0), "[]");
    EXPECT_EQ(ProfileChartJson(Json::Value(), 0), "[]");
    EXPECT_EQ(ProfileChartJson(Parsed(R"({"dive_profiles": {"a": 1}})"), 0), "[]");
    // Samples that are not objects or hold values of the wrong type read as
    // time 0 at the surface; events that are not objects are dropped.
    const Json::Value broken = Parsed(
        R"({"max_depth": "10", "dive_profiles": [7, {"profile_time": "5", "pressure": 2000}], "events": [1, null]})");
    EXPECT_EQ(ProfileChartJson(broken, 0), R"j([[0,0,{"enabled":true,"symbol":"url(../../images/scuba_in.png)"}],)j"
                                           R"j([0,0,{"enabled":true,"symbol":"url(../../images/scuba_in.png)"}]])j");
    const std::vector<ChartEvent> events = ChartEvents(broken);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].code, 100);
}

TEST(DiveValues, ValuePanelMembersInOrder) {
    const Json::Value dive = Parsed(R"({
        "dive_datetime": 1709600400, "timezone": -480, "dive_type": "scuba", "max_depth": "30.0",
        "average_depth": "10", "dive_duration": 3000, "air_in_text": "200", "air_out_text": "50",
        "cylinder_size_text": "12", "po2": 32, "weather_type": 1, "wave_type": 2, "current_type": 3,
        "visibility_type": 4, "min_temperature": "25.0", "air_temperature": "28.5", "suit_thickness": "5",
        "weight": "6.0", "water_type": 0, "altitude": "1013"})");
    const std::string metric = ValuePanelJson(dive, 0, Lang);
    EXPECT_EQ(metric,
              R"({"value":{"log_date":"2024-03-05 09:00","log_type":"<SCUBA>","log_s_bar":"200",)"
              R"("log_s_bar_unit":"bar","log_e_bar":"50","log_e_bar_unit":"bar","log_volume":"12",)"
              R"("log_volume_unit":"L","log_sac":"18.0","log_sac_unit":"L/min","log_o2":"32",)"
              R"("log_max_depth":"30.0","log_max_depth_unit":"m","log_avg_depth":"10.0","log_avg_depth_unit":"m",)"
              R"("log_dive_time":"50'00","log_weather":"<SUNNY>","log_air_temp":"28.5","log_air_temp_unit":"c",)"
              R"("log_water_temp":"25.0","log_water_temp_unit":"c","log_wave":"<WAVE_SMALL>",)"
              R"("log_current":"<CURRENT_MEDIUM>","log_visibility":"N/A","log_suit_thickness":"5",)"
              R"("log_suit_thickness_unit":"mm","log_weight":"6.0","log_weight_unit":"kg"}})");

    Json::Value doc;
    ASSERT_TRUE(json_safe::Parse(ValuePanelJson(dive, 1, Lang), doc));
    const Json::Value& v = doc["value"];
    EXPECT_EQ(v["log_s_bar"], "2901");
    EXPECT_EQ(v["log_s_bar_unit"], "psi");
    EXPECT_EQ(v["log_volume_unit"], "cuft");
    EXPECT_EQ(v["log_sac_unit"], "cuft/min");
    EXPECT_EQ(v["log_max_depth"], "98.4");
    EXPECT_EQ(v["log_max_depth_unit"], "ft");
    EXPECT_EQ(v["log_water_temp"], "77.0");
    EXPECT_EQ(v["log_water_temp_unit"], "F");
    EXPECT_EQ(v["log_weight"], "13.2");
    EXPECT_EQ(v["log_weight_unit"], "lbs");
    EXPECT_EQ(v["log_suit_thickness_unit"], "mm");

    // A freedive: no cylinder figures, but every unit is still there.
    Json::Value free = dive;
    free["dive_type"] = "free";
    ASSERT_TRUE(json_safe::Parse(ValuePanelJson(free, 0, Lang), doc));
    for (const char* key : {"log_s_bar", "log_e_bar", "log_volume", "log_sac", "log_o2"})
        EXPECT_EQ(doc["value"][key], "N/A") << key;
    for (const char* key : {"log_s_bar_unit", "log_e_bar_unit", "log_volume_unit", "log_sac_unit"})
        EXPECT_NE(doc["value"][key], "") << key;
    EXPECT_EQ(doc["value"]["log_type"], "<FREEDIVE>");

    // Nothing known: every member is there, as zeros; a zero duration has no SAC.
    ASSERT_TRUE(json_safe::Parse(ValuePanelJson(Parsed(R"({"max_depth": 30, "po2": "32"})"), 0, Lang), doc));
    EXPECT_EQ(doc["value"].size(), 28u);
    EXPECT_EQ(doc["value"]["log_date"], "1970-01-01 00:00");
    EXPECT_EQ(doc["value"]["log_max_depth"], "0.0");
    EXPECT_EQ(doc["value"]["log_o2"], "0");
    EXPECT_EQ(doc["value"]["log_sac"], "N/A");
    EXPECT_EQ(doc["value"]["log_dive_time"], "00'00");
}

TEST(DiveValues, MapMarkersAndCentre) {
    using namespace vorta_browser;
    struct Case {
        const char* what;
        std::string dive;
        std::vector<MapScriptCall> calls;
    } cases[] = {
        {"entry and exit, centred between them",
         R"({"entry_position": {"latitude": 25.1, "longitude": 121.5},
             "exit_position": {"latitude": 25.3, "longitude": 121.7},
             "poi": {"poi_id": "7", "gps_location": {"latitude": 1, "longitude": 2}}})",
         {ClrMarker(), SetSMarker(25.1, 121.5), SetEMarker(25.3, 121.7), SetCenter(25.2, 121.6)}},
        {"only an exit",
         R"({"entry_position": {"latitude": 0, "longitude": 0},
                             "exit_position": {"latitude": -8.5, "longitude": 0}})",
         {ClrMarker(), SetEMarker(-8.5, 0), SetCenter(-8.5, 0)}},
        {"positions are cut to whole millionths",
         R"({"entry_position": {"latitude": 25.0339649, "longitude": -121.5000009}})",
         {ClrMarker(), {"setSMarker", {"25.033964", "-121.500000"}}, {"setCenter", {"25.033964", "-121.500000"}}}},
        {"no position: the dive site",
         R"({"poi": {"poi_id": 12, "gps_location": {"latitude": 12.5, "longitude": -70.25}}})",
         {ClrMarker(), SetPMarker(12.5, -70.25), SetCenter(12.5, -70.25)}},
        {"a site without an id is no site",
         R"({"poi": {"poi_id": null, "gps_location": {"latitude": 12.5, "longitude": -70.25}}})",
         {ClrMarker()}},
        {"a site at (0, 0) is no site",
         R"({"poi": {"poi_id": "3", "gps_location": {"latitude": 0.0000004, "longitude": 0}}})",
         {ClrMarker()}},
        {"nothing at all", "{}", {ClrMarker()}},
        {"coordinates of the wrong type or out of any range read as 0",
         R"({"entry_position": {"latitude": "25.1", "longitude": 1e300}, "exit_position": [1, 2]})",
         {ClrMarker()}},
    };
    for (const auto& c : cases) EXPECT_EQ(PositionCalls(Parsed(c.dive)), c.calls) << c.what;
}

TEST(DiveValues, ViewSendsThePanelTheMapAndTheChartInOrder) {
    vorta_test::FakeCloud cloud;
    cloud.answers = {
        R"({"code": "0000000", "response": {"divelog": {"dive_type": "scuba", "max_depth": "20",
            "entry_position": {"latitude": 25.1, "longitude": 121.5},
            "dive_profiles": [{"profile_time": 0, "pressure": "1013"}, {"profile_time": 10, "pressure": "2013"}]}}})",
        R"({"code": "0000001"})",
        "",
        R"({"code": "0000000", "response": {}})",
        R"({"code": "0000000", "response": {"divelog": [1, 2]}})",
    };
    browser_test::RecordingMapScript page;
    CloudAnswer answer = ViewDiveLog(cloud, "100042", 1, Lang, page);
    EXPECT_EQ(answer.status, CloudAnswer::Status::kOk);
    ASSERT_EQ(cloud.requests.size(), 1u);
    EXPECT_EQ(cloud.requests[0].verb, "GET");
    EXPECT_EQ(cloud.requests[0].path, "api/v1/divelogs/divelog/100042");
    EXPECT_EQ(cloud.requests[0].headers.rfind("Authorization: Bearer ", 0), 0u);
    EXPECT_EQ(page.Functions(),
              (std::vector<std::string>{"setDiveValue", "clrMarker", "setSMarker", "setCenter", "setDiveChart"}));
    EXPECT_EQ(page.calls.back().args,
              (std::vector<std::string>{
                  "1", R"j([[0,0],[10,32.8084,{"enabled":true,"symbol":"url(../../images/scuba_in.png)"}]])j"}));

    // Failures leave the page alone; a success without a dive log is one.
    page.calls.clear();
    for (const char* key : {"DATA_ERROR", "HOST_NOT_CONN", "DATA_ERROR", "DATA_ERROR"}) {
        answer = ViewDiveLog(cloud, "100042", 0, Lang, page);
        EXPECT_EQ(answer.status, CloudAnswer::Status::kFailed) << cloud.requests.size();
        EXPECT_EQ(answer.message_key, key) << cloud.requests.size();
    }
    cloud.connect_result = false;
    answer = ViewDiveLog(cloud, "100042", 0, Lang, page);
    EXPECT_EQ(answer.status, CloudAnswer::Status::kNoSession);
    EXPECT_EQ(cloud.requests.size(), 5u);
    EXPECT_TRUE(page.calls.empty());
}
