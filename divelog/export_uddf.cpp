#include "divelog/export_uddf.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>
#include <map>
#include <unordered_map>

#include "base/json_safe.h"
#include "divelog/dive_values.h"
#include "divelog/export_text.h"
#include "divelog/value_format.h"

namespace vorta_divelog {

namespace {

using json_safe::Member;

constexpr double kZeroCelsiusKelvin = 273.15;
constexpr double kPascalPerBar = 100000.0;
constexpr double kCubicMetresPerLitre = 0.001;
// Larger magnitudes are no measurement of a dive (and a float cannot hold
// some of them): such a value counts as missing.
constexpr double kLargestValue = 1e12;
// xs:dateTime allows time zones from -14:00 to +14:00.
constexpr int64_t kWidestZoneMinutes = 14 * 60;

bool Plausible(double v) {
    return std::isfinite(v) && std::fabs(v) < kLargestValue;
}

// A logged number that is there and plausible; `positive` also asks it to be
// above 0 (pressures, volumes, depths, where 0 means "not recorded").
bool Logged(const Json::Value& obj, const char* key, double& out, bool positive) {
    double v = 0;
    if (!LoggedNumber(obj, key, v) || !Plausible(v) || (positive && v <= 0)) return false;
    out = v;
    return true;
}

void Element(std::string& out, const char* name, const std::string& text) {
    out += '<';
    out += name;
    out += '>';
    out += text;
    out += "</";
    out += name;
    out += '>';
}

// "YYYY-MM-DDThh:mm:ss" of the local start, with the zone when the log has
// one xs:dateTime can hold. A start outside the years 1 to 9999 is no date
// the format can hold: it reads as the epoch, as a missing start does.
std::string StartDateTime(const Json::Value& divelog) {
    const Json::Value& zone = Member(divelog, "timezone");
    const int64_t zone_minutes = JsonInt64(zone);
    int64_t local = LocalDiveTime(JsonInt64(Member(divelog, "dive_datetime")), zone_minutes);
    constexpr int64_t kFirst = -62135596800;  // 0001-01-01T00:00:00
    constexpr int64_t kLast = 253402300799;   // 9999-12-31T23:59:59
    if (local < kFirst || local > kLast) local = 0;
    std::tm tm{};
    const time_t t = static_cast<time_t>(local);
    if (gmtime_r(&t, &tm) == nullptr) return "1970-01-01T00:00:00";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec);
    std::string text = buf;
    if (zone.isNumeric() && zone_minutes >= -kWidestZoneMinutes && zone_minutes <= kWidestZoneMinutes) {
        const int64_t east = -zone_minutes;  // "timezone" is UTC minus local
        std::snprintf(buf, sizeof buf, "%c%02d:%02d", east < 0 ? '-' : '+', static_cast<int>(std::llabs(east) / 60),
                      static_cast<int>(std::llabs(east) % 60));
        text += buf;
    }
    return text;
}

// The dive site of a log: its key is "poi_id" as text.
bool SiteKey(const Json::Value& divelog, std::string& key) {
    const Json::Value& id = Member(Member(divelog, "poi"), "poi_id");
    if (id.isString()) {
        key = id.asString();
        return true;
    }
    if (id.isNumeric()) {
        key = std::to_string(JsonInt64(id));
        return true;
    }
    return false;
}

std::string Degrees(int32_t micro) {
    return Decimal(micro / 1000000.0, 6);
}

void WriteSite(std::string& out, const std::string& id, const Json::Value& poi) {
    out += "<site id=\"" + id + "\">";
    const std::string name = json_safe::String(poi, "poi_name");
    Element(out, "name", XmlText(name));
    const Json::Value& gps = Member(poi, "gps_location");
    const int32_t lat = MicroDegrees(json_safe::Double(gps, "latitude"));
    const int32_t lng = MicroDegrees(json_safe::Double(gps, "longitude"));
    const std::string region = json_safe::String(poi, "poi_region");
    if (lat != 0 || lng != 0) {
        out += "<geography>";
        Element(out, "location", XmlText(region.empty() ? name : region));
        Element(out, "latitude", Degrees(lat));
        Element(out, "longitude", Degrees(lng));
        out += "</geography>";
    }
    out += "</site>";
}

void WriteOwner(std::string& out, const UddfOwner& owner) {
    if (owner.name.empty() && owner.email.empty()) return;
    const size_t blank = owner.name.find_last_of(' ');
    const std::string first = blank == std::string::npos ? owner.name : owner.name.substr(0, blank);
    const std::string last = blank == std::string::npos ? std::string() : owner.name.substr(blank + 1);
    out += "<diver><owner id=\"owner\"><personal>";
    Element(out, "firstname", XmlText(first));
    Element(out, "lastname", XmlText(last));
    out += "</personal>";
    if (!owner.email.empty()) {
        out += "<contact>";
        Element(out, "email", XmlText(owner.email));
        out += "</contact>";
    }
    out += "</owner></diver>\n";
}

void WriteTank(std::string& out, const Json::Value& divelog) {
    double begin_bar = 0, end_bar = 0;
    if (!Logged(divelog, "air_in_text", begin_bar, true)) return;  // the format requires the start pressure
    out += "<tankdata>";
    const int32_t litres = TextInteger(json_safe::String(divelog, "cylinder_size_text"));
    if (litres > 0) Element(out, "tankvolume", Decimal(litres * kCubicMetresPerLitre, 3));
    Element(out, "tankpressurebegin", Decimal(begin_bar * kPascalPerBar, 0));
    if (Logged(divelog, "air_out_text", end_bar, true))
        Element(out, "tankpressureend", Decimal(end_bar * kPascalPerBar, 0));
    out += "</tankdata>";
}

// The waypoints; returns the deepest sample's depth (0 without samples).
double WriteSamples(std::string& out, const Json::Value& divelog, bool freedive, bool has_max, double max_depth) {
    const std::vector<SampleDepth> samples = SampleDepths(divelog);
    if (samples.empty()) return 0;

    // The device's events by time, each on the first sample at its time.
    std::unordered_map<int, std::vector<ChartEvent>> events_at;
    for (const ChartEvent& e : ChartEvents(divelog))
        if (e.code == 1 || e.code == 3 || e.code == 18) events_at[e.time].push_back(e);

    double deepest = 0;
    bool first = true;
    out += "<samples>";
    for (const SampleDepth& s : samples) {
        double metres = Plausible(s.metres) ? s.metres : 0;
        if (has_max) metres = std::min(metres, max_depth);
        deepest = std::max(deepest, metres);
        out += "<waypoint>";
        bool marker = false;
        auto found = events_at.find(s.time);
        if (found != events_at.end()) {
            for (const ChartEvent& e : found->second) {
                if (e.code == 1) out += "<alarm>deco</alarm>";
                if (e.code == 3) out += "<alarm>ascent</alarm>";
                marker = marker || e.code == 18;
            }
            events_at.erase(found);
        }
        Element(out, "depth", Decimal(metres, 2));
        Element(out, "divetime", std::to_string(s.time));
        if (marker) out += "<setmarker>depth alarm</setmarker>";
        if (first) out += freedive ? "<divemode type=\"apnea\"/>" : "<divemode type=\"opencircuit\"/>";
        first = false;
        out += "</waypoint>";
    }
    out += "</samples>";
    return deepest;
}

// The dive's element up to its number: what its place in the document decides.
void WriteDiveHead(std::string& out, size_t number, const std::string& site_id) {
    out += "<dive id=\"dive" + std::to_string(number) + "\"><informationbeforedive>";
    if (!site_id.empty()) out += "<link ref=\"" + site_id + "\"/>";
    Element(out, "divenumber", std::to_string(number));
}

// The rest of it: what the dive log alone decides.
void WriteDiveBody(std::string& out, const Json::Value& divelog) {
    const int type = DiveTypeCode(json_safe::String(divelog, "dive_type"));
    Element(out, "datetime", StartDateTime(divelog));
    double air = 0;
    if (Logged(divelog, "air_temperature", air, false))
        Element(out, "airtemperature", Decimal(air + kZeroCelsiusKelvin, 2));
    if (type != kDiveFree) Element(out, "apparatus", "open-scuba");
    out += "</informationbeforedive>";

    if (type == kDiveScuba) WriteTank(out, divelog);

    double max_depth = 0;
    const bool has_max = Logged(divelog, "max_depth", max_depth, true);
    const double deepest = WriteSamples(out, divelog, type == kDiveFree, has_max, max_depth);

    out += "<informationafterdive>";
    Element(out, "greatestdepth", Decimal(has_max ? max_depth : deepest, 2));
    double avg = 0;
    if (Logged(divelog, "average_depth", avg, true)) Element(out, "averagedepth", Decimal(avg, 2));
    const Json::Value& duration = Member(divelog, "dive_duration");
    int64_t seconds = 0;
    if (duration.isNumeric() && JsonInt64(duration) > 0) {
        seconds = JsonInt64(duration);
    } else {
        const Json::Value& samples = Member(divelog, "dive_profiles");
        if (json_safe::Size(samples) > 0)
            seconds =
                std::max(0, json_safe::Int(json_safe::Element(samples, json_safe::Size(samples) - 1), "profile_time"));
    }
    Element(out, "diveduration", std::to_string(seconds));
    double water = 0;
    if (Logged(divelog, "min_temperature", water, false))
        Element(out, "lowesttemperature", Decimal(water + kZeroCelsiusKelvin, 2));
    out += "</informationafterdive></dive>";
}

}  // namespace

