#include "browser/map_script.h"

#include <boost/format.hpp>

#include <locale>

namespace vorta_browser {

namespace {
MapScriptCall LatLng(const char* function, double lat, double lng) {
    return {function, {FormatCoordinate(lat), FormatCoordinate(lng)}};
}
}  // namespace

std::string FormatCoordinate(double degrees) {
    // The classic locale keeps the decimal point a point even when the
    // program's global locale says otherwise.
    return (boost::format("%.6f", std::locale::classic()) % degrees).str();
}

std::string FormatCoordinateE6(int32_t micro_degrees) {
    return FormatCoordinate(micro_degrees / 1000000.0);
}

bool IsOnGlobe(double lat, double lng) {
    // Written so that NaN fails every comparison.
    return lat >= -90.0 && lat <= 90.0 && lng >= -180.0 && lng <= 180.0;
}

MapScriptCall SetCenter(double lat, double lng) {
    return LatLng("setCenter", lat, lng);
}
MapScriptCall ClrMarker() {
    return {"clrMarker", {}};
}
MapScriptCall SetSMarker(double lat, double lng) {
    return LatLng("setSMarker", lat, lng);
}
MapScriptCall SetEMarker(double lat, double lng) {
    return LatLng("setEMarker", lat, lng);
}
MapScriptCall SetCMarker(double lat, double lng) {
    return LatLng("setCMarker", lat, lng);
}
MapScriptCall SetPMarker(double lat, double lng) {
    return LatLng("setPMarker", lat, lng);
}
MapScriptCall GetCenter() {
    return {"getCenter", {}};
}

MapScriptCall SetCenterWithZoom(double lat, double lng) {
    MapScriptCall call = LatLng("setCenterWithZoom", lat, lng);
    call.args.push_back("14");
    return call;
}

MapScriptCall SetDiveChart(int32_t unit, const std::string& chart_json) {
    return {"setDiveChart", {std::to_string(unit), chart_json}};
}

MapScriptCall SetDiveValue(const std::string& values_json) {
    return {"setDiveValue", {values_json}};
}

}  // namespace vorta_browser
