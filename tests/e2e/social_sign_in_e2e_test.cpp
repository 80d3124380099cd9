// The social sign-in of the real program: its browser window on the cloud
// emulator's stand-ins for the provider's OAuth dialog (which presses its own
// button, --oauth-auto) and Graph API.
#include <gtest/gtest.h>
#include <json/json.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "base/json_safe.h"
#include "base/paths.h"
#include "tests/e2e/e2e_app.h"
#include "tests/support/cloudemu_process.h"

using vorta_test::CloudEmuProcess;

namespace {

class SocialSignInE2e : public ::testing::Test {
protected:
    // `decision`: what the provider's page does ("allow", "deny",
    // "wrong_state" or "hostile"); `extra`: further emulator options.
    void Start(const std::string& decision, bool configured = true, const std::vector<std::string>& extra = {}) {
        std::string why = E2eMissing();
        if (!why.empty()) VORTA_SKIP_OR_FAIL(why);
        std::vector<std::string> args{"--oauth-auto", decision};
        args.insert(args.end(), extra.begin(), extra.end());
        emu = std::make_unique<CloudEmuProcess>("", args);
        ASSERT_TRUE(emu->Start());
        emu->Reset();
        app.UseTestbed(*emu);
        if (configured) {
            app.env["VORTA_FACEBOOK_AUTH_URL"] = emu->base_url() + "/_fb/dialog/oauth";
            app.env["VORTA_FACEBOOK_REDIRECT_URL"] = emu->base_url() + "/_fb/connect/login_success.html";
            app.env["VORTA_FACEBOOK_GRAPH_URL"] = emu->base_url() + "/_fb/v6.0/";
            app.env["VORTA_FACEBOOK_CLIENT_ID"] = "4242";
        }
        ASSERT_TRUE(app.Start());
        ASSERT_TRUE(app.ui().WaitWindow("login.htm", 20000));
    }

    // Requests to the emulator whose path starts with `prefix`.
    std::vector<vorta_test::CloudRequest> Sent(const std::string& prefix) {
        std::vector<vorta_test::CloudRequest> out;
        for (auto& r : emu->Log())
            if (r.path.compare(0, prefix.size(), prefix) == 0) out.push_back(r);
        return out;
    }

    std::string Message() { return app.Text("login.htm", "message"); }

    // The "state" of each OAuth request the browser made, in order.
    std::vector<std::string> States() {
        std::vector<std::string> states;
        for (auto& r : Sent("/_fb/dialog/oauth?")) {
            const std::size_t at = r.path.find("&state=");
            states.push_back(at == std::string::npos ? "" : r.path.substr(at + 7));
        }
        return states;
    }

    std::string Picture() {
        app.ui().SetTargetPage("main.htm");
        auto v = app.ui().GetAttr("thumbnails", "src", "framepage1");
        app.ui().SetTargetPage("");
        return v.value_or("<missing>");
    }

    std::unique_ptr<CloudEmuProcess> emu;
    E2eApp app;
};

// The files under `dir` that hold `text`.
std::vector<std::string> FilesHolding(const std::string& dir, const std::string& text) {
    std::vector<std::string> found;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(dir, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (!it->is_regular_file(ec)) continue;
        if (ReadWholeFile(it->path().string()).find(text) != std::string::npos) found.push_back(it->path().string());
    }
    return found;
}

}  // namespace

