// Dive-site controller of the main page (the "dive_site_*" ids; code 5 on "dive_site_type").
#pragma once

#include "app/func_base.h"

class DiveSiteFunc : public func_base {
public:
    void on_event(const ElementHandle& element, const EventParams& params) override;

    // Map page notifications (messages 2025, 2026, 2027); the pair they refer
    // to is in the map-event record.
    void on_map_mouse_position();
    void on_map_center();
    void on_map_marker_dragged();
    // The page was reloaded in another language: build the embedded browser page again.
    void rebuild_browser();
};
