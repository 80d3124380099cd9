// A long session of the real program against the cloud emulator's demo
// account and a simulated dive computer, driven through the automation
// channel: months browsed, dives viewed (each a different one, detail with
// map and chart), edits saved, syncs, dive sites written and read back, ".ds"
// files imported and exported, firmware and dive-site database updates, the
// language and units changed and changed back. Every answer is checked as the
// end-to-end tests check it.
//
// Printed: the memory of all processes (each page counted once), the open
// descriptors and threads of the program's process, after a warm-up (one step
// of each kind) and every 50 steps. Exits non-zero on a wrong answer, on
// descriptors or threads not back to their warm-up count after a step, on
// memory growth beyond 10 MB over the session, or when the program does not
// exit cleanly at the end (a sanitizer build reports its leaks then).
//
//   xvfb-run -a -s "-screen 0 1280x800x24 -noreset" bin/app_soak_bench [divisor]
//
// `divisor` divides every step count (default 1, the whole session; 10 is the
// short form CI runs). Each kind of step runs at least once.
// SOAK_ONLY=<kind> (e.g. "view") runs the steps of that kind alone after the
// warm-up, to tell which kind a growth comes with; SOAK_ROUNDS=<n> repeats
// the session n times (the bound stays that of one session); SOAK_DETAIL=1
// prints the growth by mapping at every sample; SOAK_EVERY=<n> samples every
// n steps instead of 50, naming the step's kind, and SOAK_STEPS=<n> ends the
// session after n steps, to tell which steps a growth comes with.
#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/json_safe.h"
#include "tests/support/app_process.h"
#include "tests/support/automation_client.h"
#include "tests/support/calendar_cell.h"
#include "tests/support/cloudemu_process.h"
#include "tests/support/devsim_process.h"
#include "tests/support/proc_memory.h"
#include "tests/support/sanitizer.h"
#include "tests/support/sign_in.h"
#include "tests/support/wait_for.h"

using vorta_test::CloudEmuProcess;
using vorta_test::WaitFor;

namespace {

const char* const kCalendar = "framepage1";
const char* const kSites = "framepage2";
const char* const kEdit = "log_edit.htm";
constexpr long kGrowthBoundKb = 10 * 1024;       // over the whole session
constexpr long kShortGrowthBoundKb = 25 * 1024;  // over a shorter session
constexpr int kSampleEvery = 50;                 // steps, unless SOAK_EVERY says otherwise

enum class Step { kMonth, kView, kEdit, kSync, kSitesDevice, kSitesFile, kFirmware, kSiteDatabase, kSettings };

struct Plan {
    Step step;
    int full;  // steps of the whole session
    const char* name;
};
const Plan kPlan[] = {
    {Step::kMonth, 24, "month"},
    {Step::kView, 300, "view"},
    {Step::kEdit, 30, "edit"},
    {Step::kSitesFile, 10, ".ds import and export"},
    {Step::kSitesDevice, 10, "sites to device and back"},
    {Step::kSync, 10, "sync"},
    {Step::kFirmware, 3, "firmware update"},
    {Step::kSiteDatabase, 3, "dive-site database update"},
    {Step::kSettings, 2, "language and units"},
};

std::string Fixed(const char* pattern, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, pattern, v);
    return buf;
}

std::string Digits(const char* pattern, int v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, pattern, v);
    return buf;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The ENG text of a message key, read from the program's string.json.
std::string Lang(const std::string& key) {
    static const Json::Value table = [] {
        Json::Value parsed;
        json_safe::Parse(ReadFile(AppProcess::BinDir() + "/string.json"), parsed);
        return parsed;
    }();
    const std::string text = json_safe::String(json_safe::Member(table, key.c_str()), "ENG");
    return text.empty() ? "<no text for " + key + ">" : text;
}

// A dive of the demo account and where the calendar shows it.
struct Dive {
    std::string id;
    int year = 0, month = 0;
    int cell = -1;  // calendar cell of its day
    int row = 0;    // its row in the day's list
    Json::Value doc;
};

struct Sample {
    int step = 0;
    long memory_kb = 0;
    int fds = 0, threads = 0;
    std::string by_process;
    std::map<std::string, long> by_mapping;  // "process mapping" -> kB, each page once
};

class Soak {
public:
    explicit Soak(int divisor) : divisor_(divisor) {}
    int Run();

private:
    bool Fail(const std::string& what) {
        std::fprintf(stderr, "step %d (%s): %s\n", step_, step_name_, what.c_str());
        for (const AutomationWindow& w : ui_.Windows())
            std::fprintf(stderr, "  window %s%s\n", w.path.c_str(), w.visible ? "" : " (hidden)");
        if (std::getenv("SOAK_SNAPSHOT")) ui_.Snapshot(std::getenv("SOAK_SNAPSHOT"));
        return false;
    }
    bool Check(bool ok, const std::string& what) { return ok || Fail(what); }

