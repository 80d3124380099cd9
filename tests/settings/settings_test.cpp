// Settings file, text table and folders, run against temporary home and
// config folders so the user's own files are never touched.
#include "base/app_state.h"
#include "base/json_safe.h"
#include "base/config.h"
#include "app/settings/lang_table.h"
#include "base/paths.h"
#include "app/settings/settings_store.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string MakeTempDir() {
    char tmpl[] = "/tmp/vorta_settings_XXXXXX";
    const char* d = ::mkdtemp(tmpl);
    return d ? d : "";
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

mode_t ModeOf(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 0777) : 0;
}

bool Exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = MakeTempDir();
        ASSERT_FALSE(root_.empty());
        ::setenv("HOME", root_.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (root_ + "/config").c_str(), 1);
        // The file without a keyring (keyring_test covers the keyring).
        ::setenv("DBUS_SESSION_BUS_ADDRESS", "", 1);
        AppState = AppStateRecord();
        AppState.language = "ENG";
    }
    void TearDown() override {
        std::string cmd = "rm -rf '" + root_ + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }
    std::string SettingsPath() const { return root_ + "/config/VORTA PC TOOL/settings.json"; }
    Json::Value ReadBack() const {
        Json::Value v;
        json_safe::Parse(ReadWholeFile(SettingsPath()), v);
        return v;
    }

    std::string root_;
};

TEST_F(SettingsTest, MissingFileGivesEnglishMetricAndCreatesPrivateFile) {
    AppState.language = "CHT";
    AppState.unit = 1;
    LoadSettings();
    EXPECT_EQ(AppState.language, "ENG");
    EXPECT_EQ(AppState.unit, 0);
    ASSERT_TRUE(Exists(SettingsPath()));
    EXPECT_EQ(ModeOf(SettingsPath()), 0600u);
    EXPECT_EQ(ModeOf(root_ + "/config/VORTA PC TOOL"), 0700u);
    EXPECT_TRUE(ReadBack().isObject());
}

TEST_F(SettingsTest, LanguageValuesOtherThanOneReadAsEnglish) {
    LoadSettings();  // creates the folder
    for (const char* text : {R"({"lang":2,"unit":1})", R"({"lang":-1})", R"({"lang":0})"}) {
        WriteFile(SettingsPath(), text);
        AppState.language = "CHT";
        LoadSettings();
        EXPECT_EQ(AppState.language, "ENG") << text;
        EXPECT_EQ(LanguageIndex(), 0) << text;
    }
    WriteFile(SettingsPath(), R"({"lang":1,"unit":1})");
    LoadSettings();
    EXPECT_EQ(AppState.language, "CHT");
    EXPECT_EQ(LanguageIndex(), 1);
    EXPECT_EQ(AppState.unit, 1);
}

TEST_F(SettingsTest, DefectiveFilesGiveDefaultsAndAreRewrittenOnSave) {
    LoadSettings();
    const char* defective[] = {
        "{\"lang\":1,",                                    // cut short
        "[1,2,3]",                                         // not an object
        "",                                                // empty
        R"({"lang":"1","unit":"1","e":5,"p":[],"t":{}})",  // wrong types
        R"({"lang":1e300,"unit":7})",                      // out of range
    };
    for (const char* text : defective) {
        WriteFile(SettingsPath(), text);
        StoredSettings s = SettingsStore().Load();
        EXPECT_EQ(s.lang == 1, false) << text;
        EXPECT_TRUE(s.e.empty() && s.p.empty() && s.t.empty()) << text;
        LoadSettings();
        EXPECT_EQ(AppState.language, "ENG") << text;
        EXPECT_EQ(AppState.unit, 0) << text;

        EXPECT_EQ(ApplySettingsSave("1", "1"), 3) << text;
        Json::Value v = ReadBack();
        EXPECT_EQ(json_safe::Int(v, "lang"), 1) << text;
        EXPECT_EQ(json_safe::Int(v, "unit"), 1) << text;
        EXPECT_EQ(ModeOf(SettingsPath()), 0600u);
        AppState.language = "ENG";
        AppState.unit = 0;
    }

    // Far too large to be ours: a valid object padded past a megabyte, and a
    // sparse file larger than memory. Defaults, no crash; a save replaces it.
    for (off_t size : {off_t(2) << 20, off_t(64) << 30}) {
        WriteFile(SettingsPath(), R"({"lang":1,"unit":1,"e":"x"})");
        ASSERT_EQ(::truncate(SettingsPath().c_str(), size), 0);
        LoadSettings();
        EXPECT_EQ(AppState.language, "ENG") << size;
        EXPECT_EQ(AppState.unit, 0) << size;
        EXPECT_TRUE(SettingsStore().Load().e.empty()) << size;
        EXPECT_EQ(ApplySettingsSave("1", "0"), 1) << size;
        EXPECT_EQ(json_safe::Int(ReadBack(), "lang"), 1) << size;
        AppState.language = "ENG";
    }
}

