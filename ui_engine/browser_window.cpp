#include "ui_engine/browser_window.h"

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <cstring>

#include "ui_engine/engine_internal.h"

namespace ui {
namespace {

// Only web pages: a page of the program (app://) or a local file has no
// business in a foreign site's window.
bool IsWebUri(const char* uri) {
    if (uri == nullptr) return false;
    const std::string u = uri;
    auto starts = [&u](const char* p) { return g_ascii_strncasecmp(u.c_str(), p, std::strlen(p)) == 0; };
    return starts("https://") || starts("http://") || u == "about:blank";
}

}  // namespace

struct BrowserWindow::Signals {
    static void OnLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer data) {
        auto* self = static_cast<BrowserWindow*>(data);
        if (event != WEBKIT_LOAD_FINISHED || !self->on_navigated_) return;
        const char* uri = webkit_web_view_get_uri(view);
        self->on_navigated_(uri ? uri : "");
    }

    static gboolean OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                                   gpointer) {
        switch (type) {
            case WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION: {
                WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(
                    WEBKIT_NAVIGATION_POLICY_DECISION(decision));
                WebKitURIRequest* request = webkit_navigation_action_get_request(action);
                if (IsWebUri(webkit_uri_request_get_uri(request))) return FALSE;  // the default: load it
                webkit_policy_decision_ignore(decision);
                return TRUE;
            }
            case WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION:
                // One window: pages that open others get nothing.
                webkit_policy_decision_ignore(decision);
                return TRUE;
            case WEBKIT_POLICY_DECISION_TYPE_RESPONSE:
                // Nothing is downloaded to disk from here.
                if (!webkit_response_policy_decision_is_mime_type_supported(
                        WEBKIT_RESPONSE_POLICY_DECISION(decision))) {
                    webkit_policy_decision_ignore(decision);
                    return TRUE;
                }
                return FALSE;
            default: return FALSE;
        }
    }

    static gboolean OnContextMenu(WebKitWebView*, WebKitContextMenu*, GdkEvent*, WebKitHitTestResult*, gpointer) {
        return TRUE;  // no menu: its entries (inspect, open in a new window) have no place here
    }

    static gboolean OnDelete(GtkWidget* window, GdkEvent*, gpointer) {
        gtk_widget_hide(window);
        return TRUE;  // the owner decides when the window goes
    }

    static void OnTitle(WebKitWebView* view, GParamSpec*, gpointer data) {
        auto* self = static_cast<BrowserWindow*>(data);
        const char* title = webkit_web_view_get_title(view);
        if (self->window_) gtk_window_set_title(GTK_WINDOW(self->window_), title ? title : "");
    }
};

BrowserWindow::BrowserWindow(const BrowserWindowOptions& options) : options_(options) {
    if (!EngineReady()) return;
    if (options_.width < 1) options_.width = 1;
    if (options_.height < 1) options_.height = 1;

    WebKitSettings* settings =
        webkit_settings_new_with_settings("enable-developer-extras", FALSE, "javascript-can-open-windows-automatically",
                                          FALSE, "enable-page-cache", FALSE, nullptr);
    WebKitUserContentManager* ucm = webkit_user_content_manager_new();
    // The engine's context, not a related view: the same network side, a web
    // process of its own.
    view_ = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", detail::Context(), "settings", settings,
                                         "user-content-manager", ucm, nullptr));
    g_object_unref(settings);
    g_object_unref(ucm);
    g_signal_connect(view_, "load-changed", G_CALLBACK(Signals::OnLoadChanged), this);
    g_signal_connect(view_, "decide-policy", G_CALLBACK(Signals::OnDecidePolicy), this);
    g_signal_connect(view_, "context-menu", G_CALLBACK(Signals::OnContextMenu), this);
    g_signal_connect(view_, "notify::title", G_CALLBACK(Signals::OnTitle), this);

    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    GtkWindow* win = GTK_WINDOW(window_);
    gtk_window_set_decorated(win, FALSE);
    gtk_window_set_type_hint(win, GDK_WINDOW_TYPE_HINT_DIALOG);
    gtk_window_set_skip_taskbar_hint(win, TRUE);
    gtk_window_set_default_size(win, options_.width, options_.height);
    gtk_window_resize(win, options_.width, options_.height);
    if (HostWindow* owner = options_.owner ? FindWindow(options_.owner) : nullptr) {
        if (GtkWidget* ow = owner->gtk_window()) gtk_window_set_transient_for(win, GTK_WINDOW(ow));
    }
    // A group of its own: a modal dialog's grab (its owner's) does not hold
    // back this window's input.
    GtkWindowGroup* group = gtk_window_group_new();
    gtk_window_group_add_window(group, win);
    g_object_unref(group);
    gtk_container_add(GTK_CONTAINER(window_), GTK_WIDGET(view_));
    gtk_widget_show(GTK_WIDGET(view_));
    g_signal_connect(window_, "delete-event", G_CALLBACK(Signals::OnDelete), this);
}

BrowserWindow::~BrowserWindow() {
    on_navigated_ = nullptr;
    if (view_) {
        g_signal_handlers_disconnect_by_data(view_, this);
        webkit_web_view_stop_loading(view_);
    }
    if (window_) gtk_widget_destroy(window_);  // the view goes with it
    window_ = nullptr;
    view_ = nullptr;
}

void BrowserWindow::Navigate(const std::string& url) {
    if (view_ && IsWebUri(url.c_str())) webkit_web_view_load_uri(view_, url.c_str());
}

std::string BrowserWindow::uri() const {
    const char* u = view_ ? webkit_web_view_get_uri(view_) : nullptr;
    return u ? u : "";
}

void BrowserWindow::Show() {
    if (!window_) return;
    gtk_widget_show(window_);
    gtk_window_present(GTK_WINDOW(window_));
}

void BrowserWindow::Hide() {
    if (window_) gtk_widget_hide(window_);
}

bool BrowserWindow::IsVisible() const {
    return window_ && gtk_widget_get_visible(window_);
}

void BrowserWindow::CenterOnOwner() {
    if (!window_) return;
    HostWindow* owner = options_.owner ? FindWindow(options_.owner) : nullptr;
    GtkWidget* ow = owner && owner->IsVisible() ? owner->gtk_window() : nullptr;
    detail::PlaceCentred(GTK_WINDOW(window_), options_.width, options_.height, ow ? GTK_WINDOW(ow) : nullptr);
}

}  // namespace ui
