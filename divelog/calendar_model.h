// The month calendar of the dive-log page without a window: the 42-cell grid
// (six weeks from a Sunday), the month summary the cloud sends for it, and
// the rows of one day's dive list.
#pragma once

#include <json/value.h>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vorta_divelog {

struct CivilDate {
    int year = 0, month = 0, day = 0;

    bool operator==(const CivilDate& o) const { return year == o.year && month == o.month && day == o.day; }
};

// Dates as automation dates: days since 30 December 1899, the fraction being
// the time of day (12:00 is .5).
double AutomationDate(int year, int month, int day);
CivilDate DateOfAutomation(double automation_date);
// Day of the week of an automation date, Sunday 0 ... Saturday 6.
int Weekday(double automation_date);

// The date as the number YYYYMMDD, the form the month summary keys days by.
int DateNumber(const CivilDate& date);

// "%.4d-%.2d": the shown month's title.
std::string MonthTitle(int year, int month);
// Id of grid cell `index`: "date_cell_00" ... "date_cell_41".
std::string CellId(int index);
// The index of a grid cell's id; nothing for any other id.
std::optional<int> CellIndexOfId(const std::string& id);

// The shown month and its grid. Changing the month computes the grid's first
// day at once; the cells' dates follow only with RefreshCells (after the
// month's summary has arrived), so a failed load leaves them as they were.
class CalendarModel {
public:
    static constexpr int kCells = 42;

    // Shows `month` of `year` (month outside 1..12 is brought into range).
    void SetMonth(int year, int month);
    void PreviousMonth();  // January goes to December of the year before
    void NextMonth();      // December goes to January of the next year

    int year() const { return year_; }
    int month() const { return month_; }
    // 12:00 of the first cell's date, a Sunday. When the 1st of the month is
    // a Sunday the grid starts a week earlier, so its first row always holds
    // at least one day of the month before.
    double first_day() const { return first_day_; }

    // Recomputes every cell's date from first_day.
    void RefreshCells();
    const CivilDate& cell(int index) const { return cells_.at(static_cast<size_t>(index)); }

private:
    int year_ = 1970, month_ = 1;
    double first_day_ = 0;
    std::array<CivilDate, kCells> cells_{};
};

// One day of the month summary.
struct DaySummary {
    int date = 0;  // YYYYMMDD
    int scuba_count = 0;
    int free_count = 0;
};

// "month_summary" of a calendar month answer's "response": "year_month_date"
// text read as the leading decimal integer, the two counts as integers. A
// missing list, or values of another type, read as empty or 0.
std::vector<DaySummary> ParseMonthSummary(const Json::Value& response);

// Whether the first record for `date` counts at least one dive.
bool DayHasDives(const std::vector<DaySummary>& summary, int date);

// The class a cell shows: "date_td_in_dive_day btnctrl" on a day with dives
// (the cell then acts as a button), "date_td" on another day of the shown
// month, "date_td_in_month" on a day of the months around it.
const char* CellClass(const CivilDate& cell, int shown_month, bool has_dives);

// One row of a day's dive list, as texts.
struct DayListRow {
    std::string divelog_id;
    std::string date_title;  // local "MM-DD hh:mm"
    std::string dive_type;   // localised label
    std::string image;       // list image of the dive type
    std::string depth;       // maximum depth in the user's unit
    std::string depth_unit;
    std::string time;  // duration
};

// "divelogs" of a calendar date answer's "response", in order. `unit` is the
// unit setting; `lang` looks up the dive type's label key.
std::vector<DayListRow> ParseDayList(const Json::Value& response, int32_t unit,
                                     const std::function<std::string(const std::string&)>& lang);

// The row markup: `row_template` (the page's "dive_log_cell.htm") with the
// row's values put into its elements by id - "objid" of "edit" and "view",
// "src" of "image", and the text of "date_title", "dive_type", "depth",
// "depth_unit" and "time". Every value is escaped for HTML; elements the
// template lacks are skipped, everything else of it is kept as it is.
std::string FillDayListRow(const std::string& row_template, const DayListRow& row);

}  // namespace vorta_divelog
