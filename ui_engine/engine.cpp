// Process set-up, the "app" URI scheme, the UI dispatch queue, the window
// registry, DPI and the waits that run a blocking call off the UI thread.
#include <gtk/gtk.h>
#include <malloc.h>
#include <libsoup/soup.h>
#include <webkit2/webkit2.h>

#include <atomic>
#include <climits>
#include <cstdlib>
#include <deque>
#include <exception>
#include <iterator>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "base/app_state.h"
#include "base/dpi.h"
#include "ui_engine/engine_internal.h"
#include "ui_engine/engine_settings.h"
#include "ui_engine/malloc_tuning.h"
#include "ui_engine/ui_engine.h"

namespace ui {
namespace detail {
namespace {

bool g_ready = false;
std::string g_served_dir;   // as given
std::string g_served_real;  // realpath of it
std::thread::id g_ui_thread;
WebKitWebContext* g_context = nullptr;

// ---------------------------------------------------------------- "app" scheme

std::string ExtensionOf(const std::string& path) {
    size_t slash = path.rfind('/');
    size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string ext = path.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(g_ascii_tolower(c));
    return ext;
}

const char* MimeOf(const std::string& ext) {
    if (ext == "htm" || ext == "html") return "text/html";
    if (ext == "css") return "text/css";
    if (ext == "js" || ext == "mjs") return "text/javascript";
    if (ext == "json") return "application/json";
    if (ext == "png") return "image/png";
    if (ext == "svg") return "image/svg+xml";
    if (ext == "jpg" || ext == "jpeg") return "image/jpeg";
    if (ext == "gif") return "image/gif";
    if (ext == "ico") return "image/x-icon";
    if (ext == "webp") return "image/webp";
    if (ext == "woff") return "font/woff";
    if (ext == "woff2") return "font/woff2";
    if (ext == "ttf") return "font/ttf";
    if (ext == "txt") return "text/plain";
    if (ext == "xml") return "application/xml";
    return "application/octet-stream";
}

void FinishNotFound(WebKitURISchemeRequest* request) {
    GError* err = g_error_new_literal(G_IO_ERROR, G_IO_ERROR_NOT_FOUND, "not found");
    webkit_uri_scheme_request_finish_error(request, err);
    g_error_free(err);
}

void FinishBytes(WebKitURISchemeRequest* request, gchar* data, gsize size, const char* mime) {
    GInputStream* stream = g_memory_input_stream_new_from_data(data, static_cast<gssize>(size), g_free);
    WebKitURISchemeResponse* response = webkit_uri_scheme_response_new(stream, static_cast<gint64>(size));
    webkit_uri_scheme_response_set_status(response, 200, "OK");
    webkit_uri_scheme_response_set_content_type(response, mime);
    // The type also as a header, so that page scripts fetching files see it.
    SoupMessageHeaders* headers = soup_message_headers_new(SOUP_MESSAGE_HEADERS_RESPONSE);
    soup_message_headers_replace(headers, "Content-Type", mime);
    webkit_uri_scheme_response_set_http_headers(response, headers);  // takes the headers
    webkit_uri_scheme_request_finish_with_response(request, response);
    g_object_unref(response);
    g_object_unref(stream);
}

// app://local/<path>: files under the served folder only. A missing page is
// served as an empty page so that its window stays up; anything else missing,
// or any path leaving the folder, is "not found".
void ServeApp(WebKitURISchemeRequest* request, gpointer) {
    const char* uri = webkit_uri_scheme_request_get_uri(request);
    const char* raw_path = webkit_uri_scheme_request_get_path(request);
    if (!uri || !raw_path || !g_str_has_prefix(uri, "app://local/")) return FinishNotFound(request);
    char* decoded = g_uri_unescape_string(raw_path, nullptr);  // NULL when it would hold a NUL
    if (!decoded) return FinishNotFound(request);
    std::string rel = decoded;
    g_free(decoded);
    std::string ext = ExtensionOf(rel);
    bool is_page = ext == "htm" || ext == "html";

    std::string full = g_served_real + "/" + (rel.empty() || rel[0] != '/' ? rel : rel.substr(1));
    char real[PATH_MAX];
    bool inside = realpath(full.c_str(), real) != nullptr &&
                  std::string(real).compare(0, g_served_real.size() + 1, g_served_real + "/") == 0 &&
                  g_file_test(real, G_FILE_TEST_IS_REGULAR);
    gchar* data = nullptr;
    gsize size = 0;
    if (inside && g_file_get_contents(real, &data, &size, nullptr)) {
        return FinishBytes(request, data, size, MimeOf(ext));
    }
    if (is_page) {
        static const char kEmpty[] = "<!DOCTYPE html><html><head><meta charset=\"utf-8\"></head><body></body></html>";
        return FinishBytes(request, g_strdup(kEmpty), sizeof(kEmpty) - 1, "text/html");
    }
    FinishNotFound(request);
}

// ---------------------------------------------------------------- dispatch

struct Work {
    std::function<void()> fn;
    bool during_off_ui_wait;
};
std::mutex g_queue_mu;
std::deque<Work> g_queue;
bool g_drain_scheduled = false;  // guarded by g_queue_mu
int g_wait_depth = 0;            // UI thread only: synchronous reads in progress
int g_off_ui_depth = 0;          // UI thread only: WaitOffUi calls in progress

gboolean DrainOne(gpointer) {
    std::function<void()> fn;
    {
        std::lock_guard<std::mutex> lock(g_queue_mu);
        auto it = g_queue.begin();
        if (g_wait_depth > 0) {
            it = g_queue.end();  // EndWait schedules again
        } else if (g_off_ui_depth > 0) {
            while (it != g_queue.end() && !it->during_off_ui_wait) ++it;
        }
        if (it == g_queue.end()) {
            g_drain_scheduled = false;
            return G_SOURCE_REMOVE;
        }
        fn = std::move(it->fn);
        g_queue.erase(it);
    }
    // The source may be dispatched again from a nested loop inside fn (a modal
    // dialog), so later items still run while this one waits.
    fn();
    return G_SOURCE_CONTINUE;
}

// Caller holds g_queue_mu.
void ScheduleDrainLocked() {
    if (g_drain_scheduled) return;
    g_drain_scheduled = true;
    GSource* src = g_idle_source_new();
    g_source_set_priority(src, G_PRIORITY_DEFAULT_IDLE);
    g_source_set_can_recurse(src, TRUE);
    g_source_set_callback(src, DrainOne, nullptr, nullptr);
    g_source_attach(src, g_main_context_default());
    g_source_unref(src);
}

// ---------------------------------------------------------------- registry

struct RegEntry {
    HostWindow* window;
    WindowInfo info;
    uint64_t shown_serial = 0;
};
std::mutex g_reg_mu;
std::vector<RegEntry> g_reg;
uint64_t g_shown_serial = 0;
WindowId g_next_id = 1;                                 // UI thread only
std::vector<std::pair<HostWindow*, WindowId>> g_modal;  // UI thread only

}  // namespace

WebKitWebContext* Context() {
    return g_context;
}

void Enqueue(std::function<void()> fn, bool during_off_ui_wait) {
    std::lock_guard<std::mutex> lock(g_queue_mu);
    g_queue.push_back(Work{std::move(fn), during_off_ui_wait});
    ScheduleDrainLocked();
}

void BeginWait() {
    ++g_wait_depth;
}
void EndWait() {
    if (--g_wait_depth > 0) return;
    std::lock_guard<std::mutex> lock(g_queue_mu);
    if (!g_queue.empty()) ScheduleDrainLocked();
}

// ---------------------------------------------------------------- waits off the UI thread

namespace {

std::deque<std::function<void()>> g_after_off_ui_wait;  // UI thread only

// The busy cursor on every window of the program while a wait lasts. The web
// view sets the page's cursor on its own GDK window whenever the pointer moves
// over the page; that is put back to busy at once.
struct BusyCursor {
    GdkCursor* cursor = nullptr;
    struct Saved {
        GdkWindow* window;    // referenced
        GdkCursor* previous;  // referenced or nullptr
    };
    std::vector<Saved> saved;

