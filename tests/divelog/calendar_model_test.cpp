// The month grid, the month summary and the day list rows.
#include <gtest/gtest.h>

#include <ctime>

#include "base/json_safe.h"
#include "divelog/calendar_model.h"

using namespace vorta_divelog;

namespace {

Json::Value Parsed(const std::string& text) {
    Json::Value v;
    EXPECT_TRUE(json_safe::Parse(text, v)) << text;
    return v;
}

std::string Lang(const std::string& key) {
    return "<" + key + ">";
}

// Days since 1970 of a civil date, by the C library's calendar.
long DaysSinceEpoch(const CivilDate& d) {
    std::tm t{};
    t.tm_year = d.year - 1900;
    t.tm_mon = d.month - 1;
    t.tm_mday = d.day;
    t.tm_hour = 12;
    return static_cast<long>(timegm(&t) / 86400);
}

}  // namespace

TEST(CalendarModel, AutomationDatesAndWeekdays) {
    struct Case {
        CivilDate date;
        double automation;
        int weekday;
    } cases[] = {
        {{1899, 12, 30}, 0, 6},   {{1899, 12, 31}, 1, 0},    {{1900, 3, 1}, 61, 4},
        {{2024, 3, 1}, 45352, 5}, {{2024, 2, 29}, 45351, 4}, {{1800, 1, 1}, -36522, 3},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(AutomationDate(c.date.year, c.date.month, c.date.day), c.automation) << c.automation;
        EXPECT_EQ(DateOfAutomation(c.automation + 0.5), c.date) << c.automation;
        EXPECT_EQ(Weekday(c.automation + 0.5), c.weekday) << c.automation;
    }
}

TEST(CalendarModel, GridStartsOnASundayWithADayOfTheMonthBefore) {
    struct Case {
        int year, month;
        CivilDate first, last;
    } cases[] = {
        // 1 March 2024 is a Friday.
        {2024, 3, {2024, 2, 25}, {2024, 4, 6}},
        // 1 September 2024 is a Sunday: a whole week of August comes first.
        {2024, 9, {2024, 8, 25}, {2024, 10, 5}},
        // 1 February 2026 is a Sunday and the month has exactly four weeks.
        {2026, 2, {2026, 1, 25}, {2026, 3, 7}},
        // 1 January 2028 is a Saturday.
        {2028, 1, {2027, 12, 26}, {2028, 2, 5}},
    };
    for (const auto& c : cases) {
        CalendarModel m;
        m.SetMonth(c.year, c.month);
        m.RefreshCells();
        EXPECT_EQ(Weekday(m.first_day()), 0) << c.year << "-" << c.month;
        EXPECT_EQ(m.cell(0), c.first) << c.year << "-" << c.month;
        EXPECT_EQ(m.cell(41), c.last) << c.year << "-" << c.month;
        for (int i = 1; i < CalendarModel::kCells; ++i)
            EXPECT_EQ(DaysSinceEpoch(m.cell(i)), DaysSinceEpoch(m.cell(i - 1)) + 1) << i;
    }
}

TEST(CalendarModel, MonthStepsWrapTheYearAndCellsFollowOnlyOnRefresh) {
    CalendarModel m;
    m.SetMonth(2024, 1);
    m.RefreshCells();
    const CivilDate january_first_cell = m.cell(0);
    m.PreviousMonth();
    EXPECT_EQ(m.year(), 2023);
    EXPECT_EQ(m.month(), 12);
    EXPECT_EQ(MonthTitle(m.year(), m.month()), "2023-12");
    // A load that fails leaves the grid as it was.
    EXPECT_EQ(m.cell(0), january_first_cell);
    m.NextMonth();
    EXPECT_EQ(MonthTitle(m.year(), m.month()), "2024-01");
    m.SetMonth(2024, 14);
    EXPECT_EQ(MonthTitle(m.year(), m.month()), "2025-02");
    m.SetMonth(2024, 0);
    EXPECT_EQ(MonthTitle(m.year(), m.month()), "2023-12");
}

