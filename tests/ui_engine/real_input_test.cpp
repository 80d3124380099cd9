// Real pointer input through the X server (XTest), as a user's mouse gives it:
// the page runtime sees the click, and a dialog's drag band takes the press.
// gtest goes first: the X11 headers define macros (None, Bool) that clash with it.
#include "tests/support/skip_or_fail.h"
#include "tests/ui_engine/gui_fixture.h"
#include "ui_engine/element.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <cstdio>

namespace {

class RealInputTest : public GuiTest {
protected:
    // Screen position of the centre of an element, from its page rectangle.
    static bool CentreOf(ui::HostWindow& w, const std::string& id, int* x, int* y) {
        std::string r = w.Evaluate("(function(){var e=document.getElementById('" + id +
                                   "');if(!e)return '';var b=e.getBoundingClientRect();"
                                   "return Math.round(b.left+b.width/2)+' '+Math.round(b.top+b.height/2);})()");
        int ex = 0, ey = 0;
        if (std::sscanf(r.c_str(), "%d %d", &ex, &ey) != 2) return false;
        int ox = 0, oy = 0;
        gdk_window_get_origin(gtk_widget_get_window(GTK_WIDGET(w.web_view())), &ox, &oy);
        *x = ox + ex;
        *y = oy + ey;
        return true;
    }
    static void Press(int x, int y, bool release = true) {
        Display* dpy = GDK_DISPLAY_XDISPLAY(gdk_display_get_default());
        XTestFakeMotionEvent(dpy, -1, x, y, CurrentTime);
        XTestFakeButtonEvent(dpy, 1, True, CurrentTime);
        if (release) XTestFakeButtonEvent(dpy, 1, False, CurrentTime);
        XFlush(dpy);
    }
    static void Release() {
        Display* dpy = GDK_DISPLAY_XDISPLAY(gdk_display_get_default());
        XTestFakeButtonEvent(dpy, 1, False, CurrentTime);
        XFlush(dpy);
    }
    static bool WaitMapped(ui::HostWindow& w) {
        return ui::RunLoopUntil([&] { return gtk_widget_get_mapped(GTK_WIDGET(w.web_view())) != FALSE; }, 5000);
    }
    static ui::WindowOptions EventsWindow() {
        ui::WindowOptions o;
        o.width = 640;
        o.height = 480;
        return o;
    }
    // The events page shown in `win`, its behaviour events going to `log`.
    static bool ShowEventsPage(ui::HostWindow& win, EventLog& log) {
        win.SetEventHandler(&log);
        if (!win.LoadPage(Page("events.htm"))) return false;
        win.Show();
        if (!WaitMapped(win)) return false;
        Settle(300);
        return true;
    }
};

TEST_F(RealInputTest, MouseClicksBecomeBehaviourEvents) {
    if (!GDK_IS_X11_DISPLAY(gdk_display_get_default())) VORTA_SKIP_OR_FAIL("needs an X server");
    ui::HostWindow win(EventsWindow());
    EventLog log;
    ASSERT_TRUE(ShowEventsPage(win, log));
    int x, y;
    ASSERT_TRUE(CentreOf(win, "inner", &x, &y));
    Press(x, y);
    ASSERT_TRUE(CentreOf(win, "plain", &x, &y));
    Press(x, y);
    ASSERT_TRUE(CentreOf(win, "b1", &x, &y));
    Press(x, y);
    ASSERT_TRUE(log.WaitCount(2));
    Settle();
    EXPECT_EQ(log.entries, (std::vector<std::string>{"0:b3", "0:b1"}));
    EXPECT_EQ(log.events[0].reason, 0u);  // a user's click, not a posted one
}

// An input block keeps the user's clicks from every window while it lives,
// also the second time (its grab widget is kept for the next block) and
// while an inner block ends inside an outer one.
TEST_F(RealInputTest, InputBlocksHoldTheGrabUntilTheLastEnds) {
    if (!GDK_IS_X11_DISPLAY(gdk_display_get_default())) VORTA_SKIP_OR_FAIL("needs an X server");
    ui::HostWindow win(EventsWindow());
    EventLog log;
    ASSERT_TRUE(ShowEventsPage(win, log));
    int x, y;
    ASSERT_TRUE(CentreOf(win, "b1", &x, &y));
    // Whether a click now reaches the page, and whether GTK holds a grab.
    auto click_arrives = [&] {
        log.entries.clear();
        Press(x, y);
        const bool arrived = log.WaitCount(1, 1500);
        Settle();
        return arrived;
    };
    auto grabbed = [] { return gtk_grab_get_current() != nullptr; };

    EXPECT_TRUE(click_arrives());
    for (const char* round : {"first block", "second block"}) {
        SCOPED_TRACE(round);
        {
            ui::InputBlock block;
            EXPECT_TRUE(grabbed());
            EXPECT_FALSE(click_arrives());
        }
        EXPECT_FALSE(grabbed());
        EXPECT_TRUE(click_arrives());
    }
    {
        ui::InputBlock outer;
        { ui::InputBlock inner; }
        EXPECT_TRUE(grabbed());
        EXPECT_FALSE(click_arrives());
    }
    EXPECT_FALSE(grabbed());
    EXPECT_TRUE(click_arrives());
}

TEST_F(RealInputTest, PressInTheDragBandMovesTheDialogNotThePage) {
    if (!GDK_IS_X11_DISPLAY(gdk_display_get_default())) VORTA_SKIP_OR_FAIL("needs an X server");
    ui::WindowOptions o;
    o.kind = ui::WindowKind::Dialog;
    o.width = 300;
    o.height = 200;
    o.drag_band = 30;
    ui::HostWindow dlg(o);
    EventLog log;
    dlg.SetEventHandler(&log);
    ASSERT_TRUE(dlg.LoadPage(Page("dialog.htm")));
    // The band element is a button here, so a press that reached the page would
    // be an event; in the band it must start a move instead.
    dlg.Evaluate("document.getElementById('band').className='btnctrl'; 1");
    int result = -1;
    ui::PostToUi([&] {
        ASSERT_TRUE(WaitMapped(dlg));
        Settle(300);
        int x, y;
        ASSERT_TRUE(CentreOf(dlg, "band", &x, &y));
        Press(x, y, false);
        ui::RunLoopUntil([&] { return dlg.drag_moves_started() == 1; }, 3000);
        Release();
        Settle(200);
        ASSERT_TRUE(CentreOf(dlg, "ok", &x, &y));
        Press(x, y);
        log.WaitCount(1);
        result = dlg.drag_moves_started();
        dlg.EndDialog(1);
    });
    EXPECT_EQ(dlg.RunModal(), 1);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(log.entries, std::vector<std::string>{"0:ok"});
}

}  // namespace