TEST_F(SocialSignInE2e, AllowedAtTheProviderOpensTheMainWindowWithTheProfile) {
    Start("allow");
    ASSERT_TRUE(app.ClickOn("login.htm", "facebook"));
    ASSERT_TRUE(app.ui().WaitWindow("main.htm", 30000)) << Message();
    EXPECT_TRUE(E2eApp::WaitFor([&] { return app.Text("main.htm", "display", "framepage1") == "Demo Diver"; }, 10000))
        << app.Text("main.htm", "display", "framepage1");
    EXPECT_EQ(app.Text("main.htm", "email", "framepage1"), CloudEmuProcess::kDemoEmail);

    // The OAuth request, the profile query and the cloud's social sign-in.
    auto dialog = Sent("/_fb/dialog/oauth?");
    ASSERT_EQ(dialog.size(), 1u);
    const std::vector<std::string> states = States();
    ASSERT_EQ(states.size(), 1u);
    EXPECT_EQ(states[0].size(), 32u) << states[0];
    EXPECT_EQ(states[0].find_first_not_of("0123456789abcdef"), std::string::npos) << states[0];
    EXPECT_EQ(dialog[0].path, "/_fb/dialog/oauth?client_id=4242&redirect_uri=https%3A%2F%2F" + emu->host() +
                                  "%3A8443%2F_fb%2Fconnect%2Flogin_success.html&scope=email,public_profile"
                                  "&response_type=token,granted_scopes&state=" +
                                  states[0]);
    // The picture the cloud names, fetched by the program and handed to the
    // page whole, as a PNG data: URL once fetched (the page opens no
    // connection).
    const std::string prefix = "data:image/png;base64,";
    E2eApp::WaitFor([&] { return Picture().rfind(prefix, 0) == 0; }, 15000);
    const std::string picture = Picture();
    ASSERT_EQ(picture.rfind(prefix, 0), 0u) << picture.substr(0, 80);
    const std::string png = vorta_test::Base64Decode(picture.substr(prefix.size()));
    EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    EXPECT_EQ(png.substr(png.size() >= 8 ? png.size() - 8 : 0), std::string("IEND\xae\x42\x60\x82", 8));
    EXPECT_EQ(Sent("/static/avatar.png").size(), 1u);
    auto me = Sent("/_fb/v6.0/me?fields=email,id,name&access_token=");
    ASSERT_EQ(me.size(), 1u);
    const std::string token = me[0].path.substr(me[0].path.find("access_token=") + 13);
    ASSERT_FALSE(token.empty());
    auto social = Sent("/api/v1/users/socialLogin");
    ASSERT_EQ(social.size(), 1u);
    const std::string sent =
        "email=demo%40vorta.example&social_platform=facebook&social_id=10158123456789012"
        "&access_token=" +
        token + "&expire_datetime=";
    EXPECT_EQ(social[0].body.rfind(sent, 0), 0u) << social[0].body;
    EXPECT_EQ(social[0].Header("Authorization"), "");

    // Remembered: the cloud's session token, not the provider's.
    Json::Value stored;
    ASSERT_TRUE(json_safe::Parse(ReadWholeFile(app.SettingsPath()), stored));
    EXPECT_EQ(stored.get("e", "").asString(), CloudEmuProcess::kDemoEmail);
    EXPECT_FALSE(stored.get("t", "").asString().empty());
    EXPECT_NE(stored.get("t", "").asString(), token);

    // The profile file is gone and the provider's token is in no file the
    // program (or its web engine) wrote.
    app.Stop();
    EXPECT_FALSE(std::filesystem::exists(app.home() + "/Documents/VORTA PC TOOL/me.json"));
    EXPECT_EQ(FilesHolding(app.home(), token), std::vector<std::string>());
}

TEST_F(SocialSignInE2e, CancelAtTheProviderShowsItsErrorAndKeepsTheDialog) {
    Start("deny");
    for (int press = 1; press <= 2; ++press) {
        SCOPED_TRACE(press);
        ASSERT_TRUE(app.ClickOn("login.htm", "facebook"));
        EXPECT_TRUE(E2eApp::WaitFor([&] { return Message() == "fb:error_code=200"; }, 20000)) << Message();
        EXPECT_TRUE(app.Visible("login.htm"));
        // Each press is a new browser on a new OAuth request.
        EXPECT_EQ(Sent("/_fb/dialog/oauth?").size(), static_cast<size_t>(press));
        // Another text in between, so the second refusal is seen arriving.
        ASSERT_TRUE(app.SignIn("", ""));
        ASSERT_TRUE(E2eApp::WaitFor([&] { return Message() == E2eApp::Lang("ENTER_EMAIL"); }, 10000));
    }
    EXPECT_TRUE(Sent("/_fb/v6.0/me").empty());
    EXPECT_TRUE(Sent("/api/v1/users/socialLogin").empty());
    // A new state for each request.
    const std::vector<std::string> states = States();
    ASSERT_EQ(states.size(), 2u);
    EXPECT_NE(states[0], states[1]);
    // The dialog still works: leaving ends the program.
    ASSERT_TRUE(app.ClickOn("login.htm", "exit"));
    EXPECT_EQ(app.WaitExit(20000), 0);
}

