#include "divelog/export_csv.h"

#include "base/json_safe.h"
#include "divelog/export_text.h"
#include "divelog/value_format.h"

namespace vorta_divelog {

namespace {

struct Column {
    const char* label;   // message key of the header
    const char* member;  // value panel member, or nullptr for the columns below
    std::string (*unit)(int32_t);
    // The dive-log member the value is measured from: without a number
    // there, the cell stays empty rather than showing the 0 it reads as.
    const char* source = nullptr;
};

std::string NoUnit(int32_t) {
    return "";
}
std::string Suit(int32_t) {
    return SuitThicknessUnit();
}
std::string Degree(int32_t) {
    return "°";
}

const Column kColumns[] = {
    {"CSV_DATE", "log_date", NoUnit},
    {"CSV_TYPE", "log_type", NoUnit},
    {"CSV_MAX_DEPTH", "log_max_depth", DepthUnit, "max_depth"},
    {"CSV_AVG_DEPTH", "log_avg_depth", DepthUnit, "average_depth"},
    {"CSV_DURATION", "log_dive_time", NoUnit},
    {"CSV_START_PRESSURE", "log_s_bar", PressureUnit, "air_in_text"},
    {"CSV_END_PRESSURE", "log_e_bar", PressureUnit, "air_out_text"},
    {"CSV_VOLUME", "log_volume", VolumeUnit, "cylinder_size_text"},
    {"CSV_SAC", "log_sac", SacUnit, "air_in_text"},
    {"CSV_WATER_TEMP", "log_water_temp", TemperatureUnit, "min_temperature"},
    {"CSV_AIR_TEMP", "log_air_temp", TemperatureUnit, "air_temperature"},
    {"CSV_WEATHER", "log_weather", NoUnit},
    {"CSV_WAVES", "log_wave", NoUnit},
    {"CSV_CURRENT", "log_current", NoUnit},
    {"CSV_VISIBILITY", "log_visibility", NoUnit},
    {"CSV_SUIT", "log_suit_thickness", Suit, "suit_thickness"},
    {"CSV_WEIGHT", "log_weight", WeightUnit, "weight"},
    {"CSV_SITE", nullptr, NoUnit},
    {"CSV_ENTRY_LAT", nullptr, Degree},
    {"CSV_ENTRY_LNG", nullptr, Degree},
    {"CSV_EXIT_LAT", nullptr, Degree},
    {"CSV_EXIT_LNG", nullptr, Degree},
};

// Latitude and longitude of a position, empty at (0, 0) as the map has it.
void AppendPosition(std::vector<std::string>& row, const Json::Value& position) {
    const int32_t lat = MicroDegrees(json_safe::Double(position, "latitude"));
    const int32_t lng = MicroDegrees(json_safe::Double(position, "longitude"));
    const bool set = lat != 0 || lng != 0;
    row.push_back(set ? Decimal(lat / 1000000.0, 6) : std::string());
    row.push_back(set ? Decimal(lng / 1000000.0, 6) : std::string());
}

std::string SiteName(const Json::Value& divelog) {
    std::string name = json_safe::String(json_safe::Member(divelog, "poi"), "poi_name");
    if (!name.empty() && (name[0] == '=' || name[0] == '+' || name[0] == '-' || name[0] == '@')) name.insert(0, "'");
    return name;
}

void AppendRow(std::string& out, const std::vector<std::string>& fields) {
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i) out += ',';
        out += CsvField(fields[i]);
    }
    out += "\r\n";
}

}  // namespace

std::string CsvField(const std::string& text) {
    const std::string valid = ValidUtf8(text);
    if (valid.find_first_of(",\"\r\n") == std::string::npos) return valid;
    std::string out = "\"";
    for (char c : valid) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + '"';
}

std::string CsvDocument(const std::vector<Json::Value>& divelogs, int32_t unit, const LangFunction& lang) {
    std::string out;
    std::vector<std::string> row;
    for (const Column& c : kColumns) {
        std::string header = LabelText(c.label, lang);
        const std::string u = c.unit(unit);
        if (!u.empty()) header += " (" + u + ")";
        row.push_back(header);
    }
    AppendRow(out, row);

    for (const Json::Value& divelog : divelogs) {
        row.clear();
        const auto members = ValuePanelMembers(divelog, unit, lang);
        for (const Column& c : kColumns) {
            if (!c.member) break;
            double number = 0;
            for (const auto& [name, text] : members) {
                if (name != c.member) continue;
                const bool missing = c.source && text != kNotAvailable && !LoggedNumber(divelog, c.source, number);
                row.push_back(missing ? std::string() : text);
            }
        }
        row.push_back(SiteName(divelog));
        AppendPosition(row, json_safe::Member(divelog, "entry_position"));
        AppendPosition(row, json_safe::Member(divelog, "exit_position"));
        AppendRow(out, row);
    }
    return out;
}

}  // namespace vorta_divelog
