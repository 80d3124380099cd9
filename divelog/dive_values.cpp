#include "divelog/dive_values.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <iterator>
#include <limits>
#include <unordered_map>
#include <utility>

#include "base/json_safe.h"
#include "divelog/value_format.h"

namespace vorta_divelog {

namespace {

using json_safe::Member;

// Metres of water per bar of pressure above the surface.
constexpr double kSaltMetresPerBar = 10.0;
constexpr double kFreshMetresPerBar = 10.25;
constexpr double kStandardSurfaceMbar = 1013.0;
constexpr double kLowestSurfaceMbar = 520.0;
constexpr double kHighestSurfaceMbar = 1060.0;
// Shallower than this counts as the surface.
constexpr double kSurfaceDepthMetres = 0.5;

// A number held as text in member `key`; 0 for anything but text. Read in
// place: a long profile holds thousands of them.
double Number(const Json::Value& obj, const char* key) {
    const Json::Value& v = Member(obj, key);
    const char* begin = nullptr;
    const char* end = nullptr;
    if (!v.isString() || !v.getString(&begin, &end) || !begin) return 0.0;
    return TextNumber(begin, end);
}

void AppendJsonString(std::string& out, const std::string& text) {
    static const char kHex[] = "0123456789abcdef";
    out += '"';
    for (char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            out += "\\u00";
            out += kHex[u >> 4];
            out += kHex[u & 15];
        } else {
            out += c;
        }
    }
    out += '"';
}

// The shortest text that reads back as the same single-precision value.
void AppendFloat(std::string& out, float value) {
    char buf[32];
    auto [end, error] = std::to_chars(buf, buf + sizeof buf, value);
    if (error != std::errc() || !std::isfinite(value)) {
        out += '0';
        return;
    }
    out.append(buf, end);
}

void AppendInt(std::string& out, int64_t value) {
    char buf[24];
    auto [end, error] = std::to_chars(buf, buf + sizeof buf, value);
    if (error == std::errc()) out.append(buf, end);
}

struct Position {
    int32_t lat = 0, lng = 0;  // millionths of a degree
    bool set() const { return lat != 0 || lng != 0; }
    double lat_degrees() const { return lat / 1000000.0; }
    double lng_degrees() const { return lng / 1000000.0; }
};

Position PositionOf(const Json::Value& obj) {
    return {MicroDegrees(json_safe::Double(obj, "latitude")), MicroDegrees(json_safe::Double(obj, "longitude"))};
}

const char* EventSymbol(const ChartEvent& e) {
    switch (e.code) {
        case 100: return "url(../../images/scuba_in.png)";
        case 101: return "url(../../images/scuba_out.png)";
        case 200: return "url(../../images/gauge_in.png)";
        case 201: return "url(../../images/gauge_out.png)";
        case 300: return "url(../../images/freedive_in.png)";
        case 301: return "url(../../images/freedive_out.png)";
        case 1: return e.value == 0 ? "url(../../images/need_deco.png)" : nullptr;
        case 18: return "url(../../images/depth_alarm.png)";
        case 3: return "url(../../images/ascent_alarm.png)";
        default: return nullptr;
    }
}

}  // namespace

int32_t MicroDegrees(double degrees) {
    const double micro = std::trunc(degrees * 1000000.0);
    if (!std::isfinite(micro) || micro < std::numeric_limits<int32_t>::min() ||
        micro > std::numeric_limits<int32_t>::max())
        return 0;
    return static_cast<int32_t>(micro);
}

int64_t JsonInt64(const Json::Value& v) {
    if (v.isInt64()) return v.asInt64();
    if (v.isDouble()) {
        const double d = std::trunc(v.asDouble());
        // 2^63 itself does not fit: compare against the double just below it.
        if (std::isfinite(d) && d >= -9223372036854775808.0 && d < 9223372036854775808.0)
            return static_cast<int64_t>(d);
    }
    return 0;
}

