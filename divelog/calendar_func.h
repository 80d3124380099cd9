// Calendar controller of the main page ("lastmon", "nextmon", "synclog", "date_cell_NN").
#pragma once

#include "app/func_base.h"

class CalendarFunc : public func_base {
public:
    void on_event(const ElementHandle& element, const EventParams& params) override;

    // Reload the shown month (after a language change).
    void reload();
};
