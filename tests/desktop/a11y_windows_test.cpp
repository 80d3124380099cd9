// Every window and dialog of the real program as a screen reader sees it,
// in both languages: each is opened through the automation channel against
// the testbed and its accessible tree walked over AT-SPI (a11y_tree.py),
// which fails on a shown control without a name; the dialogs are found by
// their window titles, which a screen reader says as they open. Runs inside
// dbus-run-session, whose bus carries the accessibility bus.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "tests/e2e/e2e_app.h"
#include "tests/support/cloudemu_process.h"
#include "tests/support/devsim_process.h"

using vorta_test::CloudEmuProcess;

namespace {

const char kLogs[] = "framepage1";
const char kSites[] = "framepage2";

class A11yWindows : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override {
        std::string why = E2eMissing();
        const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
        if (why.empty() && (bus == nullptr || *bus == '\0')) why = "no session bus (run inside dbus-run-session)";
        if (why.empty() && std::system("/usr/bin/python3 -c 'import pyatspi' 2>/dev/null") != 0)
            why = "python3-pyatspi is not installed";
        if (!why.empty()) VORTA_SKIP_OR_FAIL(why);
        ASSERT_TRUE(emu.Start());
        ASSERT_TRUE(sim.Start({"--firmware", "1.025", "--model", "K7"})) << sim.error();
        // The program reaches the device through a link, which the sync at
        // the end points at a second simulator.
        port = app.home() + "/device";
        ASSERT_EQ(symlink(sim.pty_path().c_str(), port.c_str()), 0);
        app.env["DBUS_SESSION_BUS_ADDRESS"] = bus;
        app.UseTestbed(emu, port);
        app.env["VORTA_DEVICE_TIMEOUT_MS"] = "20000";
        const std::string config = app.home() + "/config/VORTA PC TOOL";
        ASSERT_EQ(std::system(("mkdir -p '" + config + "'").c_str()), 0);
        std::ofstream(config + "/settings.json") << "{\"lang\":" << GetParam() << "}";
        ASSERT_TRUE(app.Start());
    }

    // Walks the program's windows whose title holds `title` once an element
    // `marker` is shown in them; "" when every control has a name, else what
    // the walk printed.
    // The AT-SPI client library can crash the walker itself when a window
    // goes away under it (a signal from an accessible already gone, as the
    // progress dialog gives way to the message dialog): a walk that died of
    // a signal (the shell's status 128 + its number) is made once more.
    static std::string Walk(const std::string& title, const std::string& marker) {
        const std::string cmd = "/usr/bin/python3 '" A11Y_TREE_PY "' '" + title + "' 60 '" + marker + "' 2>&1";
        std::string out;
        for (int attempt = 0; attempt < 2; ++attempt) {
            out.clear();
            FILE* p = popen(cmd.c_str(), "r");
            if (p == nullptr) return "cannot run " + cmd;
            char buf[512];
            while (fgets(buf, sizeof buf, p) != nullptr) out += buf;
            const int status = pclose(p);
            std::printf("%s", out.c_str());
            if (status == 0) return "";
            if (!WIFEXITED(status) || WEXITSTATUS(status) <= 128) break;
        }
        return out;
    }

    bool Click(const std::string& page, const std::string& id, const std::string& frame = "", int nth = 0) {
        app.ui().SetTargetPage(page);
        const bool ok = app.ui().Click(id, frame, nth);
        app.ui().SetTargetPage("");
        return ok;
    }
    bool Escape(const std::string& page) {
        app.ui().SetTargetPage(page);
        const bool ok = app.ui().PressKey("Escape");
        app.ui().SetTargetPage("");
        return ok && E2eApp::WaitFor([&] { return !app.Visible(page); }, 10000);
    }
    std::string Month() { return app.Text("main.htm", "calendardate", kLogs); }
    // A window title in the language of the run.
    static std::string Title(const char* eng, const char* cht) { return GetParam() ? cht : eng; }

    CloudEmuProcess emu;
    DevSimProcess sim, silent;
    E2eApp app;
    std::string port;
};

