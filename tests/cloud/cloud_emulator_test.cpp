// The cloud client against the testbed's cloud emulator over real TLS.
#include "app/app_state.h"
#include "app/json_safe.h"
#include "cloud/cloud_api.h"
#include "cloud/http_post.h"
#include "tests/support/cloudemu_process.h"

#include <gtest/gtest.h>

#include <strings.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

namespace {

std::string Base64Decode(const std::string& in) {
    static const std::string chars = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned value = 0;
    int bits = -8;
    for (char c : in) {
        const size_t d = chars.find(c);
        if (d == std::string::npos) break;
        value = (value << 6) | static_cast<unsigned>(d);
        bits += 6;
        if (bits >= 0) {
            out.push_back(static_cast<char>((value >> bits) & 0xFF));
            bits -= 8;
        }
    }
    return out;
}

std::string DeviceBytes(size_t n) {
    std::string bytes(n, '\0');
    for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<char>(i * 13);
    return bytes;
}

std::string HeaderOf(const Json::Value& entry, const char* name) {
    const Json::Value& headers = json_safe::Member(entry, "headers");
    if (!headers.isObject()) return "<none>";
    for (const auto& key : headers.getMemberNames()) {
        if (strcasecmp(key.c_str(), name) == 0) return json_safe::String(headers, key.c_str());
    }
    return "<none>";
}

class CloudEmulator : public ::testing::Test {
protected:
    void SetUp() override {
        // A loopback address of our own: other tests may run emulators too.
        ASSERT_TRUE(emu_.Start()) << "the emulator did not start";
        host_ = emu_.host();
        options_.ca_file = emu_.ca_file();
        options_.stall_seconds = 1;
    }
    void TearDown() override { AppState.token.clear(); }

    Json::Value Control(const std::string& verb, const std::string& path, const std::string& body = "") {
        HttpPost control(options_);
        control.connect(host_, kCloudPort);
        Json::Value out;
        json_safe::Parse(control.request(body.data(), static_cast<uint32_t>(body.size()), 1, verb, path, ""), out);
        return out;
    }

    std::string SignIn(HttpPost& http) {
        const std::string form = "email=" + url_encode("demo@vorta.example") + "&password=" + url_encode("vorta-demo");
        Json::Value response;
        EXPECT_EQ(check_envelope(http.request(form.data(), static_cast<uint32_t>(form.size()), 0, "POST", UrlLogin(), ""),
                                 &response),
                  EnvelopeResult::Success);
        return json_safe::String(response, "token");
    }