std::vector<std::pair<std::string, std::string>> ValuePanelMembers(const Json::Value& divelog, int32_t unit,
                                                                   const LangFunction& lang) {
    const int type = DiveTypeCode(json_safe::String(divelog, "dive_type"));
    const bool freedive = type == kDiveFree;
    const double start_bar = Number(divelog, "air_in_text");
    const double end_bar = Number(divelog, "air_out_text");
    const int32_t volume = TextInteger(json_safe::String(divelog, "cylinder_size_text"));
    const double max_depth = Number(divelog, "max_depth");
    const double avg_depth = Number(divelog, "average_depth");
    const int64_t duration = JsonInt64(Member(divelog, "dive_duration"));
    const int32_t water = json_safe::Int(divelog, "water_type");
    const int64_t local_start =
        LocalDiveTime(JsonInt64(Member(divelog, "dive_datetime")), JsonInt64(Member(divelog, "timezone")));
    auto or_na = [freedive](std::string text) { return freedive ? std::string(kNotAvailable) : text; };

    const std::pair<const char*, std::string> members[] = {
        {"log_date", FormatLongDateTime(local_start)},
        {"log_type", LabelText(DiveTypeOf(type).label_key, lang)},
        {"log_s_bar", or_na(FormatPressure(start_bar, unit))},
        {"log_s_bar_unit", PressureUnit(unit)},
        {"log_e_bar", or_na(FormatPressure(end_bar, unit))},
        {"log_e_bar_unit", PressureUnit(unit)},
        {"log_volume", or_na(FormatVolume(volume))},
        {"log_volume_unit", VolumeUnit(unit)},
        {"log_sac", or_na(FormatSac(ComputeSac(start_bar, end_bar, volume, avg_depth, duration, water, unit), unit))},
        {"log_sac_unit", SacUnit(unit)},
        {"log_o2", or_na(std::to_string(json_safe::Int(divelog, "po2")))},
        {"log_max_depth", FormatDepth(max_depth, unit)},
        {"log_max_depth_unit", DepthUnit(unit)},
        {"log_avg_depth", FormatDepth(avg_depth, unit)},
        {"log_avg_depth_unit", DepthUnit(unit)},
        {"log_dive_time", FormatDuration(duration)},
        {"log_weather", LabelText(WeatherLabel(json_safe::Int(divelog, "weather_type")), lang)},
        {"log_air_temp", FormatTemperature(static_cast<float>(Number(divelog, "air_temperature")), unit)},
        {"log_air_temp_unit", TemperatureUnit(unit)},
        {"log_water_temp", FormatTemperature(static_cast<float>(Number(divelog, "min_temperature")), unit)},
        {"log_water_temp_unit", TemperatureUnit(unit)},
        {"log_wave", LabelText(WavesLabel(json_safe::Int(divelog, "wave_type")), lang)},
        {"log_current", LabelText(CurrentLabel(json_safe::Int(divelog, "current_type")), lang)},
        {"log_visibility", LabelText(VisibilityLabel(json_safe::Int(divelog, "visibility_type")), lang)},
        {"log_suit_thickness", FormatSuitThickness(Number(divelog, "suit_thickness"))},
        {"log_suit_thickness_unit", SuitThicknessUnit()},
        {"log_weight", FormatWeight(Number(divelog, "weight"), unit)},
        {"log_weight_unit", WeightUnit(unit)},
    };

    return {std::begin(members), std::end(members)};
}

std::string ValuePanelJson(const Json::Value& divelog, int32_t unit, const LangFunction& lang) {
    std::string out = "{\"value\":{";
    bool first = true;
    for (const auto& [name, text] : ValuePanelMembers(divelog, unit, lang)) {
        if (!first) out += ',';
        first = false;
        AppendJsonString(out, name);
        out += ':';
        AppendJsonString(out, text);
    }
    out += "}}";
    return out;
}

std::vector<vorta_browser::MapScriptCall> PositionCalls(const Json::Value& divelog) {
    std::vector<vorta_browser::MapScriptCall> calls{vorta_browser::ClrMarker()};
    const Position entry = PositionOf(Member(divelog, "entry_position"));
    const Position exit = PositionOf(Member(divelog, "exit_position"));
    int counted = 0;
    double lat_sum = 0, lng_sum = 0;
    if (entry.set()) {
        calls.push_back(vorta_browser::SetSMarker(entry.lat_degrees(), entry.lng_degrees()));
        lat_sum += entry.lat_degrees(), lng_sum += entry.lng_degrees(), ++counted;
    }
    if (exit.set()) {
        calls.push_back(vorta_browser::SetEMarker(exit.lat_degrees(), exit.lng_degrees()));
        lat_sum += exit.lat_degrees(), lng_sum += exit.lng_degrees(), ++counted;
    }
    if (counted > 0) {
        calls.push_back(vorta_browser::SetCenter(lat_sum / counted, lng_sum / counted));
        return calls;
    }
    // No position of its own: the linked dive site, if any.
    const Json::Value& poi = Member(divelog, "poi");
    if (Member(poi, "poi_id").isNull()) return calls;
    const Position site = PositionOf(Member(poi, "gps_location"));
    if (!site.set()) return calls;
    calls.push_back(vorta_browser::SetPMarker(site.lat_degrees(), site.lng_degrees()));
    calls.push_back(vorta_browser::SetCenter(site.lat_degrees(), site.lng_degrees()));
    return calls;
}

