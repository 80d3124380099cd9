// Host windows: a GTK window with one web view, its write queue, synchronous
// reads, page loads, modal runs, the drag band and snapshots.
#include <cairo.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <map>
#include <memory>

#include "base/json_safe.h"
#include "ui_engine/engine_internal.h"
#include "ui_engine/host_window.h"

namespace ui {

using namespace detail;

namespace {

constexpr guint kReadTimeoutMs = 3000;
// Generous: the first load of a busy machine's web process can take seconds.
constexpr guint kLoadTimeoutMs = 30000;
constexpr guint kSnapshotTimeoutMs = 5000;
constexpr size_t kSparePooledSlots = 2;

std::vector<Slot*> g_pool;   // idle dialog slots
std::vector<Slot*> g_slots;  // every slot alive, pooled or in use
Slot* g_anchor = nullptr;    // the permanent slot whose view every other view is related to

// Runs the main loop until *done or the time-out, holding back page events and
// posted work meanwhile. Returns *done.
bool WaitFor(const bool* done, guint timeout_ms) {
    BeginWait();
    bool ok = RunLoopUntil([done] { return *done; }, static_cast<int>(timeout_ms));
    EndWait();
    return ok;
}

std::string JsValueText(JSCValue* v) {
    if (!v || jsc_value_is_undefined(v) || jsc_value_is_null(v)) return {};
    GBytes* bytes = jsc_value_to_string_as_bytes(v);
    if (!bytes) return {};
    gsize size = 0;
    const char* data = static_cast<const char*>(g_bytes_get_data(bytes, &size));
    std::string out(data ? data : "", data ? size : 0);
    g_bytes_unref(bytes);
    return out;
}

// The strings of a JSON array; *ok (when given) says whether it was an array
// of strings only.
std::vector<std::string> StringList(const Json::Value& arr, bool* ok = nullptr) {
    std::vector<std::string> out;
    bool all_strings = arr.isArray();
    for (Json::ArrayIndex k = 0; k < json_safe::Size(arr); ++k) {
        const Json::Value& v = json_safe::Element(arr, k);
        if (!v.isString()) all_strings = false;
        out.push_back(json_safe::AsString(v));
    }
    if (ok) *ok = all_strings;
    return out;
}

}  // namespace

// ---------------------------------------------------------------------------

struct HostWindow::Impl {
    Slot* slot = nullptr;
    WindowId parent_id = 0;
    int width = 800, height = 600;

    std::vector<std::string> writes;
    guint flush_source = 0;

    bool load_waiting = false;
    bool load_started = false;
    bool load_done = false;
    bool load_failed = false;

    bool close_deferred = false;  // a close waits for the end of WaitOffUi

    std::string requested_uri;  // a foreign address LoadUri is loading ("" otherwise)

    // Script pages shown in this window's page, by the frame path of their
    // document (the holder's frame path and "<holder id>_page").
    struct ScriptPage {
        std::string load;  // number of this showing, carried by the page's reports
        ScriptPageHandlers handlers;
    };
    std::map<std::vector<std::string>, ScriptPage> script_pages;

    // The handler a report of the script page at `path`, numbered `load`,
    // goes to; nullptr when that page is no longer the one shown there.
    const ScriptPageHandlers* ScriptPageAt(const std::vector<std::string>& path, const std::string& load) const {
        auto it = script_pages.find(path);
        if (it == script_pages.end() || it->second.load != load) return nullptr;
        return &it->second.handlers;
    }

    struct ModalState {
        bool alive = true;
        bool ended = false;  // EndDialog was called: the result is set
        int result = 0;
        GMainLoop* loop = nullptr;
    };
    std::shared_ptr<ModalState> modal;

    ~Impl() {
        if (flush_source) g_source_remove(flush_source);
    }

    void Queue(std::string stmt) {
        writes.push_back(std::move(stmt));
        if (!flush_source) flush_source = g_idle_add_full(G_PRIORITY_HIGH_IDLE + 30, FlushIdle, this, nullptr);
    }

    static gboolean FlushIdle(gpointer data) {
        auto* impl = static_cast<Impl*>(data);
        impl->flush_source = 0;
        impl->Flush();
        return G_SOURCE_REMOVE;
    }

    // The queued writes as one script (empty when none), and the queue emptied.
    std::string TakeBatch() {
        if (flush_source) {
            g_source_remove(flush_source);
            flush_source = 0;
        }
        if (writes.empty()) return {};
        size_t size = 40;
        for (const auto& w : writes) size += w.size();
        std::string js;
        js.reserve(size);
        js += "(function(R){if(!R)return;";
        for (const auto& w : writes) js += w;
        js += "R.fa();})(window.__vorta);\n";
        writes.clear();
        return js;
    }

    void Flush() {
        std::string js = TakeBatch();
        if (js.empty() || !slot || !slot->view) return;
        webkit_web_view_evaluate_javascript(slot->view, js.data(), static_cast<gssize>(js.size()), nullptr, nullptr,
                                            nullptr, nullptr, nullptr);
    }

    struct EvalState {
        bool done = false;
        std::string text;
    };

