// Text crossing into page scripts: string literals and HTML escaping.
#include <gtest/gtest.h>

#include "ui_engine/element.h"
#include "ui_engine/engine_internal.h"

using ui::detail::JsString;

TEST(JsStringTest, QuotesAndControlsAreEscaped) {
    EXPECT_EQ(JsString(""), "\"\"");
    EXPECT_EQ(JsString("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(JsString("\n\r\t"), "\"\\u000a\\u000d\\u0009\"");
    EXPECT_EQ(JsString(std::string("a\0b", 3)), "\"a\\u0000b\"");
    EXPECT_EQ(JsString("</script>"), "\"\\u003c/script\\u003e\"");
    EXPECT_EQ(JsString("'"), "\"'\"");
}

TEST(JsStringTest, Utf8IsKeptAndBrokenBytesReplaced) {
    EXPECT_EQ(JsString("\xc3\xa9\xe4\xb8\xad\xf0\x9f\x90\xa0"), "\"\xc3\xa9\xe4\xb8\xad\xf0\x9f\x90\xa0\"");
    EXPECT_EQ(JsString("\xe2\x80\xa8\xe2\x80\xa9"), "\"\\u2028\\u2029\"");  // line breaks in old JS
    EXPECT_EQ(JsString("a\xff"), "\"a\\ufffd\"");
    EXPECT_EQ(JsString("\xc3"), "\"\\ufffd\"");                                   // cut short
    EXPECT_EQ(JsString("\xc0\xaf"), "\"\\ufffd\\ufffd\"");                        // overlong "/"
    EXPECT_EQ(JsString("\xed\xa0\x80"), "\"\\ufffd\\ufffd\\ufffd\"");             // a surrogate
    EXPECT_EQ(JsString("\xf4\x90\x80\x80"), "\"\\ufffd\\ufffd\\ufffd\\ufffd\"");  // beyond U+10FFFF
}

TEST(JsStringTest, ArraysAndHtml) {
    EXPECT_EQ(ui::detail::JsStringArray({}), "[]");
    EXPECT_EQ(ui::detail::JsStringArray({"a", "b\""}), "[\"a\",\"b\\\"\"]");
    EXPECT_EQ(ui::EscapeHtml("<a href=\"x\">Tom's & co</a>"),
              "&lt;a href=&quot;x&quot;&gt;Tom&#39;s &amp; co&lt;/a&gt;");
}

TEST(ElementHandleTest, HandlesAreLazyAndNullOnlyWhenUnresolvable) {
    EXPECT_TRUE(ui::Element().IsNull());
    EXPECT_TRUE(ui::FindById(0, "x").IsNull());
    EXPECT_TRUE(ui::FindById(3, "").IsNull());
    ui::Element e = ui::FindInFrame(3, "framepage1", "cell");
    EXPECT_FALSE(e.IsNull());
    EXPECT_EQ(e.frame_path(), std::vector<std::string>{"framepage1"});
    EXPECT_EQ(e.id(), "cell");
    EXPECT_EQ(e.GetAttribute("id"), "cell");  // known without asking the page
    EXPECT_TRUE(ui::Element::Root(3).FrameRoot().IsNull());
    EXPECT_EQ(ui::FindById(3, "a").FrameRoot().Find("b").frame_path(), std::vector<std::string>{"a"});
}

// Where a page window may go: the program's own pages, and the one foreign
// address the host itself loads; nothing else, however it is spelled.
TEST(NavigationPolicyTest, OnlyOwnPagesAndTheHostsOwnRequest) {
    struct Case {
        const char* uri;
        const char* requested;
        bool allowed;
    };
    const Case cases[] = {
        {"app://local/ENG/main.htm", "", true},
        {"app://local/ENG/web_html/maps.htm?x=1#y", "", true},
        {"app://local/", "", true},
        {"file:///home/u/Desktop/dropped.htm", "", false},
        {"file:///etc/passwd", "", false},
        {"http://127.0.0.1:8443/", "", false},
        {"https://tiles.example/1/2/3.png", "", false},
        {"data:text/html,<script>1</script>", "", false},
        {"about:blank", "", false},
        {"javascript:alert(1)", "", false},
        {"app://other/ENG/main.htm", "", false},
        {"app://local.example/ENG/main.htm", "", false},
        {"app:local/ENG/main.htm", "", false},
        {"", "", false},
        {"data:text/html,x", "data:text/html,x", true},
        {"data:text/html,y", "data:text/html,x", false},
        {"file:///tmp/a.htm", "data:text/html,x", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ui::detail::NavigationAllowed(c.uri, c.requested), c.allowed) << c.uri << " / " << c.requested;
}
