// The sign-in page of the real program against the cloud emulator.
#include <gtest/gtest.h>
#include <json/json.h>
#include <sys/stat.h>

#include <thread>

#include "base/json_safe.h"
#include "base/paths.h"
#include "tests/e2e/e2e_app.h"
#include "tests/support/cloudemu_process.h"

using vorta_test::CloudEmuProcess;

namespace {

Json::Value ReadJson(const std::string& path) {
    Json::Value root;
    json_safe::Parse(ReadWholeFile(path), root);
    return root;
}

std::vector<vorta_test::CloudRequest> LoginRequests(CloudEmuProcess& emu) {
    std::vector<vorta_test::CloudRequest> out;
    for (auto& r : emu.Log())
        if (r.path == "/api/v1/users/login") out.push_back(r);
    return out;
}

class SignInE2e : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why = E2eMissing();
        if (!why.empty()) VORTA_SKIP_OR_FAIL(why);
        ASSERT_TRUE(emu.Start());
        emu.Reset();  // the launcher's own sign-in is not part of the log
        app.UseTestbed(emu);
        ASSERT_TRUE(app.Start());
        ASSERT_TRUE(app.ui().WaitWindow("login.htm", 20000));
    }
    CloudEmuProcess emu;
    E2eApp app;
};

}  // namespace

TEST_F(SignInE2e, EmptyFieldsAskForTheEmailOnly) {
    ASSERT_TRUE(app.SignIn("", ""));
    ASSERT_TRUE(E2eApp::WaitFor([&] { return !app.Text("login.htm", "message").empty(); }, 5000));
    EXPECT_EQ(app.Text("login.htm", "message"), E2eApp::Lang("ENTER_EMAIL"));
    EXPECT_TRUE(LoginRequests(emu).empty());
    EXPECT_TRUE(app.Visible("login.htm"));
}

TEST_F(SignInE2e, WrongPasswordIsRefusedAndNothingIsRemembered) {
    // "&" and "=" travel percent-encoded and arrive as typed.
    ASSERT_TRUE(app.SignIn(CloudEmuProcess::kDemoEmail, "a&b=c d"));
    ASSERT_TRUE(E2eApp::WaitFor([&] { return !app.Text("login.htm", "message").empty(); }, 10000));
    EXPECT_EQ(app.Text("login.htm", "message"), E2eApp::Lang("EMAIL_PWD_ERROR"));
    auto sent = LoginRequests(emu);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].body, "email=demo%40vorta.example&password=a%26b%3Dc%20d");
    EXPECT_EQ(sent[0].Header("Authorization"), "");

    Json::Value stored = ReadJson(app.SettingsPath());
    EXPECT_EQ(stored.get("e", "").asString(), "");
    EXPECT_EQ(stored.get("p", "").asString(), "");
    EXPECT_EQ(stored.get("t", "").asString(), "");
    EXPECT_TRUE(app.Visible("login.htm"));
}

