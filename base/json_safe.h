// Reading JSON from the cloud, pages and files without ever throwing.
//
// JsonCpp's accessors throw on a value of the wrong type (asString on an
// object, asInt on a huge number, operator[] on an array). Everything that
// reads untrusted JSON goes through these helpers instead: a missing key or a
// value of the wrong type reads as empty text, 0 or 0.0, or an empty
// object/array.
#pragma once

#include <json/json.h>

#include <string>

namespace json_safe {

// Parses text as one JSON value (comments allowed, any root type, nesting
// bounded). Returns false on any syntax error or on empty input.
bool Parse(const std::string& text, Json::Value& root);

// The member `key` of `obj`, or a null value when `obj` is not an object or
// has no such member. Never inserts.
const Json::Value& Member(const Json::Value& obj, const char* key);

// Text of a string value; empty for any other type.
std::string AsString(const Json::Value& v);
// Integer value; a double is truncated when it fits. Anything else gives 0.
int AsInt(const Json::Value& v);
// Any number; anything else gives 0.0.
double AsDouble(const Json::Value& v);

inline std::string String(const Json::Value& obj, const char* key) {
    return AsString(Member(obj, key));
}
inline int Int(const Json::Value& obj, const char* key) {
    return AsInt(Member(obj, key));
}
inline double Double(const Json::Value& obj, const char* key) {
    return AsDouble(Member(obj, key));
}

// Element i of an array, or null when `arr` is not an array or too short.
const Json::Value& Element(const Json::Value& arr, Json::ArrayIndex i);
// Number of elements when `arr` is an array, else 0.
Json::ArrayIndex Size(const Json::Value& arr);

}  // namespace json_safe
