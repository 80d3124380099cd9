#include "cloud/cloud_config.h"

#ifdef VORTA_HAVE_SETTINGS
#include "app/settings/config.h"

std::string CloudHost() { return GetConfig().cloud_host; }
std::string CloudCaFile() { return GetConfig().ca_file; }

#else
// Built without the settings library: the environment and the defaults only.
#include <cstdlib>

namespace {
std::string Env(const char* name, const char* fallback) {
    const char* v = std::getenv(name);
    return (v && *v) ? std::string(v) : std::string(fallback);
}
}  // namespace

std::string CloudHost() { return Env("VORTA_CLOUD_HOST", "127.0.0.1"); }
std::string CloudCaFile() { return Env("VORTA_CA_FILE", ""); }
#endif
