// Memory of the real program, all its processes (the UI process and the web
// and network processes it starts), at three points of a session against the
// cloud emulator's demo account: the sign-in page up; signed in, the main page
// up; a dive viewed (its detail with the map and the profile chart). Prints the
// proportional size (each shared page counted once) and the resident size of
// each process, and its private size (pages no other process maps: the
// figure that does not move with what else runs on the machine sharing the
// same libraries). In the same run, the engine's own floor (bin/app_engine_floor:
// one window, one web view, a small static page, the program's engine
// settings), measured the same way, and the program's figures as ratios of
// it. Then the footprint split by process (UI, web, network) for the floor
// and the program, and what sits above the floor by process and mapping (a
// library, the heap, anonymous memory). Run under Xvfb:
//   xvfb-run -a -s "-screen 0 1280x800x24 -noreset" bin/app_dive_memory_bench [runs]
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <unordered_set>
#include <utility>
#include <vector>

#include "tests/support/app_process.h"
#include "tests/support/automation_client.h"
#include "tests/support/child_process.h"
#include "tests/support/cloudemu_process.h"
#include "tests/support/proc_memory.h"
#include "tests/support/wait_for.h"

namespace {

// The kinds of process the footprint is split by: the program's own (the
// UI process), the engine's web processes, its network process, and any
// other (a sandbox helper).
enum Kind { kUi, kWeb, kNetwork, kOther, kKinds };
const char* const kKindNames[kKinds] = {"UI process", "web process(es)", "network process", "other"};

Kind KindOf(pid_t pid, pid_t root) {
    if (pid == root) return kUi;
    const std::string name = vorta_test::ProcessName(pid);
    if (name.find("WebProces") != std::string::npos) return kWeb;
    if (name.find("NetworkPr") != std::string::npos) return kNetwork;
    return kOther;
}

struct Memory {
    long pss = 0, rss = 0, uss = 0;  // kB
    long alone = -1;                 // kB, FootprintKb
    std::string lines;
    // The footprint split by kind of process (a page shared by several goes
    // to the first: UI, then web, then network) and by kind and mapping.
    long by_kind[kKinds] = {};
    std::map<std::pair<int, std::string>, long> by_mapping;
};

Memory Measure(pid_t root) {
    Memory m;
    const std::vector<pid_t> tree = vorta_test::ProcessTree(root);
    m.alone = vorta_test::FootprintKb(tree);
    std::vector<pid_t> ordered = tree;
    std::stable_sort(ordered.begin(), ordered.end(),
                     [root](pid_t a, pid_t b) { return KindOf(a, root) < KindOf(b, root); });
    for (const vorta_test::FootprintShare& share : vorta_test::FootprintByMapping(ordered)) {
        const Kind kind = KindOf(share.pid, root);
        m.by_kind[kind] += share.kb;
        m.by_mapping[{kind, share.mapping}] += share.kb;
    }
    for (pid_t pid : tree) {
        const long r = vorta_test::ResidentKb(pid), p = vorta_test::ProportionalKb(pid), u = vorta_test::PrivateKb(pid);
        m.rss += r;
        m.pss += p;
        m.uss += u;
        char buf[200];
        std::snprintf(buf, sizeof buf, "    %-16s %6.1f MB proportional, %6.1f MB resident, %6.1f MB private\n",
                      vorta_test::ProcessName(pid).c_str(), p / 1024.0, r / 1024.0, u / 1024.0);
        m.lines += buf;
    }
    return m;
}

// Longer than the web processes' memory-pressure check (every 5 s), so that
// what they release without need is released before the figure is taken.
void Settle() {
    std::this_thread::sleep_for(std::chrono::milliseconds(6500));
}

// The engine floor, from its start to its page loaded and settled.
Memory Floor(bool& ok) {
    int out = -1;
    const pid_t pid = vorta_test::SpawnWithOutputPipe({AppProcess::BinDir() + "/app_engine_floor"}, out);
    ok = pid > 0 && vorta_test::ReadFirstLine(out, std::chrono::seconds(30)).rfind("READY", 0) == 0;
    Memory m;
    if (ok) {
        Settle();
        m = Measure(pid);
    }
    if (pid > 0) vorta_test::StopChild(pid, std::chrono::seconds(5));
    if (out >= 0) close(out);
    return m;
}

struct Session {
    Memory floor, sign_in, main_page, dive;
    bool ok = false;
};

Session RunOnce(vorta_test::CloudEmuProcess& emu) {
    Session s;
    bool floor_ok = false;
    s.floor = Floor(floor_ok);
    if (!floor_ok) {
        std::fprintf(stderr, "the engine floor did not come up\n");
        return s;
    }
    AppProcess program;
    program.env["VORTA_PROGRAM_DIR"] = AppProcess::BinDir();
    program.env["VORTA_CLOUD_HOST"] = emu.host();
    program.env["VORTA_CA_FILE"] = emu.ca_file();
    program.env["VORTA_DEVICE_PORT"] = program.home() + "/no-such-tty";
    AutomationClient ui;
    if (!program.Start() || !ui.Connect(program.socket(), 20000) || !ui.WaitWindow("login.htm", 20000)) {
        std::fprintf(stderr, "the sign-in page did not come up\n");
        return s;
    }
    Settle();
    s.sign_in = Measure(program.pid());

    ui.SetTargetPage("login.htm");
    ui.SetValue("email", vorta_test::CloudEmuProcess::kDemoEmail);
    ui.SetValue("pword", vorta_test::CloudEmuProcess::kDemoPassword);
    ui.Click("login");
    ui.SetTargetPage("main.htm");
    const char* frame = "framepage1";
    if (!ui.WaitWindow("main.htm", 20000) ||
        !vorta_test::WaitFor([&] { return !ui.GetText("calendardate", frame).value_or("").empty(); }, 20000)) {
        std::fprintf(stderr, "the main page did not come up\n");
        return s;
    }
    Settle();
    s.main_page = Measure(program.pid());

    // Back month by month to a day with dives; its first dive viewed.
    int cell = -1;
    for (int month = 0; month < 12 && cell < 0; ++month) {
        for (int i = 0; i < 42 && cell < 0; ++i) {
            char id[16];
            std::snprintf(id, sizeof id, "date_cell_%.2d", i);
            if (ui.GetAttr(id, "class", frame).value_or("").find("in_dive_day") != std::string::npos) cell = i;
        }
        if (cell < 0) ui.Click("lastmon", frame);
    }
    char id[16];
    std::snprintf(id, sizeof id, "date_cell_%.2d", cell);
    if (cell < 0 || !ui.Click(id, frame) || !ui.Click("view", frame)) {
        std::fprintf(stderr, "no dive to view\n");
        return s;
    }
    Json::Value req;
    req["cmd"] = "get_text";
    req["page"] = "main.htm";
    req["frames"].append(frame);
    req["frames"].append("ie_page");
    req["element"] = "log_max_depth";
    if (!vorta_test::WaitFor([&] { return !ui.Request(req)["value"].asString().empty(); }, 20000)) {
        std::fprintf(stderr, "the dive detail did not come up\n");
        return s;
    }
    Settle();
    s.dive = Measure(program.pid());
    s.ok = true;
    ui.SetTargetPage("");
    ui.Close();
    program.Stop();
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 3;
    vorta_test::CloudEmuProcess emu;
    if (!emu.Start()) {
        std::fprintf(stderr, "the cloud emulator did not start\n");
        return 1;
    }
    std::vector<Session> sessions;
    for (int i = 0; i < runs; ++i) {
        Session s = RunOnce(emu);
        if (s.ok) sessions.push_back(s);
    }
    if (sessions.empty()) return 1;
    // The run of median footprint with a dive open, in full.
    std::sort(sessions.begin(), sessions.end(),
              [](const Session& a, const Session& b) { return a.dive.alone < b.dive.alone; });
    const Session& m = sessions[sessions.size() / 2];
    auto show = [&m](const char* what, const Memory& mem, const char* goal) {
        char ratio[64] = "";
        if (&mem != &m.floor)
            std::snprintf(ratio, sizeof ratio, " = %.2fx the floor%s", static_cast<double>(mem.alone) / m.floor.alone,
                          goal);
        std::printf(
            "%s: %.1f MB counting each page once (the proportional figure on an otherwise idle machine)%s; "
            "%.1f MB proportional, %.1f MB resident, %.1f MB private\n%s",
            what, mem.alone / 1024.0, ratio, mem.pss / 1024.0, mem.rss / 1024.0, mem.uss / 1024.0, mem.lines.c_str());
    };
    std::printf("memory of all processes, median of %zu sessions (by the footprint with a dive open)\n",
                sessions.size());
    show("engine floor (one window, one web view, a small static page)", m.floor, "");
    show("sign-in page", m.sign_in, " (goal <= 1.10x)");
    show("signed in, main page", m.main_page, "");
    show("a dive viewed (detail, map and chart)", m.dive, " (goal <= 1.25x)");
    // The footprint by kind of process, and what sits above the floor.
    std::printf("each page once, by process: %-16s %10s %10s %10s %10s\n", "", "floor", "sign-in", "main page", "dive");
    for (int k = 0; k < kKinds; ++k)
        std::printf("  %-42s %7.1f MB %7.1f MB %7.1f MB %7.1f MB\n", kKindNames[k], m.floor.by_kind[k] / 1024.0,
                    m.sign_in.by_kind[k] / 1024.0, m.main_page.by_kind[k] / 1024.0, m.dive.by_kind[k] / 1024.0);
    auto above = [&m](const char* what, const Memory& mem) {
        std::map<std::pair<int, std::string>, long> diff = mem.by_mapping;
        for (const auto& [key, kb] : m.floor.by_mapping) diff[key] -= kb;
        std::vector<std::pair<long, std::pair<int, std::string>>> sorted;
        for (const auto& [key, kb] : diff) sorted.emplace_back(kb, key);
        std::sort(sorted.begin(), sorted.end(),
                  [](const auto& a, const auto& b) { return std::labs(a.first) > std::labs(b.first); });
        std::printf("%s, above the floor by mapping (largest first):\n", what);
        for (size_t i = 0; i < sorted.size() && i < 24 && std::labs(sorted[i].first) >= 256; ++i)
            std::printf("  %+7.1f MB  %-16s %s\n", sorted[i].first / 1024.0, kKindNames[sorted[i].second.first],
                        sorted[i].second.second.c_str());
    };
    above("sign-in page", m.sign_in);
    above("a dive viewed", m.dive);
    auto ratio = [](const Memory& a, const Memory& b) { return static_cast<double>(a.alone) / b.alone; };
    std::printf("ratio to the floor, every session: sign-in");
    for (const Session& s : sessions) std::printf(" %.2f", ratio(s.sign_in, s.floor));
    std::printf("; a dive viewed");
    for (const Session& s : sessions) std::printf(" %.2f", ratio(s.dive, s.floor));
    std::printf("\n");
    std::printf("with a dive viewed, every session:");
    for (const Session& s : sessions) std::printf(" %.1f", s.dive.pss / 1024.0);
    std::printf(" MB proportional;");
    for (const Session& s : sessions) std::printf(" %.1f", s.dive.uss / 1024.0);
    std::printf(" MB private;");
    for (const Session& s : sessions) std::printf(" %.1f", s.dive.alone / 1024.0);
    std::printf(" MB each page once\n");
    return 0;
}
