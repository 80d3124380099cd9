// The UDDF document of a 2-hour dive (7200 samples a second apart, 40
// events) from the parsed dive log, and its CSV row for comparison: the
// median, best and worst of 200 runs each. Then the export of the demo
// account's whole logbook against the cloud emulator, as the export runs
// without its dialog: into an empty store (every dive log fetched) against
// the sum of the same GETs made bare on one connection (five rounds of the
// two, each ratio taken within its round; the processor time of both
// beside them), and again with everything stored.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/app_state.h"
#include "base/json_safe.h"
#include "cloud/http_post.h"
#include "divelog/export_csv.h"
#include "divelog/export_logbook.h"
#include "divelog/export_uddf.h"
#include "divelog/offline_save.h"
#include "tests/support/cloudemu_process.h"

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

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// The processor time this process has used, all its threads, in ms: beside
// the wall-clock figures, what the work itself costs whatever else the
// machine runs.
double CpuMs() {
    struct rusage u {};
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

int WholeLogbook() {
    vorta_test::CloudEmuProcess emu;
    if (!emu.Start()) {
        std::fprintf(stderr, "the cloud emulator did not start\n");
        return 1;
    }
    HttpOptions options;
    options.ca_file = emu.ca_file();
    setenv("VORTA_CLOUD_HOST", emu.host().c_str(), 1);
    AppState.token = emu.DemoToken();
    char dir[] = "/tmp/export-bench-XXXXXX";
    if (!mkdtemp(dir)) return 1;
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    const vorta_divelog::ExportMonths all{0, (local.tm_year + 1900) * 100 + local.tm_mon + 1};
    vorta_divelog::ExportTarget target;
    target.path = std::string(dir) + "/all.uddf";
    target.lang = [](const std::string& key) { return key; };
    target.generator = {"VORTA PC TOOL", "1.0"};
    target.owner = {"Demo Diver", "demo@vorta.example"};
    NullProgressSink sink;
    auto stamp = [] { return int64_t(0); };

    // Five rounds, each an export into a new empty store (the last store is
    // kept) followed by the same GETs bare on one connection: each ratio is
    // taken within its round, so that both halves see the same load on the
    // machine. The medians are printed with their ranges.
    constexpr int kRounds = 5;
    std::unique_ptr<vorta_divelog::LogbookStore> store;
    std::vector<double> fetched_runs, bare_runs, ratios, fetched_cpu, bare_cpu;
    vorta_divelog::LogbookExportResult fetched;
    std::vector<std::string> paths;
    const std::string header = "Authorization: Bearer " + emu.DemoToken() + "\r\n\r\n";
    auto start = Clock::now();
    for (int i = 0; i < kRounds; ++i) {
        store.reset();
        store =
            vorta_divelog::LogbookStore::Open(std::string(dir) + "/logbook" + std::to_string(i) + ".sqlite", "bench")
                .store;
        if (!store) return 1;
        emu.Reset();
        double cpu = CpuMs();
        start = Clock::now();
        {
            HttpPost http(options);
            fetched = vorta_divelog::ExportLogbook(*store, &http, sink, all, target, stamp);
        }
        fetched_runs.push_back(Ms(Clock::now() - start));
        fetched_cpu.push_back(CpuMs() - cpu);
        paths.clear();
        for (const vorta_test::CloudRequest& r : emu.Log())
            if (r.verb == "GET") paths.push_back(r.path.substr(1));
        cpu = CpuMs();
        start = Clock::now();
        {
            HttpPost http(options);
            http.connect(emu.host(), 8443);
            for (const std::string& p : paths) http.request(nullptr, 0, 0, "GET", p, header);
        }
        bare_runs.push_back(Ms(Clock::now() - start));
        bare_cpu.push_back(CpuMs() - cpu);
        ratios.push_back(bare_runs.back() > 0 ? fetched_runs.back() / bare_runs.back() : 0.0);
    }
    std::sort(fetched_runs.begin(), fetched_runs.end());
    std::sort(bare_runs.begin(), bare_runs.end());
    std::sort(ratios.begin(), ratios.end());
    std::sort(fetched_cpu.begin(), fetched_cpu.end());
    std::sort(bare_cpu.begin(), bare_cpu.end());
    const double fetched_ms = fetched_runs[kRounds / 2], bare_ms = bare_runs[kRounds / 2];

    // Of which the walk that fetches and stores: the same walk alone, into
    // a second empty store.
    double walk_ms = 0;
    {
        auto walk_store = vorta_divelog::LogbookStore::Open(std::string(dir) + "/walk.sqlite", "bench").store;
        HttpPost http(options);
        start = Clock::now();
        if (walk_store)
            vorta_divelog::SaveLogbookForOffline(*walk_store, http, sink, all.last / 100, all.last % 100, stamp);
        walk_ms = Ms(Clock::now() - start);
    }

    std::vector<double> stored_ms;
    vorta_divelog::LogbookExportResult stored;
    for (int i = 0; i < 10; ++i) {
        HttpPost http(options);
        start = Clock::now();
        stored = vorta_divelog::ExportLogbook(*store, &http, sink, all, target, stamp);
        stored_ms.push_back(Ms(Clock::now() - start));
    }
    std::sort(stored_ms.begin(), stored_ms.end());
    std::printf(
        "export of the whole logbook, not stored: %d dives, %zu GETs in %.0f ms (median of %d, %.0f-%.0f); the same "
        "GETs bare on one connection %.0f ms (%.0f-%.0f); ratio %.2f (median of the rounds' ratios, %.2f-%.2f; "
        "target <= 1.2)\n",
        fetched.dives, paths.size(), fetched_ms, kRounds, fetched_runs.front(), fetched_runs.back(), bare_ms,
        bare_runs.front(), bare_runs.back(), ratios[kRounds / 2], ratios.front(), ratios.back());
    std::printf("  processor time of this process (medians): the export %.0f ms, the bare GETs %.0f ms\n",
                fetched_cpu[kRounds / 2], bare_cpu[kRounds / 2]);
    std::printf("  of which the offline save's walk alone (fetch and store): %.0f ms\n", walk_ms);
    std::printf("export of the whole logbook, stored: %d dives, %d GETs, median of 10 %.1f ms (target <= 1000 ms)\n",
                stored.dives, stored.requests, stored_ms[stored_ms.size() / 2]);
    store.reset();
    std::system(("rm -rf '" + std::string(dir) + "'").c_str());
    return fetched.status == vorta_divelog::LogbookExportResult::Status::kDone ? 0 : 1;
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
    return WholeLogbook();
}
