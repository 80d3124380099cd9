// Prints medians of the UI engine's costs as the program meets them:
//  - a calendar refresh (42 cells: text and class) and a list refresh (64 rows
//    appended from a template), from the first queued write until a following
//    read has come back, i.e. everything reached the page; the page is left
//    to finish drawing between rounds, as between two user actions;
//  - one synchronous read;
//  - showing a dialog again (the pooled window and view are reused);
//  - resident memory of the UI process and its web processes.
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bench/support/bench_support.h"
#include "ui_engine/element.h"
#include "ui_engine/host_window.h"
#include "ui_engine/ui_engine.h"

namespace {

using vorta_bench::Clock;
using vorta_bench::MedianMean;
using vorta_bench::Ms;

void Report(const char* what, const std::vector<double>& samples, double goal_ms) {
    std::vector<double> s = samples;
    std::sort(s.begin(), s.end());
    std::printf("%-44s median %8.3f ms  min %8.3f  p90 %8.3f  (n=%zu, goal <= %.1f ms)\n", what, MedianMean(s),
                s.front(), s[s.size() * 9 / 10], s.size(), goal_ms);
}

std::string Page(const std::string& name) {
    return std::string(BENCH_PAGES) + "/ENG/" + name;
}

// Resident set sizes (kB) of this process and all its descendants, by name.
std::map<std::string, long> ResidentByProcess() {
    std::map<int, int> parent;
    std::map<int, std::string> name;
    std::map<int, long> rss;
    DIR* d = opendir("/proc");
    if (!d) return {};
    while (dirent* e = readdir(d)) {
        int pid = std::atoi(e->d_name);
        if (pid <= 0) continue;
        std::ifstream f(std::string("/proc/") + e->d_name + "/status");
        std::string line;
        while (std::getline(f, line)) {
            std::istringstream is(line);
            std::string key;
            is >> key;
            if (key == "Name:") is >> name[pid];
            if (key == "PPid:") is >> parent[pid];
            if (key == "VmRSS:") is >> rss[pid];
        }
    }
    closedir(d);
    std::map<std::string, long> out;
    int self = getpid();
    for (const auto& p : rss) {
        int q = p.first;
        for (int hops = 0; q > 1 && q != self && hops < 64; ++hops) q = parent[q];
        if (q == self)
            out[p.first == self ? std::string("UI process") : name[p.first] + " " + std::to_string(p.first)] +=
                p.second;
    }
    return out;
}

// Lets the page finish drawing the previous round, as between two user actions.
void Idle(int ms) {
    bool never = false;
    ui::RunLoopUntil([&] { return never; }, ms);
}

}  // namespace

int main() {
    if (!ui::InitEngine(BENCH_PAGES)) {
        std::fprintf(stderr, "no display\n");
        return 1;
    }
    ui::WindowOptions o;
    o.width = 980;
    o.height = 700;
    ui::HostWindow win(o);
    if (!win.LoadPage(Page("bench.htm"))) {
        std::fprintf(stderr, "bench page missing\n");
        return 1;
    }
    win.Show();
    ui::Element status = ui::FindById(win, "status");
    status.GetText();

    // Calendar: 42 day cells get their text and class.
    std::vector<double> calendar;
    char id[32];
    for (int round = 0; round < 60; ++round) {
        Idle(40);
        auto t0 = Clock::now();
        for (int i = 0; i < 42; ++i) {
            std::snprintf(id, sizeof id, "date_cell_%.2d", i);
            ui::Element cell = ui::FindById(win, id);
            cell.SetText(std::to_string((i + round) % 31 + 1));
            cell.SetAttribute("class", (i + round) % 5 == 0 ? "day dive" : "day");
        }
        status.GetText();
        calendar.push_back(Ms(t0, Clock::now()));
    }

    // List: 64 rows appended from a template with escaped data.
    std::vector<double> list;
    ui::Element tbody = ui::FindById(win, "cell_tbody");
    for (int round = 0; round < 60; ++round) {
        Idle(40);
        auto t0 = Clock::now();
        tbody.SetHtml("");
        for (int i = 0; i < 64; ++i) {
            std::string name = ui::EscapeHtml("Site <" + std::to_string(i) + "> & reef");
            tbody.AppendHtml("<tr><td class=\"btnctrl\" id=\"dive_site_cell_" + std::to_string(i) + "\">" + name +
                             "</td><td>25.123456</td><td>121.654321</td></tr>");
        }
        status.GetText();
        list.push_back(Ms(t0, Clock::now()));
    }

    // One synchronous read.
    std::vector<double> reads;
    for (int i = 0; i < 300; ++i) {
        auto t0 = Clock::now();
        status.GetText();
        reads.push_back(Ms(t0, Clock::now()));
    }

    // Dialogs: create, load, fill, show modally; time until the modal loop runs
    // with the page up. The first show is reported apart.
    std::vector<double> dialogs;
    double first_dialog = 0;
    for (int round = 0; round < 21; ++round) {
        auto t0 = Clock::now();
        ui::WindowOptions d;
        d.kind = ui::WindowKind::Dialog;
        d.width = 280;
        d.height = 160;
        d.parent = &win;
        ui::HostWindow dlg(d);
        dlg.LoadPage(Page("dialog.htm"));
        ui::FindById(dlg, "MsgText1").SetText("message " + std::to_string(round));
        double shown = 0;
        ui::PostToUi([&] {
            ui::FindById(dlg, "MsgText1").GetText();  // the page has its text
            shown = Ms(t0, Clock::now());
            dlg.EndDialog(1);
        });
        dlg.RunModal();
        if (round == 0) first_dialog = shown;
        else dialogs.push_back(shown);
    }

    std::printf("UI engine bridge figures (WebKitGTK %s)\n", "4.1");
    Report("calendar refresh, 42 cells text+class", calendar, 5.0);
    Report("list refresh, 64 rows from a template", list, 5.0);
    Report("synchronous read", reads, 0.5);
    std::printf("%-44s          %8.3f ms\n", "first dialog show (pre-made window)", first_dialog);
    Report("later dialog show (pooled window and view)", dialogs, 30.0);

    // Memory with the main window and a dialog window in the pool.
    bool never = false;
    ui::RunLoopUntil([&] { return never; }, 500);
    long total = 0;
    for (const auto& p : ResidentByProcess()) {
        std::printf("resident %-36s %8.1f MB\n", p.first.c_str(), p.second / 1024.0);
        total += p.second;
    }
    std::printf("resident %-36s %8.1f MB\n", "all processes", total / 1024.0);
    return 0;
}
