// Launch of the real program to the interactive sign-in page, and the
// resident memory of all its processes (UI process and web processes) with
// the sign-in page up. Prints the figures.
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/app_process.h"
#include "tests/support/automation_client.h"
#include "tests/support/proc_memory.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Run {
    double launch_ms = -1;
    long rss_kb = 0;
    long pss_kb = 0;
    std::string detail;
};

Run LaunchOnce(bool measure_memory) {
    Run run;
    AppProcess program;
    Clock::time_point start = Clock::now();
    if (!program.Start()) return run;
    AutomationClient app;
    if (app.Connect(program.socket(), 15000) && app.WaitWindow("login.htm", 15000)) {
        run.launch_ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        if (measure_memory) {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            for (pid_t p : vorta_test::ProcessTree(program.pid())) {
                const long kb = vorta_test::ResidentKb(p), pss = vorta_test::ProportionalKb(p);
                run.rss_kb += kb;
                run.pss_kb += pss;
                run.detail += "    " + vorta_test::ProcessName(p) + " (" + std::to_string(p) +
                              "): " + std::to_string(kb / 1024) + " MB resident, " + std::to_string(pss / 1024) +
                              " MB proportional\n";
            }
        }
        app.Click("exit");
    }
    program.WaitExit(10000);
    return run;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 9;
    LaunchOnce(false);  // warm the file cache
    std::vector<double> times;
    Run memory;
    for (int i = 0; i < runs; ++i) {
        Run r = LaunchOnce(i == runs - 1);
        if (r.launch_ms < 0) {
            std::printf("launch %d: the sign-in page did not come up\n", i);
            continue;
        }
        times.push_back(r.launch_ms);
        if (i == runs - 1) memory = r;
    }
    if (times.empty()) return 1;
    std::sort(times.begin(), times.end());
    std::printf("launch to interactive sign-in page: median %.1f ms (min %.1f, max %.1f, %zu runs; goal <= 350 ms)\n",
                times[times.size() / 2], times.front(), times.back(), times.size());
    std::printf(
        "memory of all processes with the sign-in page up: %ld MB resident (shared pages counted in "
        "every process), %ld MB proportional (each page once); aim <= 350 MB\n%s",
        memory.rss_kb / 1024, memory.pss_kb / 1024, memory.detail.c_str());
    return 0;
}
