#include "divelog/calendar_model.h"

#include <cctype>
#include <cmath>
#include <cstdio>

#include "base/html_text.h"
#include "base/json_safe.h"
#include "divelog/dive_values.h"
#include "divelog/value_format.h"

namespace vorta_divelog {

namespace {

// Days between 1 January 1970 and a civil date (proleptic Gregorian), and
// back; exact for every int year.
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

CivilDate CivilFromDays(int64_t z) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t d = doy - (153 * mp + 2) / 5 + 1;
    const int64_t m = mp < 10 ? mp + 3 : mp - 9;
    return {static_cast<int>(yoe + era * 400 + (m <= 2)), static_cast<int>(m), static_cast<int>(d)};
}

// 30 December 1899 is day -25569 of the Unix calendar.
constexpr int64_t kAutomationEpoch = 25569;

int64_t WholeDays(double automation_date) {
    return static_cast<int64_t>(std::floor(automation_date));
}

// --- editing the row template -------------------------------------------------

// The start tag holding id="<id>" in the program's own markup: its '<', its
// closing '>' and its element name. Quoted attribute values may hold '>'.
struct StartTag {
    size_t open = std::string::npos, close = std::string::npos;
    std::string name;
};

StartTag FindStartTag(const std::string& html, const std::string& id) {
    const std::string needle = "id=\"" + id + "\"";
    for (size_t at = html.find(needle); at != std::string::npos; at = html.find(needle, at + 1)) {
        if (at == 0 || !std::isspace(static_cast<unsigned char>(html[at - 1]))) continue;
        const size_t open = html.rfind('<', at);
        if (open == std::string::npos || html.find('>', open) < at) continue;
        size_t close = at + needle.size();
        for (char quote = 0; close < html.size(); ++close) {
            const char c = html[close];
            if (quote) {
                if (c == quote) quote = 0;
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '>') {
                break;
            }
        }
        if (close >= html.size()) return {};
        size_t name_end = open + 1;
        while (name_end < html.size() && std::isalnum(static_cast<unsigned char>(html[name_end]))) ++name_end;
        std::string name = html.substr(open + 1, name_end - open - 1);
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return {open, close, name};
    }
    return {};
}

void SetAttributeById(std::string& html, const std::string& id, const std::string& name, const std::string& value) {
    const StartTag tag = FindStartTag(html, id);
    if (tag.close == std::string::npos) return;
    const std::string quoted = "\"" + html_text::Escape(value) + "\"";
    const std::string tag_text = html.substr(tag.open, tag.close - tag.open);
    for (size_t at = tag_text.find(name + "=\""); at != std::string::npos; at = tag_text.find(name + "=\"", at + 1)) {
        if (!std::isspace(static_cast<unsigned char>(tag_text[at - 1]))) continue;
        const size_t value_begin = tag.open + at + name.size() + 1;
        const size_t value_end = html.find('"', value_begin + 1);
        html.replace(value_begin, value_end + 1 - value_begin, quoted);
        return;
    }
    size_t insert_at = tag.close;
    if (insert_at > tag.open && html[insert_at - 1] == '/') --insert_at;
    html.insert(insert_at, " " + name + "=" + quoted);
}

void SetTextById(std::string& html, const std::string& id, const std::string& text) {
    const StartTag tag = FindStartTag(html, id);
    if (tag.close == std::string::npos || tag.name.empty() || html[tag.close - 1] == '/') return;
    // The matching end tag, counting elements of the same name opened inside.
    const std::string open_text = "<" + tag.name, close_text = "</" + tag.name;
    int depth = 1;
    size_t at = tag.close + 1;
    while (depth > 0) {
        at = html.find('<', at);
        if (at == std::string::npos) return;
        auto name_ends = [&](size_t from) {
            return from >= html.size() || !std::isalnum(static_cast<unsigned char>(html[from]));
        };
        if (html.compare(at, close_text.size(), close_text) == 0 && name_ends(at + close_text.size())) {
            if (--depth == 0) break;
        } else if (html.compare(at, open_text.size(), open_text) == 0 && name_ends(at + open_text.size())) {
            ++depth;
        }
        ++at;
    }
    html.replace(tag.close + 1, at - tag.close - 1, html_text::Escape(text));
}

}  // namespace

double AutomationDate(int year, int month, int day) {
    return static_cast<double>(DaysFromCivil(year, month, day) + kAutomationEpoch);
}

CivilDate DateOfAutomation(double automation_date) {
    return CivilFromDays(WholeDays(automation_date) - kAutomationEpoch);
}

int Weekday(double automation_date) {
    // Day 0, 30 December 1899, was a Saturday.
    const int64_t w = (WholeDays(automation_date) + 6) % 7;
    return static_cast<int>(w < 0 ? w + 7 : w);
}

