#include "divelog/dive_log_edit.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "base/json_safe.h"
#include "divelog/dive_values.h"
#include "divelog/value_format.h"

namespace vorta_divelog {

namespace {

using json_safe::Member;

double TextMember(const Json::Value& obj, const char* key) {
    return TextNumber(json_safe::String(obj, key));
}

// "%.6f" with a point whatever the locale.
std::string Fixed6(double value) {
    if (!std::isfinite(value)) value = 0;
    char buf[400];
    auto [end, error] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 6);
    return error == std::errc() ? std::string(buf, end) : std::string("0.000000");
}

// An object member to write into, made an object first when it is not one.
Json::Value& ObjectMember(Json::Value& obj, const char* key) {
    Json::Value& v = obj[key];
    if (!v.isObject()) v = Json::Value(Json::objectValue);
    return v;
}

}  // namespace

int32_t TruncateToInt(double value) {
    if (!std::isfinite(value)) return 0;
    const double t = std::trunc(value);
    if (t <= std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    if (t >= std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(t);
}

bool DiveLogEdit::IsFreedive() const {
    return dive_mode == kDiveFree;
}

DiveLogEdit FillDiveLogEdit(const Json::Value& divelog) {
    DiveLogEdit e;
    e.dive_mode = DiveTypeCode(json_safe::String(divelog, "dive_type"));
    const Json::Value& poi = Member(divelog, "poi");
    if (!Member(poi, "poi_id").isNull()) {
        const Json::Value& gps = Member(poi, "gps_location");
        e.poi_lat = json_safe::Double(gps, "latitude");
        e.poi_lng = json_safe::Double(gps, "longitude");
    }
    e.poi_id = json_safe::String(poi, "poi_id");
    const Json::Value& entry = Member(divelog, "entry_position");
    e.entry_lat = json_safe::Double(entry, "latitude");
    e.entry_lng = json_safe::Double(entry, "longitude");
    const Json::Value& exit = Member(divelog, "exit_position");
    e.exit_lat = json_safe::Double(exit, "latitude");
    e.exit_lng = json_safe::Double(exit, "longitude");
    e.start_pressure = TextMember(divelog, "air_in_text");
    e.end_pressure = TextMember(divelog, "air_out_text");
    e.cylinder_volume = TruncateToInt(TextMember(divelog, "cylinder_size_text"));
    e.weather = json_safe::Int(divelog, "weather_type");
    e.wave = json_safe::Int(divelog, "wave_type");
    e.current = json_safe::Int(divelog, "current_type");
    e.visibility = json_safe::Int(divelog, "visibility_type");
    e.suit_thickness = TextMember(divelog, "suit_thickness");
    e.weight = TextMember(divelog, "weight");
    return e;
}

void WriteDiveLogEdit(const DiveLogEdit& e, int32_t unit, Json::Value& divelog) {
    if (!divelog.isObject()) divelog = Json::Value(Json::objectValue);
    const bool imperial = IsImperial(unit);
    const uint32_t c = e.changed;
    if (c & kEditDiveSite) {
        // A new site: the old site's other members (its name) are not kept.
        Json::Value poi(Json::objectValue);
        poi["poi_id"] = e.poi_id;
        Json::Value& gps = ObjectMember(poi, "gps_location");
        gps["latitude"] = e.poi_lat;
        gps["longitude"] = e.poi_lng;
        divelog["poi"] = poi;
    }
    if (c & kEditSuitThickness) divelog["suit_thickness"] = std::to_string(TruncateToInt(e.suit_thickness));
    if (c & kEditWeight) divelog["weight"] = Fixed6(imperial ? e.weight * kKilogramsPerPound : e.weight);
    if (c & kEditWeather) divelog["weather_type"] = e.weather;
    if (c & kEditWave) divelog["wave_type"] = e.wave;
    if (c & kEditCurrent) divelog["current_type"] = e.current;
    if (c & kEditVisibility) divelog["visibility_type"] = e.visibility;
    // A freedive has no tank: its pressures and volume are never edited.
    if (!e.IsFreedive()) {
        const double to_bar = imperial ? kBarPerPsi : 1.0;
        if (c & kEditStartPressure) divelog["air_in_text"] = Fixed6(e.start_pressure * to_bar);
        if (c & kEditEndPressure) divelog["air_out_text"] = Fixed6(e.end_pressure * to_bar);
        if (c & kEditCylinderVolume) divelog["cylinder_size_text"] = std::to_string(e.cylinder_volume);
    }
}

bool HasPositions(const DiveLogEdit& e) {
    return MicroDegrees(e.entry_lat) != 0 || MicroDegrees(e.entry_lng) != 0 || MicroDegrees(e.exit_lat) != 0 ||
           MicroDegrees(e.exit_lng) != 0;
}

std::vector<vorta_browser::MapScriptCall> EditMarkerCalls(const DiveLogEdit& e) {
    std::vector<vorta_browser::MapScriptCall> calls;
    double lat_sum = 0, lng_sum = 0;
    int count = 0;
    auto position = [&](double lat, double lng, vorta_browser::MapScriptCall (*marker)(double, double)) {
        const int32_t lat6 = MicroDegrees(lat), lng6 = MicroDegrees(lng);
        if (lat6 == 0 && lng6 == 0) return;
        calls.push_back(marker(lat6 / 1000000.0, lng6 / 1000000.0));
        lat_sum += lat6 / 1000000.0;
        lng_sum += lng6 / 1000000.0;
        ++count;
    };
    position(e.entry_lat, e.entry_lng, vorta_browser::SetSMarker);
    position(e.exit_lat, e.exit_lng, vorta_browser::SetEMarker);
    if (count > 0) {
        calls.push_back(vorta_browser::SetCenter(lat_sum / count, lng_sum / count));
    } else if (MicroDegrees(e.poi_lat) != 0 || MicroDegrees(e.poi_lng) != 0) {
        calls.push_back(vorta_browser::SetSMarker(e.poi_lat, e.poi_lng));
        calls.push_back(vorta_browser::SetCenter(e.poi_lat, e.poi_lng));
    }
    return calls;
}

}  // namespace vorta_divelog
