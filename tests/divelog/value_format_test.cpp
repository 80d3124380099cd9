// Dive values in the user's units: conversions, rounding, times, the air
// consumption and the labels of the note codes.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <locale>

#include "divelog/value_format.h"

using namespace vorta_divelog;

namespace {
constexpr int32_t kMetric = 0;
constexpr int32_t kImperial = 1;
}  // namespace

TEST(ValueFormat, MeasuredValuesInBothUnitSystems) {
    struct Case {
        const char* what;
        std::string metric, metric_unit, imperial, imperial_unit;
        std::string (*format)(int32_t unit);
        std::string (*unit)(int32_t unit);
    } cases[] = {
        {"depth 30 m", "30.0", "m", "98.4", "ft", [](int32_t u) { return FormatDepth(30.0, u); }, DepthUnit},
        {"depth rounding", "12.4", "m", "40.6", "ft", [](int32_t u) { return FormatDepth(12.36, u); }, DepthUnit},
        {"pressure 200 bar", "200", "bar", "2901", "psi", [](int32_t u) { return FormatPressure(200.0, u); },
         PressureUnit},
        {"pressure 49.6 bar", "50", "bar", "719", "psi", [](int32_t u) { return FormatPressure(49.6, u); },
         PressureUnit},
        {"temperature 25 C", "25.0", "c", "77.0", "F", [](int32_t u) { return FormatTemperature(25.0f, u); },
         TemperatureUnit},
        {"temperature below zero", "-1.5", "c", "29.3", "F", [](int32_t u) { return FormatTemperature(-1.5f, u); },
         TemperatureUnit},
        {"weight 6 kg", "6.0", "kg", "13.2", "lbs", [](int32_t u) { return FormatWeight(6.0, u); }, WeightUnit},
        {"cylinder volume is never converted", "12", "L", "12", "cuft", [](int32_t) { return FormatVolume(12); },
         VolumeUnit},
        {"suit thickness is never converted", "7", "mm", "7", "mm", [](int32_t) { return FormatSuitThickness(6.6); },
         [](int32_t) { return SuitThicknessUnit(); }},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.format(kMetric), c.metric) << c.what;
        EXPECT_EQ(c.unit(kMetric), c.metric_unit) << c.what;
        EXPECT_EQ(c.format(kImperial), c.imperial) << c.what;
        EXPECT_EQ(c.unit(kImperial), c.imperial_unit) << c.what;
        // Any setting other than 0 is imperial.
        EXPECT_EQ(c.format(7), c.imperial) << c.what;
    }
}

TEST(ValueFormat, NumbersKeepTheirPointUnderACommaLocale) {
    struct CommaDecimal : std::numpunct<char> {
        char do_decimal_point() const override { return ','; }
    };
    std::locale before = std::locale::global(std::locale(std::locale::classic(), new CommaDecimal));
    std::string depth = FormatDepth(30.0, kImperial);
    std::string sac = FormatSac(1.25f, kImperial);
    std::locale::global(before);
    EXPECT_EQ(depth, "98.4");
    EXPECT_EQ(sac, "1.25");
}

TEST(ValueFormat, DurationsAndDates) {
    struct Duration {
        int64_t seconds;
        const char* text;
    } durations[] = {
        {3725, "01:02"}, {725, "12'05"}, {59, "00'59"}, {3600, "01:00"}, {3599, "59'59"}, {-5, "00'00"},
    };
    for (const auto& d : durations) EXPECT_EQ(FormatDuration(d.seconds), d.text) << d.seconds;

    struct Date {
        int64_t dive_datetime, timezone;
        const char* shorter;
        const char* longer;
    } dates[] = {
        {0, 0, "01-01 00:00", "1970-01-01 00:00"},
        // 2024-02-29 23:30 UTC; UTC+8 has timezone -480.
        {1709249400, -480, "03-01 07:30", "2024-03-01 07:30"},
        {1709249400, 300, "02-29 18:30", "2024-02-29 18:30"},
        {-60, 0, "12-31 23:59", "1969-12-31 23:59"},
    };
    for (const auto& d : dates) {
        int64_t local = LocalDiveTime(d.dive_datetime, d.timezone);
        EXPECT_EQ(FormatShortDateTime(local), d.shorter) << d.dive_datetime;
        EXPECT_EQ(FormatLongDateTime(local), d.longer) << d.dive_datetime;
    }
    // Times the calendar cannot hold give empty text instead of garbage.
    EXPECT_EQ(FormatLongDateTime(LocalDiveTime(INT64_MAX, -60)), "");
    EXPECT_EQ(FormatShortDateTime(INT64_MIN), "");
}