    static void EvalDone(GObject* source, GAsyncResult* res, gpointer data) {
        auto* holder = static_cast<std::shared_ptr<EvalState>*>(data);
        GError* err = nullptr;
        JSCValue* v = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), res, &err);
        if (v) {
            (*holder)->text = JsValueText(v);
            g_object_unref(v);
        }
        if (err) g_error_free(err);
        (*holder)->done = true;
        delete holder;
    }

    std::string Read(const std::string& js) {
        if (!slot || !slot->view) return {};
        // Pending writes travel in the same evaluation, ahead of the read: one
        // round trip, and the page cannot draw between them.
        std::string script = TakeBatch();
        script += js;
        auto state = std::make_shared<EvalState>();
        webkit_web_view_evaluate_javascript(slot->view, script.data(), static_cast<gssize>(script.size()), nullptr,
                                            nullptr, nullptr, EvalDone, new std::shared_ptr<EvalState>(state));
        WaitFor(&state->done, kReadTimeoutMs);
        return state->text;
    }

    // Loads `uri` and waits until its document is complete. With
    // `exact_address`, the document must also have that address (pages of
    // the program; a foreign site may redirect).
    bool LoadAndWait(const std::string& uri, bool exact_address) {
        if (!slot || !slot->view) return false;
        writes.clear();
        // A reused view can report a load finished while it still shows the
        // document it had before: a late signal of an earlier load, possibly
        // of the same address. Writes made then would land in that old
        // document and vanish. So the document there now is marked, and the
        // load counts as done only once an unmarked, complete document is in
        // place.
        load_waiting = true;  // from here, events of the page going away are dropped
        Read("window.__vortaOldDocument = true; ''");
        if (!slot || !slot->view) {  // the window was destroyed meanwhile
            load_waiting = false;
            return false;
        }
        load_started = load_done = load_failed = false;
        requested_uri = exact_address ? std::string() : uri;
        webkit_web_view_load_uri(slot->view, uri.c_str());
        const gint64 deadline = g_get_monotonic_time() + gint64(kLoadTimeoutMs) * 1000;
        bool ready = false;
        while (!ready && !load_failed && slot->view) {
            gint64 left_ms = (deadline - g_get_monotonic_time()) / 1000;
            if (left_ms <= 0) break;
            if (!load_done) {
                WaitFor(&load_done, static_cast<guint>(left_ms));
                continue;
            }
            std::string href =
                Read("(document.readyState === 'complete' && !window.__vortaOldDocument) ? location.href : ''");
            ready = exact_address ? href == uri : !href.empty();
            if (!ready) {
                bool never = false;
                WaitFor(&never, 5);
            }
        }
        load_waiting = false;
        requested_uri.clear();
        return ready;
    }

    // ---- signal handlers (slot-level; dispatch to the current owner) ----

    static void OnScriptMessage(WebKitUserContentManager*, WebKitJavascriptResult* jr, gpointer data) {
        auto* slot = static_cast<Slot*>(data);
        if (!slot->owner) return;
        std::string text = JsValueText(webkit_javascript_result_get_js_value(jr));
        Json::Value msg;
        if (!json_safe::Parse(text, msg) || !msg.isObject()) return;
        if (json_safe::String(msg, "t") != MessageToken()) return;
        WindowId id = slot->owner->id();
        std::string kind = json_safe::String(msg, "k");
        bool path_ok = false;
        std::vector<std::string> frames = StringList(json_safe::Member(msg, "p"), &path_ok);
        if (kind == "ev") {
            // Raised while the window's page is being replaced: by the page
            // going away (a pooled dialog window may still run the former
            // dialog's page), which must not act on the page coming in.
            if (slot->owner->impl_->load_waiting) return;
            BehaviorEvent ev;
            int code = json_safe::Int(msg, "c");
            if (code != static_cast<int>(BUTTON_CLICK) && code != static_cast<int>(SELECT_SELECTION_CHANGED)) return;
            ev.cmd = static_cast<uint32_t>(code);
            ev.target_id = json_safe::String(msg, "i");
            ev.value = json_safe::String(msg, "v");
            ev.reason = json_safe::Int(msg, "r") == 1 ? 1u : 0u;
            const Json::Value& attrs = json_safe::Member(msg, "a");
            if (attrs.isObject())
                for (const std::string& name : attrs.getMemberNames())
                    ev.attributes[name] = json_safe::String(attrs, name.c_str());
            if (path_ok) {
                const double tag = json_safe::Double(msg, "g");
                ev.target = ElementAccess::MakeTagged(id, frames, ev.target_id,
                                                      tag >= 1 && tag < 9e15 ? static_cast<uint64_t>(tag) : 0);
            }
            Enqueue([id, ev] {
                HostWindow* w = FindWindow(id);
                if (!w || w->IsClosed() || !AcceptsUserEvents(w)) return;
                HostWindowAccess::DeliverEvent(*w, ev);
            });
        } else if (kind == "ext" || kind == "sp") {
            // Reports of script pages. Where the report goes is decided when
            // it is delivered: a page replaced meanwhile is no longer heard.
            if (!path_ok) return;
            std::string load = json_safe::String(msg, "g");
            if (kind == "sp") {
                bool ready = json_safe::Int(msg, "s") == 1;
                if (ready) TrimHeapWhenQuiet();
                Enqueue([id, frames, load, ready] {
                    HostWindow* w = FindWindow(id);
                    if (!w || w->IsClosed()) return;
                    const ScriptPageHandlers* h = w->impl_->ScriptPageAt(frames, load);
                    if (!h) return;
                    std::function<void()> fn = ready ? h->ready : h->gone;  // may replace the page
                    if (fn) fn();
                });
                return;
            }
            if (slot->owner->impl_->load_waiting) return;
            ExternalCall call;
            call.frame_path = frames;
            call.name = json_safe::String(msg, "n");
            call.args = StringList(json_safe::Member(msg, "a"));
            if (call.name.empty()) return;
            Enqueue([id, call, load] {
                HostWindow* w = FindWindow(id);
                if (!w || w->IsClosed() || !AcceptsUserEvents(w)) return;
                const ScriptPageHandlers* h = w->impl_->ScriptPageAt(call.frame_path, load);
                if (!h || !h->external) return;
                std::function<void(const ExternalCall&)> fn = h->external;
                fn(call);
            });
        }
    }

    static void OnLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer data) {
        auto* slot = static_cast<Slot*>(data);
        if (!slot->owner) return;
        Impl* impl = slot->owner->impl_.get();
        if (!impl->load_waiting) return;
        if (event == WEBKIT_LOAD_STARTED) impl->load_started = true;
        if (event == WEBKIT_LOAD_FINISHED && impl->load_started) {
            impl->load_done = true;
            TrimHeapWhenQuiet();
        }
    }

    static gboolean OnLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar*, GError* error, gpointer data) {
        auto* slot = static_cast<Slot*>(data);
        if (!slot->owner) return FALSE;
        Impl* impl = slot->owner->impl_.get();
        if (impl->load_waiting && impl->load_started &&
            !g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED))
            impl->load_failed = true;
        return FALSE;
    }

    static gboolean OnButtonPress(GtkWidget*, GdkEventButton* ev, gpointer data) {
        auto* slot = static_cast<Slot*>(data);
        HostWindow* w = slot->owner;
        if (!w || w->drag_band_ <= 0 || ev->type != GDK_BUTTON_PRESS || ev->button != 1) return FALSE;
        if (ev->y < 0 || ev->y >= w->drag_band_) return FALSE;
        ++w->drag_moves_started_;
        gtk_window_begin_move_drag(GTK_WINDOW(slot->window), static_cast<gint>(ev->button),
                                   static_cast<gint>(ev->x_root), static_cast<gint>(ev->y_root), ev->time);
        return TRUE;
    }

    static gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer data) {
        auto* slot = static_cast<Slot*>(data);
        HostWindow* w = slot->owner;
        if (!w) return TRUE;  // pooled: never destroyed by the user
        if (InOffUiWait()) {
            DeferClose(*w);
            return TRUE;
        }
        if (w->close_veto_ && w->close_veto_()) return TRUE;
        if (w->kind_ == WindowKind::Dialog) {
            w->EndDialog(0);
            return TRUE;
        }
        return FALSE;
    }

    // The close as the user asks for it: the veto, then a dialog ends with 0
    // and a top-level window is destroyed. False when vetoed.
    static bool CloseNow(HostWindow& w) {
        if (w.close_veto_ && w.close_veto_()) return false;
        if (w.closed_ || !w.impl_->slot || !w.impl_->slot->window) return true;  // gone meanwhile
        if (w.kind_ == WindowKind::Dialog) w.EndDialog(0);
        else gtk_widget_destroy(w.impl_->slot->window);
        return true;
    }

    // A close while the UI thread waits in WaitOffUi: the controllers of the
    // window may be waiting on the stack, and the veto is program code, which
    // does not run during the wait. The window hides now; the close runs
    // once the outermost wait has ended.
    static void DeferClose(HostWindow& w) {
        if (w.impl_->close_deferred) return;
        w.impl_->close_deferred = true;
        const bool was_visible = w.IsVisible();
        w.Hide();
        WindowId id = w.id();
        RunAfterOffUiWait([id, was_visible] {
            HostWindow* again = FindWindow(id);
            if (!again || again->IsClosed()) return;
            again->impl_->close_deferred = false;
            if (!CloseNow(*again) && was_visible) again->Show();
        });
    }

    static void OnDestroy(GtkWidget*, gpointer data) {
        auto* slot = static_cast<Slot*>(data);
        slot->window = nullptr;
        slot->view = nullptr;
        HostWindow* w = slot->owner;
        if (!w) return;
        w->closed_ = true;
        RegistryRemove(w);
        // A load waited for cannot finish any more.
        if (w->impl_->load_waiting) w->impl_->load_failed = w->impl_->load_done = true;
        if (w->impl_->modal && w->impl_->modal->loop) g_main_loop_quit(w->impl_->modal->loop);
        auto handler = std::move(w->destroy_handler_);
        if (handler) handler();
    }

    static void OnVisibility(GtkWidget*, gpointer data) {
        auto* slot = static_cast<Slot*>(data);
        HostWindow* w = slot->owner;
        if (!w) return;
        RegistryUpdate(w);
    }

    // The shared web process went away: every page is gone. Each window
    // reloads its page so that it stays usable; waits in progress end.
    static void OnWebProcessTerminated(WebKitWebView* view, WebKitWebProcessTerminationReason, gpointer data) {
        auto* slot = static_cast<Slot*>(data);
        if (!slot->owner) return;
        Impl* impl = slot->owner->impl_.get();
        impl->writes.clear();
        if (impl->load_waiting) {
            impl->load_failed = true;
            impl->load_done = true;
        }
        g_warning("web process ended; reloading %s", slot->owner->page_path_.c_str());
        webkit_web_view_reload(view);
    }

    static GtkWidget* OnCreate(WebKitWebView*, WebKitNavigationAction*, gpointer) { return nullptr; }

    // The program's pages stay in place: a navigation of the top document or
    // of any frame to an address that is not one of the program's own pages
    // is refused (a file dropped on the view, a script or link leading away,
    // a frame sent elsewhere), no new window opens, and nothing is downloaded.
    static gboolean OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                                   gpointer data) {
        auto* slot = static_cast<Slot*>(data);
        if (type == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION) {
            WebKitNavigationAction* action =
                webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
            WebKitURIRequest* request = action ? webkit_navigation_action_get_request(action) : nullptr;
            const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
            const std::string requested = slot->owner ? slot->owner->impl_->requested_uri : std::string();
            if (uri && NavigationAllowed(uri, requested)) webkit_policy_decision_use(decision);
            else webkit_policy_decision_ignore(decision);
            return TRUE;
        }
        if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE &&
            !webkit_response_policy_decision_is_mime_type_supported(WEBKIT_RESPONSE_POLICY_DECISION(decision))) {
            webkit_policy_decision_ignore(decision);
            return TRUE;
        }
        if (type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) {
            webkit_policy_decision_ignore(decision);
            return TRUE;
        }
        return FALSE;
    }

    // Drops onto a page are ignored: nothing dragged in from outside (a file,
    // a link, text) reaches the page or the view.
    static gboolean OnDragMotion(GtkWidget*, GdkDragContext* context, gint, gint, guint time, gpointer) {
        gdk_drag_status(context, static_cast<GdkDragAction>(0), time);
        return TRUE;
    }
    static gboolean OnDragDrop(GtkWidget*, GdkDragContext* context, gint, gint, guint time, gpointer) {
        gtk_drag_finish(context, FALSE, FALSE, time);
        return TRUE;
    }

    static gboolean OnContextMenu(WebKitWebView*, WebKitContextMenu*, GdkEvent*, WebKitHitTestResult*, gpointer) {
        return TRUE;
    }
};