    Json::Value Cloud(const std::string& path) {
        Json::Value root;
        json_safe::Parse(emu_.Call("GET", path, "", {"Authorization: Bearer " + token_}).body, root);
        return json_safe::Member(root, "response");
    }
    bool ListDives();

    std::string Text(const std::string& page, const std::string& id, const std::string& frame = "") {
        ui_.SetTargetPage(page);
        const std::string t = ui_.GetText(id, frame).value_or("");
        ui_.SetTargetPage("");
        return t;
    }
    bool ClickOn(const std::string& page, const std::string& id, const std::string& frame = "", int nth = 0) {
        ui_.SetTargetPage(page);
        const bool ok = ui_.Click(id, frame, nth);
        ui_.SetTargetPage("");
        return ok;
    }
    bool Visible(const std::string& page) {
        for (const AutomationWindow& w : ui_.Windows())
            if (w.page == page && w.visible) return true;
        return false;
    }
    std::string MainPath() {
        for (const AutomationWindow& w : ui_.Windows())
            if (w.page == "main.htm") return w.path;
        return "";
    }
    // Waits for the message dialog, returns its text and closes it.
    std::string TakeMessage(int timeout_ms = 20000) {
        if (!ui_.WaitWindow("msg.htm", timeout_ms)) return "";
        const std::string text = Text("msg.htm", "MsgText1");
        ClickOn("msg.htm", "ok");
        WaitFor([this] { return !Visible("msg.htm"); }, 5000);
        return text;
    }
    // Whether the next message is `text` (what it was goes to the log).
    bool Said(const std::string& text) {
        const std::string said = TakeMessage(60000);
        if (said != text) std::fprintf(stderr, "the message was \"%s\"\n", said.c_str());
        return said == text;
    }
    // Answers the yes/no question with yes and returns its text.
    std::string AnswerYes() {
        if (!ui_.WaitWindow("yes_no.htm", 20000)) return "";
        const std::string text = Text("yes_no.htm", "MsgText");
        ClickOn("yes_no.htm", "ok");
        WaitFor([this] { return !Visible("yes_no.htm"); }, 5000);
        return text;
    }
    // Waits until the progress dialog has come and gone; its stage lines,
    // and a message shown meanwhile.
    std::set<std::string> Progress(std::string& message) {
        std::set<std::string> stages;
        bool seen = false;
        WaitFor(
            [&] {
                const bool shown = Visible("progress.htm");
                if (shown) {
                    seen = true;
                    stages.insert(Text("progress.htm", "MsgText1"));
                }
                if (Visible("msg.htm")) {
                    message = TakeMessage(1000);
                    return !Visible("progress.htm");
                }
                return seen && !shown;
            },
            180000);
        return stages;
    }

    bool Tab(const char* tab) { return ClickOn("main.htm", tab); }
    bool ShowMonth(int year, int month);
    bool PressDive(const Dive& dive, const char* button);
    std::string Detail(const std::string& id);
    Json::Value DetailCalls();
    size_t SiteCells() {
        const std::string text = Text("main.htm", "cell_tbody", kSites);
        size_t n = 0;
        for (size_t p = text.find("Lat:"); p != std::string::npos; p = text.find("Lat:", p + 1)) ++n;
        return n;
    }

    bool DoMonth();
    bool DoView(const Dive& dive);
    bool DoEdit();
    bool DoSync();
    bool DoSitesDevice();
    bool DoSitesFile();
    bool DoUpdate(bool firmware);
    bool DoSettings();
    bool RunStep(Step s);

    Sample Measure();
    int OwnThreads(std::string* names);
    bool Settled(bool all_threads, int timeout_ms);

    int divisor_;
    CloudEmuProcess emu_;
    DevSimProcess sim_;
    AppProcess program_;
    AutomationClient ui_;
    std::string token_;
    std::vector<Dive> dives_;
    size_t next_view_ = 0, next_edit_ = 0;
    int months_back_ = 0, month_direction_ = 1;
    int files_ = 0, edits_ = 0;
    int step_ = 0;
    const char* step_name_ = "start";
    Json::Value firmware_files_, site_files_;
    int base_fds_ = 0, base_threads_ = 0, base_own_threads_ = 0;
};

