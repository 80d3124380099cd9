// The real program worked with key presses only (the automation channel's
// "key" command, no clicks): sign in, sync the dive computer, step through
// the months, open a dive day, view and edit one of its dives, and add a
// dive site.
#include <gtest/gtest.h>

#include <string>

#include "tests/e2e/e2e_app.h"
#include "tests/support/cloudemu_process.h"
#include "tests/support/devsim_process.h"

using vorta_test::CloudEmuProcess;

namespace {

const char kLogs[] = "framepage1";
const char kSites[] = "framepage2";

class KeyboardE2e : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string why = E2eMissing();
        if (!why.empty()) VORTA_SKIP_OR_FAIL(why);
        ASSERT_TRUE(emu.Start());
        ASSERT_TRUE(sim.Start({"--firmware", "1.025", "--model", "K7"})) << sim.error();
        app.UseTestbed(emu, sim.pty_path());
        ASSERT_TRUE(app.Start());
    }

    // Types `text` key by key into the focused field.
    bool Type(const std::string& text) {
        for (char c : text) {
            const std::string key = c == '@' ? "at" : c == '.' ? "period" : c == '-' ? "minus" : std::string(1, c);
            if (!app.ui().PressKey(key)) return false;
        }
        return true;
    }
    bool Key(const std::string& page, const std::string& key, const std::string& id = "",
             const std::string& frame = "") {
        app.ui().SetTargetPage(page);
        const bool ok = app.ui().PressKey(key, id, frame);
        app.ui().SetTargetPage("");
        return ok;
    }
    int Requests(const std::string& verb, const std::string& prefix) {
        int n = 0;
        for (const auto& r : emu.Log()) n += r.verb == verb && r.path.rfind(prefix, 0) == 0;
        return n;
    }
    std::string Month() { return app.Text("main.htm", "calendardate", kLogs); }

    CloudEmuProcess emu;
    DevSimProcess sim;
    E2eApp app;
};

TEST_F(KeyboardE2e, SignInSyncBrowseViewEditAndAddASite) {
    // Sign-in: the e-mail field has the focus; Tab to the password; Enter.
    ASSERT_TRUE(app.ui().WaitWindow("login.htm", 20000));
    app.ui().SetTargetPage("login.htm");
    ASSERT_TRUE(Type(CloudEmuProcess::kDemoEmail));
    ASSERT_TRUE(app.ui().PressKey("Tab"));
    ASSERT_TRUE(Type(CloudEmuProcess::kDemoPassword));
    ASSERT_TRUE(app.ui().PressKey("Enter"));
    app.ui().SetTargetPage("");
    ASSERT_TRUE(app.ui().WaitWindow("main.htm", 20000));
    ASSERT_TRUE(E2eApp::WaitFor([&] { return Month().size() == 7; }, 20000));
    const std::string this_month = Month();

    // Sync with F5: the progress dialog comes and goes; a message is closed
    // with Enter. The device's log memory reached the cloud.
    emu.Reset();
    ASSERT_TRUE(Key("main.htm", "F5"));
    bool saw_progress = false;
    ASSERT_TRUE(E2eApp::WaitFor(
        [&] {
            if (app.Visible("progress.htm")) saw_progress = true;
            if (app.Visible("msg.htm")) Key("msg.htm", "Enter");
            return saw_progress && !app.Visible("progress.htm") && !app.Visible("msg.htm");
        },
        90000));
    EXPECT_GT(Requests("POST", "/api/v1/devices/"), 0);

    // Months: Page Up and Page Down from the calendar's frame.
    ASSERT_TRUE(Key("main.htm", "Page_Up", "calendardate", kLogs));
    ASSERT_TRUE(E2eApp::WaitFor([&] { return Month() != this_month; }, 10000));
    ASSERT_TRUE(Key("main.htm", "Page_Down", "calendardate", kLogs));
    ASSERT_TRUE(E2eApp::WaitFor([&] { return Month() == this_month; }, 10000));

    // A dive day, found by stepping back month by month: reached with the
    // arrow keys from the first day and opened with Enter.
    int day = -1;
    for (int months = 0; months < 36 && day < 0; ++months) {
        day = app.DiveDayShown(kLogs);
        if (day < 0) {
            const std::string before = Month();
            ASSERT_TRUE(Key("main.htm", "Page_Up", "calendardate", kLogs));
            ASSERT_TRUE(E2eApp::WaitFor([&] { return Month() != before; }, 10000));
        }
    }
    ASSERT_GE(day, 0) << "no dive day in three years";
    ASSERT_TRUE(Key("main.htm", "Home", "date_cell_00", kLogs));
    for (int i = 0; i < day; ++i) ASSERT_TRUE(Key("main.htm", "Right"));
    const int day_lists = Requests("GET", "/api/v1/divelogs/calendar/date");
    ASSERT_TRUE(Key("main.htm", "Enter"));
    ASSERT_TRUE(E2eApp::WaitFor([&] { return !app.Text("main.htm", "cell_tbody", kLogs).empty(); }, 10000));
    EXPECT_GT(Requests("GET", "/api/v1/divelogs/calendar/date"), day_lists);

    // Tab leaves the calendar for the first dive's "view": Enter shows it.
    const int details = Requests("GET", "/api/v1/divelogs/divelog/");
    ASSERT_TRUE(Key("main.htm", "Tab"));
    ASSERT_TRUE(Key("main.htm", "Enter"));
    ASSERT_TRUE(E2eApp::WaitFor([&] { return Requests("GET", "/api/v1/divelogs/divelog/") > details; }, 10000));

    // Tab to its "edit": Enter opens the editor, Escape cancels it.
    ASSERT_TRUE(Key("main.htm", "Tab"));
    ASSERT_TRUE(Key("main.htm", "Enter"));
    ASSERT_TRUE(app.ui().WaitWindow("log_edit.htm", 20000));
    ASSERT_TRUE(Key("log_edit.htm", "Escape"));
    ASSERT_TRUE(E2eApp::WaitFor([&] { return !app.Visible("log_edit.htm"); }, 10000));

    // Dive sites: the tab button, then "New" with Enter adds a site.
    ASSERT_TRUE(Key("main.htm", "Enter", "page2"));
    ASSERT_TRUE(Key("main.htm", "Enter", "dive_site_new", kSites));
    ASSERT_TRUE(E2eApp::WaitFor(
        [&] { return app.Text("main.htm", "cell_tbody", kSites).find("Lat:") != std::string::npos; }, 20000));
}

}  // namespace
