// The pages worked from the keyboard: the calendar and the lists as one tab
// stop each with the arrow keys moving the focus, Enter and Space pressing
// the focused cell through the program's click path, and the main window's
// shortcuts from its frames.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/skip_or_fail.h"
#include "ui_engine/host_window.h"
#include "ui_engine/ui_engine.h"

namespace {

struct Events : ui::EventHandler {
    std::vector<std::string> ids;
    void OnBehaviorEvent(ui::HostWindow&, const ui::BehaviorEvent& ev) override {
        ids.push_back(std::to_string(ev.cmd) + ":" + ev.target_id);
    }
};

void Settle(int ms = 200) {
    bool never = false;
    ui::RunLoopUntil([&] { return never; }, ms);
}

// Presses `key` (with Ctrl when asked) on the focused element of `doc`, as a
// key event of the page.
std::string Press(const std::string& doc, const std::string& key, bool ctrl = false) {
    return "(function(){var d=" + doc +
           ";var t=d.activeElement||d.body;t.dispatchEvent(new KeyboardEvent('keydown',"
           "{key:'" +
           key + "',ctrlKey:" + (ctrl ? "true" : "false") + ",bubbles:true,cancelable:true}));return ''})()";
}

class KeyboardTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ui::InitEngine(VORTA_BIN_DIR); }
    void SetUp() override {
        if (!ui::EngineReady()) VORTA_SKIP_OR_FAIL("no display");
    }
    std::unique_ptr<ui::HostWindow> Open(const std::string& file) {
        ui::WindowOptions options;
        options.width = 980;
        options.height = 700;
        auto win = std::make_unique<ui::HostWindow>(options);
        win->SetEventHandler(&events_);
        EXPECT_TRUE(win->LoadPage(std::string(VORTA_BIN_DIR) + "/ENG/" + file));
        win->Show();
        return win;
    }
    bool WaitEvents(size_t n) {
        return ui::RunLoopUntil([&] { return events_.ids.size() >= n; }, 5000);
    }
    Events events_;
};

const char kFocused[] = "document.activeElement.id";
const char kTabStops[] = "String(document.querySelectorAll('#calendar > [tabindex=\"0\"]').length)";

TEST_F(KeyboardTest, CalendarIsOneTabStopWithArrowKeysAndEnterPressesADiveDay) {
    auto win = Open("dive_log_page.htm");
    // Days 10 to 13 of the grid hold dives, as the program marks them.
    win->Evaluate(
        "(function(){for(var i=10;i<14;i++)document.getElementById('date_cell_'+i).className="
        "'date_td_in_dive_day btnctrl';return ''})()");
    ASSERT_TRUE(ui::RunLoopUntil(
        [&] {
            return win->Evaluate(
                       "document.querySelector('#calendar > [tabindex=\"0\"]')"
                       ".id") == "date_cell_10";
        },
        5000));
    win->Evaluate("document.getElementById('date_cell_10').focus(),''");
    struct Step {
        const char* key;
        const char* focused;
    } steps[] = {
        {"ArrowRight", "date_cell_11"}, {"ArrowDown", "date_cell_18"}, {"ArrowLeft", "date_cell_17"},
        {"ArrowUp", "date_cell_10"},    {"Home", "date_cell_00"},      {"ArrowLeft", "date_cell_00"},
        {"End", "date_cell_41"},        {"ArrowDown", "date_cell_41"}, {"ArrowUp", "date_cell_34"},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.key);
        win->Evaluate(Press("document", s.key));
        EXPECT_EQ(win->Evaluate(kFocused), s.focused);
        EXPECT_EQ(win->Evaluate(kTabStops), "1");
    }
    // A dive day is said as such; other days are plain text.
    EXPECT_EQ(win->Evaluate("document.getElementById('date_cell_12').getAttribute('aria-label')"),
              win->Evaluate("document.getElementById('date_cell_12').textContent") + ", has dives");
    EXPECT_EQ(win->Evaluate("String(document.getElementById('date_cell_20').getAttribute('aria-label'))"), "null");
    // Enter and Space press a dive day; on a day without dives they do nothing.
    win->Evaluate("document.getElementById('date_cell_12').focus(),''");
    win->Evaluate(Press("document", "Enter"));
    win->Evaluate(Press("document", " "));
    win->Evaluate("document.getElementById('date_cell_20').focus(),''");
    win->Evaluate(Press("document", "Enter"));
    ASSERT_TRUE(WaitEvents(2));
    Settle();
    EXPECT_EQ(events_.ids, (std::vector<std::string>{"0:date_cell_12", "0:date_cell_12"}));
}

