#include "app/main_frame.h"

#include <glib.h>
#include <gtk/gtk.h>

#include "app/settings/settings_store.h"
#include "base/app_state.h"
#include "cloud/http_post.h"
#include "ui_engine/ui_engine.h"
#include "base/paths.h"
#include "browser/map_event_state.h"
#include "pages/page_manifest.h"

std::string ProfileImageSource(const std::string& path) {
    // The value comes from the cloud: only a picture on the network, over
    // https, is shown. Anything else (a path on this machine, another scheme,
    // a data: URL) would let the cloud choose what the page loads from here,
    // so it shows the default picture.
    static const std::string kScheme = "https://";
    if (path.size() <= kScheme.size()) return std::string();
    for (std::size_t i = 0; i < kScheme.size(); ++i)
        if (g_ascii_tolower(path[i]) != kScheme[i]) return std::string();
    const char host = path[kScheme.size()];
    if (host == '/' || host == '?' || host == '#') return std::string();
    for (unsigned char c : path)
        if (c <= 0x20 || c == 0x7F) return std::string();
    return path;
}

std::string ImageDataUrl(const std::string& bytes) {
    // The type from the picture's own first bytes, not from what the server
    // says it is: only these picture formats become a data: URL.
    auto starts = [&bytes](const char* magic, std::size_t size, std::size_t at = 0) {
        return bytes.size() >= at + size && bytes.compare(at, size, magic, size) == 0;
    };
    const char* type = nullptr;
    if (starts("\x89PNG\r\n\x1a\n", 8)) type = "image/png";
    else if (starts("\xff\xd8\xff", 3)) type = "image/jpeg";
    else if (starts("GIF87a", 6) || starts("GIF89a", 6)) type = "image/gif";
    else if (starts("RIFF", 4) && starts("WEBP", 4, 8)) type = "image/webp";
    if (type == nullptr) return std::string();
    gchar* encoded = g_base64_encode(reinterpret_cast<const guchar*>(bytes.data()), bytes.size());
    std::string url = std::string("data:") + type + ";base64," + encoded;
    g_free(encoded);
    return url;
}

std::string ProfilePictureUrl(const std::string& path, const PictureFetch& fetch) {
    const std::string address = ProfileImageSource(path);
    if (address.empty() || !fetch) return std::string();
    std::string bytes;
    if (!fetch(address, bytes) || bytes.size() > kMaxProfilePictureBytes) return std::string();
    return ImageDataUrl(bytes);
}

namespace {

// The picture over https only (redirects too), no larger than
// kMaxProfilePictureBytes, without waiting long for a slow server. Runs on
// the fetch thread: the page shows the default picture meanwhile.
bool FetchPicture(const std::string& url, std::string& bytes) {
    HttpOptions options = HttpOptions::FromConfig();
    options.https_only = true;
    options.max_download_bytes = kMaxProfilePictureBytes;
    options.total_timeout_ms = 15000;
    options.stall_seconds = 10;
    return download_to_memory(url, bytes, options) == DownloadResult::kOk;
}

// The monitors' work areas, the primary monitor's first.
std::vector<ScreenRect> WorkAreas() {
    std::vector<ScreenRect> areas;
    GdkDisplay* display = gdk_display_get_default();
    if (display == nullptr) return areas;
    GdkMonitor* primary = gdk_display_get_primary_monitor(display);
    auto add = [&areas](GdkMonitor* monitor) {
        GdkRectangle r;
        gdk_monitor_get_workarea(monitor, &r);
        areas.push_back(ScreenRect{r.x, r.y, r.width, r.height});
    };
    if (primary != nullptr) add(primary);
    for (int i = 0; i < gdk_display_get_n_monitors(display); ++i) {
        GdkMonitor* monitor = gdk_display_get_monitor(display, i);
        if (monitor != nullptr && monitor != primary) add(monitor);
    }
    return areas;
}

gboolean OnConfigure(GtkWidget*, GdkEvent*, gpointer self) {
    static_cast<main_frame*>(self)->note_frame();
    return FALSE;
}

gboolean OnWindowState(GtkWidget*, GdkEventWindowState* event, gpointer self) {
    if (event->changed_mask & GDK_WINDOW_STATE_MAXIMIZED)
        static_cast<main_frame*>(self)->note_maximized((event->new_window_state & GDK_WINDOW_STATE_MAXIMIZED) != 0);
    return FALSE;
}

}  // namespace

main_frame::~main_frame() {
    if (picture_fetch_.joinable()) picture_fetch_.join();
    for (func_base* controller : controllers_) controller->on_release();
    if (host() && host()->gtk_window()) g_signal_handlers_disconnect_by_data(host()->gtk_window(), this);
    if (placement_.known) SaveWindowPlacement(placement_);
}

int main_frame::initial_width() {
    return ScaleX(980);
}
int main_frame::initial_height() {
    return ScaleY(700);
}
int main_frame::min_width() {
    return ScaleX(800);
}
int main_frame::min_height() {
    return ScaleY(560);
}

void main_frame::restore_placement(const PlacementPlan& plan) {
    GtkWidget* widget = host() ? host()->gtk_window() : nullptr;
    if (widget == nullptr) return;
    GtkWindow* window = GTK_WINDOW(widget);
    if (!plan.center) gtk_window_move(window, plan.x, plan.y);
    int x = 0, y = 0;
    gtk_window_get_position(window, &x, &y);
    placement_ = CheckedPlacement(x, y, plan.width, plan.height, plan.maximized);
    if (plan.maximized) gtk_window_maximize(window);
    g_signal_connect(widget, "configure-event", G_CALLBACK(OnConfigure), this);
    g_signal_connect(widget, "window-state-event", G_CALLBACK(OnWindowState), this);
}

