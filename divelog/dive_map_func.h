// Dive-log detail controller of the main page (ids "edit", "view").
#pragma once

#include "app/func_base.h"

class DiveMapFunc : public func_base {
public:
    void on_event(const ElementHandle& element, const EventParams& params) override;

    // The unit changed: reload the embedded chart page.
    void reload_chart();
    // The page was reloaded in another language: build the embedded browser page again.
    void rebuild_browser();
};
