// The logbook copy in the real program against the cloud emulator:
//  - with every dive-log answer delayed 300 ms: a month change and a "view"
//    of something stored, from the click to the page drawn (seen on a second
//    automation connection, which is served while the program waits for the
//    cloud), against the bare delayed GET;
//  - "Save logbook for offline use" of the demo account, clicked once the
//    program has settled after the sign-in, from the click to its closing
//    message, in nine programs each with an empty store, each against the
//    sum of the same GETs made by this process on one connection right
//    after it (the median of the nine ratios); whether the progress page
//    came up (only once the save has lasted its delay); the save's own work
//    in this process without a dialog, each of three runs against the bare
//    GETs of its round; and the store's size per dive.
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "cloud/cloud_api.h"
#include "base/app_state.h"
#include "cloud/http_post.h"
#include "divelog/offline_save.h"
#include "tests/support/app_process.h"
#include "tests/support/automation_client.h"
#include "tests/support/cloudemu_process.h"

namespace {

using Clock = std::chrono::steady_clock;
const char* const kFrame = "framepage1";
constexpr int kDelayMs = 300;
// The quiet time before the offline save is clicked.
constexpr int kSettleMs = 1500;
// The programs whose save is timed.
constexpr int kSavePrograms = 9;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

// What identifies the drawn month: every cell's day and class.
std::string Grid(AutomationClient& c) {
    std::string all;
    for (int i = 0; i < 42; i += 7) {
        char id[32];
        std::snprintf(id, sizeof id, "date_cell_%.2d", i);
        all += c.GetText(id, kFrame).value_or("?") + c.GetAttr(id, "class", kFrame).value_or("?") + ";";
    }
    return all;
}

// The last chart the detail page was given.
std::string LastChart(AutomationClient& c) {
    Json::Value req;
    req["cmd"] = "get_received";
    req["page"] = "main.htm";
    req["frame"] = kFrame;
    req["element"] = "ie_page";
    const Json::Value calls = c.Request(req)["value"];
    std::string last;
    for (const Json::Value& call : calls)
        if (call["f"].asString() == "setDiveChart" && call["a"].size() == 2) last = call["a"][1].asString();
    return last;
}

// The date-time the detail page's value panel shows.
std::string LogDate(AutomationClient& c) {
    Json::Value req;
    req["cmd"] = "get_text";
    req["page"] = "main.htm";
    req["frames"].append(kFrame);
    req["frames"].append("ie_page");
    req["element"] = "log_date";
    return c.Request(req)["value"].asString();
}

// Polls `reader` on the watching connection until it gives `expected`.
template <class F>
double Until(const Clock::time_point start, F reader, const std::string& expected) {
    const auto limit = start + std::chrono::seconds(10);
    while (Clock::now() < limit)
        if (reader() == expected) return Ms(Clock::now() - start);
    return -1;
}

// One program signed in to the demo account, driven on two connections.
struct Session {
    AppProcess program;
    AutomationClient app, watch;

    bool Start(const vorta_test::CloudEmuProcess& emu) {
        program.env["VORTA_PROGRAM_DIR"] = AppProcess::BinDir();
        program.env["VORTA_CLOUD_HOST"] = emu.host();
        program.env["VORTA_CA_FILE"] = emu.ca_file();
        program.env["VORTA_DEVICE_PORT"] = program.home() + "/no-such-tty";
        if (!program.Start() || !app.Connect(program.socket(), 20000) || !app.WaitWindow("login.htm", 20000)) {
            std::fprintf(stderr, "the program did not come up\n");
            return false;
        }
        app.SetTargetPage("login.htm");
        app.SetValue("email", vorta_test::CloudEmuProcess::kDemoEmail);
        app.SetValue("pword", vorta_test::CloudEmuProcess::kDemoPassword);
        app.Click("login");
        app.SetTargetPage("main.htm");
        if (!app.WaitWindow("main.htm", 20000) || !app.GetText("calendardate", kFrame) ||
            !watch.Connect(program.socket(), 20000)) {
            std::fprintf(stderr, "the main page did not come up\n");
            return false;
        }
        watch.SetTargetPage("main.htm");
        return true;
    }

