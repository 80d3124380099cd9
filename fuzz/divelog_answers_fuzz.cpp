// The dive-log pages' cloud answers, each read through the call that fetches
// it: the month summary (0), a day's dive list (1), the statistics (2), one
// dive log as the detail page shows it (3) and as the edit dialog fills it
// and writes it back (4). The first byte picks the answer, the second the
// unit setting; the rest is the answer's body.
#include "base/json_safe.h"
#include "cloud/cloud_api.h"
#include "divelog/calendar_model.h"
#include "divelog/dive_log_edit.h"
#include "divelog/dive_values.h"
#include "divelog/divelog_cloud.h"
#include "divelog/statistics.h"
#include "divelog/value_format.h"
#include "fuzz/answer_cloud.h"
#include "fuzz/fuzz_input.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

using namespace vorta_divelog;
using json_safe::Member;

namespace {

// The page's row fragment ("dive_log_cell.htm").
const char kRowTemplate[] =
    "<div class=\"log_row\"><img id=\"image\" class=\"log_icon\" src=\"../images/scuba.png\" alt=\"\">"
    "<div class=\"log_main\"><div id=\"date_title\" class=\"log_date\"></div><div id=\"dive_type\" "
    "class=\"log_type\"></div></div><div class=\"log_fig\"><span><b id=\"depth\"></b> <span id=\"depth_unit\" "
    "class=\"unit\"></span></span><span id=\"cell_depth_text\" class=\"log_label\">{{max_depth}}</span></div>"
    "<div class=\"log_fig\"><b id=\"time\"></b><span class=\"log_label\">{{dive_time}}</span></div>"
    "<div class=\"log_btns\"><button id=\"view\" class=\"mini primary\"><i class=\"ico ico-eye\"></i>{{view}}"
    "</button><button id=\"edit\" class=\"mini\"><i class=\"ico ico-pencil\"></i>{{edit}}</button></div></div>";

std::string Lang(const std::string& key) {
    return key;
}

size_t CountOf(const std::string& s, char c) {
    return static_cast<size_t>(std::count(s.begin(), s.end(), c));
}

class RecordingPage : public vorta_browser::MapScriptSink {
public:
    void InvokeScript(const std::string& function, const std::vector<std::string>& args) override {
        calls.push_back({function, args});
    }
    std::vector<vorta_browser::MapScriptCall> calls;
};

// The answer is judged by its envelope alone, and only a success carries a
// response.
void CheckAnswer(const CloudAnswer& answer, const std::string& body) {
    const EnvelopeResult result = check_envelope(body);
    FUZZ_CHECK((answer.status == CloudAnswer::Status::kOk) == (result == EnvelopeResult::Success));
    FUZZ_CHECK(answer.status != CloudAnswer::Status::kNoSession);
    FUZZ_CHECK(answer.message_key == EnvelopeMessageKey(result));
    if (answer.status != CloudAnswer::Status::kOk) FUZZ_CHECK(answer.response.isNull());
}

void MonthSummary(const Json::Value& response) {
    const std::vector<DaySummary> summary = ParseMonthSummary(response);
    FUZZ_CHECK(summary.size() == json_safe::Size(Member(response, "month_summary")));
    CalendarModel model;
    model.SetMonth(2024, 2);
    model.RefreshCells();
    for (int i = 0; i < CalendarModel::kCells; ++i) {
        const CivilDate& date = model.cell(i);
        const bool dives = DayHasDives(summary, DateNumber(date));
        if (dives)
            FUZZ_CHECK(std::any_of(summary.begin(), summary.end(),
                                   [&](const DaySummary& d) { return d.date == DateNumber(date); }));
        FUZZ_CHECK(CellClass(date, model.month(), dives) != nullptr);
    }
}

void DayList(const Json::Value& response, int32_t unit) {
    const std::vector<DayListRow> rows = ParseDayList(response, unit, Lang);
    FUZZ_CHECK(rows.size() == json_safe::Size(Member(response, "divelogs")));
    // The markup of a row of plain values.
    const std::string plain = FillDayListRow(kRowTemplate, DayListRow{"1", "2", "3", "4", "5", "6", "7"});
    for (const DayListRow& row : rows) {
        FUZZ_CHECK(row.depth_unit == DepthUnit(unit));
        FUZZ_CHECK(!row.image.empty());
        // The cloud's texts go into the row as text: no markup of their own.
        const std::string html = FillDayListRow(kRowTemplate, row);
        FUZZ_CHECK(CountOf(html, '<') == CountOf(plain, '<'));
        FUZZ_CHECK(CountOf(html, '>') == CountOf(plain, '>'));
        FUZZ_CHECK(CountOf(html, '"') == CountOf(plain, '"'));
    }
}

// "h:mm": whole hours, then two digits of minutes.
bool IsTotalTime(const std::string& s) {
    const size_t colon = s.find(':');
    if (colon == std::string::npos || colon == 0 || s.size() != colon + 3) return false;
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    return std::all_of(s.begin(), s.begin() + colon, digit) && digit(s[colon + 1]) && digit(s[colon + 2]) &&
           s[colon + 1] < '6';
}

void StatisticsAnswer(const Json::Value& response, int32_t unit) {
    const Statistics s = ParseStatistics(response);
    FUZZ_CHECK(s.scuba_minutes >= 0 && s.scuba_dives >= 0 && s.free_minutes >= 0 && s.free_dives >= 0);
    const StatisticsTexts t = StatisticsText(s, unit);
    FUZZ_CHECK(t.scuba_total_dive == std::to_string(s.scuba_dives));
    FUZZ_CHECK(t.free_total_dive == std::to_string(s.free_dives));
    FUZZ_CHECK(IsTotalTime(t.scuba_total_time) && IsTotalTime(t.free_total_time));
    FUZZ_CHECK(t.scuba_max_depth_unit == DepthUnit(unit) && t.free_max_depth_unit == DepthUnit(unit));
}

// The detail page gets a value panel of texts only, the map calls, and a
// chart of one point per sample.
void View(const std::string& body, const Json::Value& response, int32_t unit) {
    vorta_fuzz::AnswerCloud cloud(body);
    RecordingPage page;
    const CloudAnswer answer = ViewDiveLog(cloud, "42", unit, Lang, page);
    if (check_envelope(body) == EnvelopeResult::Success && !Member(response, "divelog").isObject()) {
        // A success without a dive log is a data error and shows nothing.
        FUZZ_CHECK(answer.status == CloudAnswer::Status::kFailed && answer.message_key == "DATA_ERROR");
        FUZZ_CHECK(answer.response.isNull() && page.calls.empty());
        return;
    }
    CheckAnswer(answer, body);
    if (answer.status != CloudAnswer::Status::kOk) {
        FUZZ_CHECK(page.calls.empty());
        return;
    }
    FUZZ_CHECK(page.calls.size() >= 3 && page.calls.size() <= 6);
    const auto& value = page.calls.front();
    FUZZ_CHECK(value.function == "setDiveValue" && value.args.size() == 1);
    Json::Value panel;
    FUZZ_CHECK(json_safe::Parse(value.args[0], panel));
    const Json::Value& members = Member(panel, "value");
    FUZZ_CHECK(members.isObject() && members.size() == 28);
    for (const Json::Value& m : members) FUZZ_CHECK(m.isString());
    FUZZ_CHECK(page.calls[1].function == "clrMarker");

    const auto& chart_call = page.calls.back();
    FUZZ_CHECK(chart_call.function == "setDiveChart" && chart_call.args.size() == 2);
    FUZZ_CHECK(chart_call.args[0] == std::to_string(unit));
    Json::Value chart;
    FUZZ_CHECK(json_safe::Parse(chart_call.args[1], chart) && chart.isArray());
    const Json::Value& divelog = Member(response, "divelog");
    FUZZ_CHECK(chart.size() == json_safe::Size(Member(divelog, "dive_profiles")));
    for (const Json::Value& point : chart) {
        FUZZ_CHECK(point.isArray() && (point.size() == 2 || point.size() == 3));
        FUZZ_CHECK(point[0].isInt() && point[1].isNumeric());
        FUZZ_CHECK(std::isfinite(point[1].asDouble()));
    }
}

bool Near(double a, double b) {
    return std::fabs(a - b) <= 1e-6 + std::fabs(b) * 1e-15;
}

// The dialog's record: unchanged fields leave the document alone, changed
// ones read back as written.
void Edit(const Json::Value& response) {
    const Json::Value& loaded = Member(response, "divelog");
    if (!loaded.isObject()) return;  // nothing to edit: the page says so
    const DiveLogEdit edit = FillDiveLogEdit(loaded);
    FUZZ_CHECK(EditMarkerCalls(edit).size() <= 3);

    Json::Value untouched = loaded;
    WriteDiveLogEdit(edit, 0, untouched);
    FUZZ_CHECK(untouched == loaded);

    DiveLogEdit all = edit;
    all.changed = ~0u;
    Json::Value written = loaded;
    WriteDiveLogEdit(all, 0, written);
    const DiveLogEdit back = FillDiveLogEdit(written);
    FUZZ_CHECK(back.dive_mode == edit.dive_mode && back.poi_id == edit.poi_id);
    FUZZ_CHECK(back.poi_lat == edit.poi_lat && back.poi_lng == edit.poi_lng);
    FUZZ_CHECK(back.weather == edit.weather && back.wave == edit.wave && back.current == edit.current &&
               back.visibility == edit.visibility);
    FUZZ_CHECK(back.cylinder_volume == edit.cylinder_volume);
    FUZZ_CHECK(back.suit_thickness == TruncateToInt(edit.suit_thickness));
    FUZZ_CHECK(Near(back.weight, edit.weight));
    FUZZ_CHECK(Near(back.start_pressure, edit.start_pressure) && Near(back.end_pressure, edit.end_pressure));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vorta_fuzz::Input in(data, size);
    const uint8_t which = in.Byte() % 5;
    const int32_t unit = in.Byte() % 3;  // 2: a setting of neither unit
    const std::string body = in.Rest();

    if (which == 3) {
        Json::Value response;
        check_envelope(body, &response);
        View(body, response, unit);
        return 0;
    }
    vorta_fuzz::AnswerCloud cloud(body);
    const CloudAnswer answer = CloudGet(cloud, "api/v1/any");
    CheckAnswer(answer, body);
    if (answer.status != CloudAnswer::Status::kOk) return 0;
    switch (which) {
        case 0: MonthSummary(answer.response); break;
        case 1: DayList(answer.response, unit); break;
        case 2: StatisticsAnswer(answer.response, unit); break;
        default: Edit(answer.response); break;
    }
    return 0;
}