std::string UddfDiveBody(const Json::Value& divelog) {
    std::string out;
    // About what a waypoint takes, so that the text is not moved as it grows.
    out.reserve(json_safe::Size(Member(divelog, "dive_profiles")) * 96 + 1024);
    WriteDiveBody(out, divelog);
    return out;
}

std::string UddfDiveBodyAndTrim(Json::Value& divelog) {
    std::string body = UddfDiveBody(divelog);
    Json::Value kept(Json::objectValue);
    for (const char* key : {"dive_datetime", "poi"}) {
        const Json::Value& value = Member(divelog, key);
        if (!value.isNull()) kept[key] = value;
    }
    divelog.swap(kept);
    return body;
}

std::string UddfDocument(const std::vector<Json::Value>& divelogs, const UddfGenerator& generator,
                         const UddfOwner& owner, const std::vector<std::string>& bodies) {
    size_t made_ahead = 0;
    for (const std::string& body : bodies) made_ahead += body.size();
    std::string out;
    out.reserve(made_ahead + divelogs.size() * 256 + 4096);
    out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    out += "<uddf xmlns=\"http://www.streit.cc/uddf/3.2/\" version=\"3.2.3\">\n";
    out += "<generator>";
    Element(out, "name", XmlText(generator.name));
    Element(out, "type", "logbook");
    Element(out, "version", XmlText(generator.version));
    out += "</generator>\n";
    WriteOwner(out, owner);

    // Sites in the order the dives first name them.
    std::map<std::string, std::string> site_ids;
    std::vector<std::string> dive_sites;
    std::string sites;
    for (const Json::Value& divelog : divelogs) {
        std::string key;
        if (!SiteKey(divelog, key)) {
            dive_sites.emplace_back();
            continue;
        }
        auto [it, added] = site_ids.emplace(key, "site" + std::to_string(site_ids.size() + 1));
        if (added) WriteSite(sites, it->second, Member(divelog, "poi"));
        dive_sites.push_back(it->second);
    }
    if (!sites.empty()) out += "<divesite>" + sites + "</divesite>\n";

    if (!divelogs.empty()) {
        out += "<profiledata><repetitiongroup id=\"group1\">\n";
        for (size_t i = 0; i < divelogs.size(); ++i) {
            WriteDiveHead(out, i + 1, dive_sites[i]);
            if (i < bodies.size() && !bodies[i].empty()) out += bodies[i];
            else WriteDiveBody(out, divelogs[i]);
            out += '\n';
        }
        out += "</repetitiongroup></profiledata>\n";
    }
    out += "</uddf>\n";
    return out;
}

}  // namespace vorta_divelog
