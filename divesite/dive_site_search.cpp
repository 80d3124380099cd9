#include "divesite/dive_site_search.h"

#include "base/json_safe.h"
#include "browser/map_script.h"
#include "cloud/cloud_api.h"
#include "cloud/cloud_config.h"
#include "cloud/http_post.h"

namespace vorta_divesite {

bool SearchTextLongEnough(const std::string& text) {
    size_t units = 0;
    for (unsigned char c : text) {
        if ((c & 0xC0) == 0x80) continue;  // continues a character
        units += c >= 0xF0 ? 2 : 1;        // beyond the basic plane: a surrogate pair
        if (units >= 2) return true;
    }
    return false;
}

std::vector<PoiResult> ReadPois(const Json::Value& response) {
    std::vector<PoiResult> out;
    const Json::Value& pois = json_safe::Member(response, "pois");
    for (Json::ArrayIndex i = 0; i < json_safe::Size(pois) && out.size() < kMaxSearchResults; ++i) {
        const Json::Value& p = json_safe::Element(pois, i);
        const Json::Value& gps = json_safe::Member(p, "gps_location");
        PoiResult poi{json_safe::String(p, "poi_id"), json_safe::String(p, "poi_name"),
                      json_safe::String(p, "poi_region"), json_safe::Double(gps, "latitude"),
                      json_safe::Double(gps, "longitude")};
        // A result off the globe could only be taken into the editor and
        // saved there: it is not shown at all.
        if (!vorta_browser::IsOnGlobe(poi.latitude, poi.longitude)) continue;
        out.push_back(std::move(poi));
    }
    return out;
}

SearchOutcome SearchDiveSites(HttpPost& cloud, const std::string& text, const std::string& headers) {
    SearchOutcome out;
    if (!cloud.connect(CloudHost(), kCloudPort)) return out;
    out.connected = true;
    const std::string body = SearchDivesitesBody(text);
    const std::string answer =
        cloud.request(body.data(), static_cast<uint32_t>(body.size()), 0, "POST", UrlSearchDivesites(), headers);
    Json::Value response;
    const EnvelopeResult result = check_envelope(answer, &response);
    if (result != EnvelopeResult::Success) {
        out.failure_key = EnvelopeMessageKey(result);
        return out;
    }
    out.pois = ReadPois(response);
    return out;
}

}  // namespace vorta_divesite
