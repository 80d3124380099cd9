// The logbook without the cloud, in the real program: what was browsed once
// (month, day list, dive, statistics) is shown again from the program's own
// copy after the cloud emulator has stopped, with the offline line on the
// main page; what was never fetched reports the missing connection as ever.
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <set>

#include "base/json_safe.h"
#include "tests/e2e/e2e_app.h"
#include "tests/support/calendar_cell.h"
#include "tests/support/cloudemu_process.h"

using vorta_test::CloudEmuProcess;

namespace {

const char* const kFrame = "framepage1";

class OfflineE2e : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why = E2eMissing();
        if (!why.empty()) GTEST_SKIP() << why;
        ASSERT_TRUE(emu.Start());
        token_ = emu.DemoToken();
        ASSERT_FALSE(token_.empty());
    }

    void StartSignedIn() {
        app.UseTestbed(emu);
        ASSERT_TRUE(app.Start());
        ASSERT_TRUE(app.SignInDemo());
        // Both first loads (statistics and this month) are done.
        ASSERT_TRUE(
            E2eApp::WaitFor([&] { return Text("scuba_total_dive") != "0" && !Text("date_cell_00").empty(); }, 20000));
    }

    Json::Value Cloud(const std::string& path) {
        const auto reply = emu.Call("GET", path, "", {"Authorization: Bearer " + token_});
        Json::Value root;
        EXPECT_TRUE(json_safe::Parse(reply.body, root)) << path;
        return json_safe::Member(root, "response");
    }

    std::string Text(const std::string& id) { return app.Text("main.htm", id, kFrame); }
    std::string Attr(const std::string& id, const std::string& name, int nth = 0) {
        Json::Value req;
        req["cmd"] = "get_attr";
        req["page"] = "main.htm";
        req["frame"] = kFrame;
        req["element"] = id;
        req["name"] = name;
        req["nth"] = nth;
        return app.ui().Request(req)["value"].asString();
    }
    bool Click(const std::string& id, int nth = 0) {
        app.ui().SetTargetPage("main.htm");
        const bool ok = app.ui().Click(id, kFrame, nth);
        app.ui().SetTargetPage("");
        return ok;
    }
    std::vector<std::string> Classes() {
        std::vector<std::string> classes;
        for (int i = 0; i < 42; ++i) {
            char id[32];
            std::snprintf(id, sizeof id, "date_cell_%.2d", i);
            // The page marks the picked day itself ("picked"): left out.
            std::string c = Attr(id, "class");
            const size_t picked = c.find(" picked");
            if (picked != std::string::npos) c.erase(picked, 7);
            classes.push_back(c + "/" + Text(id));
        }
        return classes;
    }
    // Every chart document the detail page was given, in order.
    std::vector<std::string> Charts() {
        Json::Value req;
        req["cmd"] = "get_received";
        req["page"] = "main.htm";
        req["frame"] = kFrame;
        req["element"] = "ie_page";
        std::vector<std::string> charts;
        const Json::Value calls = app.ui().Request(req)["value"];
        for (const Json::Value& call : calls)
            if (call["f"].asString() == "setDiveChart" && call["a"].size() == 2)
                charts.push_back(call["a"][1].asString());
        return charts;
    }
    // How often the detail page was asked to draw `chart`.
    int Draws(const std::string& chart) {
        const std::vector<std::string> charts = Charts();
        return static_cast<int>(std::count(charts.begin(), charts.end(), chart));
    }
    // Waits for the next chart drawn after `before` charts; "" when none came.
    std::string NextChart(size_t before) {
        std::string next;
        E2eApp::WaitFor(
            [&] {
                const std::vector<std::string> charts = Charts();
                if (charts.size() > before) next = charts[before];
                return !next.empty();
            },
            10000);
        return next;
    }
    // The save's closing "done": on the page's message line when it was over
    // before its progress dialog came up, else in a message dialog over it.
    // Empty when neither came within the time.
    std::string SaveDoneMessage(int timeout_ms) {
        const std::string done = E2eApp::Lang("OFFLINE_SAVE_DONE");
        bool on_line = false;
        E2eApp::WaitFor(
            [&] {
                on_line = Text("message") == done;
                return on_line || app.Visible("msg.htm");
            },
            timeout_ms);
        return on_line ? done : app.TakeMessage(1000);
    }
    // The offline line's text before its time.
    static std::string OfflinePrefix() {
        const std::string text = E2eApp::Lang("LOGBOOK_OFFLINE");
        return text.substr(0, text.find("%s"));
    }

    // Steps back to the nearest month (within a year) with a day of two dives
    // or more and opens that day; the day's dive logs as the emulator has them.
    Json::Value OpenADayOfSeveralDives() {
        std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        int year = local.tm_year + 1900, month = local.tm_mon + 1;
        for (int back = 0; back < 12; ++back) {
            char path[96];
            std::snprintf(path, sizeof path, "/api/v1/divelogs/calendar/month?year_month=%.4d%.2d", year, month);
            const Json::Value summary = Cloud(path)["month_summary"];
            for (const Json::Value& d : summary) {
                if (d["scuba_count"].asInt() + d["free_count"].asInt() < 2) continue;
                const int date = std::stoi(d["year_month_date"].asString());
                day_cell_ = vorta_test::CalendarCellId(vorta_test::CalendarCell(year, month, date % 100));
                EXPECT_TRUE(Click(day_cell_));
                return Cloud("/api/v1/divelogs/calendar/date?year_month_date=" + std::to_string(date))["divelogs"];
            }
            EXPECT_TRUE(Click("lastmon"));
            if (--month == 0) month = 12, --year;
        }
        return Json::Value();
    }

    CloudEmuProcess emu;
    E2eApp app;
    std::string token_;
    std::string day_cell_;
};

}  // namespace

