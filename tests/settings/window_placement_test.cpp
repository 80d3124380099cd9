// Where the main window reopens: the restore rules on plain rectangles, and
// the placement's way through the settings file.
#include "app/settings/settings_store.h"
#include "app/settings/window_placement.h"
#include "base/json_safe.h"
#include "base/paths.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

const ScreenRect kLeft{0, 0, 1280, 800};       // primary
const ScreenRect kRight{1280, 0, 1920, 1080};  // second monitor to its right
const ScreenRect kPanel{0, 32, 1280, 768};     // primary with a top panel

struct PlanCase {
    const char* what;
    WindowPlacement stored;
    std::vector<ScreenRect> areas;
    bool center;
    int x, y, width, height;
    bool maximized;
};

WindowPlacement Stored(int x, int y, int w, int h, bool max = false) {
    return CheckedPlacement(x, y, w, h, max);
}

TEST(WindowPlacementTest, RestoreRules) {
    const PlanCase cases[] = {
        {"first start", WindowPlacement(), {kLeft}, true, 0, 0, 980, 700, false},
        {"first start on a small screen", WindowPlacement(), {{0, 0, 800, 600}}, true, 0, 0, 800, 600, false},
        {"same place on the primary", Stored(100, 50, 900, 650), {kLeft}, false, 100, 50, 900, 650, false},
        {"maximized is kept", Stored(100, 50, 900, 650, true), {kLeft}, false, 100, 50, 900, 650, true},
        {"on the second monitor", Stored(1500, 100, 1000, 700), {kLeft, kRight}, false, 1500, 100, 1000, 700, false},
        {"second monitor unplugged", Stored(1500, 100, 1000, 700), {kLeft}, true, 0, 0, 1000, 700, false},
        {"barely visible corner", Stored(1260, 780, 900, 650), {kLeft}, true, 0, 0, 900, 650, false},
        {"half off the right edge", Stored(900, 100, 900, 650), {kLeft}, false, 380, 100, 900, 650, false},
        {"under the top panel", Stored(10, 0, 900, 650), {kPanel}, false, 10, 32, 900, 650, false},
        {"larger than the screen", Stored(0, 0, 3000, 2000), {kLeft}, false, 0, 0, 1280, 800, false},
        {"below the smallest size", Stored(10, 10, 200, 100), {kLeft}, false, 10, 10, 800, 560, false},
        {"mostly on the right one", Stored(1000, 100, 1000, 700), {kLeft, kRight}, false, 1280, 100, 1000, 700, false},
        {"no monitor known", Stored(100, 50, 900, 650, true), {}, true, 0, 0, 900, 650, true},
        {"empty monitor ignored", Stored(100, 50, 900, 650), {{0, 0, 0, 0}, kLeft}, false, 100, 50, 900, 650, false},
    };
    for (const PlanCase& c : cases) {
        SCOPED_TRACE(c.what);
        const PlacementPlan plan = PlanPlacement(c.stored, c.areas, 980, 700, 800, 560);
        EXPECT_EQ(plan.center, c.center);
        if (!c.center) {
            EXPECT_EQ(plan.x, c.x);
            EXPECT_EQ(plan.y, c.y);
        }
        EXPECT_EQ(plan.width, c.width);
        EXPECT_EQ(plan.height, c.height);
        EXPECT_EQ(plan.maximized, c.maximized);
    }
}

TEST(WindowPlacementTest, ReadFromTheSettingsText) {
    struct Case {
        const char* text;
        bool known;
        int x, width;
        bool maximized;
    } cases[] = {
        {R"({"window":{"x":40,"y":30,"width":1000,"height":720,"maximized":true}})", true, 40, 1000, true},
        {R"({"window":{"x":40,"y":30,"width":1000,"height":720}})", true, 40, 1000, false},
        {R"({"window":{"x":40,"y":30,"width":1000,"height":720,"maximized":1}})", true, 40, 1000, false},
        {R"({"window":{"x":40,"y":30,"width":"1000","height":720}})", false, 0, 0, false},
        {R"({"window":[40,30,1000,720]})", false, 0, 0, false},
        // a number that is no int reads as 0, as every number of the file does
        {R"({"window":{"x":1e300,"y":30,"width":1000,"height":720}})", true, 0, 1000, false},
        {R"({"window":{"x":200000,"y":30,"width":1000,"height":720}})", false, 0, 0, false},
        {R"({"window":{"x":-40,"y":30,"width":-1000,"height":720}})", false, 0, 0, false},
        {R"({"unit":1})", false, 0, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        StoredSettings s;
        ASSERT_TRUE(ParseSettings(c.text, s));
        EXPECT_EQ(s.window.known, c.known);
        if (c.known) {
            EXPECT_EQ(s.window.x, c.x);
            EXPECT_EQ(s.window.width, c.width);
            EXPECT_EQ(s.window.maximized, c.maximized);
        }
    }
}

TEST(WindowPlacementTest, StoredWithTheOtherValuesKept) {
    char tmpl[] = "/tmp/vorta_placement_XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const std::string root = tmpl;
    ::setenv("HOME", root.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
    const std::string path = SettingsStore::DefaultPath();
    SettingsStore().Load();  // creates the folder and file
    std::ofstream(path) << R"({"unit":1,"lang":1,"e":"diver@example.com"})";

    EXPECT_FALSE(LoadWindowPlacement().known);
    ASSERT_TRUE(SaveWindowPlacement(CheckedPlacement(-30, 12, 1024, 768, true)));
    Json::Value v;
    ASSERT_TRUE(json_safe::Parse(ReadWholeFile(path), v));
    EXPECT_EQ(v["unit"].asInt(), 1);
    EXPECT_EQ(v["lang"].asInt(), 1);
    EXPECT_EQ(v["e"].asString(), "diver@example.com");
    EXPECT_EQ(v["window"]["x"].asInt(), -30);
    EXPECT_EQ(v["window"]["height"].asInt(), 768);
    EXPECT_TRUE(v["window"]["maximized"].asBool());

    const WindowPlacement back = LoadWindowPlacement();
    EXPECT_TRUE(back.known);
    EXPECT_EQ(back.y, 12);
    EXPECT_EQ(back.width, 1024);
    EXPECT_EQ(std::system(("rm -rf '" + root + "'").c_str()), 0);
}

}  // namespace
