// The UDDF document of a 2-hour dive (7200 samples a second apart, 40
// events) from the parsed dive log, and its CSV row for comparison. Prints
// the median, best and worst of 200 runs each.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "base/json_safe.h"
#include "divelog/export_csv.h"
#include "divelog/export_uddf.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string TwoHourDive() {
    std::string s =
        R"({"dive_datetime": 1709600400, "timezone": -480, "dive_type": "scuba", "max_depth": "42.50",)"
        R"("average_depth": "18.20", "dive_duration": 7199, "air_in_text": "230.0", "air_out_text": "40.0",)"
        R"("cylinder_size_text": "15", "po2": 32, "min_temperature": "12.5", "air_temperature": "18.0",)"
        R"("water_type": 0, "altitude": "1012", "poi": {"poi_id": "p1", "poi_name": "Reef",)"
        R"("gps_location": {"latitude": 25.12, "longitude": 121.51}}, "dive_profiles": [)";
    char buf[128];
    for (int t = 0; t < 7200; ++t) {
        double depth = t < 180 ? t * 42.0 / 180 : t < 6000 ? 42.0 - (t - 180) * 30.0 / 5820 : (7199 - t) * 12.0 / 1199;
        std::snprintf(buf, sizeof buf, R"(%s{"profile_time": %d, "pressure": "%.1f"})", t ? "," : "", t,
                      1012 + depth * 100);
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

void Measure(const char* what, const char* target, const std::function<size_t()>& run) {
    std::vector<double> ms;
    size_t bytes = 0;
    for (int i = 0; i < 200; ++i) {
        const auto start = Clock::now();
        bytes = run();
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%s: median %.3f ms, best %.3f ms, worst %.3f ms (%zu bytes%s)\n", what, ms[ms.size() / 2], ms.front(),
                ms.back(), bytes, target);
}

}  // namespace

int main() {
    std::vector<Json::Value> dives(1);
    if (!json_safe::Parse(TwoHourDive(), dives[0])) {
        std::fprintf(stderr, "the generated dive does not parse\n");
        return 1;
    }
    Measure("UDDF of a 2-hour dive, 7200 samples + 40 events", "; target <= 10 ms", [&dives] {
        return vorta_divelog::UddfDocument(dives, {"VORTA PC TOOL", "1.0"}, {"Demo Diver", "demo@vorta.example"})
            .size();
    });
    Measure("CSV of the same dive", "", [&dives] {
        return vorta_divelog::CsvDocument(dives, 0, [](const std::string& key) { return key; }).size();
    });
    return 0;
}