TEST_F(OfflineE2e, WhatWasBrowsedStaysWhenTheCloudIsGone) {
    StartSignedIn();
    const Json::Value logs = OpenADayOfSeveralDives();
    ASSERT_GE(logs.size(), 2u) << "the demo account has no day of several dives";
    const std::string month = Text("calendardate");
    const std::vector<std::string> grid = Classes();
    const std::string list = Text("cell_tbody");
    const std::string stats = Text("scuba_total_dive") + "/" + Text("free_total_time");
    ASSERT_EQ(Attr("view", "objid", 1), logs[1]["divelog_id"].asString());
    // The charts the page was given online are what the offline draws are
    // compared with.
    ASSERT_TRUE(Click("view", 0));
    const std::string first = NextChart(0);
    ASSERT_FALSE(first.empty());

    // Viewed twice online: the second view draws the stored dive at once and
    // the cloud's same answer is not drawn again.
    ASSERT_TRUE(Click("view", 0));
    ASSERT_TRUE(Click("view", 1));
    const std::string second = NextChart(2);
    ASSERT_FALSE(second.empty());
    EXPECT_NE(second, first);
    EXPECT_EQ(Draws(second), 1);
    EXPECT_EQ(Draws(first), 2);
    EXPECT_EQ(Text("message"), "");

    emu.Stop();

    // The same month, left and shown again, the same day and dive.
    ASSERT_TRUE(Click("nextmon"));
    ASSERT_TRUE(Click("lastmon"));
    EXPECT_EQ(Text("calendardate"), month);
    EXPECT_EQ(Classes(), grid);
    EXPECT_EQ(Text("message").rfind(OfflinePrefix(), 0), 0u) << Text("message");
    ASSERT_TRUE(Click(day_cell_));
    EXPECT_EQ(Text("cell_tbody"), list);
    ASSERT_TRUE(Click("view", 0));
    ASSERT_TRUE(E2eApp::WaitFor([&] { return Draws(first) == 3; }, 10000));
    ASSERT_TRUE(Click("synclog"));
    EXPECT_EQ(Text("scuba_total_dive") + "/" + Text("free_total_time"), stats);
    EXPECT_EQ(Text("message").rfind(OfflinePrefix(), 0), 0u) << Text("message");

    // A month never shown has no copy: the missing connection is reported
    // as without a store.
    for (int i = 0; i < 14; ++i) ASSERT_TRUE(Click("lastmon"));
    EXPECT_EQ(Text("message"), E2eApp::Lang("HOST_NOT_CONN"));
}

