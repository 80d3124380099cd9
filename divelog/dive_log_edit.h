// The hand-entered part of one dive log as the edit dialog works on it,
// without a window: filled from the dive-log document, written back into it
// after a save, and the edit map's markers.
//
// Values are loaded in the cloud's units (bar, kilograms, millimetres). The
// dialog stores what the user typed into a field in the user's units and
// marks that field changed; WriteDiveLogEdit converts the changed fields back
// and writes only those. A field the user left as shown keeps its member in
// the document exactly as it was loaded: showing 200 bar as 2901 psi and
// reading 2901 back would otherwise store 200.016909 bar.
#pragma once

#include <json/value.h>

#include <cstdint>
#include <string>
#include <vector>

#include "browser/map_script.h"
#include "divelog/dive_values.h"

namespace vorta_divelog {

// The fields of DiveLogEdit the dialog can change (bits of
// DiveLogEdit::changed).
enum EditField : uint32_t {
    kEditStartPressure = 1u << 0,
    kEditEndPressure = 1u << 1,
    kEditCylinderVolume = 1u << 2,
    kEditWeather = 1u << 3,
    kEditWave = 1u << 4,
    kEditCurrent = 1u << 5,
    kEditVisibility = 1u << 6,
    kEditSuitThickness = 1u << 7,
    kEditWeight = 1u << 8,
    kEditDiveSite = 1u << 9,
};

// Imperial factors of the write-back (psi to bar, pounds to kilograms).
constexpr double kBarPerPsi = 0.0689475729;
constexpr double kKilogramsPerPound = 0.45359237;

struct DiveLogEdit {
    int32_t dive_mode = 0;  // DiveTypeCode of "dive_type": 0 scuba, 1 gauge, 2 free
    // The linked dive site; 0 unless "poi" -> "poi_id" is present.
    double poi_lat = 0, poi_lng = 0;
    double entry_lat = 0, entry_lng = 0;
    double exit_lat = 0, exit_lng = 0;
    double start_pressure = 0;                                   // "air_in_text"
    double end_pressure = 0;                                     // "air_out_text"
    int32_t cylinder_volume = 0;                                 // "cylinder_size_text", truncated; never converted
    int32_t weather = 0, wave = 0, current = 0, visibility = 0;  // the note codes
    double suit_thickness = 0;                                   // "suit_thickness", mm
    double weight = 0;                                           // "weight"
    std::string poi_id;                                          // "poi" -> "poi_id", "" when absent
    // EditField bits of the fields the dialog changed. A changed pressure or
    // weight holds the number typed, in the user's units.
    uint32_t changed = 0;

    bool IsFreedive() const;
};

// The record of a "divelog" object as the cloud sent it. Missing members and
// members of another type read as 0 or ""; numbers held as text are read as
// their leading decimal number.
DiveLogEdit FillDiveLogEdit(const Json::Value& divelog);

// Writes the changed fields of `edit` into `divelog` (an object; anything
// else is made one): pressures and weight as "%.6f" in bar and kilograms
// (converted from psi and pounds when `unit` is imperial), the cylinder
// volume and the suit thickness as integer texts, the note codes as
// integers, and a chosen dive site as "poi" {"poi_id", "gps_location"}.
// Members of unchanged fields are left as they are.
void WriteDiveLogEdit(const DiveLogEdit& edit, int32_t unit, Json::Value& divelog);

// The edit map's calls once it has loaded (or a site was chosen): the entry
// ("setSMarker") and exit ("setEMarker") positions that are not (0, 0) at
// micro-degree resolution, centred on their mean; without either, the dive
// site ("setSMarker" and "setCenter" at its full position) when it is not
// (0, 0). Nothing else when there is nothing to show (the map keeps its view).
std::vector<vorta_browser::MapScriptCall> EditMarkerCalls(const DiveLogEdit& edit);

// A number truncated toward zero and held within the int range (not finite: 0).
int32_t TruncateToInt(double value);

// True when the log has an entry or exit position (the dive site is then not
// chosen in the editor).
bool HasPositions(const DiveLogEdit& edit);

}  // namespace vorta_divelog