    vorta_test::CloudEmuProcess emu_;
    std::string host_;
    HttpOptions options_;
};

TEST_F(CloudEmulator, SignInThenAuthenticatedRequestsOnOneConnection) {
    HttpPost http(options_);
    ASSERT_TRUE(http.connect(host_, kCloudPort));
    AppState.token = SignIn(http);
    ASSERT_FALSE(AppState.token.empty());

    Json::Value response;
    EXPECT_EQ(check_envelope(http.request(nullptr, 0, 0, "GET", UrlCalendarMonth(2024, 3), make_bearer_header()),
                             &response),
              EnvelopeResult::Success);
    EXPECT_EQ(check_envelope(http.request(nullptr, 0, 0, "GET", UrlStatistics("1001"), make_bearer_header()), &response),
              EnvelopeResult::Success);
    // One block of device bytes, form-typed and binary, arrives intact.
    const std::string device = DeviceBytes(4096);
    http.request(device.data(), static_cast<uint32_t>(device.size()), 0, "POST",
                 UrlDeviceCommand("addHeaders", "K7", static_cast<int>(device.size()), 1025), make_bearer_header());

    EXPECT_EQ(json_safe::Int(Control("GET", "_testbed/stats"), "handshakes"), 1);
    const Json::Value log = Control("GET", "_testbed/log");
    ASSERT_EQ(json_safe::Size(log), 4u);
    const Json::Value& login = json_safe::Element(log, 0);
    EXPECT_EQ(json_safe::String(login, "path"), "/api/v1/users/login");
    EXPECT_EQ(HeaderOf(login, "Authorization"), "<none>");
    EXPECT_EQ(HeaderOf(login, "Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(HeaderOf(login, "User-Agent"), "InetURL/1.0");
    EXPECT_EQ(HeaderOf(login, "Accept"), "application/json");
    const Json::Value& month = json_safe::Element(log, 1);
    EXPECT_EQ(json_safe::String(month, "verb"), "GET");
    EXPECT_EQ(json_safe::String(month, "path"), "/api/v1/divelogs/calendar/month?year_month=202403");
    EXPECT_EQ(HeaderOf(month, "Authorization"), "Bearer " + AppState.token);
    const Json::Value& post = json_safe::Element(log, 3);
    EXPECT_EQ(json_safe::String(post, "path"), "/api/v1/devices/addHeaders?model=K7&length=4096&firmware_version=1025");
    EXPECT_TRUE(Base64Decode(json_safe::String(post, "body_base64")) == device);
}

TEST_F(CloudEmulator, DevicePostsOfSeveralBlocksAreAnswered) {
    // Sync posts carry several 4096-byte blocks with the form content type,
    // beyond the 8 KiB that an HTTP library may allow for form bodies.
    HttpPost http(options_);
    ASSERT_TRUE(http.connect(host_, kCloudPort));
    AppState.token = SignIn(http);
    const std::string device = DeviceBytes(3 * 4096);
    const std::string answer =
        http.request(device.data(), static_cast<uint32_t>(device.size()), 0, "POST",
                     UrlDeviceCommand("addHeaders", "K7", static_cast<int>(device.size()), 1025), make_bearer_header());
    EXPECT_NE(check_envelope(answer), EnvelopeResult::NotConnected) << "no envelope for a 12288-byte device post";
    const Json::Value log = Control("GET", "_testbed/log");
    const Json::Value& post = json_safe::Element(log, json_safe::Size(log) - 1);
    EXPECT_TRUE(Base64Decode(json_safe::String(post, "body_base64")) == device);
}

TEST_F(CloudEmulator, FaultsEndInTheirEnvelopeClasses) {
    HttpPost http(options_);
    ASSERT_TRUE(http.connect(host_, kCloudPort));
    AppState.token = SignIn(http);
    const std::string path = UrlCalendarMonth(2024, 3);
    auto get = [&] { return http.request(nullptr, 0, 0, "GET", path, make_bearer_header()); };
    auto fault = [&](const std::string& kind, const std::string& extra = "") {
        Control("POST", "_testbed/fault", "{\"kind\":\"" + kind + "\",\"path\":\"/api/v1/divelogs\",\"count\":1" + extra + "}");
    };
    fault("not_json");
    EXPECT_EQ(check_envelope(get()), EnvelopeResult::NotConnected);
    fault("no_code");
    EXPECT_EQ(check_envelope(get()), EnvelopeResult::HostError);
    fault("code", ",\"code\":\"0000001\"");
    EXPECT_EQ(check_envelope(get()), EnvelopeResult::DataError);
    fault("drop");
    EXPECT_EQ(get(), "");
    fault("slow", ",\"delay_ms\":2500");
    EXPECT_EQ(get(), "") << "a stalled answer is abandoned";
    EXPECT_EQ(check_envelope(get()), EnvelopeResult::Success);
}

TEST_F(CloudEmulator, ManifestDownloadReplacesTheFile) {
    const std::string path = emu_.data_dir() + "/features.json";
    std::ofstream(path) << std::string(200000, 'x');
    ASSERT_TRUE(download_to_file(UrlFirmwareManifest(host_), path, options_));
    std::ifstream in(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Json::Value manifest;
    EXPECT_TRUE(json_safe::Parse(text, manifest)) << text.substr(0, 200);
}

}  // namespace