TEST_F(SignInE2e, SuccessRemembersPrivatelyAndOpensTheMainWindow) {
    ASSERT_TRUE(app.SignInDemo());
    EXPECT_FALSE(app.Visible("login.htm"));

    struct stat st {};
    ASSERT_EQ(stat(app.SettingsPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    Json::Value stored = ReadJson(app.SettingsPath());
    EXPECT_EQ(stored.get("e", "").asString(), CloudEmuProcess::kDemoEmail);
    EXPECT_EQ(stored.get("p", "").asString(), CloudEmuProcess::kDemoPassword);
    const std::string token = stored.get("t", "").asString();
    EXPECT_FALSE(token.empty());

    // The same token the emulator handed out, and the user panel filled.
    auto answer = emu.Call("POST", "/api/v1/users/login", "email=demo%40vorta.example&password=vorta-demo",
                           {"Content-Type: application/x-www-form-urlencoded"});
    Json::Value root;
    ASSERT_TRUE(json_safe::Parse(answer.body, root));
    const std::string name = root["response"]["user"]["user_name"].asString();
    EXPECT_FALSE(name.empty());
    EXPECT_TRUE(E2eApp::WaitFor([&] { return app.Text("main.htm", "display", "framepage1") == name; }, 10000))
        << app.Text("main.htm", "display", "framepage1");
    EXPECT_EQ(app.Text("main.htm", "email", "framepage1"), CloudEmuProcess::kDemoEmail);

    // A second start shows the remembered sign-in.
    app.Stop();
    ASSERT_TRUE(app.Start());
    ASSERT_TRUE(app.ui().WaitWindow("login.htm", 20000));
    app.ui().SetTargetPage("login.htm");
    EXPECT_TRUE(
        E2eApp::WaitFor([&] { return app.ui().GetValue("email").value_or("") == CloudEmuProcess::kDemoEmail; }, 5000));
    EXPECT_EQ(app.ui().GetValue("pword").value_or(""), CloudEmuProcess::kDemoPassword);
}

TEST_F(SignInE2e, EnterSignsInOnceAndEscapeKeepsTheDialog) {
    app.ui().SetTargetPage("login.htm");
    ASSERT_TRUE(app.ui().SetValue("email", CloudEmuProcess::kDemoEmail));
    ASSERT_TRUE(app.ui().SetValue("pword", "wrong"));
    ASSERT_TRUE(app.ui().PressKey("Enter", "pword"));
    ASSERT_TRUE(E2eApp::WaitFor([&] { return !app.Text("login.htm", "message").empty(); }, 10000));
    EXPECT_EQ(app.Text("login.htm", "message"), E2eApp::Lang("EMAIL_PWD_ERROR"));
    // A second sign-in from the same key would follow at once.
    EXPECT_FALSE(E2eApp::WaitFor([&] { return LoginRequests(emu).size() > 1; }, 2000));
    EXPECT_EQ(LoginRequests(emu).size(), 1u);

    app.ui().SetTargetPage("login.htm");
    ASSERT_TRUE(app.ui().PressKey("Escape", "email"));
    EXPECT_FALSE(E2eApp::WaitFor([&] { return !app.Visible("login.htm"); }, 1000));
    EXPECT_TRUE(app.ui().Ping());
    EXPECT_EQ(LoginRequests(emu).size(), 1u);
}

TEST_F(SignInE2e, EmailGoesToTheCloudAsTyped) {
    // Spaces are part of what was typed: only spaces is not "no e-mail".
    const struct {
        const char* typed;
        const char* sent;
    } cases[] = {
        {"   ", "email=%20%20%20&password=pw"},
        {" demo@vorta.example ", "email=%20demo%40vorta.example%20&password=pw"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        ASSERT_TRUE(emu.Reset());
        ASSERT_TRUE(app.SignIn(c.typed, "pw"));
        ASSERT_TRUE(E2eApp::WaitFor([&] { return !app.Text("login.htm", "message").empty(); }, 10000));
        EXPECT_EQ(app.Text("login.htm", "message"), E2eApp::Lang("EMAIL_PWD_ERROR"));
        auto sent = LoginRequests(emu);
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].body, c.sent);
        app.ui().SetTargetPage("login.htm");
        app.ui().SetValue("message", "");
    }
}

TEST_F(SignInE2e, ExitLeavesTheProgram) {
    ASSERT_TRUE(app.ClickOn("login.htm", "exit"));
    EXPECT_TRUE(E2eApp::WaitFor([&] { return !app.ui().Ping(); }, 10000));
}

// A slow cloud: the dialog answers while the sign-in request waits; the
// client that pressed "login" sees the outcome with its next request; and a
// close during the wait ends the program once the request has returned,
// without a main window even though that sign-in succeeded.
TEST_F(SignInE2e, SlowCloudLeavesTheDialogResponsiveAndClosable) {
    vorta_test::CloudFault slow;
    slow.kind = "slow";
    slow.path = "/api/v1/users/login";
    slow.count = 2;
    slow.delay_ms = 6000;  // far longer than the few requests made meanwhile
    ASSERT_TRUE(emu.SetFault(slow));
    AutomationClient other;
    ASSERT_TRUE(other.Connect(app.socket(), 5000));
    other.SetTargetPage("login.htm");

    ASSERT_TRUE(app.SignIn(CloudEmuProcess::kDemoEmail, "wrong"));
    std::string after_click;
    std::thread same([&] { after_click = app.Text("login.htm", "message"); });
    ASSERT_TRUE(E2eApp::WaitFor([&] { return LoginRequests(emu).size() == 1; }, 10000));
    EXPECT_TRUE(other.Ping());
    EXPECT_TRUE(other.Snapshot(app.home() + "/waiting.png"));
    EXPECT_EQ(other.GetText("message").value_or("?"), "");  // no answer yet
    same.join();
    EXPECT_EQ(after_click, E2eApp::Lang("EMAIL_PWD_ERROR"));

    ASSERT_TRUE(app.SignIn(CloudEmuProcess::kDemoEmail, CloudEmuProcess::kDemoPassword));
    ASSERT_TRUE(E2eApp::WaitFor([&] { return LoginRequests(emu).size() == 2; }, 10000));
    ASSERT_TRUE(other.CloseWindow());
    bool login_visible = false;
    for (const AutomationWindow& w : other.Windows()) login_visible |= w.page == "login.htm" && w.visible;
    EXPECT_FALSE(login_visible);  // hidden at once
    EXPECT_EQ(app.WaitExit(60000), 0);
}
