// Dive values as the pages show them: metric numbers from the cloud in the
// user's unit system, times, and the labels of the note codes.
//
// A measured value that is not finite (an overflow on the way, a division by
// zero) shows as kNotAvailable, and one that rounds to zero shows as zero,
// never as "-0.0".
//
// Every function takes the unit setting (AppState.unit) as `unit`: 0 is
// metric, any other value imperial. Numbers are printed with a decimal point
// whatever the process's locale. Labels are message keys, except the literal
// kNotAvailable, which is shown as it is (see LabelText).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace vorta_divelog {

constexpr const char* kNotAvailable = "N/A";

bool IsImperial(int32_t unit);

// Imperial factors; metric values are shown unconverted.
constexpr double kFeetPerMetre = 3.2808399;
constexpr double kPoundsPerKilogram = 2.20462262;
constexpr double kPsiPerBar = 14.5037738;

// A number held as text, read the way the cloud's texts are meant: the
// leading decimal number after any blanks ("30.5", " 12", "7.5 m" -> 7.5),
// 0 when the text does not start with one. Always with a point, whatever the
// process's locale. Values that are not finite ("inf", "nan", overflow) read
// as 0, so no later sum or comparison sees them.
double TextNumber(const std::string& text);
double TextNumber(const char* begin, const char* end);
// The same reading, telling whether the text held a number at all: false
// (and `out` untouched) where TextNumber gives 0 for want of one.
bool ReadTextNumber(const char* begin, const char* end, double& out);
// The leading decimal integer of a text (blanks and a sign allowed), 0 when
// there is none; clamped to the int range.
int32_t TextInteger(const std::string& text);

// Start time of a dive in local time, as seconds to break down as UTC:
// dive_datetime - timezone * 60 ("timezone" in minutes, UTC minus local, so
// zones east of UTC are negative). Saturates instead of overflowing.
int64_t LocalDiveTime(int64_t dive_datetime, int64_t timezone_minutes);

// "MM-DD hh:mm" and "YYYY-MM-DD hh:mm" of the UTC breakdown of `local_seconds`;
// "" for a time the calendar cannot hold.
std::string FormatShortDateTime(int64_t local_seconds);
std::string FormatLongDateTime(int64_t local_seconds);

// "hh:mm" when the dive lasted an hour or more, else "mm'ss"; seconds are
// never shown with hours. A negative duration shows as 0.
std::string FormatDuration(int64_t seconds);

std::string FormatDepth(double metres, int32_t unit);        // "%.1f", ft or m
std::string DepthUnit(int32_t unit);                         // "ft" / "m"
std::string FormatPressure(double bar, int32_t unit);        // "%.0f", psi or bar
std::string PressureUnit(int32_t unit);                      // "psi" / "bar"
std::string FormatVolume(int32_t volume);                    // "%d", never converted
std::string VolumeUnit(int32_t unit);                        // "cuft" / "L"
std::string FormatTemperature(float celsius, int32_t unit);  // "%.1f", F (single precision) or c
std::string TemperatureUnit(int32_t unit);                   // "F" / "c"
std::string FormatWeight(double kg, int32_t unit);           // "%.1f", lbs or kg
std::string WeightUnit(int32_t unit);                        // "lbs" / "kg"
std::string FormatSuitThickness(double mm);                  // "%.0f", never converted
std::string SuitThicknessUnit();                             // "mm"

// Water types of a dive log ("water_type").
constexpr int32_t kSaltWater = 0;
constexpr int32_t kFreshWater = 1;  // and any other value

// Depth of water, in feet, that weighs one atmosphere: the imperial air
// consumption's ambient pressure at d feet is d / this + 1 atm, the
// counterpart of the metric d / 10 + 1. Sea water (density about 1.025 kg/l)
// is 33.0 ft per atmosphere, fresh water (1.000 kg/l) 33.9 ft, taken as 34 ft.
constexpr double kSaltWaterFeetPerAtm = 33.0;
constexpr double kFreshWaterFeetPerAtm = 34.0;

// Surface air consumption in the output unit (L/min metric, cuft/min
// imperial) from start and end pressure (bar), cylinder volume as stored,
// average depth (m), duration (s) and water type (kSaltWater, otherwise
// fresh). Imperial takes the volume as cubic feet at a 3000 psi rating and
// divides by the ambient pressure above. A zero duration gives a value that
// is not finite, which FormatSac shows as kNotAvailable.
float ComputeSac(double start_bar, double end_bar, int32_t volume, double avg_depth_m, int64_t duration_s,
                 int32_t water_type, int32_t unit);
std::string FormatSac(float sac, int32_t unit);  // "%.2f" imperial, "%.1f" metric
std::string SacUnit(int32_t unit);               // "cuft/min" / "L/min"

// Labels of the note codes; kNotAvailable for 0 and every unknown code.
const char* WeatherLabel(int32_t code);
const char* WavesLabel(int32_t code);
const char* CurrentLabel(int32_t code);
const char* VisibilityLabel(int32_t code);

// The text to show for a label: kNotAvailable as it is, any other label
// through `lang` (GetLangText in the program).
std::string LabelText(const char* label, const std::function<std::string(const std::string&)>& lang);

// Dive type: exactly "scuba" 0, "gauge" 1, "free" 2; any other text 0.
constexpr int kDiveScuba = 0;
constexpr int kDiveGauge = 1;
constexpr int kDiveFree = 2;
int DiveTypeCode(const std::string& dive_type);

struct DiveTypeInfo {
    const char* label_key;    // "SCUBA", "GAUGE", "FREEDIVE"
    const char* list_image;   // day-list image
    const char* chart_start;  // chart symbol at the start of the dive
    const char* chart_end;    // chart symbol at its end
};
// The entry of a dive-type code; codes outside 0..2 read as scuba.
const DiveTypeInfo& DiveTypeOf(int code);

}  // namespace vorta_divelog
