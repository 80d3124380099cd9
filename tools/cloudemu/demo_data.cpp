#include "demo_data.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>

namespace cloudemu {
namespace {

std::string Fmt(const char* fmt, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, v);
    return buf;
}

Json::Value Position(int32_t lat_e6, int32_t lng_e6) {
    Json::Value p(Json::objectValue);
    p["latitude"] = lat_e6 / 1e6;
    p["longitude"] = lng_e6 / 1e6;
    return p;
}

const char* TypeText(uint8_t t) {
    return t == 1 ? "gauge" : t == 2 ? "free" : "scuba";
}

}  // namespace

int CloudEventCode(uint16_t device_code) {
    switch (device_code) {
        case kEvAscentTooFast: return kCloudAscentTooFast;
        case kEvSafetyStopMissed: return kCloudSafetyStopMissed;
        case kEvDeepStop: return kCloudDeepStop;
        case kEvDepthAlarm: return kCloudDepthAlarm;
        case kEvDiveTimeAlarm: return kCloudDiveTimeAlarm;
        case kEvLowBattery: return kCloudLowBattery;
        case kEvDeco: return kCloudDeco;
        default: return 100 + device_code;  // unknown to the cloud; kept, never shown
    }
}

std::string CompactJson(const Json::Value& v) {
    Json::StreamWriterBuilder w;
    w["indentation"] = "";
    w["emitUTF8"] = true;
    w["precision"] = 7;  // decimals: enough for millionths of a degree
    w["precisionType"] = "decimal";
    return Json::writeString(w, v);
}

Json::Value PoiJson(const Poi& poi) {
    Json::Value p(Json::objectValue);
    p["poi_id"] = poi.poi_id;
    p["poi_name"] = poi.name;
    p["poi_region"] = poi.region;
    p["gps_location"]["latitude"] = poi.latitude;
    p["gps_location"]["longitude"] = poi.longitude;
    return p;
}

int LocalDate(int64_t utc_seconds, int east_minutes) {
    const std::time_t t = static_cast<std::time_t>(utc_seconds + static_cast<int64_t>(east_minutes) * 60);
    std::tm tm{};
    gmtime_r(&t, &tm);
    return (tm.tm_year + 1900) * 10000 + (tm.tm_mon + 1) * 100 + tm.tm_mday;
}

DiveRow MakeDiveRow(const DiveRecord& rec, const DiveNotes& notes, const Poi* poi, const std::string& user_id) {
    DiveRow row;
    row.user_id = user_id;
    row.dive_number = rec.dive_number;
    row.dive_datetime = rec.start_time;
    row.timezone = -rec.tz_minutes;
    row.local_date = LocalDate(rec.start_time, rec.tz_minutes);
    row.dive_type = TypeText(rec.dive_type);
    row.max_depth = rec.max_depth_cm / 100.0;
    row.dive_duration = static_cast<int>(rec.duration_s);

    const bool free = rec.dive_type == 2;
    const double k = rec.water_type == 1 ? 10.25 : 10.0;  // metres of water per bar
    Json::Value d(Json::objectValue);
    d["user_id"] = user_id;
    d["dive_number"] = static_cast<Json::Int64>(rec.dive_number);
    d["dive_datetime"] = static_cast<Json::Int64>(rec.start_time);
    d["timezone"] = row.timezone;
    d["dive_type"] = row.dive_type;
    d["max_depth"] = Fmt("%.2f", rec.max_depth_cm / 100.0);
    d["average_depth"] = Fmt("%.2f", rec.avg_depth_cm / 100.0);
    d["dive_duration"] = row.dive_duration;
    d["sample_interval"] = rec.interval_s;
    d["air_in_text"] = Fmt("%.1f", rec.start_pressure_dbar / 10.0);
    d["air_out_text"] = Fmt("%.1f", rec.end_pressure_dbar / 10.0);
    d["cylinder_size_text"] = std::to_string(free ? 0 : notes.cylinder_litres);
    d["po2"] = rec.oxygen_percent;
    d["weather_type"] = notes.weather;
    d["wave_type"] = notes.wave;
    d["current_type"] = notes.current;
    d["visibility_type"] = notes.visibility;
    d["min_temperature"] = Fmt("%.1f", rec.min_temp_dc / 10.0);
    d["air_temperature"] = notes.has_air_temperature ? Fmt("%.1f", notes.air_temperature) : std::string();
    d["suit_thickness"] = std::to_string(notes.suit_mm);
    d["weight"] = Fmt("%.1f", notes.weight_kg);
    d["water_type"] = rec.water_type;
    d["altitude"] = std::to_string(rec.surface_mbar);
    d["entry_position"] = Position(rec.entry_lat_e6, rec.entry_lng_e6);
    d["exit_position"] = Position(rec.exit_lat_e6, rec.exit_lng_e6);
    if (poi) d["poi"] = PoiJson(*poi);
    Json::Value profiles(Json::arrayValue);
    for (size_t i = 0; i < rec.samples.size(); ++i) {
        Json::Value s(Json::objectValue);
        s["profile_time"] = static_cast<Json::Int64>(i * rec.interval_s);
        s["pressure"] = Fmt("%.1f", rec.surface_mbar + rec.samples[i].depth_cm / 100.0 * 1000.0 / k);
        s["temperature"] = Fmt("%.1f", rec.samples[i].temperature_dc / 10.0);
        profiles.append(s);
    }
    d["dive_profiles"] = profiles;
    Json::Value events(Json::arrayValue);
    for (const auto& e : rec.events) {
        Json::Value ev(Json::objectValue);
        ev["event_time"] = e.time_s;
        ev["event_code"] = CloudEventCode(e.code);
        ev["event_value"] = e.value;
        events.append(ev);
    }
    d["events"] = events;
    row.doc = CompactJson(d);
    return row;
}

