#include "app/main_frame.h"

#include <glib.h>

#include "base/app_state.h"
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

main_frame::~main_frame() {
    for (func_base* controller : controllers_) controller->on_release();
}

int main_frame::initial_width() {
    return ScaleX(980);
}
int main_frame::initial_height() {
    return ScaleY(700);
}

bool main_frame::create(const std::string& page_path) {
    ui::WindowOptions options;
    options.kind = ui::WindowKind::TopLevel;
    options.title = "VORTA PC TOOL";
    options.width = initial_width();
    options.height = initial_height();
    if (!create_window(options)) return false;
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
        for (func_base* controller : controllers_) controller->on_init(id());
    }
    fill_user_panel();
}

void main_frame::fill_user_panel() {
    namespace logs = pages::dive_log_page;
    const char* const frame = pages::main::framepage1;
    ui::FindInFrame(id(), frame, logs::thumbnails).SetAttribute("src", ProfileImageSource(AppState.profile_image_path));
    ui::FindInFrame(id(), frame, logs::display).SetText(AppState.user_name);
    ui::FindInFrame(id(), frame, logs::email).SetText(AppState.email);
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