    // Ends the program and its web processes, which would share the machine
    // with the next program's save.
    void Stop() {
        app.Close();
        watch.Close();
        program.StopWithItsProcesses();
    }
};

// How one "save for offline use" went in the program.
struct SaveRun {
    double save_ms = -1, dialog_ms = -1;
    bool on_line = false;
};

// The whole logbook saved into the session's empty store, timed from the
// click to its closing message; false when it did not end.
bool TimeSave(vorta_test::CloudEmuProcess& emu, Session& session, SaveRun& run) {
    AutomationClient& app = session.app;
    AutomationClient& watch = session.watch;
    // The whole logbook saved, timed from the click to its closing message.
    // Clicked once the program has settled after the sign-in: the main page
    // has fetched its profile picture and drawn (its web process is busy
    // for about a second after the sign-in), so that the figure is the
    // save's and not the tail of the page's start-up.
    for (const auto limit = Clock::now() + std::chrono::seconds(10); Clock::now() < limit;) {
        bool fetched = false;
        for (const vorta_test::CloudRequest& r : emu.Log()) fetched = fetched || r.path == "/static/avatar.png";
        if (fetched) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kSettleMs));
    emu.Reset();
    app.SetTargetPage("main.htm");
    const std::string line_before = app.GetText("message", kFrame).value_or("");
    const auto start = Clock::now();
    app.Click("offline_save", kFrame);
    // The progress dialog comes up only once the save has lasted its delay:
    // whether and when its page was up is seen on the other connection,
    // which waits for it on a thread of its own, and then for the message
    // dialog that ends a save shown in it.
    std::atomic<double> message_ms{-1};
    std::thread dialog_watch([&] {
        if (!watch.WaitWindow("progress.htm", 3000)) return;
        run.dialog_ms = Ms(Clock::now() - start);
        if (watch.WaitWindow("msg.htm", 5 * 60 * 1000)) message_ms = Ms(Clock::now() - start);
    });
    // Its closing message: on the main page's message line when the save was
    // over before its dialog came up, else in a message dialog. The line is
    // watched by the program (no reads of the page while the save runs,
    // which would take from the processor time the save has); every quarter
    // of a second the watch is renewed and the message dialog looked for.
    bool ended = false, &on_line = run.on_line;
    std::string was = line_before;
    double& save_ms = run.save_ms;
    for (const auto limit = Clock::now() + std::chrono::minutes(5); !ended && Clock::now() < limit;) {
        app.SetTargetPage("main.htm");
        const std::optional<std::string> line = app.WaitTextNot("message", was, kFrame, 250);
        if (line && !line->empty()) {
            save_ms = Ms(Clock::now() - start);
            on_line = ended = true;
        } else if (line) {
            was.clear();  // the line was emptied at the start: its next text is the message
        } else if (message_ms >= 0) {
            save_ms = message_ms;
            ended = true;
        } else {
            app.SetTargetPage("");
            // A failure's message dialog, which needs no progress dialog first.
            if ((ended = app.WaitWindow("msg.htm", 0))) save_ms = Ms(Clock::now() - start);
        }
    }
    dialog_watch.join();
    if (!ended) {
        std::fprintf(stderr, "the offline save did not end\n");
        return false;
    }
    if (!on_line) {
        app.SetTargetPage("msg.htm");
        app.Click("ok");
    }
    return true;
}