namespace {

struct Gen {
    std::mt19937 rng;
    explicit Gen(uint32_t seed) : rng(seed) {}
    double Uniform(double a, double b) { return std::uniform_real_distribution<double>(a, b)(rng); }
    int Int(int a, int b) { return std::uniform_int_distribution<int>(a, b)(rng); }
    bool Chance(double p) { return Uniform(0, 1) < p; }
};

int16_t WaterTempDc(const Poi& site, double depth_m, int month, Gen& g) {
    const double lat = std::fabs(site.latitude);
    double surface;
    if (site.fresh_water) {
        surface = 8 + 10 * std::sin((month - 3) * M_PI / 6.0) * (site.latitude >= 0 ? 1 : -1);
        surface = std::max(4.0, surface);
    } else if (lat < 23.5) {
        surface = 27.5;
    } else {
        const double seasonal = std::sin((month - 5) * M_PI / 6.0) * (site.latitude >= 0 ? 1 : -1);
        surface = 24 - (lat - 23.5) * 0.35 + 4 * seasonal;
    }
    surface = std::clamp(surface, 4.0, 30.0);
    double t = surface - std::min(depth_m, 40.0) * (lat < 23.5 ? 0.06 : 0.18);
    t = std::max(4.0, t) + g.Uniform(-0.2, 0.2);
    return static_cast<int16_t>(std::lround(t * 10));
}

void Finish(DiveRecord& r) {
    uint32_t max_cm = 0;
    uint64_t sum = 0;
    int16_t min_t = 1000;
    for (const auto& s : r.samples) {
        max_cm = std::max<uint32_t>(max_cm, s.depth_cm);
        sum += s.depth_cm;
        min_t = std::min(min_t, s.temperature_dc);
    }
    r.max_depth_cm = static_cast<uint16_t>(max_cm);
    r.avg_depth_cm = r.samples.empty() ? 0 : static_cast<uint16_t>(sum / r.samples.size());
    r.min_temp_dc = r.samples.empty() ? 0 : min_t;
    r.duration_s = r.samples.empty() ? 0 : static_cast<uint32_t>((r.samples.size() - 1) * r.interval_s);
}

void MakeScubaProfile(DiveRecord& r, const Poi& site, int month, Gen& g) {
    r.interval_s = 10;
    const double max_m = g.Uniform(8, 38);
    const double bottom_s = g.Uniform(20, 45) * 60 * (max_m > 28 ? 0.6 : 1.0);
    const bool skip_stop = g.Chance(0.08);
    const bool fast_ascent = g.Chance(0.15);
    std::vector<double> depth;
    double t = 0, d = 0;
    while (d < max_m) {  // descent at about 15 m/min
        depth.push_back(d);
        d = std::min(max_m, d + 15.0 * r.interval_s / 60.0);
        t += r.interval_s;
    }
    const double bottom_start = t;
    while (t - bottom_start < bottom_s) {  // multilevel: slowly shallower
        const double frac = (t - bottom_start) / bottom_s;
        const double level = max_m - frac * (max_m - std::max(6.0, max_m * 0.4));
        depth.push_back(std::max(1.0, level + g.Uniform(-0.6, 0.6)));
        t += r.interval_s;
    }
    d = depth.back();
    const double rate = fast_ascent ? 18.0 : 9.0;
    size_t fast_at = 0;
    while (d > 5.0) {
        d = std::max(5.0, d - rate * r.interval_s / 60.0);
        if (fast_ascent && !fast_at) fast_at = depth.size();
        depth.push_back(d);
    }
    if (!skip_stop)
        for (int i = 0; i < 18; ++i) depth.push_back(5.0 + g.Uniform(-0.3, 0.3));
    while (d > 0) {
        d = std::max(0.0, d - 9.0 * r.interval_s / 60.0);
        depth.push_back(d);
    }
    for (double m : depth)
        r.samples.push_back({static_cast<uint16_t>(std::lround(m * 100)), WaterTempDc(site, m, month, g)});
    if (fast_at) r.events.push_back({static_cast<uint16_t>(fast_at * r.interval_s), kEvAscentTooFast, 0});
    if (skip_stop)
        r.events.push_back({static_cast<uint16_t>((depth.size() - 3) * r.interval_s), kEvSafetyStopMissed, 0});
    if (max_m > 30 && g.Chance(0.5)) r.events.push_back({static_cast<uint16_t>(bottom_start), kEvDepthAlarm, 30});
    if (max_m > 33 && g.Chance(0.4))
        r.events.push_back({static_cast<uint16_t>(bottom_start + 6 * r.interval_s), kEvDeco, 0});
    std::sort(r.events.begin(), r.events.end(),
              [](const DeviceEvent& a, const DeviceEvent& b) { return a.time_s < b.time_s; });
}

void MakeFreediveProfile(DiveRecord& r, const Poi& site, int month, Gen& g) {
    r.interval_s = 1;
    const double max_m = g.Uniform(5, 32);
    const double bottom = g.Uniform(2, 8);
    std::vector<double> depth;
    double d = 0;
    while (d < max_m) {
        depth.push_back(d);
        d = std::min(max_m, d + g.Uniform(0.8, 1.1));
    }
    for (int i = 0; i < static_cast<int>(bottom); ++i) depth.push_back(max_m - g.Uniform(0, 0.3));
    while (d > 0) {
        d = std::max(0.0, d - g.Uniform(0.9, 1.2));
        depth.push_back(d);
    }
    for (double m : depth)
        r.samples.push_back({static_cast<uint16_t>(std::lround(m * 100)), WaterTempDc(site, m, month, g)});
    if (max_m > 25 && g.Chance(0.4)) r.events.push_back({static_cast<uint16_t>(depth.size() / 2), kEvDepthAlarm, 25});
}

}  // namespace

