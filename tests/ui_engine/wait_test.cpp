// WaitOffUi: a blocking call on a worker while the UI thread keeps its loop
// running, page input held back until the wait ends, and closes during it.
#include <gdk/gdk.h>
#include <gtk/gtk.h>

#include <chrono>
#include <functional>
#include <future>
#include <stdexcept>
#include <thread>

#include "tests/ui_engine/gui_fixture.h"
#include "ui_engine/element.h"

namespace {

GdkCursorType CursorOf(GtkWidget* widget) {
    GdkWindow* window = widget ? gtk_widget_get_window(widget) : nullptr;
    GdkCursor* cursor = window ? gdk_window_get_cursor(window) : nullptr;
    return cursor ? gdk_cursor_get_cursor_type(cursor) : GDK_BLANK_CURSOR;
}

class WaitOffUiTest : public GuiTest {
protected:
    // Waits off the UI thread until `during` (run once by a timer inside the
    // wait) has run, then returns what the worker returned. The worker gives
    // up after 10 s, so a wait whose loop is stuck fails instead of hanging.
    int WaitWhile(const std::function<void()>& during) {
        std::promise<void> release;
        std::shared_future<void> released = release.get_future().share();
        struct Timer {
            std::function<void()> during;
            std::promise<void>* release;
        } timer{during, &release};
        g_timeout_add(
            20,
            +[](gpointer p) -> gboolean {
                auto* t = static_cast<Timer*>(p);
                t->during();
                t->release->set_value();
                return G_SOURCE_REMOVE;
            },
            &timer);
        return ui::WaitOffUi([released, this] {
            worker_thread = std::this_thread::get_id();
            return released.wait_for(std::chrono::seconds(10)) == std::future_status::ready ? 42 : -1;
        });
    }
    std::thread::id worker_thread;
};

TEST_F(WaitOffUiTest, LoopRunsWhilePageInputWaitsForTheEnd) {
    ui::WindowOptions o;
    o.width = 500;
    o.height = 400;
    ui::HostWindow win(o);
    EventLog log;
    win.SetEventHandler(&log);
    ASSERT_TRUE(win.LoadPage(Page("events.htm")));
    win.Show();
    Settle(100);
    ASSERT_TRUE(gtk_widget_get_has_window(GTK_WIDGET(win.web_view())));  // its cursor is its own

    bool posted_ran = false;
    ui::PostToUi([&] { posted_ran = true; });  // queued before the wait, held by it
    bool ran = false;
    GdkCursorType top_cursor = GDK_BLANK_CURSOR, view_cursor = GDK_BLANK_CURSOR;
    size_t events_during = 99;
    bool posted_during = true;
    int inner = 0;
    int result = WaitWhile([&] {
        ran = true;
        top_cursor = CursorOf(win.gtk_window());
        // The view sets the page's cursor as the pointer moves: busy again at once.
        GdkWindow* view_window = gtk_widget_get_window(GTK_WIDGET(win.web_view()));
        GdkCursor* text = gdk_cursor_new_for_display(gdk_window_get_display(view_window), GDK_XTERM);
        gdk_window_set_cursor(view_window, text);
        g_object_unref(text);
        view_cursor = CursorOf(GTK_WIDGET(win.web_view()));
        // The page takes a click (the read below returns after it) ...
        ui::FindById(win, "b1").PostClick();
        EXPECT_TRUE(ui::FindById(win, "b1").Exists());
        // ... and a nested wait works inside the outer one.
        inner = ui::WaitOffUi([] { return 7; });
        events_during = log.entries.size();
        posted_during = posted_ran;
    });
    EXPECT_EQ(result, 42);
    EXPECT_NE(worker_thread, std::this_thread::get_id());
    ASSERT_TRUE(ran) << "the timer did not run during the wait";
    EXPECT_EQ(inner, 7);
    EXPECT_EQ(top_cursor, GDK_WATCH);
    EXPECT_EQ(view_cursor, GDK_WATCH);
    EXPECT_EQ(events_during, 0u);
    EXPECT_FALSE(posted_during);
    // Nothing is delivered inside the wait, not even on its way out ...
    EXPECT_TRUE(log.entries.empty());
    EXPECT_NE(CursorOf(GTK_WIDGET(win.web_view())), GDK_WATCH);
    // ... and everything right after it, in order.
    ASSERT_TRUE(log.WaitCount(1));
    EXPECT_EQ(log.entries[0], "0:b1");
    EXPECT_TRUE(ui::RunLoopUntil([&] { return posted_ran; }, 5000));
}

TEST_F(WaitOffUiTest, ExceptionsReachTheCallerAndOtherThreadsCallDirectly) {
    EXPECT_THROW(ui::WaitOffUi([]() -> int { throw std::runtime_error("cloud"); }), std::runtime_error);
    std::thread::id ran_on;
    std::thread other([&] { ui::WaitOffUi([&] { ran_on = std::this_thread::get_id(); }); });
    std::thread::id other_id = other.get_id();
    other.join();
    EXPECT_EQ(ran_on, other_id);
}

// The window manager's close and the program's Close() during a wait: the
// window hides at once; the veto and the destruction come after the wait.
TEST_F(WaitOffUiTest, TopLevelWindowClosedDuringTheWaitGoesAfterIt) {
    ui::WindowOptions o;
    o.width = 400;
    o.height = 300;
    ui::HostWindow win(o);
    ASSERT_TRUE(win.LoadPage(Page("events.htm")));
    win.Show();
    Settle(100);
    int vetoes = 0, destroyed = 0;
    win.SetCloseVeto([&] { return ++vetoes == 1; });  // refuses the first close
    win.SetDestroyHandler([&] { ++destroyed; });

    struct Case {
        const char* how;
        std::function<void()> close;
        bool closed_after;
    } cases[] = {
        {"window manager, vetoed", [&] { gtk_window_close(GTK_WINDOW(win.gtk_window())); }, false},
        {"program", [&] { win.Close(); }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        int vetoes_before = vetoes;
        bool hidden = false, alive = false, asked = true;
        WaitWhile([&] {
            c.close();
            hidden = ui::RunLoopUntil([&] { return !win.IsVisible(); }, 5000);
            alive = !win.IsClosed() && destroyed == 0;
            asked = vetoes != vetoes_before;
        });
        EXPECT_TRUE(hidden);
        EXPECT_TRUE(alive);
        EXPECT_FALSE(asked);
        EXPECT_EQ(vetoes, vetoes_before + 1);
        EXPECT_EQ(win.IsClosed(), c.closed_after);
        EXPECT_EQ(destroyed, c.closed_after ? 1 : 0);
        EXPECT_EQ(win.IsVisible(), !c.closed_after);  // a refused close shows the window again
    }
}

// A dialog closed by the user while its controller waits ends with 0, even
// when the controller, back from the wait, ends it otherwise.
TEST_F(WaitOffUiTest, DialogClosedDuringTheWaitEndsWithZero) {
    ui::WindowOptions o;
    o.kind = ui::WindowKind::Dialog;
    o.width = 280;
    o.height = 160;
    ui::HostWindow dlg(o);
    ASSERT_TRUE(dlg.LoadPage(Page("dialog.htm")));
    bool hidden = false, running = false;
    ui::PostToUi([&] {
        WaitWhile([&] {
            gtk_window_close(GTK_WINDOW(dlg.gtk_window()));
            hidden = ui::RunLoopUntil([&] { return !dlg.IsVisible(); }, 5000);
            running = dlg.IsModalRunning();
        });
        dlg.EndDialog(1);  // as a sign-in that succeeded meanwhile would
    });
    EXPECT_EQ(dlg.RunModal(), 0);
    EXPECT_TRUE(hidden);
    EXPECT_TRUE(running);
}

}  // namespace
