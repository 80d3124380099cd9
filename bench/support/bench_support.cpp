#include "bench/support/bench_support.h"

#include <fcntl.h>
#include <termios.h>

#include <algorithm>
#include <cstdio>

#include "tests/support/app_process.h"
#include "tests/support/automation_client.h"
#include "tests/support/cloudemu_process.h"
#include "tests/support/devsim_process.h"
#include "tests/support/sign_in.h"

namespace vorta_bench {

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double Ms(Clock::time_point from, Clock::time_point to) {
    return Ms(to - from);
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

double MedianMean(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    if (v.empty()) return 0.0;
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

bool StartCloud(vorta_test::CloudEmuProcess& emu) {
    if (emu.Start()) return true;
    std::fprintf(stderr, "the cloud emulator did not start\n");
    return false;
}

bool StartSignedIn(AppProcess& program, AutomationClient& ui) {
    if (!program.Start() || !ui.Connect(program.socket(), 20000)) {
        std::fprintf(stderr, "the program did not come up\n");
        return false;
    }
    const bool signed_in = vorta_test::SignInDemo(ui);
    ui.SetTargetPage("main.htm");
    if (!signed_in || !ui.GetText("calendardate", "framepage1")) {
        std::fprintf(stderr, "the main page did not come up\n");
        return false;
    }
    return true;
}

bool StartQuietSimulator(DevSimProcess& sim) {
    sim.DisableTrace();
    if (sim.Start({"--dives", "0"})) return true;
    std::fprintf(stderr, "simulator: %s\n", sim.error().c_str());
    return false;
}

int OpenTty(const std::string& path) {
    return ::open(path.c_str(), O_RDWR | O_NOCTTY);
}

void MakeRaw(int fd) {
    struct termios tio {};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(fd, TCSANOW, &tio);
}

}  // namespace vorta_bench