bool Soak::ListDives() {
    dives_.clear();
    const std::time_t now = std::time(nullptr);
    std::tm t{};
    localtime_r(&now, &t);
    for (int back = 0; back <= 48; ++back) {
        const int months = (t.tm_year + 1900) * 12 + t.tm_mon - back;
        const int year = months / 12, month = months % 12 + 1;
        const Json::Value summary =
            Cloud("/api/v1/divelogs/calendar/month?year_month=" + std::to_string(year * 100 + month))["month_summary"];
        for (Json::ArrayIndex d = 0; d < json_safe::Size(summary); ++d) {
            const std::string date = json_safe::String(json_safe::Element(summary, d), "year_month_date");
            const Json::Value logs = Cloud("/api/v1/divelogs/calendar/date?year_month_date=" + date)["divelogs"];
            for (Json::ArrayIndex i = 0; i < json_safe::Size(logs); ++i) {
                Dive dive;
                dive.id = json_safe::String(json_safe::Element(logs, i), "divelog_id");
                dive.year = year;
                dive.month = month;
                dive.cell = vorta_test::CalendarCell(year, month, std::atoi(date.c_str()) % 100);
                dive.row = static_cast<int>(i);
                dive.doc = Cloud("/api/v1/divelogs/divelog/" + dive.id)["divelog"];
                dives_.push_back(dive);
            }
        }
    }
    return !dives_.empty();
}

// Clicks "lastmon" or "nextmon" until the calendar shows the month.
bool Soak::ShowMonth(int year, int month) {
    const std::string want = Digits("%.4d", year) + "-" + Digits("%.2d", month);
    for (int guard = 0; guard < 60; ++guard) {
        const std::string shown = Text("main.htm", "calendardate", kCalendar);
        if (shown == want) return true;
        if (shown.size() != 7) return Fail("the calendar shows \"" + shown + "\"");
        const bool back = shown > want;
        if (!ClickOn("main.htm", back ? "lastmon" : "nextmon", kCalendar)) return Fail("month button");
        WaitFor([&] { return Text("main.htm", "calendardate", kCalendar) != shown; }, 10000);
    }
    return Fail("the calendar did not reach " + want);
}

bool Soak::PressDive(const Dive& dive, const char* button) {
    if (!ShowMonth(dive.year, dive.month)) return false;
    const std::string cell = "date_cell_" + Digits("%.2d", dive.cell);
    if (!ClickOn("main.htm", cell, kCalendar)) return Fail("day cell " + cell);
    ui_.SetTargetPage("main.htm");
    const bool listed = WaitFor(
        [&] {
            Json::Value r;
            r["cmd"] = "get_attr";
            r["page"] = "main.htm";
            r["frame"] = kCalendar;
            r["element"] = button;
            r["name"] = "objid";
            r["nth"] = dive.row;
            return ui_.Request(r)["value"].asString() == dive.id;
        },
        10000);
    const bool clicked = listed && ui_.Click(button, kCalendar, dive.row);
    ui_.SetTargetPage("");
    return Check(listed, "the day list does not show dive " + dive.id) &&
           Check(clicked, "button " + std::string(button));
}

std::string Soak::Detail(const std::string& id) {
    Json::Value r;
    r["cmd"] = "get_text";
    r["page"] = "main.htm";
    r["element"] = id;
    r["frames"].append(kCalendar);
    r["frames"].append("ie_page");
    return ui_.Request(r)["value"].asString();
}

Json::Value Soak::DetailCalls() {
    Json::Value r;
    r["cmd"] = "get_received";
    r["page"] = "main.htm";
    r["frame"] = kCalendar;
    r["element"] = "ie_page";
    return ui_.Request(r)["value"];
}

bool Soak::DoMonth() {
    // Back through two years, then forward again.
    if (months_back_ >= 23) month_direction_ = -1;
    if (months_back_ <= 0) month_direction_ = 1;
    months_back_ += month_direction_;
    const std::time_t now = std::time(nullptr);
    std::tm t{};
    localtime_r(&now, &t);
    const int months = (t.tm_year + 1900) * 12 + t.tm_mon - months_back_;
    const int year = months / 12, month = months % 12 + 1;
    if (!ShowMonth(year, month)) return false;
    // The days marked are the days the cloud lists for the month.
    std::set<int> expected, marked;
    const Json::Value summary =
        Cloud("/api/v1/divelogs/calendar/month?year_month=" + std::to_string(year * 100 + month))["month_summary"];
    for (Json::ArrayIndex d = 0; d < json_safe::Size(summary); ++d)
        expected.insert(vorta_test::CalendarCell(
            year, month,
            std::atoi(json_safe::String(json_safe::Element(summary, d), "year_month_date").c_str()) % 100));
    const bool drawn = WaitFor(
        [&] {
            marked.clear();
            ui_.SetTargetPage("main.htm");
            for (int i = 0; i < 42; ++i)
                if (ui_.GetAttr("date_cell_" + Digits("%.2d", i), "class", kCalendar)
                        .value_or("")
                        .find("in_dive_day") != std::string::npos)
                    marked.insert(i);
            ui_.SetTargetPage("");
            return marked == expected;
        },
        10000);
    return Check(drawn, "the days marked differ from the cloud's month");
}

