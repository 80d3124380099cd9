#include "cloud/cloud_api.h"

#include "base/json_safe.h"
#include "cloud/http_post.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace {

std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

std::string Format(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(nullptr, 0, fmt, args);
    va_end(args);
    std::string out;
    if (n > 0) {
        out.resize(static_cast<size_t>(n) + 1);
        std::vsnprintf(&out[0], out.size(), fmt, again);
        out.resize(static_cast<size_t>(n));
    }
    va_end(again);
    return out;
}

}  // namespace

std::string UrlLogin() {
    return "api/v1/users/login";
}
std::string UrlSocialLogin() {
    return "api/v1/users/socialLogin";
}

std::string UrlCalendarMonth(int year, int month) {
    return Format("api/v1/divelogs/calendar/month?year_month=%.4d%.2d", year, month);
}

std::string UrlCalendarDate(int year, int month, int day) {
    return Format("api/v1/divelogs/calendar/date?year_month_date=%.4d%.2d%.2d", year, month, day);
}

// Ids, commands and model codes come from the cloud or the device. The ones
// they send are letters and digits, which pass through url_encode unchanged;
// anything else is encoded, so that no value can end the path, add query
// fields or climb to another endpoint (which would then receive the token).
// A segment of only "." or ".." passes url_encode unchanged but would be
// resolved by the URL parser as this folder or the one above; its dots are
// encoded too.
namespace {
std::string PathSegment(const std::string& value) {
    if (value == "." || value == "..") return value.size() == 1 ? "%2E" : "%2E%2E";
    return url_encode(value);
}
}  // namespace

std::string UrlDivelog(const std::string& divelog_id) {
    return "api/v1/divelogs/divelog/" + PathSegment(divelog_id);
}
std::string UrlDivelogEdit(const std::string& divelog_id) {
    return "api/v1/divelogs/" + PathSegment(divelog_id);
}
std::string UrlStatistics(const std::string& user_id) {
    return "api/v1/users/" + PathSegment(user_id) + "/statistics";
}
std::string UrlSearchDivesites() {
    return "api/v1/searches/divesites";
}
std::string SearchDivesitesBody(const std::string& text) {
    return "query=" + url_encode(text) + "&limit=20";
}

std::string UrlHeaderInfo(const std::string& model, int firmware_version) {
    return Format("api/v1/devices/headerInfo?model=%s&firmware_version=%d", url_encode(model).c_str(),
                  firmware_version);
}

std::string UrlDeviceCommand(const std::string& command, const std::string& model, int length, int firmware_version) {
    const char* fmt = command == "addDivelogs" ? "api/v2/devices/%s?model=%s&length=%d&firmware_version=%d"
                                               : "api/v1/devices/%s?model=%s&length=%d&firmware_version=%d";
    return Format(fmt, PathSegment(command).c_str(), url_encode(model).c_str(), length, firmware_version);
}

std::string UrlFirmwareManifest(const std::string& host) {
    return Format("%s://%s:%d/api/v1/devices/firmwareUpdate?model=K7", "https", UrlHost(host).c_str(), kCloudPort);
}

std::string UrlDivesiteManifest(const std::string& host) {
    return Format("%s://%s:%d/api/v1/devices/divesites?model=K7", "https", UrlHost(host).c_str(), kCloudPort);
}

int FirmwareVersionNumber(const std::string& version_text) {
    // Positions 1, 3, 4, 5 (the separator at 2 skipped), as far as the text goes.
    std::string digits;
    for (size_t i : {0u, 2u, 3u, 4u}) {
        if (i >= version_text.size()) break;
        digits.push_back(version_text[i]);
    }
    return static_cast<int>(std::strtol(digits.c_str(), nullptr, 10));
}

EnvelopeResult check_envelope(const std::string& body, Json::Value* response) {
    if (response) *response = Json::Value();
    Json::Value root;
    if (!json_safe::Parse(body, root)) return EnvelopeResult::NotConnected;
    const Json::Value& code = json_safe::Member(root, "code");
    if (code.isNull() || (code.isString() && code.asString().empty())) return EnvelopeResult::HostError;
    // A code of another type than text is not success either.
    if (!code.isString() || code.asString() != "0000000") return EnvelopeResult::DataError;
    // Moved out, not copied: a dive log's answer is large. Without the
    // member the response stays null.
    if (response && root.isObject() && root.isMember("response")) *response = std::move(root["response"]);
    return EnvelopeResult::Success;
}

const char* EnvelopeMessageKey(EnvelopeResult result) {
    switch (result) {
        case EnvelopeResult::NotConnected: return "HOST_NOT_CONN";
        case EnvelopeResult::HostError: return "HOST_ERROR";
        case EnvelopeResult::DataError: return "DATA_ERROR";
        case EnvelopeResult::Success: return "";
    }
    return "";
}
