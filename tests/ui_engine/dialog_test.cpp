// Modal dialogs: results, window reuse, the drag band and the modal rule for
// events of the windows below.
#include <gdk/gdk.h>
#include <gtk/gtk.h>

#include <cstdlib>

#include "base/app_state.h"
#include "base/dpi.h"
#include "tests/ui_engine/gui_fixture.h"
#include "ui_engine/element.h"

namespace {

// Ends the dialog with 1 on "ok" and 0 on "cancel".
struct DialogHandler : ui::EventHandler {
    std::vector<std::string> seen;
    void OnBehaviorEvent(ui::HostWindow& w, const ui::BehaviorEvent& ev) override {
        seen.push_back(ev.target_id);
        if (ev.target_id == "ok") w.EndDialog(1);
        if (ev.target_id == "cancel") w.EndDialog(0);
    }
};

class DialogTest : public GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        if (HasFatalFailure()) return;
        ui::WindowOptions o;
        o.width = 500;
        o.height = 400;
        main_window = std::make_unique<ui::HostWindow>(o);
        main_window->SetEventHandler(&main_log);
        ASSERT_TRUE(main_window->LoadPage(Page("events.htm")));
        main_window->Show();
    }
    std::unique_ptr<ui::HostWindow> MakeDialog(int drag_band = 0) {
        ui::WindowOptions o;
        o.kind = ui::WindowKind::Dialog;
        o.width = 280;
        o.height = 160;
        o.parent = main_window.get();
        o.drag_band = drag_band;
        auto dlg = std::make_unique<ui::HostWindow>(o);
        dlg->SetEventHandler(&handler);
        return dlg;
    }
    EventLog main_log;
    DialogHandler handler;
    std::unique_ptr<ui::HostWindow> main_window;
};

TEST_F(DialogTest, ModalRunReturnsTheResultAndLaterDialogsReuseTheWindow) {
    auto dlg = MakeDialog();
    ASSERT_TRUE(dlg->LoadPage(Page("dialog.htm")));
    ui::FindById(*dlg, "MsgText").SetText("question");  // queued; sent before the dialog shows
    bool listed_modal = false;
    ui::PostToUi([&] {
        for (const auto& w : ui::ListWindows())
            if (w.id == dlg->id()) listed_modal = w.modal && w.visible && w.page_file == "dialog.htm";
        EXPECT_EQ(ui::ActiveWindow(), dlg.get());
        EXPECT_EQ(ui::FindById(*dlg, "MsgText").GetText(), "question");
        // The window below cannot be reached while the dialog runs.
        ui::FindById(*main_window, "b1").PostClick();
        ui::FindById(*main_window, "t1").GetText();
        ui::FindById(*dlg, "cancel").PostClick();
    });
    EXPECT_EQ(dlg->RunModal(), 0);
    EXPECT_TRUE(listed_modal);
    EXPECT_FALSE(dlg->IsVisible());
    EXPECT_FALSE(dlg->IsModalRunning());
    Settle();
    EXPECT_TRUE(main_log.entries.empty());

    // The same dialog object runs again; a new one gets the pooled window.
    ui::PostToUi([&] { ui::FindById(*dlg, "ok").PostClick(); });
    EXPECT_EQ(dlg->RunModal(), 1);
    GtkWidget* first_window = dlg->gtk_window();
    dlg.reset();
    auto again = MakeDialog();
    EXPECT_EQ(again->gtk_window(), first_window);
    ASSERT_TRUE(again->LoadPage(Page("dialog.htm")));
    EXPECT_EQ(ui::FindById(*again, "MsgText").GetText(), "text");  // a fresh page, not the old one
    ui::PostToUi([&] { ui::FindById(*again, "ok").PostClick(); });
    EXPECT_EQ(again->RunModal(), 1);
    EXPECT_EQ(handler.seen, (std::vector<std::string>{"cancel", "ok", "ok"}));

    // After the dialog the main window gets events again.
    ui::FindById(*main_window, "b2").PostClick();
    ASSERT_TRUE(main_log.WaitCount(1));
    EXPECT_EQ(main_log.entries, std::vector<std::string>{"0:b2"});
}

// A pooled window shows the next dialog's page while the previous page may
// still be running in it for a moment: clicks raised there must not answer
// the next dialog, which nobody has seen yet.
TEST_F(DialogTest, ClicksOfTheFormerPageNeverReachTheNextDialogOfTheWindow) {
    auto first = MakeDialog();
    ASSERT_TRUE(first->LoadPage(Page("dialog.htm")));
    // The first page keeps pressing "ok" for as long as it lives, as a
    // double click or a held Enter key can.
    first->Evaluate(
        "document.getElementById('ok').addEventListener('click', function () {"
        "  if (!window.__again) window.__again = setInterval(function () {"
        "    document.getElementById('ok').click(); }, 1); }); ''");
    ui::PostToUi([&] { ui::FindById(*first, "ok").PostClick(); });
    EXPECT_EQ(first->RunModal(), 1);
    GtkWidget* pooled = first->gtk_window();
    first.reset();

    // The next dialog gets the same window; only after a while does the user
    // answer it, with "cancel".
    auto next = MakeDialog();
    ASSERT_EQ(next->gtk_window(), pooled);
    ASSERT_TRUE(next->LoadPage(Page("dialog.htm")));
    struct Later {
        ui::WindowId id;
        bool fired = false;
    } later{next->id()};
    guint timer = g_timeout_add(
        300,
        +[](gpointer p) -> gboolean {
            auto* l = static_cast<Later*>(p);
            l->fired = true;
            ui::FindById(l->id, "cancel").PostClick();
            return G_SOURCE_REMOVE;
        },
        &later);
    EXPECT_EQ(next->RunModal(), 0);
    if (!later.fired) g_source_remove(timer);
}

