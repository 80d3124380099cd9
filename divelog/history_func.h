// Statistics controller of the main page ("odo_type").
#pragma once

#include "app/func_base.h"

class HistoryFunc : public func_base {
public:
    void on_event(const ElementHandle& element, const EventParams& params) override;

    // Reload the figures (message 2028, and after a settings change).
    void reload();
};
