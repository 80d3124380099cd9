#include "base/config.h"

#include "base/json_safe.h"
#include "base/paths.h"

#include <cstdlib>
#include <mutex>
#include <optional>
#include <sys/stat.h>

namespace {

// A handful of short values; a larger file is not read.
constexpr off_t kMaxFileBytes = 1 << 20;

std::mutex& ConfigMutex() {
    static std::mutex m;
    return m;
}

// Empty until first read.
std::optional<Config>& Stored() {
    static std::optional<Config> config;
    return config;
}

// The file's value when it is a non-empty string, then the environment's
// when it is set and non-empty.
void Take(std::string& field, const Json::Value& root, const char* key, const char* env) {
    std::string v = json_safe::String(root, key);
    if (!v.empty()) field = v;
    const char* e = std::getenv(env);
    if (e != nullptr && e[0] != '\0') field = e;
}

Config ReadConfig() {
    std::string folder = ConfigFolder();
    std::string path = folder.empty() ? std::string() : folder + "/config.json";
    struct stat st;
    std::string text;
    if (!path.empty() && ::stat(path.c_str(), &st) == 0 && st.st_size <= kMaxFileBytes) text = ReadWholeFile(path);
    return ParseConfig(text);
}

}  // namespace

Config ParseConfig(const std::string& text) {
    Config c;
    Json::Value root;
    json_safe::Parse(text, root);
    Take(c.cloud_host, root, "cloud_host", "VORTA_CLOUD_HOST");
    Take(c.ca_file, root, "ca_file", "VORTA_CA_FILE");
    Take(c.device_port, root, "device_port", "VORTA_DEVICE_PORT");
    Take(c.facebook_auth_url, root, "facebook_auth_url", "VORTA_FACEBOOK_AUTH_URL");
    Take(c.facebook_redirect_url, root, "facebook_redirect_url", "VORTA_FACEBOOK_REDIRECT_URL");
    Take(c.facebook_graph_url, root, "facebook_graph_url", "VORTA_FACEBOOK_GRAPH_URL");
    Take(c.facebook_client_id, root, "facebook_client_id", "VORTA_FACEBOOK_CLIENT_ID");
    Take(c.map_tile_url, root, "map_tile_url", "VORTA_MAP_TILE_URL");
    return c;
}

const Config& GetConfig() {
    std::lock_guard<std::mutex> lock(ConfigMutex());
    if (!Stored()) Stored() = ReadConfig();
    return *Stored();
}

void ReloadConfig() {
    Config fresh = ReadConfig();
    std::lock_guard<std::mutex> lock(ConfigMutex());
    Stored() = fresh;
}
