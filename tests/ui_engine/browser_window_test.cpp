// The browser window for a foreign site, driven by a real mouse (XTest)
// while a modal dialog owns it: the provider's form takes the click, each
// completed navigation is reported with its fragment, and program pages stay
// out of it.
#include "tests/support/cloudemu_process.h"
#include "tests/support/skip_or_fail.h"
#include "tests/ui_engine/gui_fixture.h"
#include "ui_engine/browser_window.h"
#include "ui_engine/tls_trust.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <cstdio>
#include <cstdlib>

namespace {

// Runs a script in the view and waits for its result as text.
std::string Evaluate(WebKitWebView* view, const std::string& script) {
    struct Result {
        bool done = false;
        std::string text;
    } result;
    webkit_web_view_evaluate_javascript(
        view, script.c_str(), -1, nullptr, nullptr, nullptr,
        +[](GObject* source, GAsyncResult* res, gpointer data) {
            auto* r = static_cast<Result*>(data);
            if (JSCValue* v = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), res, nullptr)) {
                char* s = jsc_value_to_string(v);
                r->text = s ? s : "";
                g_free(s);
                g_object_unref(v);
            }
            r->done = true;
        },
        &result);
    ui::RunLoopUntil([&] { return result.done; }, 5000);
    return result.text;
}

}  // namespace

TEST_F(GuiTest, BrowserWindowTakesRealClicksBesideAModalDialogAndReportsEachPage) {
    if (!GDK_IS_X11_DISPLAY(gdk_display_get_default())) VORTA_SKIP_OR_FAIL("needs an X server");
    vorta_test::CloudEmuProcess cloud;
    if (!cloud.Start()) VORTA_SKIP_OR_FAIL("cloud emulator not available");
    int trusted = -1;
    ui::TrustServerCertificate(cloud.host(), 8443, cloud.ca_file(), [&](bool ok) { trusted = ok ? 1 : 0; });
    ASSERT_TRUE(ui::RunLoopUntil([&] { return trusted >= 0; }, 10000));
    ASSERT_EQ(trusted, 1);

    ui::WindowOptions o;
    o.kind = ui::WindowKind::Dialog;
    o.width = 400;
    o.height = 300;
    ui::HostWindow dlg(o);
    ASSERT_TRUE(dlg.LoadPage(Page("dialog.htm")));

    const std::string success = cloud.base_url() + "/_fb/connect/login_success.html";
    std::vector<std::string> pages;
    std::string external, after_app_link;
    bool visible_before_show = true;
    int centre_offset = 1000;
    ui::PostToUi([&] {
        ui::BrowserWindowOptions bo;
        bo.width = 500;
        bo.height = 420;
        bo.owner = dlg.id();
        ui::BrowserWindow browser(bo);
        browser.SetNavigationHandler([&](const std::string& url) { pages.push_back(url); });
        browser.Navigate(cloud.base_url() + "/_fb/dialog/oauth?client_id=1&redirect_uri=" + success + "&state=s");
        ui::RunLoopUntil([&] { return !pages.empty(); }, 10000);
        visible_before_show = browser.IsVisible();
        external = Evaluate(browser.web_view(), "typeof window.external + ' ' + typeof window.webkit");

        browser.CenterOnOwner();
        browser.Show();
        ui::RunLoopUntil([&] { return gtk_widget_get_mapped(GTK_WIDGET(browser.web_view())) != FALSE; }, 5000);
        Settle(300);
        int bx, by, dx, dy, dw, dh;
        gtk_window_get_position(GTK_WINDOW(browser.gtk_window()), &bx, &by);
        gtk_window_get_position(GTK_WINDOW(dlg.gtk_window()), &dx, &dy);
        gtk_window_get_size(GTK_WINDOW(dlg.gtk_window()), &dw, &dh);
        centre_offset = std::abs(bx + 250 - (dx + dw / 2)) + std::abs(by + 210 - (dy + dh / 2));
        int ex = 0, ey = 0, ox = 0, oy = 0;
        const std::string at = Evaluate(browser.web_view(),
                                        "var b=document.getElementById('allow').getBoundingClientRect();"
                                        "Math.round(b.left+b.width/2)+' '+Math.round(b.top+b.height/2)");
        if (std::sscanf(at.c_str(), "%d %d", &ex, &ey) == 2) {
            gdk_window_get_origin(gtk_widget_get_window(GTK_WIDGET(browser.web_view())), &ox, &oy);
            Display* dpy = GDK_DISPLAY_XDISPLAY(gdk_display_get_default());
            XTestFakeMotionEvent(dpy, -1, ox + ex, oy + ey, CurrentTime);
            XTestFakeButtonEvent(dpy, 1, True, CurrentTime);
            XTestFakeButtonEvent(dpy, 1, False, CurrentTime);
            XFlush(dpy);
        }
        ui::RunLoopUntil([&] { return pages.size() >= 2; }, 10000);

        // A page that sends the window to a program page goes nowhere.
        Evaluate(browser.web_view(), "location.href='app://local/ENG/events.htm'; 1");
        Settle(500);
        after_app_link = browser.uri();
        dlg.EndDialog(1);
    });
    EXPECT_EQ(dlg.RunModal(), 1);

    EXPECT_FALSE(visible_before_show);           // created hidden
    EXPECT_EQ(external, "undefined undefined");  // no runtime, no message handlers
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0].rfind(cloud.base_url() + "/_fb/dialog/oauth?client_id=1", 0), 0u);
    // The grant redirect, with the token in its fragment.
    EXPECT_EQ(pages[1].rfind(success + "#access_token=", 0), 0u) << pages[1];
    EXPECT_NE(pages[1].find("&data_access_expiration_time="), std::string::npos);
    EXPECT_EQ(after_app_link, pages[1]);
}