// ---------------------------------------------------------------------------
// Slots.

namespace detail {

Slot* CreateSlot(bool dialog) {
    auto* slot = new Slot;
    slot->ucm = webkit_user_content_manager_new();
    webkit_user_content_manager_register_script_message_handler(slot->ucm, "vorta");
    std::string source = PageRuntimeScript();
    size_t at = source.find("@TOKEN@");
    if (at != std::string::npos) source.replace(at, 7, MessageToken());
    // Only the program's own pages get the runtime; a foreign page (a sign-in
    // site, a map provider's frame) cannot raise events or external calls.
    static const char* const kOwnPages[] = {"app://local/*", nullptr};
    WebKitUserScript* script = webkit_user_script_new(source.c_str(), WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
                                                      WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, kOwnPages, nullptr);
    webkit_user_content_manager_add_script(slot->ucm, script);
    webkit_user_script_unref(script);
    AddColorSchemeScript(slot->ucm);
    g_signal_connect(slot->ucm, "script-message-received::vorta", G_CALLBACK(HostWindow::Impl::OnScriptMessage), slot);

    WebKitSettings* settings = webkit_settings_new_with_settings(
        "default-charset", "utf-8", "enable-developer-extras", FALSE, "javascript-can-open-windows-automatically",
        FALSE, "enable-page-cache", FALSE, "enable-html5-database", FALSE, nullptr);
    // Every view after the first shares the first one's web process.
    GObject* obj =
        g_anchor && g_anchor->view
            ? static_cast<GObject*>(g_object_new(WEBKIT_TYPE_WEB_VIEW, "related-view", g_anchor->view,
                                                 "user-content-manager", slot->ucm, "settings", settings, nullptr))
            : static_cast<GObject*>(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", Context(), "user-content-manager",
                                                 slot->ucm, "settings", settings, nullptr));
    g_object_unref(settings);
    slot->view = WEBKIT_WEB_VIEW(obj);
    g_signal_connect(slot->view, "load-changed", G_CALLBACK(HostWindow::Impl::OnLoadChanged), slot);
    g_signal_connect(slot->view, "load-failed", G_CALLBACK(HostWindow::Impl::OnLoadFailed), slot);
    g_signal_connect(slot->view, "button-press-event", G_CALLBACK(HostWindow::Impl::OnButtonPress), slot);
    g_signal_connect(slot->view, "create", G_CALLBACK(HostWindow::Impl::OnCreate), slot);
    g_signal_connect(slot->view, "web-process-terminated", G_CALLBACK(HostWindow::Impl::OnWebProcessTerminated), slot);
    g_signal_connect(slot->view, "context-menu", G_CALLBACK(HostWindow::Impl::OnContextMenu), slot);
    g_signal_connect(slot->view, "decide-policy", G_CALLBACK(HostWindow::Impl::OnDecidePolicy), slot);
    gtk_drag_dest_unset(GTK_WIDGET(slot->view));
    g_signal_connect(slot->view, "drag-motion", G_CALLBACK(HostWindow::Impl::OnDragMotion), slot);
    g_signal_connect(slot->view, "drag-drop", G_CALLBACK(HostWindow::Impl::OnDragDrop), slot);

