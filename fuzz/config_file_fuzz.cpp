// The configuration file as found on disk: any bytes.
#include "base/config.h"
#include "fuzz/fuzz_input.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const Config c = ParseConfig(text);
    // A host read from the file is never empty: empty text keeps the default.
    if (std::getenv("VORTA_CLOUD_HOST") == nullptr) FUZZ_CHECK(!c.cloud_host.empty());
    return 0;
}