void main_frame::note_frame() {
    GtkWidget* widget = host() ? host()->gtk_window() : nullptr;
    if (widget == nullptr) return;
    GdkWindow* gdk_window = gtk_widget_get_window(widget);
    constexpr int kNotNormal = GDK_WINDOW_STATE_MAXIMIZED | GDK_WINDOW_STATE_FULLSCREEN | GDK_WINDOW_STATE_TILED;
    if (gdk_window == nullptr || (gdk_window_get_state(gdk_window) & kNotNormal) != 0) return;
    int x = 0, y = 0, width = 0, height = 0;
    gtk_window_get_position(GTK_WINDOW(widget), &x, &y);
    gtk_window_get_size(GTK_WINDOW(widget), &width, &height);
    const WindowPlacement seen = CheckedPlacement(x, y, width, height, placement_.maximized);
    if (seen.known) placement_ = seen;
}

void main_frame::note_maximized(bool maximized) {
    placement_.maximized = maximized;
}

bool main_frame::create(const std::string& page_path) {
    const PlacementPlan plan =
        PlanPlacement(LoadWindowPlacement(), WorkAreas(), initial_width(), initial_height(), min_width(), min_height());
    ui::WindowOptions options;
    options.kind = ui::WindowKind::TopLevel;
    options.title = "VORTA PC TOOL";
    options.width = plan.width;
    options.height = plan.height;
    if (!create_window(options)) return false;
    restore_placement(plan);
    // The map pages' events go to the main window unless a dialog with a map
    // takes them for its life.
    MapEventState.target = id();
    load_page(page_path);
    // Without a page (e.g. a missing "main.htm") the window still shows,
    // blank and without bound controllers.
    host()->Show();
    return true;
}

void main_frame::on_created() {
    host()->Center();
}

void main_frame::on_document_loaded(const ElementHandle&) {
    ++page_loads_;
    if (controllers_.empty()) {
        controllers_ = {&sys_menu_, &dive_map_, &dive_site_, &upload_, &update_, &calendar_, &history_};
        dive_map_.set_calendar(&calendar_.model());
        for (func_base* controller : controllers_) controller->on_init(id());
    }
    fill_user_panel();
}

void main_frame::fill_user_panel() {
    namespace logs = pages::dive_log_page;
    const char* const frame = pages::main::framepage1;
    // Fetched once per address (the page is loaded again on a change of
    // settings), off the UI thread: the panel shows the default picture
    // until the fetch ends, however slow the picture's server is.
    if (picture_path_ != AppState.profile_image_path) fetch_picture();
    ui::FindInFrame(id(), frame, logs::thumbnails).SetAttribute("src", picture_src_);
    ui::FindInFrame(id(), frame, logs::display).SetText(AppState.user_name);
    ui::FindInFrame(id(), frame, logs::email).SetText(AppState.email);
}

void main_frame::fetch_picture() {
    if (picture_fetching_) return;  // its end looks at the address again
    picture_path_ = AppState.profile_image_path;
    picture_src_.clear();
    if (ProfileImageSource(picture_path_).empty()) return;
    if (picture_fetch_.joinable()) picture_fetch_.join();  // ended: its result was posted
    picture_fetching_ = true;
    std::weak_ptr<int> alive = alive_;
    picture_fetch_ = std::thread([this, alive, path = picture_path_] {
        std::string src = ProfilePictureUrl(path, FetchPicture);
        ui::PostToUi([this, alive, path, src = std::move(src)] {
            if (alive.expired()) return;
            picture_fetching_ = false;
            if (path != AppState.profile_image_path) {
                fetch_picture();  // the account changed meanwhile
            } else {
                picture_src_ = src;
            }
            ui::FindInFrame(id(), pages::main::framepage1, pages::dive_log_page::thumbnails)
                .SetAttribute("src", picture_src_);
        });
    });
}

void main_frame::OnBehaviorEvent(ui::HostWindow& window, const ui::BehaviorEvent& event) {
    RouteToControllers(controllers_, ui::Element::Root(window.id()), event);
}

bool main_frame::handle_message(uint32_t msg, intptr_t wparam, intptr_t lparam) {
    (void)lparam;
    switch (msg) {
        case kMsgMapMousePosition: dive_site_.on_map_mouse_position(); break;
        case kMsgMapCenter: dive_site_.on_map_center(); break;
        case kMsgMapMarkerDragged: dive_site_.on_map_marker_dragged(); break;
        case kMsgStatisticsReload: history_.reload(); break;
        case kMsgSettingsChanged: settings_changed(wparam); break;
        default: break;
    }
    return false;
}

void main_frame::settings_changed(intptr_t result) {
    if (result == 2) {
        // Only the unit changed: refresh what shows measured values.
        history_.reload();
        ui::FindInFrame(id(), pages::main::framepage1, pages::dive_log_page::cell_tbody).SetHtml("");
        dive_map_.reload_chart();
        return;
    }
    UpdatePageDir();
    if (!host() || !host()->LoadPage(PagePath(pages::main::kFile))) return;
    ++page_loads_;
    dive_map_.rebuild_browser();
    dive_site_.rebuild_browser();
    history_.reload();
    calendar_.reload();
    fill_user_panel();
}
