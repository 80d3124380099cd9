// Prints how long the two script pages take from being attached to ready,
// offline (no map tiles configured), and the memory of the UI process and
// its web processes with the main page up, the dive-site map and the dive
// detail loaded with a 2-hour dive (7200 samples, 40 events).
//
//  - maps.htm: attached -> the host may call it (its scripts ran) -> the
//    page reports its map ready (on_load_map_event, basemap drawn);
//  - main.htm: attached -> the host may call it (chart and map made) -> its
//    basemap drawn; then a 2-hour dive handed over and drawn.
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/app_state.h"
#include "base/config.h"
#include "base/window_messages.h"
#include "bench/support/bench_support.h"
#include "browser/map_event_state.h"
#include "browser/map_host.h"
#include "browser/map_script.h"
#include "ui_engine/element.h"
#include "ui_engine/host_window.h"
#include "ui_engine/ui_engine.h"
#include "tests/support/proc_memory.h"

namespace {

using vorta_bench::Clock;
using vorta_bench::Ms;
const std::string kBin = VORTA_BIN_DIR;

void Report(const char* what, std::vector<double> v, double goal_ms) {
    if (v.empty()) {
        std::printf("%-52s no samples\n", what);
        return;
    }
    std::sort(v.begin(), v.end());
    std::printf("%-52s median %7.1f ms  min %7.1f  max %7.1f  (n=%zu, goal <= %.0f ms)\n", what, v[v.size() / 2],
                v.front(), v.back(), v.size(), goal_ms);
}

void Idle(int ms) {
    bool never = false;
    ui::RunLoopUntil([&] { return never; }, ms);
}

struct Memory {
    long rss = 0, pss = 0;
    std::string lines;
};

// Resident and proportional size of this process and its web processes.
Memory Measure() {
    Memory m;
    for (pid_t pid : vorta_test::ProcessTree(getpid())) {
        const long r = vorta_test::ResidentKb(pid), p = vorta_test::ProportionalKb(pid);
        m.rss += r;
        m.pss += p;
        m.lines += "    " + vorta_test::ProcessName(pid) + " (" + std::to_string(pid) +
                   "): " + std::to_string(r / 1024) + " MB resident, " + std::to_string(p / 1024) +
                   " MB proportional\n";
    }
    return m;
}

// A 2-hour dive as the detail shows it: one sample a second, down to 30 m
// and back in stages, with the start and end symbols and 38 alarms.
std::string TwoHourChart() {
    std::string out = "[";
    const char* symbols[] = {"depth_alarm", "ascent_alarm", "need_deco"};
    int alarms = 0;
    for (int t = 0; t < 7200; ++t) {
        double d = t < 600    ? t / 20.0
                   : t < 5400 ? 30 - (t - 600) / 240.0
                   : t < 7000 ? 10 - (t - 5400) / 200.0
                              : 2 - (t - 7000) / 100.0;
        if (d < 0) d = 0;
        char buf[64];
        std::snprintf(buf, sizeof buf, "%s[%d,%.2f", t ? "," : "", t, d);
        out += buf;
        const char* symbol = nullptr;
        if (t == 1) symbol = "scuba_in";
        else if (t == 7198) symbol = "scuba_out";
        else if (t % 180 == 90 && alarms < 38) symbol = symbols[alarms++ % 3];
        if (symbol) out += std::string(",{\"enabled\":true,\"symbol\":\"url(../../images/") + symbol + ".png)\"}";
        out += "]";
    }
    return out + "]";
}

std::string InFrame(const char* frame) {
    return std::string("document.getElementById('") + frame + "').contentDocument.getElementById('ie_page')";
}

}  // namespace