TEST_F(SettingsTest, SaveResultsAndWhatIsWritten) {
    AppState.email = "diver@example.com";
    AppState.password = "pa\"ss\\word";
    AppState.token = "tok";
    ASSERT_TRUE(SaveRememberedSignIn());
    LoadSettings();

    // Nothing changed: 0, and the file is left exactly as it was.
    struct stat before;
    ASSERT_EQ(::stat(SettingsPath().c_str(), &before), 0);
    std::string bytes_before = ReadWholeFile(SettingsPath());
    EXPECT_EQ(ApplySettingsSave("0", "0"), 0);
    EXPECT_EQ(ApplySettingsSave("0", "true"), 0);  // only exactly "1" is imperial
    EXPECT_EQ(ApplySettingsSave("abc", "on"), 0);  // no digits read as 0
    struct stat after;
    ASSERT_EQ(::stat(SettingsPath().c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_EQ(ReadWholeFile(SettingsPath()), bytes_before);

    EXPECT_EQ(ApplySettingsSave("0", "1"), 2);  // unit only
    EXPECT_EQ(AppState.unit, 1);
    EXPECT_EQ(AppState.language, "ENG");
    EXPECT_EQ(ApplySettingsSave("1 ", "1"), 1);  // language only, leading digits
    EXPECT_EQ(AppState.language, "CHT");
    EXPECT_EQ(ApplySettingsSave("0", "0"), 3);  // both
    EXPECT_EQ(AppState.language, "ENG");
    EXPECT_EQ(AppState.unit, 0);

    // The remembered sign-in survives every save, and the file reads back.
    AppState = AppStateRecord();
    LoadRememberedSignIn();
    EXPECT_EQ(AppState.email, "diver@example.com");
    EXPECT_EQ(AppState.password, "pa\"ss\\word");
    EXPECT_EQ(AppState.token, "tok");
    EXPECT_EQ(ModeOf(SettingsPath()), 0600u);

    // No temporary files are left beside it.
    std::string cmd = "test $(ls -A '" + root_ + "/config/VORTA PC TOOL' | wc -l) -eq 1";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
}

TEST_F(SettingsTest, SavingToAnUnwritableFolderFailsCleanly) {
    SettingsStore store(root_ + "/no/such/folder/settings.json");
    EXPECT_FALSE(store.Save(StoredSettings()));
    EXPECT_EQ(store.Load().lang, 0);
}

TEST_F(SettingsTest, ConfigFileAndEnvironmentOverrides) {
    ::unsetenv("VORTA_CLOUD_HOST");
    ::unsetenv("VORTA_CA_FILE");
    ::unsetenv("VORTA_DEVICE_PORT");
    ReloadConfig();
    EXPECT_EQ(GetConfig().cloud_host, "127.0.0.1");
    WriteFile(ConfigFolder() + "/config.json",
              R"({"cloud_host":"cloud.example","ca_file":7,"device_port":"/dev/ttyACM3"})");
    ::setenv("VORTA_DEVICE_PORT", "/dev/pts/9", 1);
    ReloadConfig();
    EXPECT_EQ(GetConfig().cloud_host, "cloud.example");
    EXPECT_EQ(GetConfig().ca_file, "");  // wrong type ignored
    EXPECT_EQ(GetConfig().device_port, "/dev/pts/9");
    ::unsetenv("VORTA_DEVICE_PORT");
    WriteFile(ConfigFolder() + "/config.json", "not json");
    ReloadConfig();
    EXPECT_EQ(GetConfig().cloud_host, "127.0.0.1");
    for (off_t size : {off_t(2) << 20, off_t(64) << 30}) {  // padded, and larger than memory
        WriteFile(ConfigFolder() + "/config.json", R"({"cloud_host":"cloud.example"})");
        ASSERT_EQ(::truncate((ConfigFolder() + "/config.json").c_str(), size), 0);
        ReloadConfig();
        EXPECT_EQ(GetConfig().cloud_host, "127.0.0.1") << size;
    }
}

TEST_F(SettingsTest, DataFolderIsCreatedUnderDocuments) {
    std::string folder = DataFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.substr(folder.size() - 14), "/VORTA PC TOOL");
    struct stat st;
    ASSERT_EQ(::stat(folder.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
}

class LangTableTest : public SettingsTest {};

TEST_F(LangTableTest, LooksUpTheCurrentLanguage) {
    std::string path = root_ + "/string.json";
    WriteFile(path, R"({"USB_NOT_CONN":{"ENG":"Dive computer not found.","CHT":"找不到潛水電腦。"},
                        "NUMBER":{"ENG":5}})");
    AppState.language = "CHT";
    ASSERT_TRUE(LoadLangTable(path));
    EXPECT_EQ(AppState.language, "ENG");
    AppState.language = "CHT";
    EXPECT_EQ(GetLangText("USB_NOT_CONN"), "找不到潛水電腦。");
    EXPECT_EQ(GetLangTextIn("USB_NOT_CONN", "ENG"), "Dive computer not found.");
    EXPECT_EQ(GetLangText("HOST_ERROR"), "");             // missing key
    EXPECT_EQ(GetLangTextIn("USB_NOT_CONN", "JPN"), "");  // missing language
    EXPECT_EQ(GetLangTextIn("NUMBER", "ENG"), "");        // not a string
}

TEST_F(LangTableTest, BadTablesGiveAnEmptyTable) {
    std::string path = root_ + "/string.json";
    for (const char* text :
         {"", "{\"USB_NOT_CONN\":", "[\"USB_NOT_CONN\"]", "\"text\"", R"({"USB_NOT_CONN":"flat"})"}) {
        WriteFile(path, text);
        LoadLangTable(path);
        EXPECT_EQ(GetLangText("USB_NOT_CONN"), "") << text;
        EXPECT_EQ(AppState.language, "ENG");
    }
    EXPECT_FALSE(LoadLangTable(root_ + "/missing.json"));
    EXPECT_EQ(GetLangText("USB_NOT_CONN"), "");
    // A table larger than 1 MiB is not read at all, however well formed.
    WriteFile(path, R"({"USB_NOT_CONN":{"ENG":"x"},"pad":")" + std::string(1 << 20, 'a') + "\"}");
    EXPECT_FALSE(LoadLangTable(path));
    EXPECT_EQ(GetLangTextIn("USB_NOT_CONN", "ENG"), "");
}

TEST(PathsTest, PageDirAndPagePath) {
    EXPECT_EQ(ComputePageDir("/opt/tools", "CHT"), "/opt/tools/CHT/");
    ::setenv("VORTA_PROGRAM_DIR", "/opt/vorta/", 1);
    EXPECT_EQ(ProgramDir(), "/opt/vorta");
    AppState.language = "ENG";
    UpdatePageDir();
    EXPECT_EQ(AppState.page_dir, "/opt/vorta/ENG/");
    EXPECT_EQ(PagePath("main.htm"), "/opt/vorta/ENG/main.htm");
    ::unsetenv("VORTA_PROGRAM_DIR");
    std::string own = ProgramDir();
    EXPECT_EQ(own.front(), '/');
    EXPECT_NE(own.back(), '/');
}

TEST(PathsTest, ReadWholeFileKeepsEveryByte) {
    std::string dir = MakeTempDir();
    std::string data("a\0b\xff", 4);
    WriteFile(dir + "/f", data);
    EXPECT_EQ(ReadWholeFile(dir + "/f"), data);
    EXPECT_EQ(ReadWholeFile(dir + "/missing"), "");
    EXPECT_EQ(ReadWholeFile(dir), "");  // a folder is not a file
    ASSERT_EQ(::mkfifo((dir + "/fifo").c_str(), 0600), 0);
    EXPECT_EQ(ReadWholeFile(dir + "/fifo"), "");  // returns at once instead of waiting for a writer
    ::unlink((dir + "/fifo").c_str());
    WriteFile(dir + "/huge", "{}");
    ASSERT_EQ(::truncate((dir + "/huge").c_str(), off_t(64) << 30), 0);  // sparse, larger than memory
    EXPECT_EQ(ReadWholeFile(dir + "/huge"), "");
    ::unlink((dir + "/huge").c_str());
    EXPECT_EQ(ReadWholeFile(dir + "/f", 4), data);  // the limit is inclusive
    EXPECT_EQ(ReadWholeFile(dir + "/f", 3), "");
    ::unlink((dir + "/f").c_str());
    ::rmdir(dir.c_str());
}

}  // namespace
