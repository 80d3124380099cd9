// The cloud's sync instructions and the result code of its answers.
#include "base/json_safe.h"
#include "fuzz/fuzz_input.h"
#include "sync/sync_instructions.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    vorta_sync::InstructionList list;
    if (vorta_sync::ParseInstructions(text, list)) {
        FUZZ_CHECK(list.tknum >= 0 && list.total >= 0);
        for (const auto& item : list.spi) FUZZ_CHECK(item.cb_send >= 0 && item.cb_send <= vorta_sync::kMaxItemBytes);
    }
    Json::Value root;
    json_safe::Parse(text, root);
    vorta_sync::CheckCode(root);
    return 0;
}
