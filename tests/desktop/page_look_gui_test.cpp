// Every page of both languages, rendered by the engine: Latin text drawn with
// the Latin interface face (never the CJK face), every control with a name a
// screen reader can say, and every text element at a contrast of at least
// 4.5:1 in the light and the dark colour scheme, with the scheme switched
// live as the desktop switches it.
#include <gtk/gtk.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "base/paths.h"
#include "pages/page_manifest.h"
#include "tests/support/skip_or_fail.h"
#include "ui_engine/host_window.h"
#include "ui_engine/ui_engine.h"

namespace {

const char kLatinFace[] = "Inter";
const char kCjkFace[] = "Noto Sans CJK TC";

class PageLookTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // The engine as the program starts it on a desktop that has a colour
        // scheme to follow (PrepareEngineForColorScheme).
        setenv("WEBKIT_WEB_RENDER_DEVICE_FILE", "", 1);
        ui::InitEngine(VORTA_BIN_DIR);
    }
    void SetUp() override {
        if (!ui::EngineReady()) VORTA_SKIP_OR_FAIL("no display");
        checks_ = ReadWholeFile(PAGE_CHECKS_JS);
        ASSERT_FALSE(checks_.empty());
    }
    void TearDown() override { SetDark(false); }

    static void SetDark(bool dark) {
        g_object_set(gtk_settings_get_default(), "gtk-application-prefer-dark-theme", dark ? TRUE : FALSE, nullptr);
    }

    // A window showing `file` of language folder `lang`, with the checks
    // loaded and the program's content stood in for.
    std::unique_ptr<ui::HostWindow> Open(const std::string& lang, const pages::PageInfo& page) {
        ui::WindowOptions options;
        options.width = page.width > 0 ? page.width : 980;
        options.height = page.height > 0 ? page.height : 700;
        auto win = std::make_unique<ui::HostWindow>(options);
        EXPECT_TRUE(win->LoadPage(std::string(VORTA_BIN_DIR) + "/" + lang + "/" + page.file));
        win->Show();
        EXPECT_EQ(win->Evaluate(checks_ + ";__checks.fill()"), "");
        return win;
    }

    static bool SchemeIs(ui::HostWindow& win, bool dark) {
        const std::string want = dark ? "true" : "false";
        return ui::RunLoopUntil(
            [&] { return win.Evaluate("String(matchMedia('(prefers-color-scheme: dark)').matches)") == want; }, 5000);
    }

    // The pages a window shows (fragments are checked inside their lists).
    static std::vector<pages::PageInfo> FullPages() {
        std::vector<pages::PageInfo> out;
        for (const pages::PageInfo& p : pages::kPages) {
            const std::string text = ReadWholeFile(std::string(VORTA_BIN_DIR) + "/ENG/" + p.file);
            if (text.rfind("<!DOCTYPE", 0) == 0) out.push_back(p);
        }
        return out;
    }

    std::string checks_;
};

TEST_F(PageLookTest, TheCheckSeesACjkFaceDrawingLatinText) {
    pages::PageInfo page{pages::about::kFile, pages::about::kWidth, pages::about::kHeight, 0, pages::about::kIds};
    auto win = Open("ENG", page);
    win->Evaluate(
        "(function(){var d=document.createElement('div');d.id='probe';"
        "d.style.fontFamily='\"Noto Sans CJK TC\", \"Inter\"';d.textContent='Dive Log';"
        "document.body.appendChild(d);return ''})()");
    const std::string found = win->Evaluate("__checks.fonts('" + std::string(kLatinFace) + "','" + kCjkFace + "')");
    EXPECT_NE(found.find("div#probe"), std::string::npos) << found;
    EXPECT_EQ(found.find("about_name"), std::string::npos) << found;
}

TEST_F(PageLookTest, LatinTextIsNeverDrawnWithTheCjkFace) {
    for (const char* lang : {"ENG", "CHT"}) {
        int texts = 0;
        for (const pages::PageInfo& page : FullPages()) {
            SCOPED_TRACE(std::string(lang) + "/" + page.file);
            auto win = Open(lang, page);
            texts += std::atoi(win->Evaluate("__checks.count()").c_str());
            EXPECT_EQ(win->Evaluate("__checks.fonts('" + std::string(kLatinFace) + "','" + kCjkFace + "')"), "");
        }
        EXPECT_GT(texts, 150) << lang;
    }
}

TEST_F(PageLookTest, EveryControlHasAName) {
    for (const char* lang : {"ENG", "CHT"}) {
        for (const pages::PageInfo& page : FullPages()) {
            SCOPED_TRACE(std::string(lang) + "/" + page.file);
            auto win = Open(lang, page);
            EXPECT_EQ(win->Evaluate("__checks.names()"), "");
        }
    }
}

