// The cloud's answer envelope, and the request paths built from values the
// cloud or the device hands back (ids, commands, model codes, versions).
#include "cloud/cloud_api.h"
#include "cloud/http_post.h"
#include "fuzz/fuzz_input.h"

#include <string>

namespace {

// A value put into a path stays one segment, or one query value: it can
// neither end the path nor add a query field nor name this folder or the
// one above.
void CheckSegment(const std::string& url, const std::string& prefix, const std::string& suffix) {
    FUZZ_CHECK(url.compare(0, prefix.size(), prefix) == 0);
    FUZZ_CHECK(url.size() >= prefix.size() + suffix.size());
    FUZZ_CHECK(url.compare(url.size() - suffix.size(), suffix.size(), suffix) == 0);
    const std::string segment = url.substr(prefix.size(), url.size() - prefix.size() - suffix.size());
    FUZZ_CHECK(segment.find_first_of("/?#&= \\") == std::string::npos);
    FUZZ_CHECK(segment != "." && segment != "..");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string body(reinterpret_cast<const char*>(data), size);

    Json::Value response;
    const EnvelopeResult result = check_envelope(body, &response);
    if (result != EnvelopeResult::Success) FUZZ_CHECK(response.isNull());
    FUZZ_CHECK(check_envelope(body) == result);
    FUZZ_CHECK((EnvelopeMessageKey(result)[0] == '\0') == (result == EnvelopeResult::Success));

    vorta_fuzz::Input in(data, size);
    const std::string value = in.Text(64);
    CheckSegment(UrlDivelog(value), "api/v1/divelogs/divelog/", "");
    CheckSegment(UrlDivelogEdit(value), "api/v1/divelogs/", "");
    CheckSegment(UrlStatistics(value), "api/v1/users/", "/statistics");
    const std::string header = UrlHeaderInfo(value, in.I32());
    FUZZ_CHECK(header.find('#') == std::string::npos);
    const std::string command = UrlDeviceCommand(value, in.Text(16), in.I32(), in.I32());
    FUZZ_CHECK(command.find('#') == std::string::npos);
    FUZZ_CHECK(command.find("/../") == std::string::npos);
    FirmwareVersionNumber(value);
    return 0;
}