bool Soak::DoView(const Dive& dive) {
    const Json::Value before = DetailCalls();
    if (!PressDive(dive, "view")) return false;
    const bool scuba = json_safe::String(dive.doc, "dive_type") == "scuba";
    const std::string depth = Fixed("%.1f", std::atof(json_safe::String(dive.doc, "max_depth").c_str()));
    const bool drawn = WaitFor(
        [&] {
            const Json::Value calls = DetailCalls();
            const Json::ArrayIndex n = json_safe::Size(calls);
            return n > 0 && json_safe::String(json_safe::Element(calls, n - 1), "f") == "setDiveChart" &&
                   calls != before && (!scuba || Detail("log_max_depth") == depth);
        },
        15000);
    return Check(drawn, "dive " + dive.id + " was not drawn (depth \"" + Detail("log_max_depth") + "\", expected " +
                            depth + ")");
}

bool Soak::DoEdit() {
    // Scuba dives with both positions: the dialog opens on the map, no site search.
    const Dive* dive = nullptr;
    for (size_t k = 0; k < dives_.size() && !dive; ++k) {
        const Dive& d = dives_[(next_edit_ + k) % dives_.size()];
        const Json::Value &in = json_safe::Member(d.doc, "entry_position"),
                          &out = json_safe::Member(d.doc, "exit_position");
        if (json_safe::String(d.doc, "dive_type") == "scuba" && json_safe::Double(in, "latitude") != 0 &&
            json_safe::Double(out, "latitude") != 0) {
            dive = &d;
            next_edit_ = (next_edit_ + k + 1) % dives_.size();
        }
    }
    if (!dive) return Fail("no scuba dive with positions");
    if (!DoView(*dive)) return false;
    if (!PressDive(*dive, "edit")) return false;
    if (!ui_.WaitWindow(kEdit, 15000)) return Fail("the edit dialog did not open");
    const int kg = 1 + edits_++ % 9;
    const std::string weight = std::to_string(kg) + ".5";
    ui_.SetTargetPage(kEdit);
    const bool saved = ui_.SetValue("weight", weight) && ui_.Click("save");
    ui_.SetTargetPage("");
    if (!saved) return Fail("the dialog's weight or save");
    if (!WaitFor([&] { return !Visible(kEdit); }, 15000)) return Fail("the edit dialog stayed");
    if (!WaitFor([&] { return Detail("log_weight") == weight; }, 10000))
        return Fail("the detail shows weight \"" + Detail("log_weight") + "\", expected " + weight);
    const std::string stored = std::to_string(kg) + ".500000";
    return Check(WaitFor(
                     [&] {
                         return json_safe::String(Cloud("/api/v1/divelogs/divelog/" + dive->id)["divelog"], "weight") ==
                                stored;
                     },
                     10000),
                 "the cloud did not store weight " + stored);
}

bool Soak::DoSync() {
    if (!ClickOn("main.htm", "upload")) return Fail("upload");
    std::string message;
    const std::set<std::string> stages = Progress(message);
    return Check(message.empty(), "the sync said \"" + message + "\"") &&
           Check(stages.count(Lang("COMPLETE_UPLOAD")) > 0, "the sync did not complete") &&
           Check(WaitFor([&] { return !Visible("progress.htm"); }, 10000), "the progress dialog stayed");
}

bool Soak::DoSitesDevice() {
    if (!Tab("page2")) return Fail("the dive-site tab");
    const size_t cells = SiteCells();
    const std::string table = Text("main.htm", "cell_tbody", kSites);
    if (!ClickOn("main.htm", "dive_site_send")) return Fail("send");
    const std::string question = AnswerYes();
    bool ok = Check(question == Lang("SURE_SEND_DS"), "the send question: " + question) &&
              Check(Said(Lang("DIVE_SITE_WRITED")), "the sites were not written");
    ok = ok && Check(ClickOn("main.htm", "dive_site_read"), "read") &&
         Check(AnswerYes() == Lang("SURE_READ_DS"), "the read question") &&
         Check(Said(Lang("DIVE_SITE_READED")), "the sites were not read");
    // What was written comes back as it was.
    ok = ok && Check(SiteCells() == cells && Text("main.htm", "cell_tbody", kSites) == table,
                     "the sites read back differ: " + Text("main.htm", "cell_tbody", kSites));
    return Tab("page1") && ok;
}

