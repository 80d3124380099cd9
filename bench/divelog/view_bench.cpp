// "view" of a 2-hour dive in C++: the value panel and profile chart documents
// built from the parsed dive log (7200 samples a second apart, 40 events),
// as the detail page receives them. Prints the median and worst time of both
// documents together, per unit system.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "base/json_safe.h"
#include "divelog/dive_values.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string TwoHourDive() {
    std::string s =
        R"({"dive_datetime": 1709600400, "timezone": -480, "dive_type": "scuba", "max_depth": "42.50",)"
        R"("average_depth": "18.20", "dive_duration": 7199, "air_in_text": "230.0", "air_out_text": "40.0",)"
        R"("cylinder_size_text": "15", "po2": 32, "weather_type": 2, "wave_type": 1, "current_type": 2,)"
        R"("visibility_type": 1, "min_temperature": "12.5", "air_temperature": "18.0",)"
        R"("suit_thickness": "7", "weight": "8.0", "water_type": 0, "altitude": "1012",)"
        R"("entry_position": {"latitude": 25.12, "longitude": 121.51},)"
        R"("exit_position": {"latitude": 25.121, "longitude": 121.512}, "dive_profiles": [)";
    char buf[128];
    for (int t = 0; t < 7200; ++t) {
        // Down to 42 m, a long multilevel bottom, up with stops.
        double depth = t < 180 ? t * 42.0 / 180 : t < 6000 ? 42.0 - (t - 180) * 30.0 / 5820 : (7199 - t) * 12.0 / 1199;
        std::snprintf(buf, sizeof buf, R"(%s{"profile_time": %d, "pressure": "%.1f", "temperature": "12.5"})",
                      t ? "," : "", t, 1012 + depth * 100);
        s += buf;
    }
    s += R"(], "events": [)";
    for (int i = 0; i < 40; ++i) {
        static const int kCodes[] = {1, 3, 18, 2};
        std::snprintf(buf, sizeof buf, R"(%s{"event_time": %d, "event_code": %d, "event_value": 0})", i ? "," : "",
                      150 + i * 170, kCodes[i % 4]);
        s += buf;
    }
    return s + "]}";
}

}  // namespace

int main() {
    Json::Value dive;
    if (!json_safe::Parse(TwoHourDive(), dive)) {
        std::fprintf(stderr, "the generated dive does not parse\n");
        return 1;
    }
    auto lang = [](const std::string& key) { return key; };
    for (int unit : {0, 1}) {
        std::vector<double> ms;
        size_t bytes = 0;
        for (int run = 0; run < 200; ++run) {
            const auto start = Clock::now();
            const std::string values = vorta_divelog::ValuePanelJson(dive, unit, lang);
            const std::string chart = vorta_divelog::ProfileChartJson(dive, unit);
            ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
            bytes = values.size() + chart.size();
        }
        std::sort(ms.begin(), ms.end());
        std::printf(
            "view documents, 7200 samples + 40 events, %s: median %.3f ms, best %.3f ms, "
            "worst %.3f ms (%zu bytes; target <= 2 ms)\n",
            unit ? "imperial" : "metric", ms[ms.size() / 2], ms.front(), ms.back(), bytes);
    }
    return 0;
}
