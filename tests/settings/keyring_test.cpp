// The remembered password and token in a real Secret Service
// (gnome-keyring-daemon on a private session bus: with_keyring.sh), in the
// program's own functions and in the real program.
#include "app/settings/keyring.h"
#include "app/settings/settings_store.h"
#include "base/app_state.h"
#include "base/json_safe.h"
#include "base/paths.h"
#include "tests/e2e/e2e_app.h"
#include "tests/support/cloudemu_process.h"

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

std::string MakeTempDir() {
    char tmpl[] = "/tmp/vorta_keyring_XXXXXX";
    const char* d = ::mkdtemp(tmpl);
    return d ? d : "";
}

Json::Value ReadJson(const std::string& path) {
    Json::Value root;
    json_safe::Parse(ReadWholeFile(path), root);
    return root;
}

// Every file in the folder holding the settings file.
std::vector<std::string> FilesBeside(const std::string& path) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(std::filesystem::path(path).parent_path(), ec))
        names.push_back(e.path().filename().string());
    return names;
}

class KeyringTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
        if (!bus || !*bus) VORTA_SKIP_OR_FAIL("no private session bus: run under with_keyring.sh");
        ASSERT_TRUE(keyring::Available()) << "no Secret Service on " << bus;
        root_ = MakeTempDir();
        ::setenv("XDG_CONFIG_HOME", (root_ + "/config").c_str(), 1);
        AppState = AppStateRecord();
        ASSERT_TRUE(keyring::Store("", ""));
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
    std::string root_;
};

TEST_F(KeyringTest, PasswordAndTokenLiveInTheKeyringAndTheFileKeepsTheRest) {
    AppState.email = "diver@example.com";
    AppState.password = "pa\"ss word";
    AppState.token = "tok-123";
    ASSERT_TRUE(SaveRememberedSignIn());
    EXPECT_EQ(ApplySettingsSave("1", "1"), 3);  // a settings save keeps the file free of them too

    const std::string path = SettingsStore::DefaultPath();
    const std::string bytes = ReadWholeFile(path);
    EXPECT_EQ(ReadJson(path).getMemberNames(), (std::vector<std::string>{"e", "lang", "unit"})) << bytes;
    EXPECT_EQ(bytes.find("pa\\\"ss word"), std::string::npos);
    EXPECT_EQ(bytes.find("tok-123"), std::string::npos);
    std::string password, token;
    ASSERT_TRUE(keyring::Load(password, token));
    EXPECT_EQ(password, "pa\"ss word");
    EXPECT_EQ(token, "tok-123");

    AppState = AppStateRecord();
    LoadRememberedSignIn();
    EXPECT_EQ(AppState.email, "diver@example.com");
    EXPECT_EQ(AppState.password, "pa\"ss word");
    EXPECT_EQ(AppState.token, "tok-123");

    // Remembering an empty sign-in removes the items.
    AppState.password.clear();
    AppState.token.clear();
    ASSERT_TRUE(SaveRememberedSignIn());
    ASSERT_TRUE(keyring::Load(password, token));
    EXPECT_EQ(password + token, "");
}

TEST_F(KeyringTest, FileWrittenWithoutAKeyringMovesIntoItAndLeavesNoCopy) {
    // As the program wrote it while no keyring answered.
    const std::string path = SettingsStore::DefaultPath();
    std::ofstream(path) << R"({"unit":1,"lang":0,"e":"a@b.c","p":"old-secret","t":"old-token"})";

    LoadRememberedSignIn();
    EXPECT_EQ(AppState.email, "a@b.c");
    EXPECT_EQ(AppState.password, "old-secret");
    EXPECT_EQ(AppState.token, "old-token");

    const std::string bytes = ReadWholeFile(path);
    EXPECT_EQ(bytes.find("old-secret"), std::string::npos) << bytes;
    EXPECT_EQ(bytes.find("old-token"), std::string::npos) << bytes;
    EXPECT_EQ(ReadJson(path)["unit"].asInt(), 1);
    EXPECT_EQ(FilesBeside(path), std::vector<std::string>{"settings.json"});  // no temporary or backup copy
    std::string password, token;
    ASSERT_TRUE(keyring::Load(password, token));
    EXPECT_EQ(password, "old-secret");
    EXPECT_EQ(token, "old-token");

    // The next start reads them from the keyring.
    AppState = AppStateRecord();
    LoadRememberedSignIn();
    EXPECT_EQ(AppState.password, "old-secret");
    EXPECT_EQ(AppState.token, "old-token");
}

// The real program signs in with the keyring on its session bus, and a
// second start offers the remembered password from there.
TEST(KeyringE2e, SignInRemembersInTheKeyring) {
    const std::string why = E2eMissing();
    if (!why.empty()) VORTA_SKIP_OR_FAIL(why);
    const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (!bus || !*bus) VORTA_SKIP_OR_FAIL("no private session bus: run under with_keyring.sh");
    ASSERT_TRUE(keyring::Store("", ""));

    vorta_test::CloudEmuProcess emu;
    ASSERT_TRUE(emu.Start());
    E2eApp app;
    app.env["DBUS_SESSION_BUS_ADDRESS"] = bus;
    app.UseTestbed(emu);
    ASSERT_TRUE(app.Start());
    ASSERT_TRUE(app.SignInDemo());

    const Json::Value stored = ReadJson(app.SettingsPath());
    EXPECT_EQ(stored["e"].asString(), vorta_test::CloudEmuProcess::kDemoEmail);
    EXPECT_FALSE(stored.isMember("p"));
    EXPECT_FALSE(stored.isMember("t"));
    std::string password, token;
    ASSERT_TRUE(keyring::Load(password, token));
    EXPECT_EQ(password, vorta_test::CloudEmuProcess::kDemoPassword);
    EXPECT_FALSE(token.empty());

    app.Stop();
    ASSERT_TRUE(app.Start());
    ASSERT_TRUE(app.ui().WaitWindow("login.htm", 20000));
    app.ui().SetTargetPage("login.htm");
    EXPECT_TRUE(E2eApp::WaitFor(
        [&] { return app.ui().GetValue("pword").value_or("") == vorta_test::CloudEmuProcess::kDemoPassword; }, 5000));
}