TEST_F(KeyboardTest, ListsAreOneTabStopWithUpAndDown) {
    auto win = Open("dive_site_page.htm");
    win->Evaluate(
        "(function(){var l=document.getElementById('cell_tbody');var x=new XMLHttpRequest();"
        "x.open('GET','dive_site_cell.htm',false);x.send();for(var i=0;i<3;i++){"
        "l.insertAdjacentHTML('beforeend',x.responseText);l.lastChild.querySelector('.site_cell')"
        ".setAttribute('objid',String(i))}return ''})()");
    const char* stops = "String(document.querySelectorAll('#cell_tbody [tabindex=\"0\"]').length)";
    const char* focused = "document.activeElement.getAttribute('objid')";
    ASSERT_TRUE(ui::RunLoopUntil([&] { return win->Evaluate(stops) == "1"; }, 5000));
    win->Evaluate("document.querySelector('#cell_tbody .site_cell').focus(),''");
    struct Step {
        const char* key;
        const char* objid;
    } steps[] = {{"ArrowDown", "1"}, {"ArrowDown", "2"}, {"ArrowDown", "2"},
                 {"Home", "0"},      {"End", "2"},       {"ArrowUp", "1"}};
    for (const Step& s : steps) {
        SCOPED_TRACE(s.key);
        win->Evaluate(Press("document", s.key));
        EXPECT_EQ(win->Evaluate(focused), s.objid);
        EXPECT_EQ(win->Evaluate(stops), "1");
    }
    win->Evaluate(Press("document", "Enter"));
    ASSERT_TRUE(WaitEvents(1));
    EXPECT_EQ(events_.ids, (std::vector<std::string>{"0:dive_site_cell"}));
}

TEST_F(KeyboardTest, ShortcutsOfTheMainWindowFromItsFrames) {
    auto win = Open("main.htm");
    const std::string frame1 = "document.getElementById('framepage1').contentDocument";
    ASSERT_TRUE(ui::RunLoopUntil(
        [&] { return win->Evaluate("String(!!(" + frame1 + ".getElementById('nextmon')))") == "true"; }, 5000));
    struct Case {
        std::string doc;
        const char* key;
        bool ctrl;
        const char* event;  // nullptr: none
    } cases[] = {
        {"document", "F5", false, "0:upload"},    {frame1, "F5", false, "0:upload"},
        {frame1, "PageDown", false, "0:nextmon"}, {"document", "PageUp", false, "0:lastmon"},
        {frame1, ",", true, "0:setting"},         {frame1, "PageDown", true, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.key) + (c.ctrl ? " with Ctrl" : ""));
        events_.ids.clear();
        win->Evaluate(Press(c.doc, c.key, c.ctrl));
        if (c.event) {
            ASSERT_TRUE(WaitEvents(1));
            EXPECT_EQ(events_.ids.front(), c.event);
        } else {
            Settle();
            EXPECT_TRUE(events_.ids.empty());
        }
    }
    // The shortcuts are told in the tooltips.
    EXPECT_EQ(win->Evaluate("document.getElementById('upload').title"), "Sync Dive Logs (F5)");
}

}  // namespace