    slot->window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    if (dialog) {
        gtk_window_set_decorated(GTK_WINDOW(slot->window), FALSE);
        gtk_window_set_type_hint(GTK_WINDOW(slot->window), GDK_WINDOW_TYPE_HINT_DIALOG);
        gtk_window_set_skip_taskbar_hint(GTK_WINDOW(slot->window), TRUE);
    }
    gtk_container_add(GTK_CONTAINER(slot->window), GTK_WIDGET(slot->view));
    gtk_widget_show(GTK_WIDGET(slot->view));
    g_signal_connect(slot->window, "delete-event", G_CALLBACK(HostWindow::Impl::OnDelete), slot);
    g_signal_connect(slot->window, "destroy", G_CALLBACK(HostWindow::Impl::OnDestroy), slot);
    g_signal_connect(slot->window, "show", G_CALLBACK(HostWindow::Impl::OnVisibility), slot);
    g_signal_connect(slot->window, "hide", G_CALLBACK(HostWindow::Impl::OnVisibility), slot);
    g_slots.push_back(slot);
    return slot;
}

const std::vector<Slot*>& AllSlots() {
    return g_slots;
}

namespace {
void ForgetSlot(Slot* slot) {
    g_slots.erase(std::remove(g_slots.begin(), g_slots.end(), slot), g_slots.end());
}
}  // namespace