TEST_F(OfflineE2e, StartWithoutTheCloudAndContinueOffline) {
    StartSignedIn();
    const std::string month = Text("calendardate");
    const std::vector<std::string> grid = Classes();
    const std::string stats = Text("scuba_total_dive") + "/" + Text("free_total_time");
    app.Stop();
    const std::string host = emu.host();
    emu.Stop();

    ASSERT_TRUE(app.Start());
    // The button is hidden by hidden="hidden".
    auto offered = [&] {
        app.ui().SetTargetPage("login.htm");
        const std::optional<std::string> hidden = app.ui().GetAttr("offline", "hidden");
        app.ui().SetTargetPage("");
        return hidden && hidden->empty();
    };
    // Offered only for the remembered account, and only when the cloud gave
    // no answer.
    struct Try {
        const char* email;
        bool offered;
    } tries[] = {{"someone.else@vorta.example", false}, {CloudEmuProcess::kDemoEmail, true}};
    for (const Try& t : tries) {
        SCOPED_TRACE(t.email);
        ASSERT_TRUE(app.SignIn(t.email, CloudEmuProcess::kDemoPassword));
        ASSERT_EQ(app.Text("login.htm", "message"), E2eApp::Lang("HOST_NOT_CONN"));
        // The page's writes go out when the program is idle.
        if (t.offered) EXPECT_TRUE(E2eApp::WaitFor(offered, 5000));
        else EXPECT_FALSE(offered());
    }
    ASSERT_TRUE(app.ClickOn("login.htm", "offline"));
    ASSERT_TRUE(app.ui().WaitWindow("main.htm", 20000));
    ASSERT_TRUE(E2eApp::WaitFor([&] { return Text("calendardate") == month; }, 20000));
    EXPECT_EQ(Classes(), grid);
    EXPECT_EQ(Text("scuba_total_dive") + "/" + Text("free_total_time"), stats);
    EXPECT_EQ(Text("message").rfind(OfflinePrefix(), 0), 0u) << Text("message");

    // What needs the cloud says so instead of trying.
    for (const char* button : {"upload", "update_fw", "update_ds"}) {
        SCOPED_TRACE(button);
        ASSERT_TRUE(app.ClickOn("main.htm", button));
        EXPECT_EQ(app.TakeMessage(), E2eApp::Lang("NEEDS_CONNECTION"));
    }

    // The cloud back: the next answer ends the offline session.
    ASSERT_TRUE(emu.Start());
    ASSERT_EQ(emu.host(), host);
    ASSERT_TRUE(Click("lastmon"));
    ASSERT_TRUE(Click("nextmon"));
    EXPECT_EQ(Text("message"), "");
    ASSERT_TRUE(app.ClickOn("main.htm", "upload"));
    const std::string after = app.TakeMessage();
    EXPECT_NE(after, E2eApp::Lang("NEEDS_CONNECTION"));
    EXPECT_NE(after, "");
}

