// The cloud service's sync instructions, read from its JSON answer with every
// value's type checked, so that a malformed answer fails as a whole before
// any device memory is read.
//
//   "response" -> "tknum" (items), "total" (bytes, for display),
//   "spi": [ { "command", "cb_send", "flash": [ { "addr", "size" } ] } ]
//
// A missing key reads as 0 or empty text; a present key of another type, a
// negative count, or an item buffer ("cb_send") above kMaxItemBytes makes
// the answer malformed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <json/json.h>

namespace vorta_sync {

// The largest item buffer accepted: sixteen times the device's whole log
// memory, so that a wrong answer cannot make the tool claim gigabytes.
constexpr int32_t kMaxItemBytes = 16 * 1024 * 1024;

struct FlashRange {
    uint32_t addr = 0;
    int64_t size = 0;  // leading bytes of the block to keep; judged per item
};

struct SyncItem {
    std::string command;
    int32_t cb_send = 0;
    std::vector<FlashRange> flash;
};

struct InstructionList {
    int32_t tknum = 0;
    int32_t total = 0;
    std::vector<SyncItem> spi;
};

// False when `text` is not JSON or any value has a wrong type or range.
bool ParseInstructions(const std::string& text, InstructionList& out);

// The result code of a parsed answer: root "code" read as text and its
// leading decimal integer (after optional spaces and a sign) tested for zero.
// A missing or null "code" counts as zero; a "code" that is not text, or a
// root that is not an object, is of the wrong type.
enum class CodeCheck { kZero, kNonZero, kWrongType };
CodeCheck CheckCode(const Json::Value& root);

}  // namespace vorta_sync
