// Dive-log documents: built from a device record plus the diver's notes, and
// the demo account's year of generated dives.
#pragma once

#include <json/json.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "divesites.h"
#include "log_format.h"
#include "store.h"

namespace cloudemu {

// What the diver adds by hand (the device does not record these).
struct DiveNotes {
    int weather = 0, wave = 0, current = 0, visibility = 0;
    int cylinder_litres = 0;
    double air_temperature = 0;
    bool has_air_temperature = false;
    int suit_mm = 0;
    double weight_kg = 0;
};

// Cloud event codes of a dive log ("events" → "event_code").
enum CloudEventCode {
    kCloudDeco = 1,  // value 0: decompression needed
    kCloudSafetyStopMissed = 2,
    kCloudAscentTooFast = 3,
    kCloudDiveTimeAlarm = 5,
    kCloudLowBattery = 6,
    kCloudDeepStop = 7,
    kCloudDepthAlarm = 18,
};
int CloudEventCode(uint16_t device_code);

// JSON text as stored and served: compact, UTF-8, decimals to millionths
// of a degree.
std::string CompactJson(const Json::Value& v);

// The "poi" object of a dive log or a search result.
Json::Value PoiJson(const Poi& poi);

// Builds the stored row and its JSON document. `poi` may be null.
DiveRow MakeDiveRow(const DiveRecord& rec, const DiveNotes& notes, const Poi* poi, const std::string& user_id);

// YYYYMMDD of a UTC time shifted by `east_minutes`.
int LocalDate(int64_t utc_seconds, int east_minutes);

// The demo account's dives: about a year before `now`, deterministic for a
// given seed and day.
std::vector<DiveRow> GenerateDemoDives(uint32_t seed, std::time_t now, const DiveSiteDirectory& sites,
                                       const std::string& user_id);

}  // namespace cloudemu
