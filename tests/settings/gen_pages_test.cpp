// The page generator, run on small source trees: it must stop the build on a
// text missing in one language or an unknown placeholder, and must escape
// labels and strip list fragments.
#include "base/paths.h"

#include <gtest/gtest.h>

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
        Write("string.json", R"({"USB_NOT_CONN":{"ENG":"Not found","CHT":"找不到"}})");
        Write("ui_text.json", R"({"_comment":"x","ok":{"ENG":"OK <&\"","CHT":"確定"}})");
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

    void Write(const std::string& rel, const std::string& text) {
        std::ofstream(dir_ + "/" + rel, std::ios::binary) << text;
    }
    int Run() {
        std::string cmd = std::string("'") + PYTHON3 + "' '" + GEN_PAGES + "' --src '" + dir_ + "' --out '" +
                          dir_ + "/out' --version 9.8.7 2>/dev/null";
        return std::system(cmd.c_str());
    }
    std::string Out(const std::string& rel) { return ReadWholeFile(dir_ + "/out/" + rel); }

    std::string dir_;
};

TEST_F(GenPagesTest, WritesBothLanguagesEscapedAndStripsFragments) {
    Write("templates/page.htm",
          "<!DOCTYPE html>\n<html lang=\"{{@HTML_LANG}}\"><button title=\"{{ok}}\">{{#USB_NOT_CONN}} {{@VERSION}}</button></html>\n");
    Write("templates/row.htm", "\n  <div id=\"row\">{{ok}}</div>\n\n");
    ASSERT_EQ(Run(), 0);
    EXPECT_EQ(Out("ENG/page.htm"),
              "<!DOCTYPE html>\n<html lang=\"en\"><button title=\"OK &lt;&amp;&quot;\">Not found 9.8.7</button></html>\n");
    EXPECT_EQ(Out("CHT/page.htm"),
              "<!DOCTYPE html>\n<html lang=\"zh-Hant\"><button title=\"確定\">找不到 9.8.7</button></html>\n");
    EXPECT_EQ(Out("CHT/row.htm"), "<div id=\"row\">確定</div>");
    EXPECT_EQ(Out("string.json"), ReadWholeFile(dir_ + "/string.json"));
}

TEST_F(GenPagesTest, StopsOnMissingTextsAndUnknownPlaceholders) {
    Write("templates/page.htm", "<p>{{nope}}</p>");
    EXPECT_NE(Run(), 0);
    Write("templates/page.htm", "<p>{{#NOPE}}</p>");
    EXPECT_NE(Run(), 0);
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