TEST_P(A11yWindows, EveryWindowAndDialogNamesItsControls) {
    ASSERT_TRUE(app.ui().WaitWindow("login.htm", 20000));
    EXPECT_EQ(Walk(Title("Sign in", "\xe7\x99\xbb\xe5\x85\xa5"), "email"), "");  // 登入
    ASSERT_TRUE(app.SignInDemo());
    ASSERT_TRUE(E2eApp::WaitFor([&] { return Month().size() == 7; }, 20000));

    // Settings and About; the firmware question (the simulator has 1.025,
    // the cloud offers 1.026), answered "no".
    ASSERT_TRUE(Click("main.htm", "setting"));
    ASSERT_TRUE(app.ui().WaitWindow("setting.htm", 15000));
    EXPECT_EQ(Walk(Title("Settings", "\xe8\xa8\xad\xe5\xae\x9a"), "langauge"), "");  // 設定
    ASSERT_TRUE(Escape("setting.htm"));
    ASSERT_TRUE(Click("main.htm", "about"));
    ASSERT_TRUE(app.ui().WaitWindow("about.htm", 15000));
    EXPECT_EQ(Walk(Title("About", "\xe9\x97\x9c\xe6\x96\xbc"), "ok"), "");  // 關於
    ASSERT_TRUE(Escape("about.htm"));
    ASSERT_TRUE(Click("main.htm", "update_fw"));
    ASSERT_TRUE(app.ui().WaitWindow("yes_no.htm", 30000));
    EXPECT_EQ(Walk("", "MsgText"), "");
    ASSERT_TRUE(Escape("yes_no.htm"));

    // A dive day of the last year with its list of dives, the dive shown,
    // its editor, and the editor's dive-site search results.
    int day = -1;
    for (int months = 0; months < 14 && day < 0; ++months) {
        day = app.DiveDayShown(kLogs);
        if (day >= 0) {
            char id[32];
            std::snprintf(id, sizeof id, "date_cell_%.2d", day);
            ASSERT_TRUE(Click("main.htm", id, kLogs));
        }
        if (day < 0) {
            const std::string before = Month();
            ASSERT_TRUE(Click("main.htm", "lastmon", kLogs));
            ASSERT_TRUE(E2eApp::WaitFor([&] { return Month() != before; }, 10000));
        }
    }
    ASSERT_GE(day, 0) << "no dive day in the demo account's last year";
    ASSERT_TRUE(E2eApp::WaitFor([&] { return !app.Text("main.htm", "cell_tbody", kLogs).empty(); }, 15000));
    ASSERT_TRUE(Click("main.htm", "view", kLogs));
    EXPECT_EQ(Walk("VORTA PC TOOL", "view"), "");
    ASSERT_TRUE(Click("main.htm", "edit", kLogs));
    ASSERT_TRUE(app.ui().WaitWindow("log_edit.htm", 20000));
    app.ui().SetTargetPage("log_edit.htm");
    ASSERT_TRUE(app.ui().Click("edit_ds"));
    ASSERT_TRUE(app.ui().SetValue("ds_name", "Blue"));
    ASSERT_TRUE(app.ui().Click("search"));
    app.ui().SetTargetPage("");
    ASSERT_TRUE(E2eApp::WaitFor([&] { return !app.Text("log_edit.htm", "cell_tbody").empty(); }, 15000));
    EXPECT_EQ(Walk(Title("Edit Dive Log", "\xe7\xb7\xa8\xe8\xbc\xaf\xe6\xbd\x9b\xe6\xb0\xb4\xe6\x97\xa5\xe8\xaa\x8c"),
                   "dive_site_poi"),
              "");  // 編輯潛水日誌
    ASSERT_TRUE(Escape("log_edit.htm"));

    // The dive-site page with a new site and the directory's search results.
    ASSERT_TRUE(Click("main.htm", "page2"));
    ASSERT_TRUE(Click("main.htm", "dive_site_new", kSites));
    ASSERT_TRUE(E2eApp::WaitFor(
        [&] { return app.Text("main.htm", "cell_tbody", kSites).find("Lat:") != std::string::npos; }, 20000));
    app.ui().SetTargetPage("main.htm");
    ASSERT_TRUE(app.ui().SetValue("dive_site_find_name", "Blue", kSites));
    ASSERT_TRUE(app.ui().Click("dive_site_find", kSites));
    app.ui().SetTargetPage("");
    ASSERT_TRUE(E2eApp::WaitFor([&] { return !app.Text("main.htm", "poi_cell_tbody", kSites).empty(); }, 15000));
    EXPECT_EQ(Walk("VORTA PC TOOL", "dive_site_poi"), "");

    // A sync with a device that falls silent after its first answers: the
    // progress dialog stays up until the program gives the device up, then
    // the message dialog says so.
    ASSERT_TRUE(silent.Start({"--firmware", "1.025", "--model", "K7", "--silent-after", "4"})) << silent.error();
    ASSERT_EQ(unlink(port.c_str()), 0);
    ASSERT_EQ(symlink(silent.pty_path().c_str(), port.c_str()), 0);
    ASSERT_TRUE(Click("main.htm", "page1"));
    ASSERT_TRUE(Click("main.htm", "upload"));
    ASSERT_TRUE(app.ui().WaitWindow("progress.htm", 30000));
    EXPECT_EQ(Walk("", "progress"), "");
    ASSERT_TRUE(app.ui().WaitWindow("msg.htm", 60000));
    EXPECT_EQ(Walk("", "MsgText2"), "");
    ASSERT_TRUE(Escape("msg.htm"));
}

INSTANTIATE_TEST_SUITE_P(Languages, A11yWindows, ::testing::Values(0, 1),
                         [](const ::testing::TestParamInfo<int>& info) { return info.param ? "CHT" : "ENG"; });

}  // namespace