void DestroySlot(Slot* slot) {
    ForgetSlot(slot);
    slot->owner = nullptr;
    if (slot->window) gtk_widget_destroy(slot->window);
    if (slot->ucm) g_object_unref(slot->ucm);
    delete slot;
}

void PrewarmDialogSlot() {
    if (g_anchor) return;
    g_anchor = CreateSlot(true);
    // Starts the shared web process now, and lets its first page finish
    // before any other view joins the process: a related view's first load
    // racing this one could stall both.
    bool done = false;
    gulong handler = g_signal_connect(g_anchor->view, "load-changed",
                                      G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent ev, gpointer flag) {
                                          if (ev == WEBKIT_LOAD_FINISHED) *static_cast<bool*>(flag) = true;
                                      }),
                                      &done);
    gtk_widget_realize(g_anchor->window);
    webkit_web_view_load_html(g_anchor->view, "<!DOCTYPE html><html><body></body></html>", "app://local/");
    WaitFor(&done, kLoadTimeoutMs);
    g_signal_handler_disconnect(g_anchor->view, handler);
    g_pool.push_back(g_anchor);
}

Slot* AcquireDialogSlot() {
    if (!g_pool.empty()) {
        Slot* slot = g_pool.back();
        g_pool.pop_back();
        return slot;
    }
    return CreateSlot(true);
}

void ReleaseDialogSlot(Slot* slot) {
    slot->owner = nullptr;
    if (!slot->window) {  // destroyed behind our back
        ForgetSlot(slot);
        if (slot->ucm) g_object_unref(slot->ucm);
        delete slot;
        return;
    }
    gtk_widget_hide(slot->window);
    gtk_window_set_modal(GTK_WINDOW(slot->window), FALSE);
    gtk_window_set_transient_for(GTK_WINDOW(slot->window), nullptr);
    // Drops the old page (its timers and scripts) at once.
    webkit_web_view_load_html(slot->view, "<!DOCTYPE html><html><body></body></html>", "app://local/");
    if (slot == g_anchor || g_pool.size() < kSparePooledSlots) g_pool.push_back(slot);
    else DestroySlot(slot);
}

}  // namespace detail

// ---------------------------------------------------------------------------

void HostWindowAccess::DeliverEvent(HostWindow& w, const BehaviorEvent& ev) {
    if (w.event_handler_) w.event_handler_->OnBehaviorEvent(w, ev);
}
void HostWindowAccess::DeliverMessage(HostWindow& w, uint32_t msg, intptr_t wparam, intptr_t lparam) {
    if (w.message_handler_) w.message_handler_(msg, wparam, lparam);
}

