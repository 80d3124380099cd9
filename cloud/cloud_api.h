// The cloud service's endpoints (relative request paths and download URLs)
// and the classification of its JSON answers.
#pragma once

#include <json/json.h>

#include <string>

#include "cloud/cloud_config.h"

// --- Request paths, relative to https://host:8443/ -------------------------
std::string UrlLogin();                                     // POST, form, no auth
std::string UrlSocialLogin();                               // POST, form, no auth
std::string UrlCalendarMonth(int year, int month);          // GET
std::string UrlCalendarDate(int year, int month, int day);  // GET
std::string UrlDivelog(const std::string& divelog_id);      // GET
std::string UrlDivelogEdit(const std::string& divelog_id);  // PATCH, JSON
std::string UrlStatistics(const std::string& user_id);      // GET
std::string UrlSearchDivesites();                           // POST, form
// The form body of a dive-site search: "query=<text>&limit=20" with the text
// percent-encoded as UTF-8 (so "&", "=", "+" and "%" in it stay in the query).
std::string SearchDivesitesBody(const std::string& text);
// Sync instructions for the connected dive computer.
std::string UrlHeaderInfo(const std::string& model, int firmware_version);
// Posting device memory for `command`; "addDivelogs" goes to the v2 API.
std::string UrlDeviceCommand(const std::string& command, const std::string& model, int length, int firmware_version);

// --- Absolute download URLs on the cloud host (port 8443) ------------------
std::string UrlFirmwareManifest(const std::string& host);
std::string UrlDivesiteManifest(const std::string& host);
inline std::string UrlFirmwareManifest() {
    return UrlFirmwareManifest(CloudHost());
}
inline std::string UrlDivesiteManifest() {
    return UrlDivesiteManifest(CloudHost());
}

// The firmware version as a number: the characters at positions 1, 3, 4 and 5
// of the version text ("1.025" gives 1025), read as a decimal integer that
// stops at the first non-digit.
int FirmwareVersionNumber(const std::string& version_text);

// --- Response envelope {"code", "message", "response"} ---------------------
enum class EnvelopeResult {
    NotConnected,  // not JSON (an empty body included): "HOST_NOT_CONN"
    HostError,     // "code" missing, null or "": "HOST_ERROR"
    DataError,     // "code" other than "0000000": "DATA_ERROR"
    Success,       // "code" is "0000000"; the payload is "response"
};

// Classifies a body. On success, *response (when given) receives the
// "response" member: null when absent, so reading it gives empty values.
// On any other class *response is set to null. Never throws.
EnvelopeResult check_envelope(const std::string& body, Json::Value* response = nullptr);

// The message key shown for a class ("" for success).
const char* EnvelopeMessageKey(EnvelopeResult result);
