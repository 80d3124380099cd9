// The figures of a dive as the cloud sends them (any number, any code, any
// time and zone), formatted for the pages in both unit systems.
#include "divelog/value_format.h"
#include "fuzz/fuzz_input.h"

#include <cmath>
#include <string>

using namespace vorta_divelog;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vorta_fuzz::Input in(data, size);
    const int32_t unit = in.Byte() % 3 == 2 ? in.I32() : in.Byte() & 1;

    const int64_t local = LocalDiveTime(in.I64(), in.I64());
    const std::string short_time = FormatShortDateTime(local);
    const std::string long_time = FormatLongDateTime(local);
    FUZZ_CHECK(short_time.empty() == long_time.empty());
    FormatDuration(in.I64());

    FormatDepth(in.Double(), unit);
    FormatPressure(in.Double(), unit);
    FormatVolume(in.I32());
    FormatTemperature(in.Float(), unit);
    FormatWeight(in.Double(), unit);
    FormatSuitThickness(in.Double());

    const double start = in.Double(), end = in.Double(), depth = in.Double();
    const int32_t volume = in.I32();
    const int64_t duration = in.I64();
    const int32_t water = in.I32();
    const float sac = ComputeSac(start, end, volume, depth, duration, water, unit);
    const std::string sac_text = FormatSac(sac, unit);
    FUZZ_CHECK(std::isfinite(sac) || sac_text == kNotAvailable);

    const int32_t code = in.I32();
    for (const char* label : {WeatherLabel(code), WavesLabel(code), CurrentLabel(code), VisibilityLabel(code)}) {
        FUZZ_CHECK(label != nullptr);
        LabelText(label, [](const std::string& key) { return key; });
    }
    const DiveTypeInfo& type = DiveTypeOf(DiveTypeCode(in.Text(16)));
    FUZZ_CHECK(type.label_key != nullptr);
    FUZZ_CHECK(DiveTypeOf(in.I32()).label_key != nullptr);
    return 0;
}