TEST_F(SocialSignInE2e, WithoutAClientIdTheDialogSaysSo) {
    Start("allow", /*configured=*/false);
    ASSERT_TRUE(app.ClickOn("login.htm", "facebook"));
    ASSERT_TRUE(E2eApp::WaitFor([&] { return !Message().empty(); }, 10000));
    EXPECT_EQ(Message(), E2eApp::Lang("FB_NOT_CONFIGURED"));
    EXPECT_TRUE(Sent("/_fb/").empty());
    EXPECT_TRUE(app.Visible("login.htm"));
}

TEST_F(SocialSignInE2e, AHostilePageCarryingATokenDoesNotSignIn) {
    // The provider's page sends the browser to another page holding both
    // token markers and the right state, in its query and then in its
    // fragment, and at last to the redirect page with a refusal.
    Start("hostile");
    ASSERT_TRUE(app.ClickOn("login.htm", "facebook"));
    ASSERT_TRUE(E2eApp::WaitFor([&] { return Message() == "fb:error_code=200"; }, 30000)) << Message();
    EXPECT_EQ(Sent("/_fb/hostile.html?step=").size(), 2u);
    EXPECT_TRUE(Sent("/_fb/v6.0/me").empty());
    EXPECT_TRUE(Sent("/api/v1/users/socialLogin").empty());
    EXPECT_TRUE(app.Visible("login.htm"));
    EXPECT_FALSE(app.Visible("main.htm"));
    // No account is remembered.
    Json::Value stored;
    json_safe::Parse(ReadWholeFile(app.SettingsPath()), stored);
    EXPECT_EQ(json_safe::String(stored, "t"), "");
}

TEST_F(SocialSignInE2e, ARedirectWithAnotherStateFetchesNothing) {
    Start("wrong_state");
    ASSERT_TRUE(app.ClickOn("login.htm", "facebook"));
    ASSERT_TRUE(E2eApp::WaitFor([&] { return Message() == E2eApp::Lang("HOST_ERROR"); }, 30000)) << Message();
    EXPECT_EQ(Sent("/_fb/dialog/oauth/grant?").size(), 1u);
    EXPECT_TRUE(Sent("/_fb/v6.0/me").empty());
    EXPECT_TRUE(Sent("/api/v1/users/socialLogin").empty());
    EXPECT_TRUE(app.Visible("login.htm"));
    EXPECT_FALSE(app.Visible("main.htm"));
}

TEST_F(SocialSignInE2e, APictureOnThisMachineIsNeverShown) {
    // The cloud names a real picture on this machine as the profile picture.
    const std::string picture =
        std::filesystem::temp_directory_path().string() + "/vorta-e2e-picture-" + std::to_string(::getpid()) + ".png";
    {
        std::ofstream out(picture, std::ios::binary);
        out << std::string("\x89PNG\r\n\x1a\n", 8) << "picture";
    }
    Start("allow", true, {"--profile-image", picture});
    ASSERT_TRUE(app.ClickOn("login.htm", "facebook"));
    ASSERT_TRUE(app.ui().WaitWindow("main.htm", 30000)) << Message();
    ASSERT_TRUE(E2eApp::WaitFor([&] { return app.Text("main.htm", "display", "framepage1") == "Demo Diver"; }, 10000));
    // The default picture.
    EXPECT_EQ(Picture(), "");
    std::filesystem::remove(picture);
}