bool Soak::DoSitesFile() {
    if (!Tab("page2")) return Fail("the dive-site tab");
    const std::string dir = program_.home() + "/sites";
    mkdir(dir.c_str(), 0700);
    // Two files in turn, so that each import changes the table.
    struct Site {
        const char *name, *lat, *lng;
    };
    const std::vector<Site> sites = files_ % 2 == 0 ? std::vector<Site>{{"Reef", "25.033964", "121.564468"},
                                                                        {"Wall", "-33.868800", "151.209300"},
                                                                        {"Arch", "12.345678", "-0.500000"}}
                                                    : std::vector<Site>{{"Cave", "1.500000", "2.250000"}};
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<vorta_dive_site>\n    <scuba>\n";
    for (const Site& s : sites)
        xml +=
            std::string("        <waypoint name=\"") + s.name + "\" lat=\"" + s.lat + "\" lng=\"" + s.lng + "\" />\n";
    xml += "    </scuba>\n    <freedive />\n    <gauge />\n</vorta_dive_site>\n";
    const std::string in = dir + "/in.ds", out = dir + "/out" + std::to_string(files_++);
    std::ofstream(in) << xml;
    if (!ClickOn("main.htm", "dive_site_import") || !ui_.AnswerFileDialog(in))
        return Fail("the import dialog: " + ui_.last_error());
    const bool imported = WaitFor(
        [&] {
            const std::string table = Text("main.htm", "cell_tbody", kSites);
            for (const Site& s : sites)
                if (table.find(std::string("Lat:") + s.lat + "Lng:" + s.lng) == std::string::npos) return false;
            return SiteCells() == sites.size();
        },
        10000);
    if (!imported) return Fail("the imported sites are not shown: " + Text("main.htm", "cell_tbody", kSites));
    if (!ClickOn("main.htm", "dive_site_export") || !ui_.AnswerFileDialog(out))
        return Fail("the export dialog: " + ui_.last_error());
    const bool exported = WaitFor([&] { return ReadFile(out + ".ds") == xml; }, 10000);
    const std::string written = ReadFile(out + ".ds");
    unlink((out + ".ds").c_str());
    return Check(exported, "the exported file differs: " + written) && Tab("page1");
}

bool Soak::DoUpdate(bool firmware) {
    if (!ClickOn("main.htm", firmware ? "update_fw" : "update_ds")) return Fail("the update button");
    const std::string question = AnswerYes();
    if (firmware ? question.find("1.026") == std::string::npos : question != Lang("SURE_UPDATE_DS"))
        return Fail("the question: " + question);
    std::string message;
    const std::set<std::string> stages = Progress(message);
    if (!message.empty() || !stages.count(Lang("UPDATE_COMPLETE"))) return Fail("the update failed: " + message);
    // The device holds every offered file at its address.
    const std::string image = ReadFile(sim_.image_path());
    for (const Json::Value& f : firmware ? firmware_files_ : site_files_) {
        const std::string bytes =
            emu_.Call("GET", json_safe::String(f, "file_path").substr(emu_.base_url().size())).body;
        const size_t at = json_safe::Member(f, "address").asUInt();
        if (bytes.empty() || image.size() < at + bytes.size() || image.compare(at, bytes.size(), bytes) != 0)
            return Fail("the device does not hold " + json_safe::String(f, "file_path"));
    }
    return true;
}

bool Soak::DoSettings() {
    // To Traditional Chinese and imperial, then back.
    for (const char* choice : {"1", "0"}) {
        if (!ClickOn("main.htm", "setting") || !ui_.WaitWindow("setting.htm")) return Fail("the settings dialog");
        ui_.SetTargetPage("setting.htm");
        const bool saved = ui_.SetValue("langauge", choice) && ui_.SetValue("unit_i", choice) && ui_.Click("save");
        ui_.SetTargetPage("");
        if (!saved || !WaitFor([&] { return !Visible("setting.htm"); }, 10000)) return Fail("the settings save");
        const std::string folder = *choice == '1' ? "/CHT/" : "/ENG/";
        if (!WaitFor([&] { return MainPath().find(folder) != std::string::npos; }, 15000))
            return Fail("the main page is not in " + folder + ": " + MainPath());
        if (!WaitFor([&] { return !Text("main.htm", "calendardate", kCalendar).empty(); }, 15000))
            return Fail("the calendar did not come back");
    }
    return true;
}