HostWindow::HostWindow(const WindowOptions& options) : kind_(options.kind), impl_(new Impl) {
    id_ = NextWindowId();
    impl_->parent_id = options.parent ? options.parent->id() : 0;
    impl_->width = options.width > 0 ? options.width : 1;
    impl_->height = options.height > 0 ? options.height : 1;
    drag_band_ = kind_ == WindowKind::Dialog ? options.drag_band : 0;
    if (!EngineReady()) {
        closed_ = true;
        return;
    }
    impl_->slot = kind_ == WindowKind::Dialog ? AcquireDialogSlot() : CreateSlot(false);
    impl_->slot->owner = this;
    GtkWindow* win = GTK_WINDOW(impl_->slot->window);
    gtk_window_set_title(win, options.title.c_str());
    gtk_window_set_default_size(win, impl_->width, impl_->height);
    gtk_window_resize(win, impl_->width, impl_->height);
    RegistryAdd(this);
}

HostWindow::~HostWindow() {
    if (impl_->modal) {
        impl_->modal->alive = false;
        if (impl_->modal->loop) g_main_loop_quit(impl_->modal->loop);
        ModalPop(this);
    }
    Slot* slot = impl_->slot;
    impl_->slot = nullptr;
    RegistryRemove(this);
    destroy_handler_ = nullptr;
    if (!slot) return;
    slot->owner = nullptr;
    if (kind_ == WindowKind::Dialog) ReleaseDialogSlot(slot);
    else DestroySlot(slot);
}

bool HostWindow::LoadPage(const std::string& full_path) {
    if (closed_ || !impl_->slot) return false;
    page_path_ = full_path;
    RegistryUpdate(this);
    bool exists = g_file_test(full_path.c_str(), G_FILE_TEST_IS_REGULAR);
    bool loaded = impl_->LoadAndWait(PageUrl(full_path), true);
    return exists && loaded;
}

bool HostWindow::LoadUri(const std::string& uri) {
    if (closed_ || !impl_->slot) return false;
    page_path_.clear();
    RegistryUpdate(this);
    return impl_->LoadAndWait(uri, false);
}

std::string HostWindow::page_file() const {
    size_t slash = page_path_.rfind('/');
    return slash == std::string::npos ? page_path_ : page_path_.substr(slash + 1);
}

void HostWindow::Show() {
    if (closed_ || !impl_->slot || !impl_->slot->window) return;
    impl_->Flush();
    gtk_widget_show(impl_->slot->window);
    gtk_window_present(GTK_WINDOW(impl_->slot->window));
    NoteShown(this);
    RegistryUpdate(this);
}

void HostWindow::Hide() {
    if (closed_ || !impl_->slot || !impl_->slot->window) return;
    gtk_widget_hide(impl_->slot->window);
}

bool HostWindow::IsVisible() const {
    return !closed_ && impl_->slot && impl_->slot->window && gtk_widget_get_visible(impl_->slot->window);
}

void HostWindow::Resize(int width, int height) {
    impl_->width = width > 0 ? width : 1;
    impl_->height = height > 0 ? height : 1;
    if (closed_ || !impl_->slot || !impl_->slot->window) return;
    gtk_window_set_default_size(GTK_WINDOW(impl_->slot->window), impl_->width, impl_->height);
    gtk_window_resize(GTK_WINDOW(impl_->slot->window), impl_->width, impl_->height);
}

void detail::PlaceCentred(GtkWindow* win, int w, int h, GtkWindow* owner) {
    GdkDisplay* display = gtk_widget_get_display(GTK_WIDGET(win));
    GdkMonitor* monitor = nullptr;
    int x = 0, y = 0;
    bool placed = false;
    GdkWindow* ogdk = owner ? gtk_widget_get_window(GTK_WIDGET(owner)) : nullptr;
    const bool iconified = ogdk && (gdk_window_get_state(ogdk) & GDK_WINDOW_STATE_ICONIFIED);
    if (owner && !iconified) {
        int ox, oy, owid, ohei;
        gtk_window_get_position(owner, &ox, &oy);
        gtk_window_get_size(owner, &owid, &ohei);
        x = ox + (owid - w) / 2;
        y = oy + (ohei - h) / 2;
        placed = true;
        if (ogdk) monitor = gdk_display_get_monitor_at_window(display, ogdk);
    }
    if (!monitor) monitor = gdk_display_get_primary_monitor(display);
    if (!monitor && gdk_display_get_n_monitors(display) > 0) monitor = gdk_display_get_monitor(display, 0);
    GdkRectangle area{0, 0, w, h};
    if (monitor) gdk_monitor_get_workarea(monitor, &area);
    if (!placed) {
        x = area.x + (area.width - w) / 2;
        y = area.y + (area.height - h) / 2;
    }
    // Keep inside the work area: right and bottom edges first, left and top win.
    if (x + w > area.x + area.width) x = area.x + area.width - w;
    if (y + h > area.y + area.height) y = area.y + area.height - h;
    if (x < area.x) x = area.x;
    if (y < area.y) y = area.y;
    gtk_window_move(win, x, y);
}

