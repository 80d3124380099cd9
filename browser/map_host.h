// The host of a map or chart script page ("web_html/maps.htm",
// "web_html/main.htm") inside a page element "ie": the page is shown in an
// <iframe> in that element, through the same app scheme as the program's
// pages; its script calls window.external.on_*_event(...), which reach
// WebEvent (and so MapEventState and the window in MapEventState.target).
//
// Each owner (dive-site page, dive-log detail, dive-log edit dialog) holds
// one MapHost for its life. The page's window.external has exactly the
// methods of the host's WebEvent; their messages go to MapEventState.target.
// When the configuration names online map tiles (map_tile_url), the page gets
// their address as its query "tiles". UI thread only.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/ui_types.h"
#include "browser/map_script.h"

class MapHost : public vorta_browser::MapScriptSink {
public:
    MapHost();
    ~MapHost() override;
    MapHost(const MapHost&) = delete;
    MapHost& operator=(const MapHost&) = delete;

    // Shows `script_page` (relative to the language folder, e.g.
    // "web_html/maps.htm") in the element "ie" of `window`'s page, or of the
    // document of its frame element `frame_id` when that is not empty.
    // Attaching again (a page reload) moves the host to the new element and
    // loads the page again. False when the element is missing.
    bool Attach(WindowHandle window, const std::string& frame_id, const std::string& script_page);

    // Loads `script_page` again (or another page of the language folder) in
    // the attached element; calls are skipped until it is ready again.
    void Navigate(const std::string& script_page);

    // Removes the page from its element (the edit dialog closing).
    void Detach();

    // True once the script page has run its scripts (calls made before are
    // skipped, not kept); false again from Navigate, Attach or Detach until
    // the new page is ready, and when the page goes away.
    bool ready() const;
    // Attached to a window (until Detach), ready or not.
    bool attached() const;

    // Called with true when the page has become ready and with false when a
    // ready page goes away by itself; not for Attach, Navigate and Detach,
    // after which the host is not ready until it is told so again.
    void SetReadyListener(std::function<void(bool ready)> listener);

    // Calls the page's global function; skipped when the page is not loaded
    // or does not define it.
    void InvokeScript(const std::string& function, const std::vector<std::string>& args) override;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