std::vector<ChartEvent> ChartEvents(const Json::Value& divelog) {
    const int type = DiveTypeCode(json_safe::String(divelog, "dive_type"));
    const Json::Value& samples = Member(divelog, "dive_profiles");
    const Json::ArrayIndex n = json_safe::Size(samples);
    std::vector<ChartEvent> events;
    auto time_of = [&samples](Json::ArrayIndex i) {
        return json_safe::Int(json_safe::Element(samples, i), "profile_time");
    };
    if (n >= 2) events.push_back({100 + 100 * type, 0, time_of(1)});
    if (n >= 3) events.push_back({101 + 100 * type, 0, time_of(n - 2)});

    const Json::Value& logged = Member(divelog, "events");
    if (!logged.isArray()) return events;
    for (const Json::Value& e : logged) {
        const ChartEvent event{json_safe::Int(e, "event_code"), json_safe::Int(e, "event_value"),
                               json_safe::Int(e, "event_time")};
        if ((event.code == 1 && event.value == 0) || event.code == 3 || event.code == 18) events.push_back(event);
    }
    return events;
}

double SurfacePressure(const Json::Value& divelog) {
    const double p0 = Number(divelog, "altitude");
    return (p0 < kLowestSurfaceMbar || p0 > kHighestSurfaceMbar) ? kStandardSurfaceMbar : p0;
}

std::vector<SampleDepth> SampleDepths(const Json::Value& divelog) {
    const double p0 = SurfacePressure(divelog);
    const double metres_per_bar =
        json_safe::Int(divelog, "water_type") == kFreshWater ? kFreshMetresPerBar : kSaltMetresPerBar;
    const Json::Value& samples = Member(divelog, "dive_profiles");
    std::vector<SampleDepth> depths;
    if (!samples.isArray()) return depths;
    depths.reserve(samples.size());
    // Iterated, not indexed: an index lookup is not constant time in JsonCpp.
    for (const Json::Value& sample : samples) {
        double metres = (Number(sample, "pressure") / 1000.0 - p0 / 1000.0) * metres_per_bar;
        if (metres < kSurfaceDepthMetres) metres = 0;
        depths.push_back({json_safe::Int(sample, "profile_time"), metres});
    }
    return depths;
}

std::string ProfileChartJson(const Json::Value& divelog, int32_t unit) {
    const bool imperial = IsImperial(unit);
    const float deepest = static_cast<float>(Number(divelog, "max_depth") * (imperial ? kFeetPerMetre : 1.0));

    // Symbol by sample time: one pass over the events, the later of two at
    // the same time replacing the earlier.
    std::unordered_map<int, const char*> symbol_at;
    for (const ChartEvent& e : ChartEvents(divelog))
        if (const char* symbol = EventSymbol(e)) symbol_at[e.time] = symbol;

    const std::vector<SampleDepth> samples = SampleDepths(divelog);
    std::string out = "[";
    out.reserve(samples.size() * 16 + 2);
    bool first = true;
    for (const SampleDepth& sample : samples) {
        const int time = sample.time;
        float depth = static_cast<float>(sample.metres);
        if (imperial) depth = static_cast<float>(depth * kFeetPerMetre);
        depth = std::min(depth, deepest);

        if (!first) out += ',';
        first = false;
        out += '[';
        AppendInt(out, time);
        out += ',';
        AppendFloat(out, depth);
        auto found = symbol_at.find(time);
        if (found != symbol_at.end()) {
            out += ",{\"enabled\":true,\"symbol\":";
            AppendJsonString(out, found->second);
            out += '}';
        }
        out += ']';
    }
    out += ']';
    return out;
}

void ShowDiveLog(const Json::Value& divelog, int32_t unit, const LangFunction& lang,
                 vorta_browser::MapScriptSink& page) {
    page.Call(vorta_browser::SetDiveValue(ValuePanelJson(divelog, unit, lang)));
    for (const auto& call : PositionCalls(divelog)) page.Call(call);
    page.Call(vorta_browser::SetDiveChart(unit, ProfileChartJson(divelog, unit)));
}

}  // namespace vorta_divelog
