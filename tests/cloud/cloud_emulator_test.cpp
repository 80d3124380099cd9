// The cloud client against the testbed's cloud emulator over real TLS.
#include "base/app_state.h"
#include "base/json_safe.h"
#include "cloud/cloud_api.h"
#include "cloud/http_post.h"
#include "tests/support/cloudemu_process.h"

#include <gtest/gtest.h>

#include <strings.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

namespace {

std::string DeviceBytes(size_t n) {
    std::string bytes(n, '\0');
    for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<char>(i * 13);
    return bytes;
}

// A header of a logged request, or "<none>" when it was not sent.
std::string HeaderOf(const vorta_test::CloudRequest& request, const char* name) {
    for (const auto& header : request.headers)
        if (strcasecmp(header.first.c_str(), name) == 0) return header.second;
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

    std::string SignIn(HttpPost& http) {
        const std::string form = "email=" + url_encode("demo@vorta.example") + "&password=" + url_encode("vorta-demo");
        Json::Value response;
        EXPECT_EQ(
            check_envelope(http.request(form.data(), static_cast<uint32_t>(form.size()), 0, "POST", UrlLogin(), ""),
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
    EXPECT_EQ(
        check_envelope(http.request(nullptr, 0, 0, "GET", UrlCalendarMonth(2024, 3), make_bearer_header()), &response),
        EnvelopeResult::Success);
    EXPECT_EQ(
        check_envelope(http.request(nullptr, 0, 0, "GET", UrlStatistics("1001"), make_bearer_header()), &response),
        EnvelopeResult::Success);
    // One block of device bytes, form-typed and binary, arrives intact.
    const std::string device = DeviceBytes(4096);
    http.request(device.data(), static_cast<uint32_t>(device.size()), 0, "POST",
                 UrlDeviceCommand("addHeaders", "K7", static_cast<int>(device.size()), 1025), make_bearer_header());

    EXPECT_EQ(emu_.Stats().handshakes, 1);
    const auto log = emu_.Log();
    ASSERT_EQ(log.size(), 4u);
    const auto& login = log[0];
    EXPECT_EQ(login.path, "/api/v1/users/login");
    EXPECT_EQ(HeaderOf(login, "Authorization"), "<none>");
    EXPECT_EQ(HeaderOf(login, "Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(HeaderOf(login, "User-Agent"), "InetURL/1.0");
    EXPECT_EQ(HeaderOf(login, "Accept"), "application/json");
    const auto& month = log[1];
    EXPECT_EQ(month.verb, "GET");
    EXPECT_EQ(month.path, "/api/v1/divelogs/calendar/month?year_month=202403");
    EXPECT_EQ(HeaderOf(month, "Authorization"), "Bearer " + AppState.token);
    const auto& post = log[3];
    EXPECT_EQ(post.path, "/api/v1/devices/addHeaders?model=K7&length=4096&firmware_version=1025");
    EXPECT_TRUE(post.body == device);
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
    const auto log = emu_.Log();
    EXPECT_TRUE(!log.empty() && log.back().body == device);
}

TEST_F(CloudEmulator, FaultsEndInTheirEnvelopeClasses) {
    HttpPost http(options_);
    ASSERT_TRUE(http.connect(host_, kCloudPort));
    AppState.token = SignIn(http);
    const std::string path = UrlCalendarMonth(2024, 3);
    auto get = [&] { return http.request(nullptr, 0, 0, "GET", path, make_bearer_header()); };
    auto fault = [&](const std::string& kind, int delay_ms = 0) {
        vorta_test::CloudFault f;
        f.kind = kind;
        f.path = "/api/v1/divelogs";
        f.delay_ms = delay_ms;  // the code of a "code" fault is "0000001"
        emu_.SetFault(f);
    };
    fault("not_json");
    EXPECT_EQ(check_envelope(get()), EnvelopeResult::NotConnected);
    fault("no_code");
    EXPECT_EQ(check_envelope(get()), EnvelopeResult::HostError);
    fault("code");
    EXPECT_EQ(check_envelope(get()), EnvelopeResult::DataError);
    fault("drop");
    EXPECT_EQ(get(), "");
    fault("slow", 2500);
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
