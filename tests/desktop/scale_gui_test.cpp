// The pages at desktop scales 1 and 2 (GDK_SCALE, one ctest run each): no
// text of any page of either language is cut off.
#include <gtest/gtest.h>

#include <string>

#include "base/paths.h"
#include "pages/page_manifest.h"
#include "tests/support/skip_or_fail.h"
#include "ui_engine/host_window.h"
#include "ui_engine/ui_engine.h"

namespace {

TEST(ScaleTest, NoTextIsCutOff) {
    if (!ui::InitEngine(VORTA_BIN_DIR)) VORTA_SKIP_OR_FAIL("no display");
    const std::string checks = ReadWholeFile(PAGE_CHECKS_JS);
    ASSERT_FALSE(checks.empty());
    for (const char* lang : {"ENG", "CHT"}) {
        for (const pages::PageInfo& page : pages::kPages) {
            const std::string path = std::string(VORTA_BIN_DIR) + "/" + lang + "/" + page.file;
            if (ReadWholeFile(path).rfind("<!DOCTYPE", 0) != 0) continue;  // list fragments
            SCOPED_TRACE(std::string(lang) + "/" + page.file);
            ui::WindowOptions options;
            options.width = page.width > 0 ? page.width : 980;
            options.height = page.height > 0 ? page.height : 700;
            ui::HostWindow win(options);
            ASSERT_TRUE(win.LoadPage(path));
            win.Show();
            EXPECT_EQ(win.Evaluate(checks + ";__checks.fill()"), "");
            EXPECT_EQ(win.Evaluate("__checks.clipped()"), "");
            // The check itself sees a cut-off text.
            win.Evaluate(
                "(function(){var d=document.createElement('div');d.id='cut_probe';d.textContent='Dive Log';"
                "d.style.cssText='width:12px;overflow:hidden;white-space:nowrap';"
                "document.body.appendChild(d);return ''})()");
            EXPECT_NE(win.Evaluate("__checks.clipped()").find("#cut_probe"), std::string::npos);
        }
    }
}

}  // namespace
