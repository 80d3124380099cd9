#include "sync/sync_instructions.h"

#include <cctype>
#include <cmath>
#include <limits>

#include "base/json_safe.h"

namespace vorta_sync {

namespace {

// A whole number within [lo, hi]; null (a missing key) reads as 0.
bool ReadWhole(const Json::Value& v, int64_t lo, int64_t hi, int64_t& out) {
    if (v.isNull()) {
        out = 0;
        return lo <= 0 && 0 <= hi;
    }
    if (v.isBool()) return false;
    if (v.isInt64()) {
        out = v.asInt64();
    } else if (v.isUInt64()) {
        return false;  // above int64 range: above every bound used here
    } else if (v.isDouble()) {
        double d = v.asDouble();
        if (!std::isfinite(d) || d != std::floor(d) || d < -9.0e18 || d > 9.0e18) return false;
        out = static_cast<int64_t>(d);
    } else {
        return false;
    }
    return out >= lo && out <= hi;
}

bool ReadText(const Json::Value& v, std::string& out) {
    if (v.isNull()) {
        out.clear();
        return true;
    }
    if (!v.isString()) return false;
    out = v.asString();
    return true;
}

bool ReadArray(const Json::Value& v) {
    return v.isNull() || v.isArray();
}

constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();
constexpr int64_t kUInt32Max = std::numeric_limits<uint32_t>::max();

}  // namespace

bool ParseInstructions(const std::string& text, InstructionList& out) {
    out = InstructionList();
    Json::Value root;
    if (!json_safe::Parse(text, root) || !root.isObject()) return false;
    const Json::Value& response = json_safe::Member(root, "response");
    if (!response.isNull() && !response.isObject()) return false;

    int64_t n = 0;
    if (!ReadWhole(json_safe::Member(response, "tknum"), 0, kInt32Max, n)) return false;
    out.tknum = static_cast<int32_t>(n);
    if (!ReadWhole(json_safe::Member(response, "total"), 0, kInt32Max, n)) return false;
    out.total = static_cast<int32_t>(n);

    const Json::Value& spi = json_safe::Member(response, "spi");
    if (!ReadArray(spi)) return false;
    for (Json::ArrayIndex i = 0; i < json_safe::Size(spi); ++i) {
        const Json::Value& item = json_safe::Element(spi, i);
        if (!item.isObject()) return false;
        SyncItem it;
        if (!ReadText(json_safe::Member(item, "command"), it.command)) return false;
        if (!ReadWhole(json_safe::Member(item, "cb_send"), 0, kMaxItemBytes, n)) return false;
        it.cb_send = static_cast<int32_t>(n);
        const Json::Value& flash = json_safe::Member(item, "flash");
        if (!ReadArray(flash)) return false;
        for (Json::ArrayIndex j = 0; j < json_safe::Size(flash); ++j) {
            const Json::Value& range = json_safe::Element(flash, j);
            if (!range.isObject()) return false;
            FlashRange r;
            if (!ReadWhole(json_safe::Member(range, "addr"), 0, kUInt32Max, n)) return false;
            r.addr = static_cast<uint32_t>(n);
            // Out-of-range sizes are kept and fail their item when it runs.
            if (!ReadWhole(json_safe::Member(range, "size"), std::numeric_limits<int64_t>::min(),
                           std::numeric_limits<int64_t>::max(), r.size))
                return false;
            it.flash.push_back(r);
        }
        out.spi.push_back(std::move(it));
    }
    return true;
}

CodeCheck CheckCode(const Json::Value& root) {
    if (!root.isObject()) return CodeCheck::kWrongType;
    const Json::Value& code = json_safe::Member(root, "code");
    if (code.isNull()) return CodeCheck::kZero;
    if (!code.isString()) return CodeCheck::kWrongType;
    const std::string text = code.asString();
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i)
        if (text[i] != '0') return CodeCheck::kNonZero;
    return CodeCheck::kZero;
}

}  // namespace vorta_sync
