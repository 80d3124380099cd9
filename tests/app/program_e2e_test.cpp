// The real program, driven through its automation channel: the sign-in gate
// and the main window's life.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "tests/support/app_process.h"
#include "tests/support/automation_client.h"

namespace {

// Polls an attribute until it has `expected` (the click's handler runs
// after the click is answered); gives up after 10 s and returns the last value.
std::string WaitAttr(AutomationClient& app, const std::string& id, const std::string& name,
                     const std::string& expected) {
    std::string value;
    for (int i = 0; i < 500; ++i) {
        value = app.GetAttr(id, name).value_or("?");
        if (value == expected) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return value;
}

TEST(ShellProgramTest, LeavingTheSignInPageEndsTheProgramWithZeroAndNoMainWindow) {
    AppProcess program;
    ASSERT_TRUE(program.Start());
    AutomationClient app;
    ASSERT_TRUE(app.Connect(program.socket(), 60000));
    AutomationWindow login;
    ASSERT_TRUE(app.WaitWindow("login.htm", 60000, &login));
    EXPECT_TRUE(login.modal);
    for (const AutomationWindow& w : app.Windows()) EXPECT_NE(w.page, "main.htm");
    ASSERT_TRUE(app.Click("exit"));
    EXPECT_EQ(program.WaitExit(), 0);
}

TEST(ShellProgramTest, MainWindowRunsUntilClosedThenTheProgramEndsWithZero) {
    AppProcess program;
    program.env["VORTA_SKIP_SIGNIN"] = "1";
    ASSERT_TRUE(program.Start());
    AutomationClient app;
    ASSERT_TRUE(app.Connect(program.socket(), 60000));
    ASSERT_TRUE(app.WaitWindow("main.htm", 60000));
    ASSERT_TRUE(app.Click("page2"));
    EXPECT_EQ(WaitAttr(app, "page2", "class", "page_func btnctrl back_gold"), "page_func btnctrl back_gold");
    EXPECT_EQ(app.GetAttr("page1", "class").value_or("?"), "page_func btnctrl back_white");

    ASSERT_TRUE(app.Click("about"));
    AutomationWindow about;
    ASSERT_TRUE(app.WaitWindow("about.htm", 60000, &about));
    EXPECT_TRUE(about.modal);
    ASSERT_TRUE(app.Click("ok"));

    app.SetTargetPage("main.htm");
    ASSERT_TRUE(app.CloseWindow());
    EXPECT_EQ(program.WaitExit(), 0);
}

}  // namespace
