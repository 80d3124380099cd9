// The program's colour scheme: the pages' data-scheme attribute at once, GTK's
// prefer-dark setting after the pages have drawn (see SetColorScheme).
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <memory>

#include "ui_engine/engine_internal.h"
#include "ui_engine/ui_engine.h"

namespace ui {

namespace {

// The script that starts each of the program's documents in the scheme last
// set; null before any. Every slot's content manager holds it.
WebKitUserScript* g_scheme_script = nullptr;

// One switch's wait for the visible windows' repaints: GTK's setting follows
// when the last has answered or the time-out fired, whichever comes first.
// A newer switch makes an older one's answers count for nothing.
struct ChromeSwitch {
    bool dark = false;
    int waiting = 0;
    bool applied = false;
    guint timeout = 0;
};
std::shared_ptr<ChromeSwitch> g_current;

void ApplyChrome(const std::shared_ptr<ChromeSwitch>& sw) {
    if (sw->applied) return;
    sw->applied = true;
    if (sw->timeout != 0) g_source_remove(sw->timeout);
    sw->timeout = 0;
    GtkSettings* settings = gtk_settings_get_default();
    if (settings == nullptr) return;
    gboolean now = FALSE;
    g_object_get(settings, "gtk-application-prefer-dark-theme", &now, nullptr);
    if ((now != FALSE) != sw->dark)
        g_object_set(settings, "gtk-application-prefer-dark-theme", sw->dark ? TRUE : FALSE, nullptr);
}

void CountDown(const std::shared_ptr<ChromeSwitch>& sw) {
    if (--sw->waiting <= 0) ApplyChrome(sw);
}

// A window's frame, once the page has drawn it, reaches the screen in the
// window's next paint; GTK's restyle would hold that paint back, so the
// count waits for it.
struct AfterPaint {
    std::shared_ptr<ChromeSwitch> sw;
    GdkFrameClock* clock = nullptr;
    gulong handler = 0;
};

void OnAfterPaint(GdkFrameClock*, gpointer data) {
    auto* wait = static_cast<AfterPaint*>(data);
    g_signal_handler_disconnect(wait->clock, wait->handler);  // frees `wait`
}

void OnPainted(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<std::shared_ptr<ChromeSwitch>> sw(static_cast<std::shared_ptr<ChromeSwitch>*>(data));
    GError* error = nullptr;
    if (JSCValue* v = webkit_web_view_call_async_javascript_function_finish(WEBKIT_WEB_VIEW(source), result, &error))
        g_object_unref(v);
    if (error != nullptr) g_error_free(error);
    GdkFrameClock* clock = gtk_widget_get_frame_clock(GTK_WIDGET(source));
    if ((*sw)->applied || clock == nullptr) {
        CountDown(*sw);
        return;
    }
    auto* wait = new AfterPaint{*sw, clock, 0};
    // The count goes down when the handler goes: after the paint, or with the
    // clock (the window destroyed).
    wait->handler = g_signal_connect_data(
        clock, "after-paint", G_CALLBACK(OnAfterPaint), wait,
        [](gpointer p, GClosure*) {
            auto* w = static_cast<AfterPaint*>(p);
            CountDown(w->sw);
            delete w;
        },
        G_CONNECT_AFTER);
    gdk_frame_clock_request_phase(clock, GDK_FRAME_CLOCK_PHASE_AFTER_PAINT);
}

gboolean OnChromeTimeout(gpointer data) {
    auto* sw = static_cast<std::shared_ptr<ChromeSwitch>*>(data);
    (*sw)->timeout = 0;
    ApplyChrome(*sw);
    return G_SOURCE_REMOVE;
}

}  // namespace

namespace detail {

void AddColorSchemeScript(WebKitUserContentManager* ucm) {
    if (g_scheme_script != nullptr) webkit_user_content_manager_add_script(ucm, g_scheme_script);
}

}  // namespace detail

void SetColorScheme(bool dark) {
    const char* scheme = dark ? "dark" : "light";
    // Documents loaded from now on start in the scheme (the attribute is set
    // as soon as their root element exists, before any style sheet applies).
    static const char* const kOwnPages[] = {"app://local/*", nullptr};
    const std::string source = std::string(
                                   "document.documentElement&&document.documentElement.setAttribute("
                                   "'data-scheme','") +
                               scheme + "')";
    WebKitUserScript* script = webkit_user_script_new(source.c_str(), WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
                                                      WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, kOwnPages, nullptr);
    for (detail::Slot* slot : detail::AllSlots()) {
        if (slot->ucm == nullptr) continue;
        if (g_scheme_script != nullptr) webkit_user_content_manager_remove_script(slot->ucm, g_scheme_script);
        webkit_user_content_manager_add_script(slot->ucm, script);
    }
    if (g_scheme_script != nullptr) webkit_user_script_unref(g_scheme_script);
    g_scheme_script = script;

    if (g_current) {  // an earlier switch still waiting is superseded
        if (g_current->timeout != 0) g_source_remove(g_current->timeout);
        g_current->timeout = 0;
        g_current->applied = true;
    }
    auto sw = std::make_shared<ChromeSwitch>();
    sw->dark = dark;
    g_current = sw;

    // The documents shown now: the page runtime puts the attribute on its
    // document and the program's frames inside it. A visible window answers
    // once it has drawn the next frame; a hidden one is not waited for (it
    // draws nothing until shown).
    const std::string tell = std::string("window.__vorta ? window.__vorta.scheme('") + scheme + "') : null";
    const std::string call = "return " + tell + ";";
    for (detail::Slot* slot : detail::AllSlots()) {
        if (slot->view == nullptr) continue;
        const bool visible = slot->window != nullptr && gtk_widget_get_mapped(slot->window);
        if (!visible) {
            webkit_web_view_evaluate_javascript(slot->view, tell.c_str(), -1, nullptr, nullptr, nullptr, nullptr,
                                                nullptr);
            continue;
        }
        ++sw->waiting;
        webkit_web_view_call_async_javascript_function(slot->view, call.c_str(), -1, nullptr, nullptr, nullptr, nullptr,
                                                       OnPainted, new std::shared_ptr<ChromeSwitch>(sw));
    }
    if (sw->waiting == 0) {
        ApplyChrome(sw);
        return;
    }
    sw->timeout = g_timeout_add_full(G_PRIORITY_DEFAULT, kSchemeChromeWaitMs, OnChromeTimeout,
                                     new std::shared_ptr<ChromeSwitch>(sw),
                                     [](gpointer p) { delete static_cast<std::shared_ptr<ChromeSwitch>*>(p); });
}

}  // namespace ui
