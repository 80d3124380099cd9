// The script calls the program makes into the map and chart pages: names,
// argument order and the exact texts.
#include <gtest/gtest.h>

#include <locale>

#include "tests/browser/map_script_fake.h"

using namespace vorta_browser;

TEST(MapScript, CallsCarryTheirTextsInPageOrder) {
    using V = std::vector<std::string>;
    struct Case {
        MapScriptCall call;
        const char* function;
        V args;
    } cases[] = {
        {SetCenter(25.033964, 121.564468), "setCenter", {"25.033964", "121.564468"}},
        {SetCenter(-121.5, 0.0), "setCenter", {"-121.500000", "0.000000"}},
        {SetCenterWithZoom(1.0, -2.0), "setCenterWithZoom", {"1.000000", "-2.000000", "14"}},
        {ClrMarker(), "clrMarker", {}},
        {SetCMarker(-33.8688, 151.2093), "setCMarker", {"-33.868800", "151.209300"}},
        {SetSMarker(0.0000004, -0.0000006), "setSMarker", {"0.000000", "-0.000001"}},
        {SetEMarker(89.99999999, -180.0), "setEMarker", {"90.000000", "-180.000000"}},
        {SetPMarker(12.345678, 98.7654321), "setPMarker", {"12.345678", "98.765432"}},
        {GetCenter(), "getCenter", {}},
        {SetDiveChart(1, "[[0,0.0]]"), "setDiveChart", {"1", "[[0,0.0]]"}},
        {SetDiveChart(0, ""), "setDiveChart", {"0", ""}},
        {SetDiveValue(R"({"value":{"log_date":"2024-01-02 03:04"}})"),
         "setDiveValue",
         {R"({"value":{"log_date":"2024-01-02 03:04"}})"}},
    };
    browser_test::RecordingMapScript page;
    for (const auto& c : cases) {
        EXPECT_EQ(c.call.function, c.function);
        EXPECT_EQ(c.call.args, c.args) << c.function;
        page.Call(c.call);
    }
    ASSERT_EQ(page.calls.size(), std::size(cases));
    EXPECT_EQ(page.calls[2], SetCenterWithZoom(1.0, -2.0));
}

TEST(MapScript, CoordinateTextsIgnoreTheProcessLocale) {
    struct CommaDecimal : std::numpunct<char> {
        char do_decimal_point() const override { return ','; }
        std::string do_grouping() const override { return "\3"; }
        char do_thousands_sep() const override { return '.'; }
    };
    std::locale before = std::locale::global(std::locale(std::locale::classic(), new CommaDecimal));
    std::string micro = FormatCoordinateE6(25033964);
    std::string lng = FormatCoordinate(-1121.5);
    std::locale::global(before);
    EXPECT_EQ(micro, "25.033964");
    EXPECT_EQ(lng, "-1121.500000");
    EXPECT_EQ(FormatCoordinateE6(-33868800), "-33.868800");
    EXPECT_EQ(FormatCoordinateE6(INT32_MIN), "-2147.483648");
}