    static void OnCursorChanged(GObject* object, GParamSpec*, gpointer data) {
        auto* cursor = static_cast<GdkCursor*>(data);
        GdkWindow* window = GDK_WINDOW(object);
        if (gdk_window_get_cursor(window) != cursor) gdk_window_set_cursor(window, cursor);
    }

    void Cover(GdkWindow* window) {
        if (!window || gdk_window_is_destroyed(window)) return;
        for (const Saved& s : saved)
            if (s.window == window) return;
        GdkCursor* previous = gdk_window_get_cursor(window);
        saved.push_back(
            Saved{GDK_WINDOW(g_object_ref(window)), previous ? GDK_CURSOR(g_object_ref(previous)) : nullptr});
        gdk_window_set_cursor(window, cursor);
        g_signal_connect(window, "notify::cursor", G_CALLBACK(OnCursorChanged), cursor);
    }

    void Show(const std::vector<HostWindow*>& windows) {
        GdkDisplay* display = gdk_display_get_default();
        if (!display) return;
        cursor = gdk_cursor_new_for_display(display, GDK_WATCH);
        for (HostWindow* w : windows) {
            if (GtkWidget* top = w->gtk_window()) Cover(gtk_widget_get_window(top));
            if (WebKitWebView* view = w->web_view()) Cover(gtk_widget_get_window(GTK_WIDGET(view)));
        }
    }