TEST(CalendarModel, CellIds) {
    EXPECT_EQ(CellId(0), "date_cell_00");
    EXPECT_EQ(CellId(41), "date_cell_41");
    struct Case {
        const char* id;
        int index;  // -1: not a cell
    } cases[] = {{"date_cell_00", 0},   {"date_cell_07", 7}, {"date_cell_41", 41},
                 {"date_cell_42", -1},  {"date_cell_7", -1}, {"date_cell_x1", -1},
                 {"date_cell_001", -1}, {"lastmon", -1},     {"", -1}};
    for (const auto& c : cases) EXPECT_EQ(CellIndexOfId(c.id).value_or(-1), c.index) << c.id;
}

TEST(CalendarModel, SummaryMarksDaysWithDives) {
    const Json::Value response = Parsed(R"({"month_summary": [
        {"year_month_date": "20240305", "scuba_count": 2, "free_count": 0},
        {"year_month_date": "20240306", "scuba_count": 0, "free_count": 0},
        {"year_month_date": "20240307", "scuba_count": 0, "free_count": 1},
        {"year_month_date": "20240308", "scuba_count": 0, "free_count": 0},
        {"year_month_date": "20240308", "scuba_count": 1, "free_count": 0},
        {"year_month_date": "20240401xyz", "scuba_count": 1, "free_count": 0},
        {"year_month_date": 20240309, "scuba_count": "3", "free_count": null},
        {"year_month_date": "20240310", "scuba_count": 2147483647, "free_count": 1},
        "not an object"]})");
    const std::vector<DaySummary> summary = ParseMonthSummary(response);
    ASSERT_EQ(summary.size(), 9u);
    EXPECT_TRUE(DayHasDives(summary, 20240305));
    EXPECT_FALSE(DayHasDives(summary, 20240306));  // counts of 0 and 0
    EXPECT_TRUE(DayHasDives(summary, 20240307));
    EXPECT_FALSE(DayHasDives(summary, 20240308));  // the first record of a day counts
    EXPECT_TRUE(DayHasDives(summary, 20240401));   // the date stops at the first non-digit
    EXPECT_FALSE(DayHasDives(summary, 20240309));  // not text: no date, counts of the wrong type are 0
    EXPECT_TRUE(DayHasDives(summary, 20240310));   // counts that would overflow an int when added
    EXPECT_FALSE(DayHasDives(summary, 20240311));

    EXPECT_TRUE(ParseMonthSummary(Parsed("{}")).empty());
    EXPECT_TRUE(ParseMonthSummary(Parsed(R"({"month_summary": {"a": 1}})")).empty());
    EXPECT_TRUE(ParseMonthSummary(Json::Value()).empty());

    const CivilDate march5{2024, 3, 5}, april1{2024, 4, 1};
    EXPECT_STREQ(CellClass(march5, 3, true), "date_td_in_dive_day btnctrl");
    EXPECT_STREQ(CellClass(april1, 3, true), "date_td_in_dive_day btnctrl");
    EXPECT_STREQ(CellClass(march5, 3, false), "date_td");
    EXPECT_STREQ(CellClass(april1, 3, false), "date_td_in_month");
}

