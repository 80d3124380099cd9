// The text table "string.json" as found beside the program: any bytes, then
// look-ups of the keys it holds and of keys it does not.
#include "app/settings/lang_table.h"
#include "base/app_state.h"
#include "base/json_safe.h"
#include "fuzz/fuzz_input.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    LoadLangTableText(text);
    FUZZ_CHECK(AppState.language == "ENG");
    Json::Value root;
    if (json_safe::Parse(text, root) && root.isObject()) {
        for (const std::string& key : root.getMemberNames()) {
            GetLangText(key);
            GetLangTextIn(key, "CHT");
            GetLangTextIn(key, "");
        }
    }
    GetLangText("");
    GetLangText(text.substr(0, 32));
    return 0;
}