void HostWindow::Center() {
    if (closed_ || !impl_->slot || !impl_->slot->window) return;
    HostWindow* parent = impl_->parent_id ? FindWindow(impl_->parent_id) : nullptr;
    GtkWindow* owner = parent && parent->IsVisible() ? GTK_WINDOW(parent->impl_->slot->window) : nullptr;
    detail::PlaceCentred(GTK_WINDOW(impl_->slot->window), impl_->width, impl_->height, owner);
}

void HostWindow::SetTitle(const std::string& title) {
    if (closed_ || !impl_->slot || !impl_->slot->window) return;
    gtk_window_set_title(GTK_WINDOW(impl_->slot->window), title.c_str());
}

int HostWindow::RunModal() {
    if (kind_ != WindowKind::Dialog || closed_ || modal_running_ || !impl_->slot || !impl_->slot->window) return -1;
    GtkWindow* win = GTK_WINDOW(impl_->slot->window);
    HostWindow* parent = impl_->parent_id ? FindWindow(impl_->parent_id) : ActiveWindow();
    if (parent == this) parent = nullptr;
    if (parent && !parent->impl_->slot) parent = nullptr;
    if (!impl_->parent_id && parent) impl_->parent_id = parent->id();
    gtk_window_set_transient_for(win, parent ? GTK_WINDOW(parent->impl_->slot->window) : nullptr);
    gtk_window_set_modal(win, TRUE);
    Center();

    auto state = std::make_shared<Impl::ModalState>();
    impl_->modal = state;
    state->loop = g_main_loop_new(nullptr, FALSE);
    modal_running_ = true;
    ModalPush(this, PeekNextWindowId());
    Show();
    g_main_loop_run(state->loop);
    g_main_loop_unref(state->loop);
    state->loop = nullptr;
    if (!state->alive) return state->result;  // the window object went away meanwhile

    ModalPop(this);
    impl_->modal.reset();
    modal_running_ = false;
    if (!closed_ && impl_->slot && impl_->slot->window) {
        gtk_widget_hide(impl_->slot->window);
        gtk_window_set_modal(win, FALSE);
    }
    RegistryUpdate(this);
    return state->result;
}

void HostWindow::EndDialog(int result) {
    if (impl_->modal && !impl_->modal->ended) {
        impl_->modal->ended = true;
        impl_->modal->result = result;
        if (impl_->modal->loop) g_main_loop_quit(impl_->modal->loop);
    }
    Hide();
}

void HostWindow::SetDragBand(int pixels) {
    drag_band_ = pixels > 0 ? pixels : 0;
}

void HostWindow::Close() {
    if (closed_ || !impl_->slot || !impl_->slot->window) return;
    if (InOffUiWait()) Impl::DeferClose(*this);
    else Impl::CloseNow(*this);
}

void HostWindow::PostMessage(uint32_t msg, intptr_t wparam, intptr_t lparam) {
    PostWindowMessage(id_, msg, wparam, lparam);
}

namespace {
bool IsPlainName(const std::string& name) {
    if (name.empty() || g_ascii_isdigit(name[0])) return false;
    for (char c : name)
        if (!g_ascii_isalnum(c) && c != '_') return false;
    return true;
}
uint64_t g_script_page_loads = 0;
}  // namespace

Element HostWindow::ShowScriptPage(const Element& holder, const std::string& url,
                                   const std::vector<std::string>& methods, ScriptPageHandlers handlers) {
    if (closed_ || holder.IsNull() || ElementAccess::IsRoot(holder) || holder.window() != id_) return {};
    if (url.compare(0, 12, "app://local/") != 0) return {};
    std::string names;
    for (const std::string& m : methods) {
        if (!IsPlainName(m)) continue;
        if (!names.empty()) names += ' ';
        names += m;
    }
    const std::string frame_id = holder.id() + "_page";
    std::vector<std::string> path = holder.frame_path();
    path.push_back(frame_id);
    const std::string load = std::to_string(++g_script_page_loads);
    impl_->script_pages[path] = Impl::ScriptPage{load, std::move(handlers)};
    detail::AttachScriptPage(holder, url, load, names);
    return holder.Find(frame_id);
}

void HostWindow::CloseScriptPage(const Element& holder) {
    if (holder.IsNull() || ElementAccess::IsRoot(holder) || holder.window() != id_) return;
    std::vector<std::string> path = holder.frame_path();
    path.push_back(holder.id() + "_page");
    if (impl_->script_pages.erase(path) == 0) return;
    holder.SetHtml("");
}

void HostWindow::FlushWrites() {
    impl_->Flush();
}

std::string HostWindow::Evaluate(const std::string& script) {
    if (closed_) return {};
    return impl_->Read(script);
}

namespace {
struct SnapState {
    bool done = false;
    bool ok = false;
    std::string path;
};
void SnapDone(GObject* source, GAsyncResult* res, gpointer data) {
    auto* holder = static_cast<std::shared_ptr<SnapState>*>(data);
    GError* err = nullptr;
    cairo_surface_t* surface = webkit_web_view_get_snapshot_finish(WEBKIT_WEB_VIEW(source), res, &err);
    if (surface) {
        (*holder)->ok = cairo_surface_write_to_png(surface, (*holder)->path.c_str()) == CAIRO_STATUS_SUCCESS;
        cairo_surface_destroy(surface);
    }
    if (err) g_error_free(err);
    (*holder)->done = true;
    delete holder;
}
}  // namespace