// The sum of `paths` as bare GETs on one new connection, in ms. `settle`:
// after the same quiet time as the save had before its click.
double BareGets(const HttpOptions& options, const std::string& host, const std::vector<std::string>& paths,
                const std::string& header, bool settle = false) {
    if (settle) std::this_thread::sleep_for(std::chrono::milliseconds(kSettleMs));
    const auto start = Clock::now();
    HttpPost http(options);
    http.connect(host, 8443);
    for (const std::string& p : paths) http.request(nullptr, 0, 0, "GET", p, header);
    return Ms(Clock::now() - start);
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(2, atoi(argv[1])) : 20;
    vorta_test::CloudEmuProcess emu;
    if (!emu.Start()) {
        std::fprintf(stderr, "the cloud emulator did not start\n");
        return 1;
    }
    Session first;
    if (!first.Start(emu)) return 1;
    AppProcess& program = first.program;
    AutomationClient& app = first.app;
    AutomationClient& watch = first.watch;
    // The save, in this program and in eight more, each into an empty store
    // and each followed by the same GETs bare, while it stays up and idle:
    // each ratio is taken within its program, under the same load.
    std::vector<SaveRun> saves(1);
    if (!TimeSave(emu, first, saves[0])) return 1;
    app.SetTargetPage("main.htm");
    std::vector<std::string> paths;
    int dives = 0;
    for (const vorta_test::CloudRequest& r : emu.Log()) {
        // The save's own requests: not the main page's profile picture,
        // which may still be on its way after the reset.
        if (r.verb != "GET" || r.path.rfind("/api/", 0) != 0) continue;
        paths.push_back(r.path.substr(1));
        if (r.path.find("/divelogs/divelog/") != std::string::npos) ++dives;
    }
    setenv("VORTA_CLOUD_HOST", emu.host().c_str(), 1);
    HttpOptions options;
    options.ca_file = emu.ca_file();
    const std::string header = "Authorization: Bearer " + emu.DemoToken() + "\r\n\r\n";
    std::vector<double> save_bare{BareGets(options, emu.host(), paths, header, true)};
    // Three rounds of the bare GETs followed by the save's own work without
    // its dialog (the same run in this process, into a fresh store; the last
    // one is kept for its size). The ratio of the work is taken within each
    // round, so that both halves see the same load on the machine.
    std::vector<double> core_runs, core_ratios;
    const std::string path = program.home() + "/bench-logbook.sqlite";
    auto start = Clock::now();
    for (int i = 0; i < 3; ++i) {
        const double bare_ms = BareGets(options, emu.host(), paths, header);
        std::remove(path.c_str());
        std::remove((path + "-wal").c_str());
        std::remove((path + "-shm").c_str());
        auto bench_store = vorta_divelog::LogbookStore::Open(path, "bench").store;
        HttpPost http(options);
        NullProgressSink sink;
        AppState.token = emu.DemoToken();
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        start = Clock::now();
        if (bench_store)
            vorta_divelog::SaveLogbookForOffline(*bench_store, http, sink, local.tm_year + 1900, local.tm_mon + 1,
                                                 [] { return int64_t(0); });
        core_runs.push_back(Ms(Clock::now() - start));
        core_ratios.push_back(bare_ms > 0 ? core_runs.back() / bare_ms : 0.0);
    }
    const double core_ms = Median(core_runs);
    // That store closed: its write-ahead log is copied back into the file,
    // which then holds the whole logbook.
    long long closed_bytes = 0;
    {
        struct stat st {};
        if (stat(path.c_str(), &st) == 0) closed_bytes = st.st_size;
    }
    // The file itself, and its write-ahead log (reused once it has been
    // copied back into the file, at most about 4 MB).
    long long store_bytes[2] = {0, 0};
    for (int i = 0; i < 2; ++i) {
        struct stat st {};
        const std::string file = program.home() + "/.local/share/VORTA PC TOOL/logbook.sqlite" + (i ? "-wal" : "");
        if (stat(file.c_str(), &st) == 0) store_bytes[i] = st.st_size;
    }

    // Two stored dives of one day, each known by the date-time its value
    // panel shows and the chart it was given, recorded before the delay.
    struct Drawn {
        std::string date, chart;
    };
    std::vector<Drawn> dives_drawn;
    for (int back = 0; back < 24 && dives_drawn.size() < 2; ++back) {
        for (int i = 0; i < 42 && dives_drawn.size() < 2; ++i) {
            char id[32];
            std::snprintf(id, sizeof id, "date_cell_%.2d", i);
            if (app.GetAttr(id, "class", kFrame).value_or("").find("dive_day") == std::string::npos) continue;
            app.Click(id, kFrame);
            dives_drawn.clear();
            for (int nth = 0; nth < 2 && app.Click("view", kFrame, nth); ++nth) {
                app.GetText("calendardate", kFrame);  // the handler has ended
                dives_drawn.push_back({LogDate(watch), LastChart(watch)});
            }
            if (dives_drawn.size() == 2 && dives_drawn[0].date == dives_drawn[1].date) dives_drawn.clear();
        }
        if (dives_drawn.size() < 2) app.Click("lastmon", kFrame);
    }

    vorta_test::CloudFault slow;
    slow.kind = "slow";
    slow.path = "/api/v1/divelogs/";
    slow.delay_ms = kDelayMs;
    slow.count = -1;
    emu.SetFault(slow);
    std::vector<double> month_ms, view_ms;
    int view_missed = 0, wrong_charts = 0, month_missed = 0;
    for (int i = 0; i < rounds && dives_drawn.size() == 2; ++i) {
        const Drawn& dive = dives_drawn[static_cast<size_t>(i % 2)];
        const auto t = Clock::now();
        app.Click("view", kFrame, i % 2);
        // Watched on the other connection, which is served while the program
        // waits for the cloud. The program makes the value panel's call and
        // the chart's in one go, so once the date is read the chart's call
        // has run too (the page takes calls in order); it is checked after.
        const double ms = Until(
            t, [&] { return LogDate(watch); }, dive.date);
        if (ms < 0) ++view_missed;
        else view_ms.push_back(ms);
        app.GetText("calendardate", kFrame);  // the handler has ended
        if (LastChart(watch) != dive.chart) ++wrong_charts;
    }
    // The month change between two stored months, each recorded once drawn.
    // The program writes a month's title and its 42 cells in one batch that
    // the page takes at once: the title read on the other connection tells
    // the drawing; the cells are checked after.
    app.Click("lastmon", kFrame);
    const std::string title_a = app.GetText("calendardate", kFrame).value_or("");
    const std::string month_a = Grid(watch);
    app.Click("nextmon", kFrame);
    const std::string title_b = app.GetText("calendardate", kFrame).value_or("");
    const std::string month_b = Grid(watch);
    int wrong_months = 0;
    for (int i = 0; i < rounds; ++i) {
        const auto t = Clock::now();
        app.Click(i % 2 ? "nextmon" : "lastmon", kFrame);
        const double ms = Until(
            t, [&] { return watch.GetText("calendardate", kFrame).value_or(""); }, i % 2 ? title_b : title_a);
        if (ms < 0) ++month_missed;
        else month_ms.push_back(ms);
        if (Grid(watch) != (i % 2 ? month_b : month_a)) ++wrong_months;
        app.GetText("calendardate", kFrame);
    }
    if (dives_drawn.size() < 2 || view_missed || wrong_charts || month_missed || wrong_months)
        std::printf(
            "NOT MEASURED AS MEANT: %s%d views not drawn, %d wrong charts, %d month changes not drawn, %d wrong "
            "months\n",
            dives_drawn.size() < 2 ? "no day with two stored dives; " : "", view_missed, wrong_charts, month_missed,
            wrong_months);

    // The bare delayed GET, for comparison.
    std::vector<double> get_ms;
    HttpPost kept(options);
    kept.connect(emu.host(), 8443);
    for (int i = 0; i < 5; ++i) {
        const auto t = Clock::now();
        kept.request(nullptr, 0, 0, "GET", paths.front(), header);
        get_ms.push_back(Ms(Clock::now() - t));
    }

    // The save in the other programs (the emulator answers at once again),
    // each alone on the machine and the display: a program left up beside
    // them repaints its window as theirs come and go.
    first.Stop();
    emu.Reset();
    for (int i = 1; i < kSavePrograms; ++i) {
        Session more;
        saves.emplace_back();
        if (!more.Start(emu) || !TimeSave(emu, more, saves.back())) return 1;
        save_bare.push_back(BareGets(options, emu.host(), paths, header, true));
        more.Stop();
    }
    std::vector<double> save_runs, save_ratios;
    for (size_t i = 0; i < saves.size(); ++i) {
        save_runs.push_back(saves[i].save_ms);
        save_ratios.push_back(save_bare[i] > 0 ? saves[i].save_ms / save_bare[i] : 0.0);
    }
    std::sort(save_runs.begin(), save_runs.end());
    std::sort(save_bare.begin(), save_bare.end());
    std::sort(save_ratios.begin(), save_ratios.end());
    const SaveRun& first_save = saves.front();

    std::printf("answers delayed %d ms; each figure the median of %d:\n", kDelayMs, rounds);
    std::printf("  month change of a stored month, click to drawn: %.1f ms (goal <= 30)\n", Median(month_ms));
    std::printf("  view of a stored dive, click to chart drawn: %.1f ms (goal <= 30)\n", Median(view_ms));
    std::printf("  the bare delayed GET on a kept connection: %.1f ms\n", Median(get_ms));
    std::sort(core_runs.begin(), core_runs.end());
    std::sort(core_ratios.begin(), core_ratios.end());
    std::printf(
        "save for offline use: %zu GETs (%d dive logs) in %.0f ms (median of %d programs, %.0f-%.0f); the same "
        "GETs on one connection after each %.0f ms (median, %.0f-%.0f); ratio %.2f (median of the programs' ratios, "
        "%.2f-%.2f; goal <= 1.2)\n",
        paths.size(), dives, Median(save_runs), kSavePrograms, save_runs.front(), save_runs.back(), Median(save_bare),
        save_bare.front(), save_bare.back(), Median(save_ratios), save_ratios.front(), save_ratios.back());
    if (first_save.dialog_ms >= 0)
        std::printf(
            "  in the first program, the click to the progress dialog's page up: %.0f ms; from there to the closing "
            "message %.0f ms\n",
            first_save.dialog_ms, first_save.save_ms - first_save.dialog_ms);
    else
        std::printf("  in the first program, the progress dialog did not come up (the save ended within its delay%s)\n",
                    first_save.on_line ? "; its message on the main page's message line" : "");
    std::printf(
        "  the save's own work in this process (no dialog): %.0f ms (median of 3, %.0f-%.0f), ratio %.2f (median of "
        "the rounds' ratios, %.2f-%.2f)\n",
        core_ms, core_runs.front(), core_runs.back(), core_ratios[1], core_ratios.front(), core_ratios.back());
    std::printf(
        "store: %lld bytes, %.0f bytes per dive, once closed (the program's open store: %lld bytes, its "
        "write-ahead log beside it %lld bytes)\n",
        closed_bytes, dives ? static_cast<double>(closed_bytes) / dives : 0.0, store_bytes[0], store_bytes[1]);
    std::printf(
        "start-up: the store is opened at the first dive-log read after sign-in, not before the "
        "sign-in page (see the launch benchmark)\n");
    return 0;
}
