// The e-mail sign-in against a scripted cloud: what is sent, what is shown,
// what the session and the remembered sign-in become.
#include <gtest/gtest.h>

#include "account/email_sign_in.h"
#include "cloud/cloud_config.h"
#include "tests/support/fake_peers.h"

using namespace vorta_account;
using vorta_test::FakeCloud;

namespace {

struct SignIn : ::testing::Test {
    FakeCloud cloud;
    AppStateRecord state;
    int remembered = 0;

    void SetUp() override {
        state.user_id = "old-id";
        state.token = "old-token";
        state.user_name = "Old Name";
    }
    SignInResult Run(const std::string& email, const std::string& password) {
        return EmailSignIn(email, password, cloud, state, [this] {
            ++remembered;
            return true;
        });
    }
    void ExpectSessionUntouched() const {
        EXPECT_EQ(remembered, 0);
        EXPECT_EQ(state.user_id, "old-id");
        EXPECT_EQ(state.token, "old-token");
        EXPECT_EQ(state.user_name, "Old Name");
    }
};

}  // namespace

TEST_F(SignIn, EmptyFieldsAreAskedForBeforeAnyTraffic) {
    SignInResult r = Run("", "");
    EXPECT_FALSE(r.signed_in);
    EXPECT_EQ(r.message_key, "ENTER_EMAIL");
    EXPECT_EQ(Run("a@b", "").message_key, "ENTER_PASSWORD");
    EXPECT_TRUE(cloud.connects.empty());
    EXPECT_EQ(state.email, "a@b");  // what was typed is kept
    ExpectSessionUntouched();
}

TEST_F(SignIn, RefusalsLeaveTheSessionAndTheStoreAlone) {
    struct Case {
        bool connect;
        const char* answer;
        const char* key;
    } cases[] = {
        {false, "", "NO_INTERNET"},
        {true, "", "HOST_NOT_CONN"},
        {true, "<html>502</html>", "HOST_NOT_CONN"},
        {true, "{}", "HOST_ERROR"},
        {true, R"({"code":"0000001","message":"wrong password"})", "EMAIL_PWD_ERROR"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        cloud.connect_result = c.connect;
        cloud.default_answer = c.answer;
        SignInResult r = Run("diver@vorta.example", "wrong");
        EXPECT_FALSE(r.signed_in);
        EXPECT_EQ(r.message_key, c.key);
        EXPECT_EQ(state.password, "wrong");
        ExpectSessionUntouched();
    }
}

TEST_F(SignIn, ValuesArePercentEncodedWhole) {
    cloud.default_answer = R"({"code":"0000001"})";
    Run("  ", "a&b=c d");
    // Non-ASCII goes as UTF-8 bytes; a long value is not cut.
    const std::string long_pw(5000, 'x');
    Run("\xE6\xBD\x9B@x.tw", long_pw);
    ASSERT_EQ(cloud.requests.size(), 2u);
    EXPECT_EQ(cloud.requests[0].body, "email=%20%20&password=a%26b%3Dc%20d");
    EXPECT_EQ(cloud.requests[1].body, "email=%E6%BD%9B%40x.tw&password=" + long_pw);
    // A form POST to the sign-in endpoint, without authorization, on the
    // cloud host's port.
    for (const auto& r : cloud.requests) {
        EXPECT_EQ(r.verb, "POST");
        EXPECT_EQ(r.path, "api/v1/users/login");
        EXPECT_EQ(r.is_json, 0);
        EXPECT_EQ(r.headers, "");
    }
    EXPECT_EQ(cloud.connects.at(0), CloudHost() + ":" + std::to_string(kCloudPort));
}

TEST_F(SignIn, SuccessFillsTheSessionAndRemembersOnce) {
    cloud.default_answer = R"({"code":"0000000","response":{"token":"T1",
        "user":{"user_id":"42","user_name":"Ann","profile_image_path":"https://x/p.png"}}})";
    SignInResult r = Run("ann@x", "pw");
    EXPECT_TRUE(r.signed_in);
    EXPECT_EQ(r.message_key, "");
    EXPECT_EQ(remembered, 1);
    EXPECT_EQ(state.token, "T1");
    EXPECT_EQ(state.user_id, "42");
    EXPECT_EQ(state.user_name, "Ann");
    EXPECT_EQ(state.profile_image_path, "https://x/p.png");
}

TEST_F(SignIn, SuccessWithoutTokenOrUserIdIsAHostError) {
    // The code says success, but there is no session to open.
    const char* answers[] = {
        R"({"code":"0000000","response":"nope"})",
        R"({"code":"0000000","response":[{"token":"T"}]})",
        R"({"code":"0000000","response":{"token":7,"user":{"user_id":"1"}}})",
        R"({"code":"0000000","response":{"token":"","user":{"user_id":"1"}}})",
        R"({"code":"0000000","response":{"token":"T","user":{"user_id":["1"]}}})",
        R"({"code":"0000000","response":{"token":"T","user":"1"}})",
    };
    for (const char* answer : answers) {
        SCOPED_TRACE(answer);
        cloud.default_answer = answer;
        SignInResult r = Run("ann@x", "pw");
        EXPECT_FALSE(r.signed_in);
        EXPECT_EQ(r.message_key, "HOST_ERROR");
        ExpectSessionUntouched();
    }
    // The name and picture are optional: mistyped, they read as empty.
    cloud.default_answer =
        R"({"code":"0000000","response":{"token":"T","user":{"user_id":"1","user_name":3,"profile_image_path":null}}})";
    EXPECT_TRUE(Run("ann@x", "pw").signed_in);
    EXPECT_EQ(state.user_name, "");
    EXPECT_EQ(state.profile_image_path, "");
}
