// The settings file as found on disk: any bytes.
#include "app/settings/settings_store.h"
#include "fuzz/fuzz_input.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    StoredSettings s;
    if (!ParseSettings(text, s)) {
        FUZZ_CHECK(s.unit == 0 && s.lang == 0 && s.e.empty() && s.p.empty() && s.t.empty());
    }
    return 0;
}
