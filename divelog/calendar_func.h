// Calendar controller of the dive-log page (frame "framepage1" of the main
// page): the month grid ("date_cell_00" ... "date_cell_41" inside
// "calendar"), "lastmon", "nextmon", the day list in "cell_tbody", and
// "synclog", which a finished sync clicks: the month reloads and the main
// window is asked to reload the statistics (kMsgStatisticsReload).
#pragma once

#include <json/value.h>

#include <array>
#include <string>
#include <vector>

#include "app/func_base.h"
#include "app/progress_dlg.h"
#include "divelog/calendar_model.h"

class CalendarFunc : public func_base {
public:
    // Binds the grid and loads this month.
    void on_init(WindowHandle window) override;
    void on_event(const ElementHandle& element, const EventParams& params) override;

    // The main page was loaded again: bind the new grid, back to this month.
    void reload();

    const vorta_divelog::CalendarModel& model() const { return model_; }

private:
    void Bind();
    void LoadMonth();
    void LoadDayList(int cell_index);
    // Draw an answer (stored or fresh) of the month summary and the day list.
    void ShowMonth(const Json::Value& response);
    void ShowDayList(const Json::Value& response);
    void ShowMessage(const std::string& key) const;
    // "offline_save": every month with dives and every dive log not yet
    // stored, under the progress dialog (Cancel between requests).
    void SaveForOffline();

    ProgressDlg progress_;

    vorta_divelog::CalendarModel model_;
    std::vector<vorta_divelog::DaySummary> summary_;
    std::array<ElementHandle, vorta_divelog::CalendarModel::kCells> cells_;
};