int main(int argc, char** argv) {
    // "mem": the memory alone, in a process that has loaded nothing before.
    const bool memory_only = argc > 1 && std::strcmp(argv[1], "mem") == 0;
    int runs = memory_only ? -1 : argc > 1 ? std::max(1, atoi(argv[1])) : 11;
    unsetenv("VORTA_MAP_TILE_URL");
    setenv("XDG_CONFIG_HOME", "/nonexistent-vorta-bench", 1);  // no config file: no online tiles
    ReloadConfig();
    if (!ui::InitEngine(kBin)) {
        std::fprintf(stderr, "no display\n");
        return 1;
    }
    AppState.page_dir = kBin + "/ENG/";
    ui::WindowOptions o;
    o.width = 980;
    o.height = 700;
    ui::HostWindow win(o);
    std::vector<uint32_t> messages;
    win.SetMessageHandler([&](uint32_t msg, intptr_t, intptr_t) { messages.push_back(msg); });
    if (!win.LoadPage(kBin + "/ENG/main.htm")) {
        std::fprintf(stderr, "no main page in %s\n", kBin.c_str());
        return 1;
    }
    win.Show();
    MapEventState.target = win.id();
    auto got = [&](uint32_t msg) { return std::find(messages.begin(), messages.end(), msg) != messages.end(); };
    Idle(1000);
    const Memory base = Measure();

    // maps.htm in the dive-site page.
    ui::FindById(win, "framepage1").SetAttribute("hidden", "");
    ui::FindById(win, "framepage2").RemoveAttribute("hidden");
    std::vector<double> maps_ready, maps_loaded;
    for (int i = 0; i <= runs; ++i) {
        MapHost host;
        messages.clear();
        auto t0 = Clock::now();
        if (!host.Attach(win.id(), "framepage2", "web_html/maps.htm")) return 1;
        ui::RunLoopUntil([&] { return host.ready(); }, 10000);
        auto t1 = Clock::now();
        ui::RunLoopUntil([&] { return got(kMsgMapLoaded); }, 10000);
        auto t2 = Clock::now();
        if (i > 0) {  // the first load fills the caches
            if (host.ready()) maps_ready.push_back(Ms(t0, t1));
            if (got(kMsgMapLoaded)) maps_loaded.push_back(Ms(t0, t2));
        }
        host.Detach();
        Idle(100);
    }

    // main.htm in the dive-log page.
    ui::FindById(win, "framepage2").SetAttribute("hidden", "");
    ui::FindById(win, "framepage1").RemoveAttribute("hidden");
    const std::string chart = TwoHourChart();
    std::vector<double> main_ready, main_map, chart_drawn;
    for (int i = 0; i <= runs; ++i) {
        MapHost host;
        auto t0 = Clock::now();
        if (!host.Attach(win.id(), "framepage1", "web_html/main.htm")) return 1;
        ui::RunLoopUntil([&] { return host.ready(); }, 10000);
        auto t1 = Clock::now();
        bool drawn = ui::RunLoopUntil(
            [&] {
                return win.Evaluate(InFrame("framepage1") + ".contentDocument.body.getAttribute('data-map')") ==
                       "ready";
            },
            10000);
        auto t2 = Clock::now();
        // The chart of a 2-hour dive, handed over and drawn: a read after the
        // call returns once the page has run it (uPlot draws within the call).
        auto t3 = Clock::now();
        host.Call(vorta_browser::SetDiveChart(0, chart));
        std::string n = win.Evaluate(InFrame("framepage1") + ".contentWindow.eval('String(chart.state.t.length)')");
        auto t4 = Clock::now();
        if (i > 0) {
            if (host.ready()) main_ready.push_back(Ms(t0, t1));
            if (drawn) main_map.push_back(Ms(t0, t2));
            if (n == "7200") chart_drawn.push_back(Ms(t3, t4));
        }
        host.Detach();
        Idle(100);
    }

    std::printf("Script pages, offline (no map tiles), %d runs each after one warm-up\n", runs);
    Report("maps.htm: attached -> takes calls", maps_ready, 300);
    Report("maps.htm: attached -> on_load_map_event (land drawn)", maps_loaded, 300);
    Report("main.htm: attached -> takes calls (chart ready)", main_ready, 300);
    Report("main.htm: attached -> basemap drawn", main_map, 300);
    Report("main.htm: 2-hour dive chart handed over and drawn", chart_drawn, 150);

    // Memory: the detail showing the 2-hour dive (the program attaches the
    // dive-site map only when its tab is first shown), then both maps up.
    MapHost sites, detail;
    detail.Attach(win.id(), "framepage1", "web_html/main.htm");
    ui::RunLoopUntil([&] { return detail.ready(); }, 10000);
    Idle(1000);
    detail.Call(vorta_browser::SetDiveValue("{\"value\":{\"log_date\":\"2024-03-05 09:00\",\"log_type\":\"Scuba\"}}"));
    detail.Call(vorta_browser::SetDiveChart(0, chart));
    detail.Call(vorta_browser::ClrMarker());
    detail.Call(vorta_browser::SetSMarker(25.1, 121.5));
    detail.Call(vorta_browser::SetEMarker(25.3, 121.7));
    detail.Call(vorta_browser::SetCenter(25.2, 121.6));
    win.Evaluate("1");
    Idle(1500);
    const Memory detail_only = Measure();
    std::printf(
        "memory with the main page and the detail (map and 2-hour chart) up, the dive-site tab not opened:\n"
        "  %ld MB proportional (goal <= 160 MB), %ld MB resident (shared pages counted in every process)\n%s",
        detail_only.pss / 1024, detail_only.rss / 1024, detail_only.lines.c_str());
    sites.Attach(win.id(), "framepage2", "web_html/maps.htm");
    ui::RunLoopUntil([&] { return sites.ready(); }, 10000);
    Idle(1500);
    const Memory up = Measure();
    std::printf(
        "memory with the main page, the dive-site map and the detail (map and 2-hour chart) up:\n"
        "  %ld MB proportional (each page once), %ld MB resident (shared pages counted "
        "in every process)\n%s",
        up.pss / 1024, up.rss / 1024, up.lines.c_str());
    std::printf("  the main page alone, before: %ld MB proportional, %ld MB resident\n", base.pss / 1024,
                base.rss / 1024);
    return 0;
}
