#include "base/json_safe.h"

#include <cmath>
#include <limits>
#include <memory>

namespace json_safe {

namespace {
const Json::Value& Null() {
    static const Json::Value null_value;
    return null_value;
}
}  // namespace

bool Parse(const std::string& text, Json::Value& root) {
    root = Json::Value();
    if (text.empty()) return false;
    Json::CharReaderBuilder builder;
    builder["stackLimit"] = 256;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string errors;
    try {
        return reader->parse(text.data(), text.data() + text.size(), &root, &errors);
    } catch (const std::exception&) {
        // JsonCpp throws on nesting beyond the stack limit.
        root = Json::Value();
        return false;
    }
}

const Json::Value& Member(const Json::Value& obj, const char* key) {
    if (!obj.isObject()) return Null();
    const Json::Value* found = obj.find(key, key + std::char_traits<char>::length(key));
    return found ? *found : Null();
}

std::string AsString(const Json::Value& v) {
    return v.isString() ? v.asString() : std::string();
}

int AsInt(const Json::Value& v) {
    if (v.isInt()) return v.asInt();
    if (v.isDouble()) {
        double d = v.asDouble();
        if (std::isfinite(d) && d >= std::numeric_limits<int>::min() && d <= std::numeric_limits<int>::max())
            return static_cast<int>(d);
    }
    return 0;
}

double AsDouble(const Json::Value& v) {
    return (v.isNumeric() && !v.isBool()) ? v.asDouble() : 0.0;
}

const Json::Value& Element(const Json::Value& arr, Json::ArrayIndex i) {
    if (!arr.isArray() || i >= arr.size()) return Null();
    return arr[i];
}

Json::ArrayIndex Size(const Json::Value& arr) {
    return arr.isArray() ? arr.size() : 0;
}

}  // namespace json_safe
