// The statistics panel's texts from the cloud's totals.
#include <gtest/gtest.h>

#include "base/json_safe.h"
#include "divelog/statistics.h"

using namespace vorta_divelog;

TEST(Statistics, TotalsAsThePanelShowsThem) {
    struct Case {
        const char* what;
        const char* response;
        int32_t unit;
        StatisticsTexts texts;
    } cases[] = {
        {"hours and minutes, metres",
         R"({"scuba_mode_count": 12, "scuba_dive_time": 3725, "scuba_max_depth": "40.5",
             "freedive_mode_count": 3, "free_dive_time": 59, "free_max_depth": "12"})",
         0,
         {"12", "1:02", "40.5", "m", "3", "0:00", "12.0", "m"}},
        {"feet",
         R"({"scuba_max_depth": "40.5", "free_max_depth": "12"})",
         1,
         {"0", "0:00", "132.9", "ft", "0", "0:00", "39.4", "ft"}},
        {"a hundred hours and more",
         R"({"free_dive_time": 360000, "scuba_dive_time": 3600000000})",
         0,
         {"0", "1000000:00", "0.0", "m", "0", "100:00", "0.0", "m"}},
        {"missing or mistyped values are 0",
         R"({"scuba_mode_count": "12", "scuba_dive_time": null, "scuba_max_depth": 40.5, "free_dive_time": -600,
             "freedive_mode_count": -2})",
         0,
         {"0", "0:00", "0.0", "m", "0", "0:00", "0.0", "m"}},
        // Depths beyond what a float holds are not shown as "inf"; a negative
        // hair is no "-0.0".
        {"depths out of range",
         R"({"scuba_max_depth": "1e308", "free_max_depth": "-0.01"})",
         0,
         {"0", "0:00", "N/A", "m", "0", "0:00", "0.0", "m"}},
        {"no response at all", "null", 0, {"0", "0:00", "0.0", "m", "0", "0:00", "0.0", "m"}},
    };
    for (const auto& c : cases) {
        Json::Value response;
        ASSERT_TRUE(json_safe::Parse(c.response, response)) << c.what;
        const StatisticsTexts t = StatisticsText(ParseStatistics(response), c.unit);
        const StatisticsTexts& e = c.texts;
        EXPECT_EQ(t.scuba_total_dive, e.scuba_total_dive) << c.what;
        EXPECT_EQ(t.scuba_total_time, e.scuba_total_time) << c.what;
        EXPECT_EQ(t.scuba_max_depth, e.scuba_max_depth) << c.what;
        EXPECT_EQ(t.scuba_max_depth_unit, e.scuba_max_depth_unit) << c.what;
        EXPECT_EQ(t.free_total_dive, e.free_total_dive) << c.what;
        EXPECT_EQ(t.free_total_time, e.free_total_time) << c.what;
        EXPECT_EQ(t.free_max_depth, e.free_max_depth) << c.what;
        EXPECT_EQ(t.free_max_depth_unit, e.free_max_depth_unit) << c.what;
    }
}