bool Soak::RunStep(Step s) {
    switch (s) {
        case Step::kMonth: return DoMonth();
        case Step::kView: {
            // Each view a dive not viewed before, as long as the account has them.
            const Dive& dive = dives_[next_view_++ % dives_.size()];
            return DoView(dive);
        }
        case Step::kEdit: return DoEdit();
        case Step::kSync: return DoSync();
        case Step::kSitesDevice: return DoSitesDevice();
        case Step::kSitesFile: return DoSitesFile();
        case Step::kFirmware: return DoUpdate(true);
        case Step::kSiteDatabase: return DoUpdate(false);
        case Step::kSettings: return DoSettings();
    }
    return false;
}

Sample Soak::Measure() {
    // Longer than the web processes' memory-pressure check (every 5 s): what
    // they release without need is released before the figure is taken.
    std::this_thread::sleep_for(std::chrono::milliseconds(6500));
    Sample s;
    s.step = step_;
    const std::vector<pid_t> tree = vorta_test::ProcessTree(program_.pid());
    s.memory_kb = vorta_test::FootprintKb(tree);
    long pss_sum = 0;
    for (pid_t pid : tree) {
        const long pss = vorta_test::ProportionalKb(pid);
        pss_sum += pss;
        s.by_process += " " + vorta_test::ProcessName(pid) + " " + Fixed("%.1f", pss / 1024.0);
    }
    if (s.memory_kb < 0) s.memory_kb = pss_sum;  // without the page frame numbers
    for (const vorta_test::FootprintShare& share : vorta_test::FootprintByMapping(tree))
        s.by_mapping[vorta_test::ProcessName(share.pid) + " " + share.mapping] += share.kb;
    s.fds = vorta_test::OpenDescriptors(program_.pid());
    s.threads = vorta_test::Threads(program_.pid());
    return s;
}

// Where the session's growth lies: the mappings that grew or shrank most
// between two samples (each page once, as the total).
void PrintGrowthByMapping(const char* what, const Sample& from, const Sample& to) {
    std::map<std::string, long> delta = to.by_mapping;
    for (const auto& [name, kb] : from.by_mapping) delta[name] -= kb;
    std::vector<std::pair<long, std::string>> order;
    for (const auto& [name, kb] : delta)
        if (std::labs(kb) >= 256) order.emplace_back(kb, name);
    std::sort(order.begin(), order.end(),
              [](const auto& a, const auto& b) { return std::labs(a.first) > std::labs(b.first); });
    if (order.size() > 12) order.resize(12);
    std::printf("growth %s by mapping (%+.1f MB; each page once, largest first):\n", what,
                (to.memory_kb - from.memory_kb) / 1024.0);
    for (const auto& [kb, name] : order) std::printf("  %+7.1f MB  %s\n", kb / 1024.0, name.c_str());
}

// The program's threads, by name, leaving out the ones that come and go by
// themselves: the engine's garbage collector helpers (started for a
// collection, ended after it), the engine's display refresh thread (started
// while a page animates, ended when none has for a while) and GLib's idle
// pool workers (ended after some seconds without work). Those are counted
// once the session ends.
int Soak::OwnThreads(std::string* names) {
    int n = 0;
    const std::string task = "/proc/" + std::to_string(program_.pid()) + "/task";
    if (DIR* d = opendir(task.c_str())) {
        while (dirent* e = readdir(d)) {
            if (e->d_name[0] == '.') continue;
            std::string name;
            std::getline(std::ifstream(task + "/" + e->d_name + "/comm"), name);
            if (names) *names += " " + name;
            if (name.find("ollector Thread") == std::string::npos && name.rfind("HeapHelper", 0) != 0 &&
                name.rfind("VBlankMonitor", 0) != 0 && name.rfind("pool-", 0) != 0)
                ++n;
        }
        closedir(d);
    }
    return n;
}

// Descriptors and threads back to their warm-up count (a worker thread or a
// connection may take a moment to end after the step's last answer).
bool Soak::Settled(bool all_threads, int timeout_ms) {
    int fds = 0, threads = 0;
    const int base_threads = all_threads ? base_threads_ : base_own_threads_;
    const bool back = WaitFor(
        [&] {
            fds = vorta_test::OpenDescriptors(program_.pid());
            threads = all_threads ? vorta_test::Threads(program_.pid()) : OwnThreads(nullptr);
            return fds <= base_fds_ && threads <= base_threads;
        },
        timeout_ms);
    if (back) return true;
    std::string names;
    OwnThreads(&names);
    const std::string fd_dir = "/proc/" + std::to_string(program_.pid()) + "/fd";
    std::string targets;
    if (DIR* d = opendir(fd_dir.c_str())) {
        while (dirent* e = readdir(d)) {
            char target[512] = {};
            if (e->d_name[0] != '.' && readlink((fd_dir + "/" + e->d_name).c_str(), target, sizeof target - 1) > 0)
                targets += std::string(" ") + target;
        }
        closedir(d);
    }
    return Fail("descriptors " + std::to_string(fds) + " (warm-up " + std::to_string(base_fds_) + "):" + targets +
                "; threads " + std::to_string(threads) + " (warm-up " + std::to_string(base_threads) + "):" + names);
}