TEST_F(OfflineE2e, SavingForOfflineUseStopsAtCancelAndResumes) {
    StartSignedIn();
    // The main page's profile picture is fetched on a connection of its own
    // (the web engine's, or the program's): fetched before the reset, so
    // that the handshakes counted after it are the save's alone.
    E2eApp::WaitFor(
        [&] {
            for (const auto& r : emu.Log())
                if (r.path.rfind("/static/avatar.png", 0) == 0) return true;
            return false;
        },
        10000);
    ASSERT_TRUE(emu.Reset());
    auto gets_of = [&](const std::vector<vorta_test::CloudRequest>& log, const std::string& prefix) {
        std::vector<std::string> paths;
        for (const auto& r : log)
            if (r.verb == "GET" && r.path.rfind(prefix, 0) == 0) paths.push_back(r.path);
        return paths;
    };
    const std::string dive_path = "/api/v1/divelogs/divelog/";
    // The third dive log answers slowly: Cancel is pressed while it is on
    // its way, and the run stops after it.
    vorta_test::CloudFault slow;
    slow.kind = "slow";
    slow.path = dive_path;
    slow.delay_ms = 2500;
    slow.skip = 2;
    ASSERT_TRUE(emu.SetFault(slow));
    ASSERT_TRUE(Click("offline_save"));
    ASSERT_TRUE(E2eApp::WaitFor([&] { return gets_of(emu.Log(), dive_path).size() >= 3; }, 60000));
    // A save that lasts shows its dialog once it has lasted a moment.
    ASSERT_TRUE(app.ui().WaitWindow("progress.htm", 20000));
    EXPECT_EQ(app.Text("progress.htm", "MsgText1"), E2eApp::Lang("OFFLINE_SAVE_DIVES"));
    ASSERT_TRUE(app.ClickOn("progress.htm", "cancel"));
    ASSERT_TRUE(E2eApp::WaitFor([&] { return !app.Visible("progress.htm"); }, 20000));
    EXPECT_FALSE(app.Visible("msg.htm"));
    EXPECT_EQ(gets_of(emu.Log(), dive_path).size(), 3u);
    EXPECT_EQ(emu.Stats().handshakes, 1);  // one connection for the whole run

    // The second run fetches the rest, nothing twice.
    ASSERT_TRUE(Click("offline_save"));
    EXPECT_EQ(SaveDoneMessage(120000), E2eApp::Lang("OFFLINE_SAVE_DONE"));
    const std::vector<std::string> all = gets_of(emu.Log(), "/");
    EXPECT_EQ(std::set<std::string>(all.begin(), all.end()).size(), all.size());
    EXPECT_GT(gets_of(emu.Log(), dive_path).size(), 3u);
    EXPECT_EQ(emu.Stats().handshakes, 2);

    // Saved: a dive never viewed opens without the cloud.
    const Json::Value logs = OpenADayOfSeveralDives();
    ASSERT_GE(logs.size(), 2u);
    // The first dive viewed online (the cloud's answer is the saved one, so
    // it is drawn once), the second only offline: a chart of its own.
    const size_t drawn = Charts().size();
    ASSERT_TRUE(Click("view", 0));
    const std::string online = NextChart(drawn);
    ASSERT_FALSE(online.empty());
    EXPECT_EQ(Draws(online), 1);
    emu.Stop();
    const size_t before = Charts().size();
    ASSERT_TRUE(Click("view", 1));
    const std::string offline = NextChart(before);
    EXPECT_FALSE(offline.empty());
    EXPECT_NE(offline, online);
    ASSERT_TRUE(Click("view", 0));
    ASSERT_TRUE(E2eApp::WaitFor([&] { return Draws(online) == 2; }, 10000));
    EXPECT_EQ(Text("message").rfind(OfflinePrefix(), 0), 0u) << Text("message");
}

// A save with nothing left to fetch is over at once: its closing "done" on
// the page's message line (which screen readers announce), no progress
// dialog nor message dialog coming up for it, and no request.
TEST_F(OfflineE2e, ASaveOverAtOnceSaysSoOnTheMessageLineWithoutADialog) {
    StartSignedIn();
    const std::string done = E2eApp::Lang("OFFLINE_SAVE_DONE");
    ASSERT_TRUE(Click("offline_save"));
    EXPECT_EQ(SaveDoneMessage(120000), done);
    // The line says something else first (a month the cloud refuses), so
    // that the "done" read next is the second save's own.
    vorta_test::CloudFault refused;
    refused.kind = "code";
    refused.path = "/api/v1/divelogs/calendar/month";
    ASSERT_TRUE(emu.SetFault(refused));
    ASSERT_TRUE(Click("nextmon"));
    ASSERT_TRUE(E2eApp::WaitFor([&] { return !Text("message").empty() && Text("message") != done; }, 20000))
        << Text("message");
    ASSERT_TRUE(emu.Reset());
    ASSERT_TRUE(Click("offline_save"));
    ASSERT_TRUE(E2eApp::WaitFor([&] { return Text("message") == done; }, 20000)) << Text("message");
    EXPECT_FALSE(app.Visible("progress.htm"));
    EXPECT_FALSE(app.Visible("msg.htm"));
    for (const auto& r : emu.Log()) EXPECT_NE(r.path.rfind("/api/", 0), 0u) << r.path;
    // The main window takes clicks again.
    ASSERT_TRUE(Click("lastmon"));
}