    void Restore() {
        for (const Saved& s : saved) {
            g_signal_handlers_disconnect_by_func(s.window, reinterpret_cast<gpointer>(OnCursorChanged), cursor);
            if (!gdk_window_is_destroyed(s.window)) gdk_window_set_cursor(s.window, s.previous);
            if (s.previous) g_object_unref(s.previous);
            g_object_unref(s.window);
        }
        saved.clear();
        if (cursor) g_object_unref(cursor);
        cursor = nullptr;
    }
};
BusyCursor g_busy;

std::vector<HostWindow*> LiveWindows();

}  // namespace

bool InOffUiWait() {
    return g_off_ui_depth > 0;
}

void RunAfterOffUiWait(std::function<void()> fn) {
    g_after_off_ui_wait.push_back(std::move(fn));
}

void RunOffUi(const std::function<void()>& work) {
    struct Shared {
        std::atomic<bool> done{false};
        std::exception_ptr error;
    };
    auto shared = std::make_shared<Shared>();
    auto run = [&work, shared] {
        try {
            work();
        } catch (...) {
            shared->error = std::current_exception();
        }
    };
    std::thread worker;
    try {
        worker = std::thread([run, shared] {
            run();
            shared->done = true;
            g_main_context_wakeup(nullptr);
        });
    } catch (const std::system_error&) {
        run();  // no thread to be had: the call blocks here, as it would have
        if (shared->error) std::rethrow_exception(shared->error);
        return;
    }
    if (g_off_ui_depth++ == 0) g_busy.Show(LiveWindows());
    while (!shared->done) g_main_context_iteration(nullptr, TRUE);
    worker.join();
    if (--g_off_ui_depth == 0) {
        g_busy.Restore();
        TrimHeapWhenQuiet();
        // Closes asked for meanwhile; each may wait again and add more.
        while (g_off_ui_depth == 0 && !g_after_off_ui_wait.empty()) {
            std::function<void()> fn = std::move(g_after_off_ui_wait.front());
            g_after_off_ui_wait.pop_front();
            fn();
        }
        std::lock_guard<std::mutex> lock(g_queue_mu);
        if (!g_queue.empty()) ScheduleDrainLocked();
    }
    if (shared->error) std::rethrow_exception(shared->error);
}

namespace {
constexpr guint kQuietBeforeTrimMs = 1500;
guint g_trim_timer = 0;  // UI thread only

gboolean TrimHeap(gpointer) {
    g_trim_timer = 0;
    malloc_trim(0);
    return G_SOURCE_REMOVE;
}
}  // namespace

void TrimHeapWhenQuiet() {
    if (g_trim_timer) g_source_remove(g_trim_timer);
    g_trim_timer = g_timeout_add(kQuietBeforeTrimMs, TrimHeap, nullptr);
}

int PendingHeapTrims() {
    return g_trim_timer ? 1 : 0;
}

namespace {
std::vector<HostWindow*> LiveWindows() {
    std::lock_guard<std::mutex> lock(g_reg_mu);
    std::vector<HostWindow*> out;
    for (const auto& e : g_reg) out.push_back(e.window);
    return out;
}
}  // namespace

WindowId NextWindowId() {
    return g_next_id++;
}
WindowId PeekNextWindowId() {
    return g_next_id;
}

void RegistryAdd(HostWindow* w) {
    std::lock_guard<std::mutex> lock(g_reg_mu);
    RegEntry e{w, WindowInfo{}, 0};
    e.info.id = w->id();
    g_reg.push_back(e);
}

void RegistryRemove(HostWindow* w) {
    std::lock_guard<std::mutex> lock(g_reg_mu);
    for (auto it = g_reg.begin(); it != g_reg.end(); ++it) {
        if (it->window == w) {
            g_reg.erase(it);
            break;
        }
    }
}

void RegistryUpdate(const HostWindow* w) {
    std::string page_file = w->page_file();
    bool modal = w->IsModalRunning();
    bool visible = w->IsVisible();
    std::lock_guard<std::mutex> lock(g_reg_mu);
    for (auto& e : g_reg) {
        if (e.window != w) continue;
        e.info.page_path = w->page_path();
        e.info.page_file = page_file;
        e.info.modal = modal;
        e.info.visible = visible;
    }
}

void NoteShown(const HostWindow* w) {
    std::lock_guard<std::mutex> lock(g_reg_mu);
    for (auto& e : g_reg)
        if (e.window == w) e.shown_serial = ++g_shown_serial;
}

void ModalPush(HostWindow* w, WindowId epoch) {
    g_modal.emplace_back(w, epoch);
}
void ModalPop(HostWindow* w) {
    for (auto it = g_modal.rbegin(); it != g_modal.rend(); ++it) {
        if (it->first == w) {
            g_modal.erase(std::next(it).base());
            return;
        }
    }
}

}  // namespace detail

namespace {

// The grab widgets of blocks that have ended, kept realized for the next
// ones: making one means a round trip to the display server, about 1 ms
// each way, on the path of every run that starts under a delayed dialog.
// Nested blocks each take one of their own, since GTK keeps one grab per
// widget.
std::vector<GtkWidget*>& SpareGrabs() {
    static std::vector<GtkWidget*> spare;
    return spare;
}

}  // namespace

InputBlock::InputBlock() {
    // An entry without a window: the windows made before it take no events.
    detail::ModalPush(nullptr, detail::PeekNextWindowId());
    if (!gdk_display_get_default()) return;
    std::vector<GtkWidget*>& spare = SpareGrabs();
    if (!spare.empty()) {
        grab_ = spare.back();
        spare.pop_back();
    } else {
        // GTK sends the pointer and the keys of every window of the group to
        // the widget holding the grab; this one is never shown, so they go
        // nowhere. A window that grabs later (a modal dialog) takes them
        // while it runs.
        grab_ = gtk_window_new(GTK_WINDOW_POPUP);
        g_object_ref_sink(grab_);
        // Realized (never mapped): GTK tells the pointer's windows of the
        // grab through the grabbing widget's own GDK window.
        gtk_widget_realize(grab_);
    }
    gtk_grab_add(grab_);
}

InputBlock::~InputBlock() {
    if (grab_) {
        gtk_grab_remove(grab_);
        SpareGrabs().push_back(grab_);
    }
    detail::ModalPop(nullptr);
}

namespace detail {

bool AcceptsUserEvents(const HostWindow* w) {
    if (g_modal.empty()) return true;
    const auto& top = g_modal.back();
    return top.first == w || w->id() >= top.second;
}

// ---------------------------------------------------------------- text

std::string JsString(const std::string& text) {
    static const char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    auto u = [&](unsigned cp) {
        out += "\\u";
        out += hex[(cp >> 12) & 15];
        out += hex[(cp >> 8) & 15];
        out += hex[(cp >> 4) & 15];
        out += hex[cp & 15];
    };
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    size_t n = text.size();
    for (size_t i = 0; i < n;) {
        unsigned c = s[i];
        if (c < 0x80) {
            if (c == '"') out += "\\\"";
            else if (c == '\\') out += "\\\\";
            else if (c < 0x20 || c == 0x7f || c == '<' || c == '>' || c == '&') u(c);
            else out += static_cast<char>(c);
            ++i;
            continue;
        }
        // Multi-byte UTF-8: validate, then copy or replace.
        size_t len = 0;
        unsigned cp = 0, min = 0;
        if ((c & 0xe0) == 0xc0) {
            len = 2;
            cp = c & 0x1f;
            min = 0x80;
        } else if ((c & 0xf0) == 0xe0) {
            len = 3;
            cp = c & 0x0f;
            min = 0x800;
        } else if ((c & 0xf8) == 0xf0) {
            len = 4;
            cp = c & 0x07;
            min = 0x10000;
        }
        bool ok = len != 0 && i + len <= n;
        for (size_t k = 1; ok && k < len; ++k) {
            if ((s[i + k] & 0xc0) != 0x80) ok = false;
            else cp = (cp << 6) | (s[i + k] & 0x3f);
        }
        if (ok && (cp < min || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff))) ok = false;
        if (!ok) {
            u(0xfffd);
            ++i;
            continue;
        }
        if (cp == 0x2028 || cp == 0x2029) u(cp);
        else out.append(text, i, len);
        i += len;
    }
    out += '"';
    return out;
}

std::string JsStringArray(const std::vector<std::string>& items) {
    std::string out = "[";
    for (size_t i = 0; i < items.size(); ++i) {
        if (i) out += ',';
        out += JsString(items[i]);
    }
    out += ']';
    return out;
}

std::string PercentEncodePath(const std::string& path) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        if (g_ascii_isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

const std::string& MessageToken() {
    static const std::string token = [] {
        unsigned char bytes[16] = {};
        gsize got = 0;
        GError* err = nullptr;
        GFile* f = g_file_new_for_path("/dev/urandom");
        GFileInputStream* in = g_file_read(f, nullptr, &err);
        if (in) {
            g_input_stream_read_all(G_INPUT_STREAM(in), bytes, sizeof bytes, &got, nullptr, nullptr);
            g_object_unref(in);
        }
        if (err) g_error_free(err);
        g_object_unref(f);
        if (got != sizeof bytes) {  // no /dev/urandom: still unguessable by a page in practice
            for (auto& b : bytes) b = static_cast<unsigned char>(g_random_int());
        }
        static const char hex[] = "0123456789abcdef";
        std::string t;
        for (unsigned char b : bytes) {
            t += hex[b >> 4];
            t += hex[b & 15];
        }
        return t;
    }();
    return token;
}

bool IsOwnPageUrl(const std::string& uri) {
    static const char kPrefix[] = "app://local/";
    return uri.compare(0, sizeof kPrefix - 1, kPrefix) == 0;
}

bool NavigationAllowed(const std::string& uri, const std::string& requested) {
    if (IsOwnPageUrl(uri)) return true;
    // A foreign page the host itself asked for (HostWindow::LoadUri), and only
    // that address: its own links and redirects lead nowhere.
    return !requested.empty() && uri == requested;
}

void PrewarmDialogSlot();  // host_window.cpp

}  // namespace detail

using namespace detail;

namespace {
// Whether any monitor has a desktop scale above 1 (GDK_SCALE or the
// desktop's own setting).
bool DesktopScaled() {
    GdkDisplay* display = gdk_display_get_default();
    const int n = display ? gdk_display_get_n_monitors(display) : 0;
    for (int i = 0; i < n; ++i) {
        GdkMonitor* mon = gdk_display_get_monitor(display, i);
        if (mon && gdk_monitor_get_scale_factor(mon) > 1) return true;
    }
    return false;
}
}  // namespace

bool InitEngine(const std::string& program_dir) {
    if (g_ready) return true;
    TuneMalloc();
    SetEngineEnvironment();
    if (!gtk_init_check(nullptr, nullptr)) return false;
    // On a scaled desktop a named render device that cannot be opened makes
    // WebKit lay its pages out in device pixels at twice the pixel ratio: a
    // 980-pixel window got a 1958-pixel page drawn at half size. There the
    // UI process looks for its device (and loads the GL driver) instead. No
    // WebKit object exists yet, so the value is read after this.
    if (!DesktopScaled()) setenv("WEBKIT_WEB_RENDER_DEVICE_FILE", "/nonexistent", 0);
    g_ui_thread = std::this_thread::get_id();

    g_served_dir = program_dir;
    while (g_served_dir.size() > 1 && g_served_dir.back() == '/') g_served_dir.pop_back();
    char real[PATH_MAX];
    g_served_real = realpath(g_served_dir.c_str(), real) ? std::string(real) : g_served_dir;

    g_context = NewEngineContext();
    webkit_web_context_register_uri_scheme(g_context, "app", ServeApp, nullptr, nullptr);
    // Page scripts read navigator.language (the chart library formats numbers
    // with it). Under the C or POSIX locale (also C.UTF-8) WebKit would report "C", which is
    // no language tag and makes the Intl functions throw: such a process's
    // pages get "en-US" instead.
    const char* const* names = g_get_language_names();
    std::string first = names && names[0] ? names[0] : "C";
    first = first.substr(0, first.find_first_of(".@"));
    if (first == "C" || first == "POSIX") {
        static const char* const kFallback[] = {"en-US", nullptr};
        webkit_web_context_set_preferred_languages(g_context, kFallback);
    }
    WebKitSecurityManager* sm = webkit_web_context_get_security_manager(g_context);
    webkit_security_manager_register_uri_scheme_as_secure(sm, "app");
    webkit_security_manager_register_uri_scheme_as_cors_enabled(sm, "app");

    g_ready = true;
    PrewarmDialogSlot();
    return true;
}

bool EngineReady() {
    return g_ready;
}

GtkWidget* NewEngineWebView() {
    if (!g_context) return nullptr;
    return GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", g_context, nullptr));
}

std::string PageUrl(const std::string& full_path) {
    if (!g_served_dir.empty()) {
        for (const std::string& base : {g_served_dir, g_served_real}) {
            if (full_path.size() > base.size() + 1 && full_path.compare(0, base.size(), base) == 0 &&
                full_path[base.size()] == '/') {
                return "app://local/" + PercentEncodePath(full_path.substr(base.size() + 1));
            }
        }
    }
    return "file://" + PercentEncodePath(full_path);
}

bool IsUiThread() {
    return g_ready && std::this_thread::get_id() == g_ui_thread;
}

void PostToUi(std::function<void()> fn) {
    if (fn) Enqueue(std::move(fn));
}

void PostWindowMessage(WindowId id, uint32_t msg, intptr_t wparam, intptr_t lparam) {
    Enqueue([id, msg, wparam, lparam] {
        HostWindow* w = FindWindow(id);
        if (w && !w->IsClosed()) HostWindowAccess::DeliverMessage(*w, msg, wparam, lparam);
    });
}

namespace {
gboolean SetFlag(gpointer data) {
    *static_cast<bool*>(data) = true;
    return G_SOURCE_REMOVE;
}
}  // namespace

bool RunLoopUntil(const std::function<bool()>& done, int timeout_ms) {
    bool expired = false;
    guint timer = timeout_ms >= 0 ? g_timeout_add(static_cast<guint>(timeout_ms), SetFlag, &expired) : 0;
    while (!done() && !expired) g_main_context_iteration(nullptr, TRUE);
    if (timer && !expired) g_source_remove(timer);
    return done();
}

ScreenResolution ScreenDpi() {
    double dpi_x = 0, dpi_y = 0;
    GdkScreen* screen = gdk_screen_get_default();
    double res = screen ? gdk_screen_get_resolution(screen) : -1.0;
    GdkDisplay* display = gdk_display_get_default();
    GdkMonitor* mon = display ? gdk_display_get_primary_monitor(display) : nullptr;
    if (!mon && display && gdk_display_get_n_monitors(display) > 0) mon = gdk_display_get_monitor(display, 0);
    if (mon) {
        // The geometry is in application pixels, the unit windows are sized
        // in; the desktop scale (gdk_monitor_get_scale_factor) is applied by
        // GTK and WebKit after the program's own scaling, so it stays out.
        GdkRectangle geo;
        gdk_monitor_get_geometry(mon, &geo);
        dpi_x = MonitorDpi(geo.width, gdk_monitor_get_width_mm(mon));
        dpi_y = MonitorDpi(geo.height, gdk_monitor_get_height_mm(mon));
        if (dpi_x <= 0 || dpi_y <= 0) dpi_x = dpi_y = 0;
    }
    // An explicit font resolution (Xft.dpi) is what the desktop asks for; the
    // monitor's size in millimetres comes next.
    if (res > 0) dpi_x = dpi_y = res;
    return ScreenResolution{dpi_x, dpi_y};
}

std::vector<WindowInfo> ListWindows() {
    std::lock_guard<std::mutex> lock(g_reg_mu);
    std::vector<WindowInfo> out;
    for (const auto& e : g_reg) out.push_back(e.info);
    return out;
}

HostWindow* FindWindow(WindowId id) {
    std::lock_guard<std::mutex> lock(g_reg_mu);
    for (const auto& e : g_reg)
        if (e.info.id == id) return e.window;
    return nullptr;
}

HostWindow* ActiveWindow() {
    // An input block's entry has no window: the modal dialog under it, if any.
    for (auto it = g_modal.rbegin(); it != g_modal.rend(); ++it)
        if (it->first) return it->first;
    std::lock_guard<std::mutex> lock(g_reg_mu);
    HostWindow* best = nullptr;
    uint64_t serial = 0;
    for (const auto& e : g_reg) {
        if (e.info.visible && e.shown_serial >= serial) {
            best = e.window;
            serial = e.shown_serial;
        }
    }
    return best;
}

}  // namespace ui
