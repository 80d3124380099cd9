// The pages at desktop scales 1 and 2 (GDK_SCALE, one ctest run each): no
// text of any page of either language is cut off, and every page lays out
// the same at both scales. The scale-1 run writes each page's layout boxes
// (CSS pixels) to VORTA_SCALE_BOXES; the scale-2 run reads them back and
// compares its own with them: a window keeps its logical size, its page only
// gets more device pixels per CSS pixel.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <sstream>
#include <string>

#include "base/file_write.h"
#include "base/paths.h"
#include "pages/page_manifest.h"
#include "tests/support/skip_or_fail.h"
#include "ui_engine/host_window.h"
#include "ui_engine/ui_engine.h"

namespace {

int DesktopScale() {
    const char* v = std::getenv("GDK_SCALE");
    return v && *v ? std::atoi(v) : 1;
}

// "name x y w h" lines by name.
std::map<std::string, std::string> BoxLines(const std::string& text) {
    std::map<std::string, std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const size_t sp = line.find(' ');
        if (sp != std::string::npos) out[line.substr(0, sp)] = line.substr(sp + 1);
    }
    return out;
}

// Box lines that differ by more than a pixel in any figure, one finding each.
std::string CompareBoxes(const std::string& page, const std::string& want, const std::string& got) {
    std::string findings;
    const auto a = BoxLines(want), b = BoxLines(got);
    for (const auto& [name, box] : a) {
        const auto it = b.find(name);
        if (it == b.end()) {
            findings += page + " " + name + " missing at this scale\n";
            continue;
        }
        std::istringstream x(box), y(it->second);
        for (int v = 0; v < 4; ++v) {
            double p = 0, q = 0;
            x >> p;
            y >> q;
            if (p - q > 1 || q - p > 1) {
                findings += page + " " + name + " " + box + " became " + it->second + "\n";
                break;
            }
        }
    }
    return findings;
}

TEST(ScaleTest, NoTextIsCutOffAndLayoutMatchesScaleOne) {
    if (!ui::InitEngine(VORTA_BIN_DIR)) VORTA_SKIP_OR_FAIL("no display");
    const std::string checks = ReadWholeFile(PAGE_CHECKS_JS);
    ASSERT_FALSE(checks.empty());
    const int scale = DesktopScale();
    const char* boxes_file = std::getenv("VORTA_SCALE_BOXES");
    ASSERT_TRUE(boxes_file && *boxes_file) << "VORTA_SCALE_BOXES names the scale-1 layout file";
    std::string recorded;  // "@page" line, then its boxes
    const std::string reference = scale == 1 ? "" : ReadWholeFile(boxes_file);
    if (scale != 1) {
        ASSERT_FALSE(reference.empty()) << "the scale-1 run writes " << boxes_file;
    }
    for (const char* lang : {"ENG", "CHT"}) {
        for (const pages::PageInfo& page : pages::kPages) {
            const std::string path = std::string(VORTA_BIN_DIR) + "/" + lang + "/" + page.file;
            if (ReadWholeFile(path).rfind("<!DOCTYPE", 0) != 0) continue;  // list fragments
            const std::string name = std::string(lang) + "/" + page.file;
            SCOPED_TRACE(name);
            ui::WindowOptions options;
            options.width = page.width > 0 ? page.width : 980;
            options.height = page.height > 0 ? page.height : 700;
            ui::HostWindow win(options);
            ASSERT_TRUE(win.LoadPage(path));
            win.Show();
            EXPECT_EQ(win.Evaluate(checks + ";__checks.fill()"), "");
            EXPECT_EQ(win.Evaluate("__checks.ratio()"), std::to_string(scale));
            const std::string boxes = win.Evaluate("__checks.boxes()");
            EXPECT_EQ(boxes.substr(0, boxes.find('\n')),
                      "viewport 0 0 " + std::to_string(options.width) + " " + std::to_string(options.height));
            if (scale == 1) {
                recorded += "@" + name + "\n" + boxes + "\n";
            } else {
                const size_t at = reference.find("@" + name + "\n");
                ASSERT_NE(at, std::string::npos) << "no scale-1 layout of the page";
                const size_t from = at + name.size() + 2, to = reference.find("\n@", from);
                EXPECT_EQ(CompareBoxes(name, reference.substr(from, to == std::string::npos ? to : to - from), boxes),
                          "");
            }
            EXPECT_EQ(win.Evaluate("__checks.clipped()"), "");
            if (scale == 2) {
                EXPECT_EQ(win.Evaluate("__checks.blurry()"), "");
            }
            // The check itself sees a cut-off text.
            win.Evaluate(
                "(function(){var d=document.createElement('div');d.id='cut_probe';d.textContent='Dive Log';"
                "d.style.cssText='width:12px;overflow:hidden;white-space:nowrap';"
                "document.body.appendChild(d);return ''})()");
            EXPECT_NE(win.Evaluate("__checks.clipped()").find("#cut_probe"), std::string::npos);
        }
    }
    // The depth profile's symbols, drawn 18 pixels wide: every event picture
    // the program names has a PNG at least twice that.
    for (const char* symbol : {"scuba_in", "scuba_out", "gauge_in", "gauge_out", "freedive_in", "freedive_out",
                               "need_deco", "depth_alarm", "ascent_alarm"}) {
        const std::string png = std::string(VORTA_BIN_DIR) + "/images/" + symbol + ".png";
        int width = 0;
        ASSERT_NE(gdk_pixbuf_get_file_info(png.c_str(), &width, nullptr), nullptr) << symbol;
        EXPECT_GE(width, 36) << symbol;
    }
    if (scale == 1) {
        ASSERT_TRUE(WriteWholeFile(boxes_file, recorded));
    }
}

}  // namespace