TEST_F(DialogTest, NestedDialogsEndInsideOut) {
    auto outer = MakeDialog();
    auto inner = MakeDialog();
    ASSERT_TRUE(outer->LoadPage(Page("dialog.htm")));
    ASSERT_TRUE(inner->LoadPage(Page("dialog.htm")));
    int inner_result = -5;
    ui::PostToUi([&] {
        ui::PostToUi([&] { ui::FindById(*inner, "ok").PostClick(); });
        inner_result = inner->RunModal();
        outer->EndDialog(7);
    });
    EXPECT_EQ(outer->RunModal(), 7);
    EXPECT_EQ(inner_result, 1);
}

TEST_F(DialogTest, ClosingADialogEndsItWithZeroUnlessVetoed) {
    auto dlg = MakeDialog();
    ASSERT_TRUE(dlg->LoadPage(Page("dialog.htm")));
    int asked = 0;
    dlg->SetCloseVeto([&] { return ++asked == 1; });  // refuses once
    ui::PostToUi([&] {
        dlg->Close();
        EXPECT_TRUE(dlg->IsModalRunning());
        dlg->Close();
    });
    EXPECT_EQ(dlg->RunModal(), 0);
    EXPECT_EQ(asked, 2);
}

TEST_F(DialogTest, DragBandStartsAMoveOnlyInTheTopBand) {
    auto dlg = MakeDialog(30);
    ASSERT_TRUE(dlg->LoadPage(Page("dialog.htm")));
    auto press = [&](double y) {
        GdkEvent* ev = gdk_event_new(GDK_BUTTON_PRESS);
        ev->button.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(GTK_WIDGET(dlg->web_view()))));
        ev->button.button = 1;
        ev->button.x = 20;
        ev->button.y = y;
        ev->button.time = GDK_CURRENT_TIME;
        gdk_event_set_device(ev, gdk_seat_get_pointer(gdk_display_get_default_seat(gdk_display_get_default())));
        gboolean handled = FALSE;
        g_signal_emit_by_name(dlg->web_view(), "button-press-event", ev, &handled);
        gdk_event_free(ev);
    };
    int results = 0;
    ui::PostToUi([&] {
        press(0);
        press(29);
        EXPECT_EQ(dlg->drag_moves_started(), 2);
        press(30);
        press(120);
        EXPECT_EQ(dlg->drag_moves_started(), 2);
        dlg->SetDragBand(0);
        press(5);
        EXPECT_EQ(dlg->drag_moves_started(), 2);
        results = 1;
        dlg->EndDialog(3);
    });
    EXPECT_EQ(dlg->RunModal(), 3);
    EXPECT_EQ(results, 1);
}

TEST_F(DialogTest, CenteredOnTheParentAndInsideTheScreen) {
    auto dlg = MakeDialog();
    ASSERT_TRUE(dlg->LoadPage(Page("dialog.htm")));
    int x = -1, y = -1, w = 0, h = 0, px = 0, py = 0, pw = 0, ph = 0;
    ui::PostToUi([&] {
        Settle(200);
        gtk_window_get_position(GTK_WINDOW(dlg->gtk_window()), &x, &y);
        gtk_window_get_size(GTK_WINDOW(dlg->gtk_window()), &w, &h);
        gtk_window_get_position(GTK_WINDOW(main_window->gtk_window()), &px, &py);
        gtk_window_get_size(GTK_WINDOW(main_window->gtk_window()), &pw, &ph);
        dlg->EndDialog(1);
    });
    EXPECT_EQ(dlg->RunModal(), 1);
    EXPECT_EQ(w, 280);
    EXPECT_EQ(h, 160);
    EXPECT_NEAR(x + w / 2, px + pw / 2, 2);
    EXPECT_NEAR(y + h / 2, py + ph / 2, 2);
}

// ctest runs this again with the screen resolution raised through
// GDK_DPI_SCALE (as a desktop's text scaling does) and UI_TEST_EXPECT_DPI set.
TEST_F(DialogTest, DpiScaleComesFromTheScreen) {
    const ui::ScreenResolution screen = ui::ScreenDpi();
    SetDpiScale(screen.dpi_x, screen.dpi_y);
    const char* expect = std::getenv("UI_TEST_EXPECT_DPI");
    if (!expect) {
        EXPECT_GT(AppState.dpi_scale_x, 0.5f);
        EXPECT_GT(AppState.dpi_scale_y, 0.5f);
        return;
    }
    float scale = static_cast<float>(std::atof(expect) / 96.0);
    EXPECT_FLOAT_EQ(AppState.dpi_scale_x, scale);
    EXPECT_FLOAT_EQ(AppState.dpi_scale_y, scale);
}

}  // namespace