bool HostWindow::SnapshotPng(const std::string& path) {
    if (closed_ || !impl_->slot || !impl_->slot->view) return false;
    // A read first: the queued writes are sent and done before the picture.
    impl_->Read("1");
    if (!impl_->slot || !impl_->slot->view) return false;  // destroyed meanwhile
    auto state = std::make_shared<SnapState>();
    state->path = path;
    webkit_web_view_get_snapshot(impl_->slot->view, WEBKIT_SNAPSHOT_REGION_VISIBLE, WEBKIT_SNAPSHOT_OPTIONS_NONE,
                                 nullptr, SnapDone, new std::shared_ptr<SnapState>(state));
    WaitFor(&state->done, kSnapshotTimeoutMs);
    return state->done && state->ok;
}

GtkWidget* HostWindow::gtk_window() const {
    return impl_->slot ? impl_->slot->window : nullptr;
}
WebKitWebView* HostWindow::web_view() const {
    return impl_->slot ? impl_->slot->view : nullptr;
}

// Used by element.cpp.
namespace detail {
// Element operations belong to the UI thread; from elsewhere they would race
// the main loop, so they are refused (workers use PostToUi).
bool OnUiThread(const char* what) {
    if (IsUiThread()) return true;
    g_critical("ui_engine: %s called off the UI thread; ignored", what);
    return false;
}

void QueueWrite(WindowId id, std::string stmt) {
    if (!OnUiThread("element write")) return;
    HostWindow* w = FindWindow(id);
    if (!w || w->IsClosed()) return;
    HostWindowAccess::impl(*w)->Queue(std::move(stmt));
}
std::string ReadFrom(WindowId id, const std::string& js) {
    if (!OnUiThread("element read")) return {};
    HostWindow* w = FindWindow(id);
    if (!w || w->IsClosed()) return {};
    return HostWindowAccess::impl(*w)->Read(js);
}
// Every argument is JSON text made by JsString/JsStringArray, hence valid
// UTF-8 as GVariant strings require; the body never changes.
void CallScriptIn(WindowId id, const std::string& path_json, const std::string& id_json,
                  const std::string& function_json, const std::string& args_json) {
    if (!OnUiThread("script call")) return;
    HostWindow* w = FindWindow(id);
    if (!w || w->IsClosed()) return;
    HostWindow::Impl* impl = HostWindowAccess::impl(*w);
    if (!impl->slot || !impl->slot->view) return;
    impl->Flush();
    GVariantBuilder b;
    g_variant_builder_init(&b, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&b, "{sv}", "p", g_variant_new_string(path_json.c_str()));
    g_variant_builder_add(&b, "{sv}", "i", g_variant_new_string(id_json.c_str()));
    g_variant_builder_add(&b, "{sv}", "f", g_variant_new_string(function_json.c_str()));
    g_variant_builder_add(&b, "{sv}", "a", g_variant_new_string(args_json.c_str()));
    static const char kBody[] =
        "var R = window.__vorta;"
        "if (R) R.cs(JSON.parse(p), JSON.parse(i), JSON.parse(f), JSON.parse(a));"
        "return 0;";
    // The engine neither takes nor frees the arguments it is given: a
    // floating container passed straight in would stay for ever.
    GVariant* args = g_variant_ref_sink(g_variant_builder_end(&b));
    webkit_web_view_call_async_javascript_function(impl->slot->view, kBody, -1, args, nullptr, nullptr, nullptr,
                                                   nullptr, nullptr);
    g_variant_unref(args);
}
void AwaitScriptIn(WindowId id, const std::string& body, ScriptDone done) {
    HostWindow* w = OnUiThread("script wait") ? FindWindow(id) : nullptr;
    HostWindow::Impl* impl = w && !w->IsClosed() ? HostWindowAccess::impl(*w) : nullptr;
    if (!impl || !impl->slot || !impl->slot->view) return done(std::nullopt);
    impl->Flush();
    // The call always ends in its callback, also when the view goes away.
    webkit_web_view_call_async_javascript_function(
        impl->slot->view, body.c_str(), static_cast<gssize>(body.size()), nullptr, nullptr, nullptr, nullptr,
        [](GObject* source, GAsyncResult* res, gpointer data) {
            std::unique_ptr<ScriptDone> then(static_cast<ScriptDone*>(data));
            GError* err = nullptr;
            JSCValue* v = webkit_web_view_call_async_javascript_function_finish(WEBKIT_WEB_VIEW(source), res, &err);
            std::optional<std::string> text;
            if (v && !jsc_value_is_null(v) && !jsc_value_is_undefined(v)) text = JsValueText(v);
            if (v) g_object_unref(v);
            if (err) g_error_free(err);
            (*then)(std::move(text));
        },
        new ScriptDone(std::move(done)));
}
}  // namespace detail

}  // namespace ui