TEST(CalendarModel, DayListRowsInBothUnits) {
    const Json::Value response = Parsed(R"({"divelogs": [
        {"divelog_id": "100042", "dive_datetime": 1709600400, "timezone": -480, "dive_type": "scuba",
         "max_depth": "30.0", "dive_duration": 3725},
        {"divelog_id": "100043", "dive_datetime": 1709600400, "timezone": 300, "dive_type": "free",
         "max_depth": "12.36", "dive_duration": 725},
        {"divelog_id": 7, "dive_datetime": "1709600400", "dive_type": "freedive", "max_depth": 30,
         "dive_duration": 921600},
        {"divelog_id": "100044", "dive_datetime": 4102444800, "timezone": 0, "dive_type": "gauge",
         "max_depth": "5", "dive_duration": 59}]})");
    struct Row {
        const char *id, *date, *type, *image, *metric, *imperial, *time;
    } expected[] = {
        {"100042", "03-05 09:00", "<SCUBA>", "../images/scuba.png", "30.0", "98.4", "01:02"},
        {"100043", "03-04 20:00", "<FREEDIVE>", "../images/freedive.png", "12.4", "40.6", "12'05"},
        // Values of the wrong type read as empty or 0; 256 hours keep their hours.
        {"", "01-01 00:00", "<SCUBA>", "../images/scuba.png", "0.0", "0.0", "256:00"},
        // After 2038: the time needs more than 32 bits.
        {"100044", "01-01 00:00", "<GAUGE>", "../images/gauge.png", "5.0", "16.4", "00'59"},
    };
    const std::vector<DayListRow> metric = ParseDayList(response, 0, Lang);
    const std::vector<DayListRow> imperial = ParseDayList(response, 1, Lang);
    ASSERT_EQ(metric.size(), 4u);
    ASSERT_EQ(imperial.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        const Row& e = expected[i];
        EXPECT_EQ(metric[i].divelog_id, e.id) << i;
        EXPECT_EQ(metric[i].date_title, e.date) << i;
        EXPECT_EQ(metric[i].dive_type, e.type) << i;
        EXPECT_EQ(metric[i].image, e.image) << i;
        EXPECT_EQ(metric[i].depth, e.metric) << i;
        EXPECT_EQ(metric[i].depth_unit, "m") << i;
        EXPECT_EQ(imperial[i].depth, e.imperial) << i;
        EXPECT_EQ(imperial[i].depth_unit, "ft") << i;
        EXPECT_EQ(metric[i].time, e.time) << i;
    }
    EXPECT_TRUE(ParseDayList(Parsed(R"({"divelogs": null})"), 0, Lang).empty());
}

TEST(CalendarModel, RowTemplateGetsTheValuesEscaped) {
    const std::string row_template =
        "<div class=\"log_row\"><img id=\"image\" class=\"log_icon\" src=\"../images/scuba.png\" alt=\"\">"
        "<div><div id=\"date_title\" class=\"log_date\"></div><div id=\"dive_type\"></div></div>"
        "<span><b id=\"depth\">0</b> <span id=\"depth_unit\" class=\"unit\"></span></span>"
        "<span id=\"cell_depth_text\">Max depth</span><b id=\"time\"></b>"
        "<button id=\"view\" class=\"mini\" title=\"a > b\"><i class=\"ico\"></i>View</button>"
        "<button id=\"edit\" objid=\"old\">Edit</button></div>";
    DayListRow row;
    row.divelog_id = "1\"><script>x</script>";
    row.date_title = "03-05 09:00";
    row.dive_type = "Free & <easy>";
    row.image = "../images/freedive.png";
    row.depth = "30.0";
    row.depth_unit = "m";
    row.time = "12'05";
    const std::string html = FillDayListRow(row_template, row);
    const std::string id = "1&quot;&gt;&lt;script&gt;x&lt;/script&gt;";
    EXPECT_EQ(html,
              "<div class=\"log_row\"><img id=\"image\" class=\"log_icon\" src=\"../images/freedive.png\" alt=\"\">"
              "<div><div id=\"date_title\" class=\"log_date\">03-05 09:00</div>"
              "<div id=\"dive_type\">Free &amp; &lt;easy&gt;</div></div>"
              "<span><b id=\"depth\">30.0</b> <span id=\"depth_unit\" class=\"unit\">m</span></span>"
              "<span id=\"cell_depth_text\">Max depth</span><b id=\"time\">12&#39;05</b>"
              "<button id=\"view\" class=\"mini\" title=\"a > b\" objid=\"" +
                  id +
                  "\"><i class=\"ico\"></i>View</button>"
                  "<button id=\"edit\" objid=\"" +
                  id + "\">Edit</button></div>");
    // A template without some of the elements keeps what it has.
    EXPECT_EQ(FillDayListRow("<p><i id=\"time\"></i></p>", row), "<p><i id=\"time\">12&#39;05</i></p>");
    EXPECT_EQ(FillDayListRow("<p>no ids</p>", row), "<p>no ids</p>");
}