TEST_F(PageLookTest, TextContrastInBothSchemes) {
    for (const char* lang : {"ENG", "CHT"}) {
        for (const pages::PageInfo& page : FullPages()) {
            SCOPED_TRACE(std::string(lang) + "/" + page.file);
            auto win = Open(lang, page);
            for (bool dark : {false, true}) {
                SCOPED_TRACE(dark ? "dark" : "light");
                SetDark(dark);
                ASSERT_TRUE(SchemeIs(*win, dark));
                EXPECT_EQ(win->Evaluate("__checks.contrast()"), "");
            }
            SetDark(false);
        }
    }
}

// The root's custom properties (those vorta.css gives :root) and its
// colours, as text to compare. (Its color-scheme differs by design: "light
// dark" follows the desktop, the program's attribute names one.)
const char kRootStyle[] = R"JS((function () {
  var names = [];
  for (var s of document.styleSheets) {
    try { for (var r of s.cssRules) if (r.selectorText === ':root') for (var i = 0; i < r.style.length; i++) if (r.style[i].startsWith('--')) names.push(r.style[i]); }
    catch (e) {}
  }
  var cs = getComputedStyle(document.documentElement);
  return names.concat(['background-color', 'color']).map(function (n) { return n + '=' + cs.getPropertyValue(n).trim(); }).join(';');
})())JS";

// The program's scheme on the root draws every page exactly as the desktop's
// scheme does (the style sheet holds the dark values twice), and wins over
// the desktop's in both directions.
TEST_F(PageLookTest, TheProgramsSchemeLooksAsTheDesktops) {
    for (const pages::PageInfo& page : FullPages()) {
        SCOPED_TRACE(page.file);
        auto win = Open("ENG", page);
        const std::string light = win->Evaluate(kRootStyle);
        SetDark(true);
        ASSERT_TRUE(SchemeIs(*win, true));
        const std::string dark = win->Evaluate(kRootStyle);
        ASSERT_NE(dark.find("--bg="), std::string::npos) << dark;
        ASSERT_NE(dark, light);
        win->Evaluate("__vorta.scheme('light'),''");
        EXPECT_EQ(win->Evaluate(kRootStyle), light);
        SetDark(false);
        ASSERT_TRUE(SchemeIs(*win, false));
        win->Evaluate("__vorta.scheme('dark'),''");
        EXPECT_EQ(win->Evaluate(kRootStyle), dark);
    }
}

// Kept last: the program's scheme, once set, holds for the rest of the
// process. It reaches every document of a window (frames and the script
// page inside one), documents loaded later (a dialog opened afterwards), and
// GTK's setting follows once the pages have drawn.
TEST_F(PageLookTest, TheProgramsSchemeReachesEveryDocument) {
    pages::PageInfo main_page{pages::main::kFile, 980, 700, 0, pages::main::kIds};
    auto win = Open("ENG", main_page);
    win->Evaluate(
        "(function(){var d=document.getElementById('framepage1').contentDocument;"
        "d.getElementById('ie').innerHTML='<iframe id=\"ie_page\" src=\"web_html/main.htm\"></iframe>';return ''})()");
    // Every document's scheme, outermost first, e.g. "dark dark dark dark".
    const char kSchemes[] =
        "(function(){var o=[];(function m(w){o.push(w.document.documentElement.getAttribute('data-scheme'));"
        "for(var i=0;i<w.frames.length;i++)m(w.frames[i]);})(window);return o.join(' ')})()";
    ASSERT_TRUE(ui::RunLoopUntil([&] { return win->Evaluate(kSchemes) == "   "; }, 10000));
    auto gtk_dark = [] {
        gboolean dark = FALSE;
        g_object_get(gtk_settings_get_default(), "gtk-application-prefer-dark-theme", &dark, nullptr);
        return dark != FALSE;
    };
    for (bool dark : {true, false, true}) {
        SCOPED_TRACE(dark ? "dark" : "light");
        const std::string want = dark ? "dark dark dark dark" : "light light light light";
        ui::SetColorScheme(dark);
        EXPECT_TRUE(ui::RunLoopUntil([&] { return win->Evaluate(kSchemes) == want; }, 5000));
        EXPECT_TRUE(ui::RunLoopUntil([&] { return gtk_dark() == dark; }, 5000));
        EXPECT_TRUE(SchemeIs(*win, dark));
    }
    ui::WindowOptions options;
    options.kind = ui::WindowKind::Dialog;
    options.parent = win.get();
    ui::HostWindow later(options);
    ASSERT_TRUE(later.LoadPage(std::string(VORTA_BIN_DIR) + "/ENG/" + pages::about::kFile));
    EXPECT_EQ(later.Evaluate("document.documentElement.getAttribute('data-scheme')"), "dark");
    EXPECT_EQ(later.Evaluate("getComputedStyle(document.documentElement).backgroundColor"),
              win->Evaluate("getComputedStyle(document.documentElement).backgroundColor"));
}

}  // namespace
