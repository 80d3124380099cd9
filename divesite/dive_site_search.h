// The cloud's dive-site directory search, without a window: the request, the
// answer's envelope and its results.
#pragma once

#include <json/value.h>

#include <string>
#include <vector>

class HttpPost;

namespace vorta_divesite {

// One found site ("pois" element of the answer).
struct PoiResult {
    std::string poi_id;
    std::string poi_name;
    std::string poi_region;
    double latitude = 0;   // "gps_location" -> "latitude"
    double longitude = 0;  // "gps_location" -> "longitude"
};

// Results shown at most; the request asks for 20.
constexpr size_t kMaxSearchResults = 100;

// True when the search text is long enough to search: 2 characters or more,
// counted in UTF-16 units as the page counts them.
bool SearchTextLongEnough(const std::string& text);

// The results of a successful answer's "response": its "pois" in order (none
// when missing or not an array), at most kMaxSearchResults. A result whose
// position is off the globe (latitude outside -90..90, longitude outside
// -180..180) is left out.
std::vector<PoiResult> ReadPois(const Json::Value& response);

struct SearchOutcome {
    bool connected = false;   // false: HttpPost::connect failed, nothing was sent
    std::string failure_key;  // "HOST_NOT_CONN", "HOST_ERROR" or "DATA_ERROR" for a failed answer; "" on success
    std::vector<PoiResult> pois;
};

// Connects `cloud` to the cloud host and posts the search for `text` with
// the bearer header `headers`, then judges the answer by its envelope.
SearchOutcome SearchDiveSites(HttpPost& cloud, const std::string& text, const std::string& headers);

}  // namespace vorta_divesite