TEST(ValueFormat, AirConsumption) {
    struct Case {
        const char* what;
        double s, e;
        int32_t v;
        double d;
        int64_t t;
        int32_t water, unit;
        const char* text;
    } cases[] = {
        {"metric", 200, 50, 12, 10, 3000, 0, kMetric, "18.0"},
        {"metric at the surface", 200, 100, 10, 0, 600, 0, kMetric, "100.0"},
        // 80 cuft at 3000 psi, 3000 -> 500 psi over 50 min at 33 ft of salt
        // water (2 atm): 50 psi/min / 2 * 80/3000.
        {"imperial salt water", 3000 / kPsiPerBar, 500 / kPsiPerBar, 80, 33 / kFeetPerMetre, 3000, 0, kImperial,
         "0.67"},
        // The same dive at 34 ft of fresh water is also 2 atm.
        {"imperial fresh water", 3000 / kPsiPerBar, 500 / kPsiPerBar, 80, 34 / kFeetPerMetre, 3000, 1, kImperial,
         "0.67"},
        {"zero duration", 200, 50, 12, 10, 0, 0, kMetric, "N/A"},
        {"nothing used", 200, 200, 12, 10, 0, 0, kMetric, "N/A"},
        // A start pressure just below the end pressure: a hair below zero is
        // zero, not "-0.0"; a real negative stays.
        {"start a hair low", 199.99, 200, 1, 0, 60, 0, kMetric, "0.0"},
        {"start a hair low, imperial", 199.99, 200, 1, 0, 60, 0, kImperial, "0.00"},
        {"start below the end", 100, 200, 10, 0, 60, 0, kMetric, "-1000.0"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatSac(ComputeSac(c.s, c.e, c.v, c.d, c.t, c.water, c.unit), c.unit), c.text) << c.what;
    EXPECT_EQ(SacUnit(kMetric), "L/min");
    EXPECT_EQ(SacUnit(kImperial), "cuft/min");
}

TEST(ValueFormat, CodeLabelsAndDiveTypes) {
    struct Case {
        int32_t code;
        const char *weather, *waves, *current, *visibility;
    } cases[] = {
        {0, "N/A", "N/A", "N/A", "N/A"},
        {1, "SUNNY", "WAVE_NO", "CURRENT_NO", "VISIBILITY_CLEAR"},
        {3, "RAIN", "WAVE_MEDIUM", "CURRENT_MEDIUM", "VISIBILITY_BAD"},
        {4, "SNOW", "WAVE_HIGH", "CURRENT_STRONG", "N/A"},
        {5, "OVERCAST", "N/A", "N/A", "N/A"},
        {6, "N/A", "N/A", "N/A", "N/A"},
        {-1, "N/A", "N/A", "N/A", "N/A"},
    };
    for (const auto& c : cases) {
        EXPECT_STREQ(WeatherLabel(c.code), c.weather) << c.code;
        EXPECT_STREQ(WavesLabel(c.code), c.waves) << c.code;
        EXPECT_STREQ(CurrentLabel(c.code), c.current) << c.code;
        EXPECT_STREQ(VisibilityLabel(c.code), c.visibility) << c.code;
    }
    auto lang = [](const std::string& key) { return "<" + key + ">"; };
    EXPECT_EQ(LabelText(WeatherLabel(1), lang), "<SUNNY>");
    EXPECT_EQ(LabelText(WeatherLabel(6), lang), "N/A");  // shown as it is, never looked up

    struct Type {
        const char* text;
        int code;
        const char* label;
        const char* image;
    } types[] = {
        {"scuba", kDiveScuba, "SCUBA", "../images/scuba.png"},
        {"gauge", kDiveGauge, "GAUGE", "../images/gauge.png"},
        {"free", kDiveFree, "FREEDIVE", "../images/freedive.png"},
        {"freedive", kDiveScuba, "SCUBA", "../images/scuba.png"},
        {"Gauge", kDiveScuba, "SCUBA", "../images/scuba.png"},
    };
    for (const auto& t : types) {
        EXPECT_EQ(DiveTypeCode(t.text), t.code) << t.text;
        EXPECT_STREQ(DiveTypeOf(t.code).label_key, t.label) << t.text;
        EXPECT_STREQ(DiveTypeOf(t.code).list_image, t.image) << t.text;
    }
    EXPECT_STREQ(DiveTypeOf(kDiveFree).chart_start, "url(../../images/freedive_in.png)");
    EXPECT_STREQ(DiveTypeOf(9).label_key, "SCUBA");
}

TEST(ValueFormat, NumbersHeldAsText) {
    struct Case {
        const char* text;
        double number;
        int32_t integer;
    } cases[] = {
        {"30.5", 30.5, 30},
        {" 12", 12, 12},
        {"7.5 m", 7.5, 7},
        {"-1.25", -1.25, -1},
        {"+3", 3, 3},
        {".5", 0.5, 0},
        {"", 0, 0},
        {"abc", 0, 0},
        {"inf", 0, 0},
        {"nan", 0, 0},
        {"1e999", 0, 1},
        {"0x1A", 0, 0},
        {"20240305", 20240305, 20240305},
        {"2024-03-05", 2024, 2024},
        {"99999999999", 99999999999.0, INT32_MAX},
        {"-99999999999", -99999999999.0, INT32_MIN},
    };
    for (const auto& c : cases) {
        EXPECT_DOUBLE_EQ(TextNumber(c.text), c.number) << c.text;
        EXPECT_EQ(TextInteger(c.text), c.integer) << c.text;
    }
}

TEST(ValueFormat, LongDurationsKeepTheirHours) {
    EXPECT_EQ(FormatDuration(255 * 3600 + 59 * 60), "255:59");
    EXPECT_EQ(FormatDuration(256 * 3600), "256:00");
    EXPECT_EQ(FormatDuration(1000 * 3600 + 61), "1000:01");
}

TEST(ValueFormat, ValuesThatAreNotFiniteShowAsNotAvailableAndNoZeroIsNegative) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::nan("");
    struct Case {
        const char* what;
        std::string text, expected;
    } cases[] = {
        {"depth overflowing into feet", FormatDepth(1e308, kImperial), "N/A"},
        {"depth from a float overflow", FormatDepth(static_cast<float>(1e308), kMetric), "N/A"},
        {"pressure", FormatPressure(-inf, kMetric), "N/A"},
        {"temperature", FormatTemperature(static_cast<float>(nan), kImperial), "N/A"},
        {"weight", FormatWeight(nan, kMetric), "N/A"},
        {"suit", FormatSuitThickness(inf), "N/A"},
        {"depth -0.04", FormatDepth(-0.04, kMetric), "0.0"},
        {"depth -0.0", FormatDepth(-0.0, kImperial), "0.0"},
        {"pressure -0.4", FormatPressure(-0.4, kMetric), "0"},
        {"temperature -0.01 C", FormatTemperature(-0.01f, kMetric), "0.0"},
        {"depth -0.06 keeps its sign", FormatDepth(-0.06, kMetric), "-0.1"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.text, c.expected) << c.what;
}
