// The page generator, run on small source trees: it must stop the build on a
// text missing in one language, an unknown placeholder or an id the program
// cannot name, must escape labels and strip list fragments, must list pages in
// the manifest and must not leave outputs of removed sources behind.
#include "base/paths.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class GenPagesTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vorta_gen_XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        ::mkdir((dir_ + "/templates").c_str(), 0700);
        ::mkdir((dir_ + "/templates/sub").c_str(), 0700);
        ::mkdir((dir_ + "/common").c_str(), 0700);
        Write("string.json", R"({"USB_NOT_CONN":{"ENG":"Not found","CHT":"找不到"}})");
        Write("ui_text.json", R"({"_comment":"x","ok":{"ENG":"OK <&\"","CHT":"確定"}})");
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

    void Write(const std::string& rel, const std::string& text) {
        std::ofstream(dir_ + "/" + rel, std::ios::binary) << text;
    }
    int Run() {
        std::string cmd = std::string("'") + PYTHON3 + "' '" + GEN_PAGES + "' --src '" + dir_ + "' --out '" + dir_ +
                          "/out' --version 9.8.7 --manifest '" + dir_ + "/out/manifest.h' 2>/dev/null";
        return std::system(cmd.c_str());
    }
    std::string Out(const std::string& rel) { return ReadWholeFile(dir_ + "/out/" + rel); }
    bool OutExists(const std::string& rel) { return ::access((dir_ + "/out/" + rel).c_str(), F_OK) == 0; }

    std::string dir_;
};

TEST_F(GenPagesTest, WritesBothLanguagesEscapedAndStripsFragments) {
    Write("templates/page.htm",
          "<!DOCTYPE html>\n<html lang=\"{{@HTML_LANG}}\"><button title=\"{{ok}}\">{{#USB_NOT_CONN}} "
          "{{@VERSION}}</button></html>\n");
    Write("templates/row.htm", "\n  <div id=\"row\">{{ok}}</div>\n\n");
    ASSERT_EQ(Run(), 0);
    EXPECT_EQ(
        Out("ENG/page.htm"),
        "<!DOCTYPE html>\n<html lang=\"en\"><button title=\"OK &lt;&amp;&quot;\">Not found 9.8.7</button></html>\n");
    EXPECT_EQ(Out("CHT/page.htm"),
              "<!DOCTYPE html>\n<html lang=\"zh-Hant\"><button title=\"確定\">找不到 9.8.7</button></html>\n");
    EXPECT_EQ(Out("CHT/row.htm"), "<div id=\"row\">確定</div>");
    EXPECT_EQ(Out("string.json"), ReadWholeFile(dir_ + "/string.json"));
}

TEST_F(GenPagesTest, ListsPagesInTheManifestAndRemovesOutputsOfRemovedSources) {
    Write("templates/dlg.htm",
          "<body class=\"dlg\" data-w=\"300\" data-h=\"120\" data-drag=\"30\">"
          "<p id=\"MsgText\"></p><button id=\"ok\">{{ok}}</button></body>");
    Write("templates/sub/old.htm", "<div id=\"row\"></div>");
    Write("common/old.css", "p {}");
    ASSERT_EQ(Run(), 0);
    const std::string manifest = Out("manifest.h");
    for (const char* line : {"namespace dlg {\ninline constexpr char kFile[] = \"dlg.htm\";\n"
                             "inline constexpr int kWidth = 300;\ninline constexpr int kHeight = 120;\n"
                             "inline constexpr int kDragBand = 30;\ninline constexpr char MsgText[] = \"MsgText\";\n"
                             "inline constexpr char ok[] = \"ok\";\n"
                             "inline constexpr const char* kIds[] = {MsgText, ok, nullptr};",
                             "inline constexpr char kFile[] = \"sub/old.htm\";\ninline constexpr int kWidth = 0;",
                             "{sub_old::kFile, sub_old::kWidth,"})
        EXPECT_NE(manifest.find(line), std::string::npos) << line << "\nin\n" << manifest;
    ASSERT_TRUE(OutExists("CHT/sub/old.htm"));

    std::remove((dir_ + "/templates/sub/old.htm").c_str());
    std::remove((dir_ + "/common/old.css").c_str());
    ASSERT_EQ(Run(), 0);
    for (const char* gone : {"ENG/sub/old.htm", "CHT/sub/old.htm", "ENG/sub", "common/old.css"})
        EXPECT_FALSE(OutExists(gone)) << gone;
    EXPECT_TRUE(OutExists("ENG/dlg.htm"));
    EXPECT_EQ(Out("manifest.h").find("sub_old"), std::string::npos);
}

TEST_F(GenPagesTest, StopsOnMissingTextsAndUnknownPlaceholders) {
    Write("templates/page.htm", "<p>{{nope}}</p>");
    EXPECT_NE(Run(), 0);
    Write("templates/page.htm", "<p>{{#NOPE}}</p>");
    EXPECT_NE(Run(), 0);
    // Ids the program could not name, or not tell apart, and half a size.
    for (const char* bad : {"<p id=\"a\"></p><p id=\"a\"></p>", "<p id=\"a-b\"></p>", "<p id=\"{{ok}}\"></p>",
                            "<p id=\"delete\"></p>", "<body data-w=\"300\"></body>"}) {
        Write("templates/page.htm", bad);
        EXPECT_NE(Run(), 0) << bad;
    }
    Write("templates/page.htm", "<p>{{ok}}</p>");
    ASSERT_EQ(Run(), 0);
    Write("string.json", R"({"USB_NOT_CONN":{"ENG":"Not found","CHT":""}})");
    EXPECT_NE(Run(), 0);
    Write("string.json", R"({"USB_NOT_CONN":{"ENG":"Not found"}})");
    EXPECT_NE(Run(), 0);
    Write("string.json", "{\"USB_NOT_CONN\":");
    EXPECT_NE(Run(), 0);
}

}  // namespace
