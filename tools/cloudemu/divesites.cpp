#include "divesites.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <sstream>

namespace cloudemu {
namespace {

std::string Lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> out;
    std::string cur;
    for (char c : line) {
        if (c == '\t') {
            out.push_back(cur);
            cur.clear();
        } else if (c != '\r') {
            cur += c;
        }
    }
    out.push_back(cur);
    return out;
}

bool ParseDouble(const std::string& s, double& v) {
    if (s.empty()) return false;
    char* end = nullptr;
    v = std::strtod(s.c_str(), &end);
    return end && *end == '\0' && std::isfinite(v);
}

}  // namespace

DiveSiteDirectory::DiveSiteDirectory(const std::string& tsv) {
    std::istringstream in(tsv);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        const auto f = SplitTabs(line);
        if (f.size() < 5) continue;
        Poi p;
        p.poi_id = f[0];
        p.name = f[1];
        p.region = f[2];
        if (p.poi_id.empty() || p.name.empty()) continue;
        if (!ParseDouble(f[3], p.latitude) || !ParseDouble(f[4], p.longitude)) continue;
        if (std::fabs(p.latitude) > 90 || std::fabs(p.longitude) > 180) continue;
        p.fresh_water = f.size() > 5 && f[5] == "f";
        sites_.push_back(std::move(p));
    }
}

const Poi* DiveSiteDirectory::Find(const std::string& poi_id) const {
    for (const auto& p : sites_)
        if (p.poi_id == poi_id) return &p;
    return nullptr;
}

std::vector<const Poi*> DiveSiteDirectory::Search(const std::string& query, size_t limit) const {
    std::vector<const Poi*> out;
    const std::string q = Lower(query);
    if (q.empty()) return out;
    for (const auto& p : sites_) {
        if (out.size() >= limit) break;
        if (Lower(p.name).find(q) != std::string::npos || Lower(p.region).find(q) != std::string::npos)
            out.push_back(&p);
    }
    return out;
}

double DistanceKm(double lat1, double lng1, double lat2, double lng2) {
    const double r = 6371.0, d = M_PI / 180.0;
    const double dlat = (lat2 - lat1) * d, dlng = (lng2 - lng1) * d;
    const double a = std::sin(dlat / 2) * std::sin(dlat / 2) +
                     std::cos(lat1 * d) * std::cos(lat2 * d) * std::sin(dlng / 2) * std::sin(dlng / 2);
    return 2 * r * std::asin(std::min(1.0, std::sqrt(a)));
}

const Poi* DiveSiteDirectory::Nearest(double lat, double lng, double max_km) const {
    const Poi* best = nullptr;
    double best_km = max_km;
    for (const auto& p : sites_) {
        const double km = DistanceKm(lat, lng, p.latitude, p.longitude);
        if (km <= best_km) {
            best_km = km;
            best = &p;
        }
    }
    return best;
}

}  // namespace cloudemu