int DateNumber(const CivilDate& date) {
    return date.year * 10000 + date.month * 100 + date.day;
}

std::string MonthTitle(int year, int month) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.4d-%.2d", year, month);
    return buf;
}

std::string CellId(int index) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "date_cell_%.2d", index);
    return buf;
}

std::optional<int> CellIndexOfId(const std::string& id) {
    static const std::string kPrefix = "date_cell_";
    if (id.size() != kPrefix.size() + 2 || id.compare(0, kPrefix.size(), kPrefix) != 0) return std::nullopt;
    const char tens = id[kPrefix.size()], ones = id[kPrefix.size() + 1];
    if (!std::isdigit(static_cast<unsigned char>(tens)) || !std::isdigit(static_cast<unsigned char>(ones)))
        return std::nullopt;
    const int index = (tens - '0') * 10 + (ones - '0');
    if (index >= CalendarModel::kCells) return std::nullopt;
    return index;
}

void CalendarModel::SetMonth(int year, int month) {
    // Bring the month into 1..12, carrying whole years.
    int64_t months = static_cast<int64_t>(year) * 12 + (month - 1);
    int64_t y = months >= 0 ? months / 12 : (months - 11) / 12;
    year_ = static_cast<int>(y);
    month_ = static_cast<int>(months - y * 12) + 1;
    const double noon_of_first = AutomationDate(year_, month_, 1) + 0.5;
    const int weekday = Weekday(noon_of_first);
    first_day_ = noon_of_first - (weekday == 0 ? 7 : weekday);
}

void CalendarModel::PreviousMonth() {
    SetMonth(year_, month_ - 1);
}
void CalendarModel::NextMonth() {
    SetMonth(year_, month_ + 1);
}

void CalendarModel::RefreshCells() {
    for (int i = 0; i < kCells; ++i) cells_[static_cast<size_t>(i)] = DateOfAutomation(first_day_ + i);
}

std::vector<DaySummary> ParseMonthSummary(const Json::Value& response) {
    std::vector<DaySummary> summary;
    const Json::Value& days = json_safe::Member(response, "month_summary");
    const Json::ArrayIndex n = json_safe::Size(days);
    summary.reserve(n);
    for (Json::ArrayIndex i = 0; i < n; ++i) {
        const Json::Value& day = json_safe::Element(days, i);
        summary.push_back({TextInteger(json_safe::String(day, "year_month_date")), json_safe::Int(day, "scuba_count"),
                           json_safe::Int(day, "free_count")});
    }
    return summary;
}

bool DayHasDives(const std::vector<DaySummary>& summary, int date) {
    for (const DaySummary& day : summary)
        if (day.date == date) return int64_t{day.scuba_count} + day.free_count != 0;
    return false;
}

const char* CellClass(const CivilDate& cell, int shown_month, bool has_dives) {
    if (has_dives) return "date_td_in_dive_day btnctrl";
    return cell.month == shown_month ? "date_td" : "date_td_in_month";
}

std::vector<DayListRow> ParseDayList(const Json::Value& response, int32_t unit,
                                     const std::function<std::string(const std::string&)>& lang) {
    std::vector<DayListRow> rows;
    const Json::Value& logs = json_safe::Member(response, "divelogs");
    const Json::ArrayIndex n = json_safe::Size(logs);
    rows.reserve(n);
    for (Json::ArrayIndex i = 0; i < n; ++i) {
        const Json::Value& log = json_safe::Element(logs, i);
        const DiveTypeInfo& type = DiveTypeOf(DiveTypeCode(json_safe::String(log, "dive_type")));
        DayListRow row;
        row.divelog_id = json_safe::String(log, "divelog_id");
        row.date_title = FormatShortDateTime(LocalDiveTime(JsonInt64(json_safe::Member(log, "dive_datetime")),
                                                           JsonInt64(json_safe::Member(log, "timezone"))));
        row.dive_type = LabelText(type.label_key, lang);
        row.image = type.list_image;
        row.depth = FormatDepth(TextNumber(json_safe::String(log, "max_depth")), unit);
        row.depth_unit = DepthUnit(unit);
        row.time = FormatDuration(JsonInt64(json_safe::Member(log, "dive_duration")));
        rows.push_back(std::move(row));
    }
    return rows;
}

std::string FillDayListRow(const std::string& row_template, const DayListRow& row) {
    std::string html = row_template;
    SetAttributeById(html, "edit", "objid", row.divelog_id);
    SetAttributeById(html, "view", "objid", row.divelog_id);
    SetAttributeById(html, "image", "src", row.image);
    SetTextById(html, "date_title", row.date_title);
    SetTextById(html, "dive_type", row.dive_type);
    SetTextById(html, "depth", row.depth);
    SetTextById(html, "depth_unit", row.depth_unit);
    SetTextById(html, "time", row.time);
    return html;
}

}  // namespace vorta_divelog
