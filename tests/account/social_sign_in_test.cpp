// The social sign-in without a window: which pages of the sign-in browser
// mean what, the requests made after the token redirect, and what the session
// and the data folder hold afterwards.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "account/social_sign_in.h"
#include "base/paths.h"
#include "cloud/cloud_config.h"
#include "tests/support/fake_peers.h"

using namespace vorta_account;
using vorta_test::FakeCloud;

namespace {

const char* const kSuccessPage = "https://www.example.test/connect/login_success.html";

const char* const kState = "0123456789abcdef0123456789abcdef";

TEST(SocialRedirect, EachPageIsJudgedByItsMarkers) {
    const std::string p = kSuccessPage;
    const std::string ok = std::string("&state=") + kState;
    const struct {
        std::string url;
        RedirectKind kind;
        const char* error_text;
        const char* token;
        const char* expiration;
    } cases[] = {
        // The provider's own forms, and an empty page before any load.
        {"https://www.example.test/v6.0/dialog/oauth?client_id=1&state=s", RedirectKind::Page, "", "", ""},
        {"", RedirectKind::Page, "", "", ""},
        // A token without its expiration is not a sign-in.
        {p + "#access_token=EAAB&expires_in=60" + ok, RedirectKind::Page, "", "", ""},
        // Refusals: up to the "&" when it is close, else 20 characters.
        {p + "?error=access_denied&error_code=200&error_description=Permissions+error#_=_", RedirectKind::Error,
         "fb:error_code=200", "", ""},
        {p + "?error_code=123456789012345678&x=1", RedirectKind::Error, "fb:error_code=123456789012345678", "", ""},
        {p + "?error_code=1234567890123456789&x=1", RedirectKind::Error, "fb:error_code=123456789", "", ""},
        {p + "?error_code=4201#_=_", RedirectKind::Error, "fb:error_code=4201#_=_", "", ""},
        {p + "?error_code=1234567890123456", RedirectKind::Error, "fb:error_code=123456789", "", ""},
        {p + "#error_code=7&state=x", RedirectKind::Error, "fb:error_code=7", "", ""},
        // Bytes that are not UTF-8 are cut where they fall.
        {p + "?error_code=" + std::string(30, '\xb1'), RedirectKind::Error,
         "fb:error_code=\xb1\xb1\xb1\xb1\xb1\xb1\xb1\xb1\xb1", "", ""},
        // A refusal that also carries a token without expiration is a refusal.
        {p + "?error_code=190&access_token=x", RedirectKind::Error, "fb:error_code=190", "", ""},
        // Tokens: from the fragment, each value up to the next "&", the last
        // one to the end.
        {p + "#access_token=EAAV1&data_access_expiration_time=1767225600&expires_in=5183944" + ok, RedirectKind::Token,
         "", "EAAV1", "1767225600"},
        {p + "#state=" + kState + "&data_access_expiration_time=1767225600&access_token=EAAV2", RedirectKind::Token, "",
         "EAAV2", "1767225600"},
        {p + "#access_token=&data_access_expiration_time=" + ok, RedirectKind::Token, "", "", ""},
        // Scheme and host compare without case, a default port may be written.
        {"HTTPS://WWW.Example.test:443/connect/login_success.html#access_token=T&data_access_expiration_time=1" + ok,
         RedirectKind::Token, "", "T", "1"},
        // The state must be this request's.
        {p + "#access_token=T&data_access_expiration_time=1", RedirectKind::Refused, "", "", ""},
        {p + "#access_token=T&data_access_expiration_time=1&state=", RedirectKind::Refused, "", "", ""},
        {p + "#access_token=T&data_access_expiration_time=1&state=PCTidewalkerTool", RedirectKind::Refused, "", "", ""},
        {p + "#access_token=T&data_access_expiration_time=1" + ok + "0", RedirectKind::Refused, "", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        const RedirectCheck r = CheckRedirect(c.url, p, kState);
        EXPECT_EQ(r.kind, c.kind);
        EXPECT_EQ(r.error_text, c.error_text);
        EXPECT_EQ(r.access_token, c.token);
        EXPECT_EQ(r.expiration, c.expiration);
    }
    // The 20-character cut never splits a character.
    EXPECT_EQ(CheckRedirect(p + "?error_code=12345678\xC3\xA9" + std::string(20, 'x'), p, kState).error_text,
              "fb:error_code=12345678");
    // Without a state of its own (no request made) no token counts.
    EXPECT_EQ(CheckRedirect(p + "#access_token=T&data_access_expiration_time=1&state=", p, "").kind,
              RedirectKind::Refused);
}

TEST(SocialRedirect, MarkersAnywhereButInTheRedirectPagesFragmentAreAnOrdinaryPage) {
    // Each address below is followed by a complete token with the right state.
    const std::string token = std::string("access_token=A&data_access_expiration_time=1&state=") + kState;
    const std::string path = "/connect/login_success.html";
    const std::string before[] = {
        "http://evil.test/evil.html?x=1&",             // another page, in its query
        "https://evil.test" + path + "#",              // another host
        "http://www.example.test" + path + "#",        // another scheme
        "https://www.example.test:8443" + path + "#",  // another port
        "https://www.example.test.evil.test" + path + "#",
        "https://www.example.test@evil.test" + path + "#",
        "https://www.example.test" + path + ".evil#",  // another path
        "https://www.example.test/evil?r=" + path + "#",
        "https://www.example.test/x#" + std::string(kSuccessPage) + "#",
        std::string(kSuccessPage) + "?",      // the redirect page's query
        std::string(kSuccessPage) + "#foo_",  // a longer name
        std::string(kSuccessPage) + "#x=",    // a name inside a value
    };
    for (const std::string& b : before) {
        SCOPED_TRACE(b);
        EXPECT_EQ(CheckRedirect(b + token, kSuccessPage, kState).kind, RedirectKind::Page);
    }
    EXPECT_EQ(CheckRedirect("https://evil.test/?error_code=200&x=1", kSuccessPage, kState).kind, RedirectKind::Page);
    EXPECT_EQ(CheckRedirect(std::string(kSuccessPage) + "?my_error_code=2", kSuccessPage, kState).kind,
              RedirectKind::Page);
}

TEST(SocialRedirect, EachRequestHasItsOwnState) {
    const std::string a = NewOAuthState(), b = NewOAuthState();
    EXPECT_EQ(a.size(), 32u);
    EXPECT_EQ(a.find_first_not_of("0123456789abcdef"), std::string::npos) << a;
    EXPECT_NE(a, b);
}

TEST(SocialRequests, OAuthQueryProfileQueryAndBody) {
    SocialEndpoints e{"https://www.example.test/v6.0/dialog/oauth", kSuccessPage, "https://graph.example.test/v6.0",
                      "1234&5"};
    EXPECT_TRUE(e.configured());
    EXPECT_EQ(OAuthRequestUrl(e, "s&1"),
              "https://www.example.test/v6.0/dialog/oauth?client_id=1234%265"
              "&redirect_uri=https%3A%2F%2Fwww.example.test%2Fconnect%2Flogin_success.html"
              "&scope=email,public_profile&response_type=token,granted_scopes&state=s%261");
    e.auth_url += "?locale=en";
    EXPECT_EQ(OAuthRequestUrl(e, kState).rfind("https://www.example.test/v6.0/dialog/oauth?locale=en&client_id=", 0),
              0u);
    for (std::string SocialEndpoints::*field : {&SocialEndpoints::auth_url, &SocialEndpoints::redirect_url,
                                                &SocialEndpoints::graph_url, &SocialEndpoints::client_id}) {
        SocialEndpoints missing = e;
        missing.*field = "";
        EXPECT_FALSE(missing.configured());
    }

    EXPECT_EQ(GraphMeUrl("https://graph.example.test/v6.0", "EAAV"),
              "https://graph.example.test/v6.0/me?fields=email,id,name&access_token=EAAV");
    EXPECT_EQ(GraphMeUrl("https://graph.example.test/v6.0/", "a b"),
              "https://graph.example.test/v6.0/me?fields=email,id,name&access_token=a%20b");

    // Every value percent-encoded: "+" stays a plus, "&" and "=" add no field.
    EXPECT_EQ(SocialSignInBody({"Ann", "ann+fb@x.tw", "12=3"}, "T&K", "17"),
              "email=ann%2Bfb%40x.tw&social_platform=facebook&social_id=12%3D3&access_token=T%26K&expire_datetime=17");
    EXPECT_EQ(SocialSignInBody({"", "", "9"}, "T", "1").rfind("email=&social_platform=facebook&social_id=9", 0), 0u);
    EXPECT_EQ(SocialSignInBody({"", "\xE6\xBD\x9B@x", "9"}, "T", "1").rfind("email=%E6%BD%9B%40x&", 0), 0u);
}

struct SocialSignIn : ::testing::Test {
    FakeCloud cloud;
    AppStateRecord state;
    std::string folder;
    int remembered = 0;
    // The download: what it was asked for and what it writes.
    std::vector<std::string> fetched;
    bool download_ok = true;
    std::string profile = R"({"name":"Ann Diver","email":"ann+fb@x.tw","id":"10158"})";

    void SetUp() override {
        char tmpl[] = "/tmp/vorta-social-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        folder = tmpl;
        state.email = "old@x";
        state.user_id = "old-id";
        state.token = "old-token";
        state.user_name = "Old Name";
        state.profile_image_path = "old.png";
    }
    void TearDown() override { std::filesystem::remove_all(folder); }

    SocialSignInResult Run(const std::string& token = "EAAV9", const std::string& expiration = "1767225600") {
        RedirectCheck r;
        r.kind = RedirectKind::Token;
        r.access_token = token;
        r.expiration = expiration;
        Downloader download = [this](const std::string& url, const std::string& path) {
            fetched.push_back(url);
            if (!download_ok) return false;
            std::ofstream(path, std::ios::binary) << profile;
            return true;
        };
        return CompleteSocialSignIn(r, "https://graph.example.test/v6.0/", folder, download, cloud, state, [this] {
            ++remembered;
            return true;
        });
    }
    void ExpectSessionUntouched() const {
        EXPECT_EQ(remembered, 0);
        EXPECT_EQ(state.email, "old@x");
        EXPECT_EQ(state.user_id, "old-id");
        EXPECT_EQ(state.token, "old-token");
        EXPECT_EQ(state.user_name, "Old Name");
        EXPECT_EQ(state.profile_image_path, "old.png");
    }
    bool FolderEmpty() const { return std::filesystem::is_empty(folder); }
};

}  // namespace

TEST_F(SocialSignIn, FailuresStopAtTheirStepAndLeaveTheSessionAlone) {
    const std::string name128(128, 'n');
    const struct Case {
        const char* what;
        std::string token, expiration;
        bool download_ok;
        std::string profile;
        bool connect;
        std::string answer;
        const char* key;
        size_t downloads, requests;
    } cases[] = {
        {"token over 1024", std::string(1025, 't'), "1", true, profile, true, "", "HOST_ERROR", 0, 0},
        {"expiration over 127", "T", std::string(128, '9'), true, profile, true, "", "HOST_ERROR", 0, 0},
        {"no profile", "T", "1", false, profile, true, "", "", 1, 0},
        {"profile not JSON", "T", "1", true, "<html>", true, "", "HOST_ERROR", 1, 0},
        {"name over 127", "T", "1", true, R"({"name":")" + name128 + R"(","id":"1"})", true, "", "HOST_ERROR", 1, 0},
        {"no connection", "T", "1", true, profile, false, "", "HOST_NOT_CONN", 1, 0},
        {"no answer", "T", "1", true, profile, true, "", "HOST_NOT_CONN", 1, 1},
        {"no code", "T", "1", true, profile, true, "{}", "HOST_ERROR", 1, 1},
        {"refused", "T", "1", true, profile, true, R"({"code":"0000002"})", "DATA_ERROR", 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fetched.clear();
        cloud.requests.clear();
        download_ok = c.download_ok;
        profile = c.profile;
        cloud.connect_result = c.connect;
        cloud.default_answer = c.answer;
        const SocialSignInResult r = Run(c.token, c.expiration);
        EXPECT_FALSE(r.signed_in);
        EXPECT_EQ(r.message_key, c.key);
        EXPECT_EQ(fetched.size(), c.downloads);
        EXPECT_EQ(cloud.requests.size(), c.requests);
        EXPECT_TRUE(FolderEmpty());  // "me.json" never stays
        ExpectSessionUntouched();
    }
}

TEST_F(SocialSignIn, SuccessFillsTheSessionFromProfileAndAnswer) {
    cloud.default_answer = R"({"code":"0000000","response":{"token":"CLOUD-T",
        "user":{"user_id":"1001","user_name":"Cloud Name","profile_image_path":"https://c/p.png"}}})";
    const std::string token(1024, 'E');  // the longest accepted
    const SocialSignInResult r = Run(token, "1767225600");
    EXPECT_TRUE(r.signed_in);
    EXPECT_EQ(r.message_key, "");
    EXPECT_EQ(remembered, 1);
    EXPECT_EQ(state.user_name, "Ann Diver");  // the provider's name, not the cloud's
    EXPECT_EQ(state.email, "ann+fb@x.tw");
    EXPECT_EQ(state.user_id, "1001");
    EXPECT_EQ(state.token, "CLOUD-T");
    EXPECT_EQ(state.profile_image_path, "https://c/p.png");

    ASSERT_EQ(fetched.size(), 1u);
    EXPECT_EQ(fetched[0], "https://graph.example.test/v6.0/me?fields=email,id,name&access_token=" + token);
    EXPECT_EQ(cloud.connects.at(0), CloudHost() + ":" + std::to_string(kCloudPort));
    ASSERT_EQ(cloud.requests.size(), 1u);
    EXPECT_EQ(cloud.requests[0].verb, "POST");
    EXPECT_EQ(cloud.requests[0].path, "api/v1/users/socialLogin");
    EXPECT_EQ(cloud.requests[0].is_json, 0);
    EXPECT_EQ(cloud.requests[0].headers, "");
    EXPECT_EQ(cloud.requests[0].body, "email=ann%2Bfb%40x.tw&social_platform=facebook&social_id=10158&access_token=" +
                                          token + "&expire_datetime=1767225600");
    // The provider's token is in no file and in no session field.
    EXPECT_TRUE(FolderEmpty());
    for (const std::string* f :
         {&state.email, &state.password, &state.user_id, &state.token, &state.user_name, &state.profile_image_path})
        EXPECT_EQ(f->find(token), std::string::npos);
}

TEST_F(SocialSignIn, ValuesThatAreNotTextReadAsEmpty) {
    profile = R"({"name":["Ann"],"email":null,"id":10158})";
    cloud.default_answer = R"({"code":"0000000","response":{"token":"T","user":{"user_id":"1001","user_name":7}}})";
    EXPECT_TRUE(Run().signed_in);
    EXPECT_EQ(state.user_name, "");
    EXPECT_EQ(state.email, "");
    ASSERT_EQ(cloud.requests.size(), 1u);
    EXPECT_EQ(cloud.requests[0].body.rfind("email=&social_platform=facebook&social_id=&access_token=EAAV9", 0), 0u);
}
