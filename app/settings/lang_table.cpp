#include "app/settings/lang_table.h"

#include "base/app_state.h"
#include "base/json_safe.h"
#include "base/paths.h"

namespace {
// Written once at start-up on the UI thread, then only read (also by worker
// threads): json_safe::Member never inserts, so concurrent reads are safe.
Json::Value& Table() {
    static Json::Value table(Json::objectValue);
    return table;
}
}  // namespace

// The table is read whole at start-up: like the settings and configuration
// files it is capped, and a larger one counts as unreadable.
constexpr std::uint64_t kMaxTableBytes = 1 << 20;

bool LoadLangTable(const std::string& path) {
    return LoadLangTableText(ReadWholeFile(path, kMaxTableBytes));
}

bool LoadLangTableText(const std::string& text) {
    AppState.language.clear();
    Json::Value parsed;
    bool ok = json_safe::Parse(text, parsed) && parsed.isObject();
    Table() = ok ? parsed : Json::Value(Json::objectValue);
    AppState.language = "ENG";
    return ok;
}

std::string GetLangText(const std::string& key) {
    return GetLangTextIn(key, AppState.language);
}

std::string GetLangTextIn(const std::string& key, const std::string& language) {
    const Json::Value& entry = json_safe::Member(Table(), key.c_str());
    return json_safe::String(entry, language.c_str());
}
