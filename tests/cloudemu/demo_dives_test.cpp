// The dive logs the emulator serves, read the way the program reads them:
// the demo year holds every kind of dive the browsing pages show, and a dive
// that came in through a sync draws at the depths its device recorded.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "base/json_safe.h"
#include "demo_data.h"
#include "divelog/dive_values.h"
#include "divelog/value_format.h"
#include "log_format.h"

using namespace cloudemu;

namespace {

// The chart document's depths, in metres.
std::vector<double> ChartDepths(const Json::Value& doc) {
    Json::Value chart;
    EXPECT_TRUE(json_safe::Parse(vorta_divelog::ProfileChartJson(doc, 0), chart));
    std::vector<double> depths;
    for (const Json::Value& point : chart) depths.push_back(point[1].asDouble());
    return depths;
}

}  // namespace

TEST(DemoDives, AYearOfEveryKindTheBrowsingPagesShow) {
    const DiveSiteDirectory sites(DiveSiteDirectoryText());
    const std::time_t now = 1796688000;  // 2026-12-08
    for (uint32_t seed : {1u, 2u, 7u}) {
        SCOPED_TRACE(seed);
        const std::vector<DiveRow> rows = GenerateDemoDives(seed, now, sites, "1001");
        std::map<std::string, int> types, places;
        std::set<int> event_codes, months;
        for (const DiveRow& row : rows) {
            Json::Value doc;
            ASSERT_TRUE(json_safe::Parse(row.doc, doc));
            ++types[row.dive_type];
            months.insert(row.local_date / 100);
            const bool has_position = json_safe::Double(doc["entry_position"], "latitude") != 0 ||
                                      json_safe::Double(doc["exit_position"], "latitude") != 0;
            ++places[has_position ? "position" : doc.isMember("poi") ? "site only" : "none"];

            // The day list, the detail and the chart agree with the stored row.
            EXPECT_EQ(doc["dive_type"].asString(), row.dive_type);
            EXPECT_EQ(doc["dive_duration"].asInt(), row.dive_duration);
            const Json::Value& samples = doc["dive_profiles"];
            const int interval = doc["sample_interval"].asInt();
            EXPECT_EQ(row.dive_duration, static_cast<int>(samples.size() - 1) * interval);
            EXPECT_GE(row.dive_duration, row.dive_type == "free" ? 10 : 15 * 60) << row.divelog_id;
            const std::vector<double> depths = ChartDepths(doc);
            ASSERT_EQ(depths.size(), samples.size());
            EXPECT_EQ(depths.front(), 0.0);
            EXPECT_EQ(depths.back(), 0.0);
            EXPECT_NEAR(*std::max_element(depths.begin(), depths.end()), row.max_depth, 0.02) << row.divelog_id;
            // Every event falls on a sample, so the chart can mark it.
            for (const Json::Value& e : doc["events"]) {
                event_codes.insert(e["event_code"].asInt() * 1000 + e["event_value"].asInt());
                EXPECT_EQ(e["event_time"].asInt() % interval, 0);
                EXPECT_LT(e["event_time"].asInt(), row.dive_duration);
            }
        }
        EXPECT_GE(months.size(), 11u);
        for (const char* type : {"scuba", "gauge", "free"}) EXPECT_GE(types[type], 3) << type;
        for (const char* place : {"position", "site only", "none"}) EXPECT_GE(places[place], 2) << place;
        // Decompression (code 1, value 0), ascent too fast (3), depth alarm (18).
        EXPECT_TRUE(event_codes.count(1000));
        EXPECT_TRUE(std::any_of(event_codes.begin(), event_codes.end(), [](int c) { return c / 1000 == 3; }));
        EXPECT_TRUE(std::any_of(event_codes.begin(), event_codes.end(), [](int c) { return c / 1000 == 18; }));
    }
}

TEST(DemoDives, ASyncedDiveDrawsAtItsRecordedDepths) {
    struct Case {
        uint8_t water;
        uint16_t surface_mbar;
    } cases[] = {{0, 1013}, {0, 1022}, {1, 930}, {1, 1013}};
    for (const auto& c : cases) {
        DiveRecord rec;
        rec.dive_number = 7;
        rec.start_time = 1709600400;
        rec.tz_minutes = 480;
        rec.interval_s = 5;
        rec.water_type = c.water;
        rec.surface_mbar = c.surface_mbar;
        for (uint16_t cm : {0, 120, 1850, 3377, 2500, 600, 40, 0}) rec.samples.push_back({cm, 200});
        rec.max_depth_cm = 3377;
        rec.duration_s = 35;
        rec.events = {{10, kEvDepthAlarm, 30}, {15, kEvAscentTooFast, 0}, {20, kEvDeco, 0}};
        DiveRecord decoded;
        std::string error;
        ASSERT_TRUE(DecodeRecord(EncodeRecord(rec), decoded, error)) << error;
        const DiveRow row = MakeDiveRow(decoded, DiveNotes{}, nullptr, "1001");
        Json::Value doc;
        ASSERT_TRUE(json_safe::Parse(row.doc, doc));
        EXPECT_EQ(row.local_date, 20240305);

        const std::vector<double> depths = ChartDepths(doc);
        ASSERT_EQ(depths.size(), rec.samples.size());
        for (size_t i = 0; i < depths.size(); ++i) {
            // The surface band (under half a metre) draws as 0.
            const double recorded = rec.samples[i].depth_cm / 100.0;
            EXPECT_NEAR(depths[i], recorded < 0.5 ? 0.0 : recorded, 0.005)
                << "water " << int(c.water) << " sample " << i;
        }
        std::vector<int> shown;
        for (const vorta_divelog::ChartEvent& e : vorta_divelog::ChartEvents(doc)) shown.push_back(e.code);
        EXPECT_EQ(shown, (std::vector<int>{100, 101, 18, 3, 1}));
    }
}
