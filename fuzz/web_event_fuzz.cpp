// A call of the map page into the program: the method name and its
// arguments as the page passed them, here one JSON array [name, arg, ...].
#include "base/json_safe.h"
#include "browser/web_event.h"
#include "fuzz/fuzz_input.h"

#include <cmath>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    Json::Value call;
    if (!json_safe::Parse(text, call)) return 0;

    MapEventStateRecord state;
    state.target = 7;
    int posted = 0;
    WebEvent events(state, [&posted](uint64_t target, uint32_t) {
        FUZZ_CHECK(target == 7);
        ++posted;
    });
    WebEvent::Args args;
    for (Json::ArrayIndex i = 1; i < json_safe::Size(call); ++i) args.push_back(json_safe::Element(call, i));
    const std::string name = json_safe::AsString(json_safe::Element(call, 0));
    events.InvokeByName(name, args);
    // Whatever the page passed, a stored position is a real one.
    FUZZ_CHECK(std::isfinite(state.lat) && std::isfinite(state.lng));
    FUZZ_CHECK(posted <= 1);

    for (const Json::Value& arg : args) {
        if (auto v = vorta_browser::ArgAsDouble(arg)) FUZZ_CHECK(std::isfinite(*v));
    }
    if (auto v = vorta_browser::ArgAsDouble(Json::Value(text))) FUZZ_CHECK(std::isfinite(*v));
    return 0;
}
