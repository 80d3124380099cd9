#include "divelog/statistics.h"

#include <algorithm>
#include <cstdio>

#include "base/json_safe.h"
#include "divelog/dive_values.h"
#include "divelog/value_format.h"

namespace vorta_divelog {

namespace {
int64_t NonNegative(const Json::Value& response, const char* key) {
    return std::max<int64_t>(0, JsonInt64(json_safe::Member(response, key)));
}
float Depth(const Json::Value& response, const char* key) {
    return static_cast<float>(TextNumber(json_safe::String(response, key)));
}
}  // namespace

Statistics ParseStatistics(const Json::Value& response) {
    Statistics s;
    s.free_minutes = NonNegative(response, "free_dive_time") / 60;
    s.free_max_depth = Depth(response, "free_max_depth");
    s.free_dives = NonNegative(response, "freedive_mode_count");
    s.scuba_minutes = NonNegative(response, "scuba_dive_time") / 60;
    s.scuba_max_depth = Depth(response, "scuba_max_depth");
    s.scuba_dives = NonNegative(response, "scuba_mode_count");
    return s;
}

std::string TotalTime(int64_t minutes) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%lld:%.2lld", static_cast<long long>(minutes / 60),
                  static_cast<long long>(minutes % 60));
    return buf;
}

StatisticsTexts StatisticsText(const Statistics& s, int32_t unit) {
    StatisticsTexts t;
    t.scuba_total_dive = std::to_string(s.scuba_dives);
    t.scuba_total_time = TotalTime(s.scuba_minutes);
    t.scuba_max_depth = FormatDepth(s.scuba_max_depth, unit);
    t.scuba_max_depth_unit = DepthUnit(unit);
    t.free_total_dive = std::to_string(s.free_dives);
    t.free_total_time = TotalTime(s.free_minutes);
    t.free_max_depth = FormatDepth(s.free_max_depth, unit);
    t.free_max_depth_unit = DepthUnit(unit);
    return t;
}

}  // namespace vorta_divelog