// Locks the keyring (the daemon's "login" collection, the default one), as
// a desktop session does when the screen locks: from then on it asks for
// its password through a prompt that no one here answers.
bool LockKeyring() {
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (!bus) return false;
    const char* const paths[] = {"/org/freedesktop/secrets/collection/login", nullptr};
    GVariant* reply = g_dbus_connection_call_sync(
        bus, "org.freedesktop.secrets", "/org/freedesktop/secrets", "org.freedesktop.Secret.Service", "Lock",
        g_variant_new("(^ao)", paths), nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
    if (reply) g_variant_unref(reply);
    GVariant* locked =
        g_dbus_connection_call_sync(bus, "org.freedesktop.secrets", paths[0], "org.freedesktop.DBus.Properties", "Get",
                                    g_variant_new("(ss)", "org.freedesktop.Secret.Collection", "Locked"),
                                    G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
    gboolean is_locked = FALSE;
    if (locked) {
        GVariant* v = nullptr;
        g_variant_get(locked, "(v)", &v);
        is_locked = g_variant_get_boolean(v);
        g_variant_unref(v);
        g_variant_unref(locked);
    }
    g_object_unref(bus);
    return reply != nullptr && is_locked;
}

bool HasPrivateBus() {
    const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    return bus && *bus;
}

// Each of these runs in a keyring of its own (a separate ctest entry): it
// stays locked.
TEST(KeyringLocked, SavingNeverPutsTheSecretsInTheFile) {
    if (!HasPrivateBus()) VORTA_SKIP_OR_FAIL("no private session bus: run under with_keyring.sh");
    const std::string root = MakeTempDir();
    ::setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
    ASSERT_TRUE(LockKeyring());
    ASSERT_TRUE(keyring::Available());
    // Both ways in: a sign-in remembered now, and a file written while no
    // keyring answered, whose secrets cannot move into a locked keyring.
    AppState = AppStateRecord();
    AppState.email = "diver@example.com";
    AppState.password = "locked-secret";
    AppState.token = "locked-token";
    EXPECT_TRUE(SaveRememberedSignIn());
    const std::string path = SettingsStore::DefaultPath();
    const std::string bytes = ReadWholeFile(path);
    EXPECT_EQ(ReadJson(path).getMemberNames(), (std::vector<std::string>{"e", "lang", "unit"})) << bytes;
    EXPECT_EQ(ReadJson(path)["e"].asString(), "diver@example.com");
    EXPECT_EQ(bytes.find("locked-secret"), std::string::npos) << bytes;
    EXPECT_EQ(bytes.find("locked-token"), std::string::npos) << bytes;
    EXPECT_EQ(AppState.token, "locked-token");  // this run keeps it

    // Loading: nothing from the keyring, the e-mail from the file.
    AppState = AppStateRecord();
    LoadRememberedSignIn();
    EXPECT_EQ(AppState.email, "diver@example.com");
    EXPECT_EQ(AppState.password + AppState.token, "");
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
}

// The real program starts beside a locked keyring that holds a remembered
// password: the sign-in page works while the keyring waits for its prompt,
// and the sign-in's secrets go nowhere but the keyring.
TEST(KeyringLocked, SignInPageWorksWhileTheKeyringWaitsAndNothingLeaks) {
    const std::string why = E2eMissing();
    if (!why.empty()) VORTA_SKIP_OR_FAIL(why);
    if (!HasPrivateBus()) VORTA_SKIP_OR_FAIL("no private session bus: run under with_keyring.sh");
    ASSERT_TRUE(keyring::Store("remembered-before", "token-before"));
    ASSERT_TRUE(LockKeyring());

    vorta_test::CloudEmuProcess emu;
    ASSERT_TRUE(emu.Start());
    E2eApp app;
    app.env["DBUS_SESSION_BUS_ADDRESS"] = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    app.UseTestbed(emu);
    ASSERT_TRUE(app.Start());
    // Remembering waits at most the keyring's store time-out.
    ASSERT_TRUE(app.SignInDemo(keyring::kStoreTimeoutMs + 20000));

    const std::string bytes = ReadWholeFile(app.SettingsPath());
    const Json::Value stored = ReadJson(app.SettingsPath());
    EXPECT_EQ(stored["e"].asString(), vorta_test::CloudEmuProcess::kDemoEmail) << bytes;
    EXPECT_FALSE(stored.isMember("p")) << bytes;
    EXPECT_FALSE(stored.isMember("t")) << bytes;
    EXPECT_EQ(bytes.find(vorta_test::CloudEmuProcess::kDemoPassword), std::string::npos) << bytes;
}

}  // namespace
