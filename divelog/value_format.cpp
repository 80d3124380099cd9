#include "divelog/value_format.h"

#include <boost/format.hpp>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>
#include <locale>

namespace vorta_divelog {

namespace {

// printf-style formatting in the classic locale: the UI toolkit sets the
// process's C locale from the environment, which would turn the decimal
// point into a comma.
template <typename... T>
std::string Fmt(const char* pattern, T... values) {
    boost::format f(pattern, std::locale::classic());
    (f % ... % values);
    return f.str();
}

// A measured value: kNotAvailable when it is not finite (a number from
// outside that overflows on the way, a division by zero), and never a
// negative zero ("-0.0" for -0.04 at one decimal): a value that rounds to
// zero shows as zero.
std::string Measured(const char* pattern, double value) {
    if (!std::isfinite(value)) return kNotAvailable;
    std::string text = Fmt(pattern, value);
    if (text.size() > 1 && text[0] == '-' && text.find_first_not_of("0.", 1) == std::string::npos) text.erase(0, 1);
    return text;
}

// Integer fields; printf's integer conversions do not depend on the locale,
// and boost::format ignores a precision given for an integer.
std::string Ints(const char* pattern, long long a, long long b, long long c = 0, long long d = 0, long long e = 0) {
    char buf[128];
    int n = std::snprintf(buf, sizeof buf, pattern, a, b, c, d, e);
    return n < 0 ? std::string() : std::string(buf, std::min(static_cast<size_t>(n), sizeof buf - 1));
}

bool Breakdown(int64_t seconds, std::tm& out) {
    if (seconds < std::numeric_limits<time_t>::min() || seconds > std::numeric_limits<time_t>::max()) return false;
    time_t t = static_cast<time_t>(seconds);
    return gmtime_r(&t, &out) != nullptr;
}

const char* Pick(int32_t code, const char* const (&labels)[6]) {
    if (code < 0 || code > 5) return kNotAvailable;
    return labels[code];
}

}  // namespace

bool IsImperial(int32_t unit) {
    return unit != 0;
}

double TextNumber(const std::string& text) {
    return TextNumber(text.data(), text.data() + text.size());
}

double TextNumber(const char* p, const char* end) {
    double value = 0.0;
    return ReadTextNumber(p, end, value) ? value : 0.0;
}

bool ReadTextNumber(const char* p, const char* end, double& out) {
    while (p < end && std::isspace(static_cast<unsigned char>(*p))) ++p;
    if (p < end && *p == '+') ++p;  // from_chars takes a minus sign only
    // Decimal notation only: hexadecimal, "inf" and "nan" are not numbers a
    // dive log holds.
    if (p == end || !(std::isdigit(static_cast<unsigned char>(*p)) || *p == '-' || *p == '.')) return false;
    double value = 0.0;
    auto [stop, error] = std::from_chars(p, end, value, std::chars_format::general);
    (void)stop;
    if (error != std::errc() || !std::isfinite(value)) return false;
    out = value;
    return true;
}

int32_t TextInteger(const std::string& text) {
    const char* p = text.c_str();
    const char* end = p + text.size();
    while (p < end && std::isspace(static_cast<unsigned char>(*p))) ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    int64_t value = 0;
    bool any = false;
    for (; p < end && std::isdigit(static_cast<unsigned char>(*p)); ++p) {
        any = true;
        // Past the int range the value stays clamped; more digits change nothing.
        if (value <= int64_t{std::numeric_limits<int32_t>::max()} + 1) value = value * 10 + (*p - '0');
    }
    if (!any) return 0;
    if (negative) value = -value;
    return static_cast<int32_t>(
        std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

int64_t LocalDiveTime(int64_t dive_datetime, int64_t timezone_minutes) {
    int64_t shift = 0;
    int64_t local = 0;
    if (__builtin_mul_overflow(timezone_minutes, int64_t{60}, &shift) ||
        __builtin_sub_overflow(dive_datetime, shift, &local)) {
        return timezone_minutes > 0 ? std::numeric_limits<int64_t>::min() : std::numeric_limits<int64_t>::max();
    }
    return local;
}

std::string FormatShortDateTime(int64_t local_seconds) {
    std::tm tm{};
    if (!Breakdown(local_seconds, tm)) return "";
    return Ints("%.2lld-%.2lld %.2lld:%.2lld", tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min);
}

std::string FormatLongDateTime(int64_t local_seconds) {
    std::tm tm{};
    if (!Breakdown(local_seconds, tm)) return "";
    return Ints("%.4lld-%.2lld-%.2lld %.2lld:%.2lld", tm.tm_year + 1900LL, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
                tm.tm_min);
}

std::string FormatDuration(int64_t seconds) {
    if (seconds < 0) seconds = 0;
    int64_t hours = seconds / 3600;
    int64_t minutes = (seconds - hours * 3600) / 60;
    if (hours > 0) return Ints("%.2lld:%.2lld", hours, minutes);
    return Ints("%.2lld'%.2lld", minutes, seconds - minutes * 60);
}

std::string FormatDepth(double metres, int32_t unit) {
    return Measured("%.1f", IsImperial(unit) ? metres * kFeetPerMetre : metres);
}
std::string DepthUnit(int32_t unit) {
    return IsImperial(unit) ? "ft" : "m";
}

std::string FormatPressure(double bar, int32_t unit) {
    return Measured("%.0f", IsImperial(unit) ? bar * kPsiPerBar : bar);
}
std::string PressureUnit(int32_t unit) {
    return IsImperial(unit) ? "psi" : "bar";
}

std::string FormatVolume(int32_t volume) {
    return std::to_string(volume);
}
std::string VolumeUnit(int32_t unit) {
    return IsImperial(unit) ? "cuft" : "L";
}

std::string FormatTemperature(float celsius, int32_t unit) {
    float shown = IsImperial(unit) ? celsius * 9.0f / 5.0f + 32.0f : celsius;
    return Measured("%.1f", static_cast<double>(shown));
}
std::string TemperatureUnit(int32_t unit) {
    return IsImperial(unit) ? "F" : "c";
}

std::string FormatWeight(double kg, int32_t unit) {
    return Measured("%.1f", IsImperial(unit) ? kg * kPoundsPerKilogram : kg);
}
std::string WeightUnit(int32_t unit) {
    return IsImperial(unit) ? "lbs" : "kg";
}

std::string FormatSuitThickness(double mm) {
    return Measured("%.0f", mm);
}
std::string SuitThicknessUnit() {
    return "mm";
}

float ComputeSac(double start_bar, double end_bar, int32_t volume, double avg_depth_m, int64_t duration_s,
                 int32_t water_type, int32_t unit) {
    double minutes = static_cast<double>(duration_s) / 60.0;
    double v = volume;
    if (!IsImperial(unit)) return static_cast<float>((start_bar - end_bar) * v / (avg_depth_m / 10.0 + 1.0) / minutes);
    double feet_per_atm = water_type == kSaltWater ? kSaltWaterFeetPerAtm : kFreshWaterFeetPerAtm;
    double ambient = avg_depth_m * kFeetPerMetre / feet_per_atm + 1.0;
    double psi_per_minute = (start_bar * kPsiPerBar - end_bar * kPsiPerBar) / minutes;
    return static_cast<float>(psi_per_minute / ambient * (v / 3000.0));
}

std::string FormatSac(float sac, int32_t unit) {
    return Measured(IsImperial(unit) ? "%.2f" : "%.1f", static_cast<double>(sac));
}
std::string SacUnit(int32_t unit) {
    return IsImperial(unit) ? "cuft/min" : "L/min";
}

const char* WeatherLabel(int32_t code) {
    static const char* const kLabels[6] = {kNotAvailable, "SUNNY", "CLOUDY", "RAIN", "SNOW", "OVERCAST"};
    return Pick(code, kLabels);
}
const char* WavesLabel(int32_t code) {
    static const char* const kLabels[6] = {kNotAvailable, "WAVE_NO",   "WAVE_SMALL",
                                           "WAVE_MEDIUM", "WAVE_HIGH", kNotAvailable};
    return Pick(code, kLabels);
}
const char* CurrentLabel(int32_t code) {
    static const char* const kLabels[6] = {kNotAvailable,    "CURRENT_NO",     "CURRENT_SMALL",
                                           "CURRENT_MEDIUM", "CURRENT_STRONG", kNotAvailable};
    return Pick(code, kLabels);
}
const char* VisibilityLabel(int32_t code) {
    static const char* const kLabels[6] = {kNotAvailable,    "VISIBILITY_CLEAR", "VISIBILITY_SOSO",
                                           "VISIBILITY_BAD", kNotAvailable,      kNotAvailable};
    return Pick(code, kLabels);
}

std::string LabelText(const char* label, const std::function<std::string(const std::string&)>& lang) {
    if (label == nullptr) return kNotAvailable;
    std::string key(label);
    if (key == kNotAvailable || !lang) return key;
    return lang(key);
}

int DiveTypeCode(const std::string& dive_type) {
    if (dive_type == "gauge") return kDiveGauge;
    if (dive_type == "free") return kDiveFree;
    return kDiveScuba;
}

const DiveTypeInfo& DiveTypeOf(int code) {
    static const DiveTypeInfo kTypes[3] = {
        {"SCUBA", "../images/scuba.png", "url(../../images/scuba_in.png)", "url(../../images/scuba_out.png)"},
        {"GAUGE", "../images/gauge.png", "url(../../images/gauge_in.png)", "url(../../images/gauge_out.png)"},
        {"FREEDIVE", "../images/freedive.png", "url(../../images/freedive_in.png)",
         "url(../../images/freedive_out.png)"},
    };
    if (code < 0 || code > 2) return kTypes[kDiveScuba];
    return kTypes[code];
}

}  // namespace vorta_divelog
