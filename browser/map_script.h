// Calls into the map and chart pages' script, as plain values.
//
// Each builder gives the script function's name and its arguments as the
// texts the page receives, in the page's parameter order (latitude before
// longitude). A MapScriptSink sends them: the engine-side browser host in the
// program, a recording fake in tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vorta_browser {

// A coordinate in degrees as the text every boundary uses: fixed notation
// with six decimals ("-121.500000"), with a point whatever the locale.
std::string FormatCoordinate(double degrees);
// Millionths of a degree as the same text: 25033964 -> "25.033964".
std::string FormatCoordinateE6(int32_t micro_degrees);

// A position on the globe: latitude -90..90 and longitude -180..180 degrees,
// both finite. Positions from outside (map pages, the cloud, files, typed
// values) are taken only when this holds.
bool IsOnGlobe(double lat, double lng);

struct MapScriptCall {
    std::string function;
    std::vector<std::string> args;

    bool operator==(const MapScriptCall& o) const { return function == o.function && args == o.args; }
};

// maps.htm and main.htm
MapScriptCall SetCenter(double lat, double lng);
MapScriptCall ClrMarker();
MapScriptCall SetSMarker(double lat, double lng);  // entry position
MapScriptCall SetEMarker(double lat, double lng);  // exit position
// maps.htm
MapScriptCall SetCenterWithZoom(double lat, double lng);  // zoom is always "14"
MapScriptCall SetCMarker(double lat, double lng);         // the current dive site (draggable)
MapScriptCall GetCenter();                                // answered by "on_get_map_center"
// main.htm
MapScriptCall SetPMarker(double lat, double lng);  // the dive's point of interest
// `unit`: the unit setting in decimal (0 metric, 1 imperial); `chart_json`
// and `values_json` are handed over as they are.
MapScriptCall SetDiveChart(int32_t unit, const std::string& chart_json);
MapScriptCall SetDiveValue(const std::string& values_json);

// Where script calls go. Failures are not reported: a function the page does
// not define, or a page still loading, skips the call.
class MapScriptSink {
public:
    virtual ~MapScriptSink() = default;
    // Calls the page's global function `function` with string arguments in
    // the order given. The result is not examined by anyone.
    virtual void InvokeScript(const std::string& function, const std::vector<std::string>& args) = 0;

    void Call(const MapScriptCall& call) { InvokeScript(call.function, call.args); }
};

}  // namespace vorta_browser
