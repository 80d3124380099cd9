// The main window: "VORTA PC TOOL", 980 x 700 logical pixels on a first
// start, then the size, position and maximized state it was closed with,
// showing
// "main.htm" of the current language. It owns the seven controllers of the
// main page and hands every page event to all of them in order.
//
// Private messages:
//   2025, 2026, 2027  map page notifications -> DiveSiteFunc
//   2028              statistics reload      -> HistoryFunc
//   2029              settings changed (wParam = Settings dialog result):
//                     2 refreshes the unit-dependent figures, any other
//                     value reloads the page in the current language.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/frame.h"
#include "app/func_base.h"
#include "app/settings/window_placement.h"
#include "app/sys_menu_func.h"
#include "base/window_messages.h"
#include "divelog/calendar_func.h"
#include "divelog/dive_map_func.h"
#include "divelog/history_func.h"
#include "divesite/dive_site_func.h"
#include "sync/upload_func.h"
#include "update/update_func.h"

class main_frame : public app::frame {
public:
    ~main_frame() override;

    // Size of the window in device pixels (980 x 700 logical, scaled).
    static int initial_width();
    static int initial_height();

    // Smallest size the window opens with, in device pixels (800 x 560
    // logical, scaled), unless the screen is smaller.
    static int min_width();
    static int min_height();

    // Creates the window where it was last closed (see PlanPlacement; centred
    // on the work area on a first start), loads `page_path`
    // (binding the controllers once it has loaded) and shows the window.
    // Returns false when no window could be made.
    bool create(const std::string& page_path);

    void on_created() override;
    void on_document_loaded(const ElementHandle& root) override;
    bool handle_message(uint32_t msg, intptr_t wparam, intptr_t lparam) override;

    // The controllers in routing order (empty until the page first loaded).
    const std::vector<func_base*>& controllers() const { return controllers_; }

    SysMenuFunc& sys_menu() { return sys_menu_; }
    DiveMapFunc& dive_map() { return dive_map_; }
    DiveSiteFunc& dive_site() { return dive_site_; }
    UploadFunc& upload() { return upload_; }
    UpdateFunc& update() { return update_; }
    CalendarFunc& calendar() { return calendar_; }
    HistoryFunc& history() { return history_; }

    // Number of page loads of the main page so far (1 after start-up).
    int page_loads() const { return page_loads_; }

    // The window's last normal frame and maximized state as followed so far;
    // stored in the settings file when the object goes.
    const WindowPlacement& placement() const { return placement_; }
    // The window's signals report here: a new frame (kept only while the
    // window is neither maximized nor full screen), a new maximized state.
    void note_frame();
    void note_maximized(bool maximized);

protected:
    void OnBehaviorEvent(ui::HostWindow& window, const ui::BehaviorEvent& event) override;

private:
    void fill_user_panel();
    void fetch_picture();
    void settings_changed(intptr_t result);
    void restore_placement(const PlacementPlan& plan);

    // Constructed in this order; the list below holds them in the same order.
    SysMenuFunc sys_menu_;
    DiveMapFunc dive_map_;
    DiveSiteFunc dive_site_;
    UploadFunc upload_;
    UpdateFunc update_;
    CalendarFunc calendar_;
    HistoryFunc history_;
    std::vector<func_base*> controllers_;
    int page_loads_ = 0;
    WindowPlacement placement_;
    // The user panel's picture: the address it was fetched for, the data:
    // URL (or "") the page got, and the fetch running for it, whose result
    // reaches the UI thread only while this object lives.
    bool picture_fetching_ = false;
    std::string picture_path_;
    std::string picture_src_;
    std::thread picture_fetch_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

// The "src" for the user panel's picture: an https address as it is;
// anything else (a local path, another scheme, text with spaces or control
// characters) as "", which shows the default picture.
std::string ProfileImageSource(const std::string& path);

// The largest profile picture taken; a larger one shows the default picture.
constexpr std::size_t kMaxProfilePictureBytes = std::size_t(1) << 20;

// `bytes` as a data: URL of their picture type (PNG, JPEG, GIF or WebP, told
// by their first bytes), "" for anything else.
std::string ImageDataUrl(const std::string& bytes);

// The user panel's picture as the page gets it: the program fetches the
// address ProfileImageSource lets through with `fetch` (true with the bytes
// on success) and hands the page a data: URL, so that the page opens no
// connection of its own. "" (the default picture) for an address that is not
// let through, a failed fetch, more than kMaxProfilePictureBytes, or bytes
// that are no picture.
using PictureFetch = std::function<bool(const std::string& url, std::string& bytes)>;
std::string ProfilePictureUrl(const std::string& path, const PictureFetch& fetch);
