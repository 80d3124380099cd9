// The cloud's dive-site directory ("points of interest"): real dive sites with
// name, region and position, compiled in from data/divesites.tsv.
#pragma once

#include <string>
#include <vector>

namespace cloudemu {

struct Poi {
    std::string poi_id;
    std::string name;
    std::string region;
    double latitude = 0;
    double longitude = 0;
    bool fresh_water = false;
};

// Text of data/divesites.tsv (generated source).
const char* DiveSiteDirectoryText();

class DiveSiteDirectory {
public:
    // Parses lines "id<TAB>name<TAB>region<TAB>lat<TAB>lng<TAB>s|f"; lines
    // starting with '#' and malformed lines are skipped.
    explicit DiveSiteDirectory(const std::string& tsv);

    const std::vector<Poi>& all() const { return sites_; }
    const Poi* Find(const std::string& poi_id) const;
    // Case-insensitive (ASCII) substring match over name and region, in
    // directory order, at most `limit` results.
    std::vector<const Poi*> Search(const std::string& query, size_t limit) const;
    // The site nearest to a position, when it lies within `max_km`.
    const Poi* Nearest(double lat, double lng, double max_km) const;

private:
    std::vector<Poi> sites_;
};

double DistanceKm(double lat1, double lng1, double lat2, double lng2);

}  // namespace cloudemu
