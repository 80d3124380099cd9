// The account's dive totals without a window: read from the statistics
// answer, shown as the eight texts of the statistics panel.
#pragma once

#include <json/value.h>

#include <cstdint>
#include <string>

namespace vorta_divelog {

struct Statistics {
    int64_t scuba_minutes = 0;
    int64_t scuba_dives = 0;
    float scuba_max_depth = 0;  // metres
    int64_t free_minutes = 0;
    int64_t free_dives = 0;
    float free_max_depth = 0;
};

// The statistics answer's "response": dive times in seconds (whole minutes
// kept), counts as integers, maximum depths as numbers held as text. Missing
// or mistyped values read as 0; negative times and counts as 0.
Statistics ParseStatistics(const Json::Value& response);

// Whole minutes as hours and minutes, "%d:%.2d": 62 -> "1:02".
std::string TotalTime(int64_t minutes);

// The texts of the statistics panel, named like its elements.
struct StatisticsTexts {
    std::string scuba_total_dive, scuba_total_time, scuba_max_depth, scuba_max_depth_unit;
    std::string free_total_dive, free_total_time, free_max_depth, free_max_depth_unit;
};
StatisticsTexts StatisticsText(const Statistics& stats, int32_t unit);

}  // namespace vorta_divelog