std::vector<DiveRow> GenerateDemoDives(uint32_t seed, std::time_t now, const DiveSiteDirectory& sites,
                                       const std::string& user_id) {
    std::vector<DiveRow> rows;
    if (sites.all().empty()) return rows;
    Gen g(seed);
    const int64_t day = 86400;
    const int64_t today0 = (static_cast<int64_t>(now) / day) * day;
    // Trips spread over the last year, oldest first, none in the last two days.
    std::vector<int> trip_days;
    for (int d = 360; d > 4;) {
        trip_days.push_back(d);
        d -= g.Int(12, 26);
    }
    for (int start_days_ago : trip_days) {
        const Poi& anchor = sites.all()[g.Int(0, static_cast<int>(sites.all().size()) - 1)];
        std::vector<const Poi*> nearby;
        for (const auto& p : sites.all())
            if (DistanceKm(anchor.latitude, anchor.longitude, p.latitude, p.longitude) < 80) nearby.push_back(&p);
        const int kind = g.Int(0, 9);  // 0-7 scuba trip, 8 freedive trip, 9 mixed
        const int days = g.Int(1, 4);
        const int east = static_cast<int>(std::lround(anchor.longitude / 15.0)) * 60;
        for (int dd = 0; dd < days && start_days_ago - dd > 2; ++dd) {
            const int64_t local_midnight = today0 - static_cast<int64_t>(start_days_ago - dd) * day;
            const int dives = kind == 8 ? g.Int(3, 6) : g.Int(1, 3);
            int64_t local_time = local_midnight + g.Int(7 * 3600, 10 * 3600);
            for (int n = 0; n < dives; ++n) {
                const Poi& site = *nearby[g.Int(0, static_cast<int>(nearby.size()) - 1)];
                DiveRecord r;
                r.tz_minutes = static_cast<int16_t>(east);
                r.start_time = static_cast<uint32_t>(local_time - static_cast<int64_t>(east) * 60);
                std::tm tm{};
                const std::time_t lt = static_cast<std::time_t>(local_time);
                gmtime_r(&lt, &tm);
                const bool free = kind == 8 || (kind == 9 && n % 2 == 1);
                const bool gauge = !free && g.Chance(0.12);
                r.dive_type = free ? 2 : gauge ? 1 : 0;
                r.water_type = site.fresh_water ? 1 : 0;
                r.surface_mbar = static_cast<uint16_t>(site.fresh_water ? g.Int(900, 1000) : g.Int(1005, 1022));
                if (free) {
                    MakeFreediveProfile(r, site, tm.tm_mon + 1, g);
                } else {
                    MakeScubaProfile(r, site, tm.tm_mon + 1, g);
                }
                Finish(r);
                DiveNotes notes;
                notes.weather = g.Int(1, 5);
                notes.wave = g.Int(1, 4);
                notes.current = g.Int(1, 4);
                notes.visibility = g.Int(1, 3);
                notes.has_air_temperature = true;
                notes.air_temperature = std::round((r.min_temp_dc / 10.0 + g.Uniform(-2, 5)) * 10) / 10;
                notes.suit_mm = r.min_temp_dc > 260 ? 3 : r.min_temp_dc > 200 ? 5 : 7;
                notes.weight_kg = free ? g.Int(1, 4) : g.Int(2, 9);
                if (!free) {
                    static const int kCylinders[] = {10, 12, 12, 15};
                    notes.cylinder_litres = kCylinders[g.Int(0, 3)];
                }
                if (!free && !gauge) {
                    r.oxygen_percent = g.Chance(0.3) ? 32 : 21;
                    r.start_pressure_dbar = static_cast<uint16_t>(g.Int(195, 225) * 10);
                    const double used =
                        r.duration_s / 60.0 * (1 + r.avg_depth_cm / 1000.0) * 18.0 / notes.cylinder_litres;
                    r.end_pressure_dbar =
                        static_cast<uint16_t>(std::max(30.0, r.start_pressure_dbar / 10.0 - used) * 10);
                } else if (gauge) {
                    r.oxygen_percent = 21;
                }
                // Positions: most dives have both, some only a site, a few nothing.
                const int pos = g.Int(0, 9);
                const Poi* linked = &site;
                if (pos < 7) {
                    r.entry_lat_e6 = static_cast<int32_t>((site.latitude + g.Uniform(-0.002, 0.002)) * 1e6);
                    r.entry_lng_e6 = static_cast<int32_t>((site.longitude + g.Uniform(-0.002, 0.002)) * 1e6);
                    r.exit_lat_e6 = static_cast<int32_t>(r.entry_lat_e6 + g.Uniform(-1500, 1500));
                    r.exit_lng_e6 = static_cast<int32_t>(r.entry_lng_e6 + g.Uniform(-1500, 1500));
                } else if (pos == 9) {
                    linked = nullptr;
                }
                rows.push_back(MakeDiveRow(r, notes, linked, user_id));
                rows.back().dive_number = 0;  // logged before this device
                local_time += static_cast<int64_t>(r.duration_s) + g.Int(free ? 120 : 3600, free ? 600 : 7200);
            }
        }
    }
    return rows;
}

}  // namespace cloudemu
