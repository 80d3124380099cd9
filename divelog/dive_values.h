// One dive log as the detail page shows it, without a window: the value
// panel document, the map markers and centre, and the depth profile chart
// with its event symbols, as the script calls of the detail page
// ("web_html/main.htm").
//
// Every function reads the "divelog" object as the cloud sent it: a missing
// value, or one of another type, reads as 0 or empty text; numbers held as
// text are read with TextNumber.
#pragma once

#include <json/value.h>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "browser/map_script.h"

namespace vorta_divelog {

using LangFunction = std::function<std::string(const std::string&)>;

// An integer of any width; a number with a fraction is truncated when it
// fits. Anything else is 0.
int64_t JsonInt64(const Json::Value& v);

// A coordinate in whole millionths of a degree, truncated toward zero; a
// value no int can hold (not a coordinate at all) reads as 0.
int32_t MicroDegrees(double degrees);

// {"value": {...}}: every member a string, in the order the page lists them
// ("log_date", "log_type", "log_s_bar", ... "log_weight_unit"). A freedive
// shows "N/A" for the pressures, cylinder volume, air consumption and
// oxygen; their unit members are filled all the same.
std::string ValuePanelJson(const Json::Value& divelog, int32_t unit, const LangFunction& lang);
// The same members as (name, text) pairs, in that order.
std::vector<std::pair<std::string, std::string>> ValuePanelMembers(const Json::Value& divelog, int32_t unit,
                                                                   const LangFunction& lang);

// The map calls: "clrMarker"; the entry ("setSMarker") and exit
// ("setEMarker") positions that are not (0, 0), centred on their mean; with
// neither, the linked dive site ("setPMarker") and its centre. Positions are
// taken to whole millionths of a degree.
std::vector<vorta_browser::MapScriptCall> PositionCalls(const Json::Value& divelog);

// A symbol of the chart.
struct ChartEvent {
    int code = 0;
    int value = 0;
    int time = 0;  // seconds into the dive
};

// Start (code 100, 200, 300 by dive type) at the second sample, end (101,
// 201, 301) at the second-to-last when there are three samples or more, then
// the device events the chart shows: decompression needed (code 1, value 0),
// ascent too fast (3) and depth alarm (18), in the log's order.
std::vector<ChartEvent> ChartEvents(const Json::Value& divelog);

// The surface pressure the depths are measured from, in millibar: "altitude",
// or 1013 when that is below 520 or above 1060.
double SurfacePressure(const Json::Value& divelog);

// A sample's depth in metres below the surface pressure, in the water of
// the log ("water_type"), 0 above half a metre; not yet limited to the
// log's maximum depth.
struct SampleDepth {
    int time = 0;  // "profile_time", seconds
    double metres = 0;
};
std::vector<SampleDepth> SampleDepths(const Json::Value& divelog);

// The chart document: [[time, depth], ...] in sample order, with a third item
// {"enabled": true, "symbol": "url(...)"} on a sample that an event falls on
// (the last such event in the list wins). Depths are single precision, in
// the user's unit, 0 below half a metre, never deeper than the log's maximum
// depth. Linear in samples plus events.
std::string ProfileChartJson(const Json::Value& divelog, int32_t unit);

// What "view" does with a fetched dive log, in order: the value panel
// ("setDiveValue"), the map calls, the chart ("setDiveChart").
void ShowDiveLog(const Json::Value& divelog, int32_t unit, const LangFunction& lang,
                 vorta_browser::MapScriptSink& page);

}  // namespace vorta_divelog
