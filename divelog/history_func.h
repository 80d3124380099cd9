// Statistics controller of the dive-log page: the scuba and freedive totals
// ("scuba_total_dive", ... "free_max_depth_unit"), loaded when the page is
// bound, on kMsgStatisticsReload and on a page reload; "odo_type" shows the
// kept figures again without asking the cloud.
#pragma once

#include "app/func_base.h"
#include "divelog/statistics.h"

class HistoryFunc : public func_base {
public:
    // Loads and shows the figures.
    void on_init(WindowHandle window) override;
    void on_event(const ElementHandle& element, const EventParams& params) override;

    // Loads and shows again (message 2028, a settings change, a page reload).
    void reload();

    const vorta_divelog::Statistics& statistics() const { return stats_; }

private:
    // Asks the cloud; on a failure the figures stay as they were.
    void Load();
    // Writes the kept figures in the current unit.
    void Show();

    vorta_divelog::Statistics stats_;
};