int Soak::Run() {
    if (!emu_.Start()) return std::fprintf(stderr, "the cloud emulator did not start\n"), 1;
    token_ = emu_.DemoToken();
    // The simulator's dives lie years back, away from the months browsed.
    const std::time_t long_ago = std::time(nullptr) - 3L * 365 * 24 * 3600;
    std::tm t{};
    gmtime_r(&long_ago, &t);
    char end[16];
    std::strftime(end, sizeof end, "%Y-%m-%d", &t);
    sim_.DisableTrace();
    if (!sim_.Start({"--firmware", "1.025", "--model", "K7", "--dives", "200", "--end", end}))
        return std::fprintf(stderr, "the simulator did not start: %s\n", sim_.error().c_str()), 1;
    if (token_.empty() || !ListDives()) return std::fprintf(stderr, "the demo account lists no dives\n"), 1;
    Json::Value offer;
    json_safe::Parse(emu_.Call("GET", "/api/v1/devices/firmwareUpdate?model=K7").body, offer);
    firmware_files_ = json_safe::Member(json_safe::Member(offer, "response"), "firmware_files");
    json_safe::Parse(emu_.Call("GET", "/api/v1/devices/divesites?model=K7").body, offer);
    site_files_ = json_safe::Member(json_safe::Member(offer, "response"), "divesite_files");

    program_.UseTestbed(emu_, sim_.pty_path());
    program_.env["VORTA_DEVICE_TIMEOUT_MS"] = "1500";
    if (vorta_test::kAddressSanitizer) {
        // The sanitizer's allocator keeps freed memory in a quarantine, which
        // would read as growth: it goes back at once (leaks are still
        // reported at the exit).
        const char* asan = std::getenv("ASAN_OPTIONS");
        program_.env["ASAN_OPTIONS"] =
            std::string(asan ? asan : "") + (asan && *asan ? ":" : "") + "quarantine_size_mb=0";
    }
    program_.env["GSETTINGS_BACKEND"] = "memory";  // the file dialog keeps its settings in memory
    if (!program_.Start() || !ui_.Connect(program_.socket(), 20000) || !ui_.WaitWindow("login.htm", 20000))
        return std::fprintf(stderr, "the sign-in page did not come up\n"), 1;
    if (!vorta_test::SignInDemo(ui_) ||
        !WaitFor([&] { return !Text("main.htm", "calendardate", kCalendar).empty(); }, 20000))
        return std::fprintf(stderr, "the main page did not come up\n"), 1;

    // The session: every kind spread evenly over it.
    std::vector<std::pair<double, const Plan*>> order;
    const char* only = std::getenv("SOAK_ONLY");
    for (const Plan& p : kPlan) {
        if (only != nullptr && *only != '\0' && std::string(p.name) != only) continue;
        const int n = std::max(1, p.full / divisor_);
        for (int i = 0; i < n; ++i) order.push_back({(i + 0.5) / n, &p});
    }
    std::stable_sort(order.begin(), order.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    // SOAK_ROUNDS=<n> runs the session n times over in one program, to tell
    // growth that levels off from growth that goes on.
    const int rounds = std::getenv("SOAK_ROUNDS") ? std::max(1, std::atoi(std::getenv("SOAK_ROUNDS"))) : 1;
    const size_t one_round = order.size();
    for (int r = 1; r < rounds; ++r) order.insert(order.end(), order.begin(), order.begin() + one_round);

    bool ok = true;
    // Warm-up: every kind once, so that every page and library has been
    // loaded. The language change goes first: it reloads every page, and
    // what a page makes only once it is first shown (the dive-site tab's
    // map) would otherwise be made again after the warm-up and read as the
    // session's growth.
    std::vector<const Plan*> warm_up;
    for (const Plan& p : kPlan)
        if (p.step != Step::kView) warm_up.push_back(&p);  // a view is part of an edit
    std::stable_partition(warm_up.begin(), warm_up.end(), [](const Plan* p) { return p->step == Step::kSettings; });
    for (const Plan* p : warm_up) {
        step_name_ = p->name;
        if (!RunStep(p->step)) return 1;
    }
    step_name_ = "warm-up";
    // The account with the simulator's dives synced in the warm-up.
    if (!ListDives()) return std::fprintf(stderr, "the demo account lists no dives\n"), 1;
    WaitFor([&] { return false; }, 3000);  // workers and connections of the warm-up end
    std::vector<Sample> samples{Measure()};
    base_fds_ = samples[0].fds;
    base_threads_ = samples[0].threads;
    base_own_threads_ = OwnThreads(nullptr);
    auto print = [](const char* what, const Sample& s) {
        std::printf("%-10s step %4d: %7.1f MB (each page once), %3d descriptors, %3d threads; proportional MB:%s\n",
                    what, s.step, s.memory_kb / 1024.0, s.fds, s.threads, s.by_process.c_str());
        std::fflush(stdout);
    };
    std::printf("soak: %zu steps (divisor %d) after a warm-up of one step of each kind; %zu dives in the account\n",
                order.size(), divisor_, dives_.size());
    print("warm-up", samples[0]);

    const int every = std::getenv("SOAK_EVERY") ? std::max(1, std::atoi(std::getenv("SOAK_EVERY"))) : kSampleEvery;
    if (const char* steps = std::getenv("SOAK_STEPS"))
        order.resize(std::min(order.size(), static_cast<size_t>(std::max(1, std::atoi(steps)))));
    int unsettled = 0;
    for (const auto& [at, plan] : order) {
        ++step_;
        step_name_ = plan->name;
        if (!RunStep(plan->step)) {
            ok = false;
            break;
        }
        if (!Settled(false, 5000)) ++unsettled;
        if (step_ % every == 0) {
            samples.push_back(Measure());
            print(every == kSampleEvery ? "sample" : plan->name, samples.back());
            if (std::getenv("SOAK_DETAIL"))
                PrintGrowthByMapping("since the last sample", samples[samples.size() - 2], samples.back());
        }
    }
    // A shorter session cannot be held to a share of the bound: one sample of
    // the engine's processes differs from the next by some MB (their
    // collections and caches, which a short session does not outlast). Its
    // bound catches a gross leak, while its answers, descriptors and threads
    // are checked as strictly as the whole session's.
    const long bound = divisor_ > 1 ? kShortGrowthBoundKb : kGrowthBoundKb;
    // Every thread and descriptor back once the session has ended.
    step_name_ = "end";
    if (ok && !Settled(true, 30000)) ++unsettled;
    if (ok) {
        // The engine's processes give memory back at their own pace (a
        // collection, the memory-pressure check every few seconds): the end is
        // the least of up to three readings, so that what merely was not
        // collected yet does not read as growth.
        Sample end = Measure();
        for (int i = 1; i < 3 && end.memory_kb - samples.front().memory_kb > bound; ++i) {
            Sample again = Measure();
            if (again.memory_kb < end.memory_kb) end = again;
        }
        samples.push_back(end);
        print("end", samples.back());
    }
    const long growth = samples.back().memory_kb - samples.front().memory_kb;
    long peak = 0;
    for (const Sample& s : samples) peak = std::max(peak, s.memory_kb - samples.front().memory_kb);
    std::printf(
        "growth after warm-up: %.1f MB at the end (goal <= %.1f MB for %zu steps), %.1f MB at the highest "
        "sample; %d steps left descriptors or threads above the warm-up count\n",
        growth / 1024.0, bound / 1024.0, order.size(), peak / 1024.0, unsettled);
    ok = ok && unsettled == 0 && growth <= bound;
    PrintGrowthByMapping("after warm-up", samples.front(), samples.back());
    // Growth that levels off (caches and heaps reaching their working size in
    // the first steps) is over by the session's second half; a leak is not.
    if (samples.size() > 2)
        PrintGrowthByMapping("over the second half", samples[(samples.size() - 1) / 2], samples.back());

    // A clean exit (a sanitizer build reports its leaks at the exit).
    ui_.Close();
    ::kill(program_.pid(), SIGTERM);
    const int code = program_.WaitExit(30000);
    if (code != 0) {
        std::fprintf(stderr, "the program's exit: %d\n", code);
        ok = false;
    }
    std::printf("soak: %s\n", ok ? "passed" : "FAILED");
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) {
        std::fprintf(stderr, "no X display (run under xvfb-run)\n");
        const char* strict = std::getenv("VORTA_TESTS_STRICT");
        return strict && std::string(strict) == "1" ? 1 : 77;
    }
    const int divisor = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1;
    return Soak(divisor).Run();
}
