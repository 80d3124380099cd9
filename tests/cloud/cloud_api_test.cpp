// Endpoint paths, the answer envelope, form encoding and the bearer header.
#include "base/app_state.h"
#include "base/json_safe.h"
#include "cloud/cloud_api.h"
#include "cloud/http_post.h"

#include <gtest/gtest.h>

TEST(Envelope, ClassifiesTheFourCases) {
    Json::Value response;
    EXPECT_EQ(check_envelope("", &response), EnvelopeResult::NotConnected);
    EXPECT_EQ(check_envelope("<html>502 Bad Gateway</html>", &response), EnvelopeResult::NotConnected);
    EXPECT_EQ(check_envelope("{\"code\":\"0000000\"", &response), EnvelopeResult::NotConnected);
    EXPECT_EQ(check_envelope("{}", &response), EnvelopeResult::HostError);
    EXPECT_EQ(check_envelope("{\"code\":null}", &response), EnvelopeResult::HostError);
    EXPECT_EQ(check_envelope("{\"code\":\"\",\"response\":{\"a\":1}}", &response), EnvelopeResult::HostError);
    EXPECT_TRUE(response.isNull());
    EXPECT_EQ(check_envelope("{\"code\":\"0000001\",\"response\":{}}", &response), EnvelopeResult::DataError);
    EXPECT_EQ(check_envelope("{\"code\":\"0000000 \"}", &response), EnvelopeResult::DataError);

    ASSERT_EQ(check_envelope("{\"code\":\"0000000\",\"message\":\"ok\",\"response\":{\"token\":\"T\"}}", &response),
              EnvelopeResult::Success);
    EXPECT_EQ(json_safe::String(response, "token"), "T");

    EXPECT_STREQ(EnvelopeMessageKey(EnvelopeResult::NotConnected), "HOST_NOT_CONN");
    EXPECT_STREQ(EnvelopeMessageKey(EnvelopeResult::HostError), "HOST_ERROR");
    EXPECT_STREQ(EnvelopeMessageKey(EnvelopeResult::DataError), "DATA_ERROR");
}

TEST(Envelope, SuccessWithoutResponseGivesAnEmptyPayload) {
    Json::Value response(123);
    ASSERT_EQ(check_envelope("{\"code\":\"0000000\"}", &response), EnvelopeResult::Success);
    EXPECT_TRUE(response.isNull());
    EXPECT_EQ(json_safe::Size(json_safe::Member(response, "month_summary")), 0u);
    EXPECT_EQ(json_safe::String(json_safe::Member(response, "user"), "user_id"), "");
}

TEST(Envelope, WrongTypesNeverThrow) {
    const char* bodies[] = {
        "[]",
        "[1,2]",
        "5",
        "\"text\"",
        "null",
        "true",
        "{\"code\":{}}",
        "{\"code\":[\"0000000\"]}",
        "{\"code\":0}",
        "{\"code\":1e400}",
        "[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[",
    };
    for (const char* body : bodies) {
        SCOPED_TRACE(body);
        Json::Value response;
        const EnvelopeResult r = check_envelope(body, &response);
        EXPECT_NE(r, EnvelopeResult::Success);
        EXPECT_TRUE(response.isNull());
    }
    // Deep nesting beyond the parser's bound is not JSON to us.
    EXPECT_EQ(check_envelope(std::string(100000, '['), nullptr), EnvelopeResult::NotConnected);

    // A success whose payload has the wrong shape reads as empty values.
    Json::Value response;
    ASSERT_EQ(check_envelope("{\"code\":\"0000000\",\"response\":[1,2,3]}", &response), EnvelopeResult::Success);
    EXPECT_EQ(json_safe::String(response, "token"), "");
    ASSERT_EQ(check_envelope("{\"code\":\"0000000\",\"response\":{\"user\":[],\"token\":{},\"pois\":7}}", &response),
              EnvelopeResult::Success);
    EXPECT_EQ(json_safe::String(json_safe::Member(response, "user"), "user_id"), "");
    EXPECT_EQ(json_safe::String(response, "token"), "");
    EXPECT_EQ(json_safe::Size(json_safe::Member(response, "pois")), 0u);
}

TEST(Paths, CalendarAndAccountEndpoints) {
    EXPECT_EQ(UrlCalendarMonth(2024, 3), "api/v1/divelogs/calendar/month?year_month=202403");
    EXPECT_EQ(UrlCalendarDate(2024, 3, 5), "api/v1/divelogs/calendar/date?year_month_date=20240305");
    EXPECT_EQ(UrlCalendarMonth(999, 12), "api/v1/divelogs/calendar/month?year_month=099912");
    EXPECT_EQ(UrlLogin(), "api/v1/users/login");
    EXPECT_EQ(UrlSocialLogin(), "api/v1/users/socialLogin");
    EXPECT_EQ(UrlDivelog("abc123"), "api/v1/divelogs/divelog/abc123");
    EXPECT_EQ(UrlDivelogEdit("abc123"), "api/v1/divelogs/abc123");
    EXPECT_EQ(UrlStatistics("42"), "api/v1/users/42/statistics");
    EXPECT_EQ(UrlSearchDivesites(), "api/v1/searches/divesites");
}

TEST(Paths, DeviceEndpointsAndVersionNumber) {
    EXPECT_EQ(FirmwareVersionNumber("1.025"), 1025);
    EXPECT_EQ(FirmwareVersionNumber("0.000"), 0);
    EXPECT_EQ(FirmwareVersionNumber("2.1b7"), 21);  // stops at the first non-digit
    EXPECT_EQ(FirmwareVersionNumber("1.0"), 10);    // as far as the text goes
    EXPECT_EQ(FirmwareVersionNumber("x.123"), 0);
    EXPECT_EQ(FirmwareVersionNumber(""), 0);
    EXPECT_EQ(FirmwareVersionNumber("1.02599"), 1025);

    EXPECT_EQ(UrlHeaderInfo("K7", 1025), "api/v1/devices/headerInfo?model=K7&firmware_version=1025");
    EXPECT_EQ(UrlDeviceCommand("addDivelogs", "K7", 8192, 1025),
              "api/v2/devices/addDivelogs?model=K7&length=8192&firmware_version=1025");
    EXPECT_EQ(UrlDeviceCommand("addHeaders", "K7", 4096, 1025),
              "api/v1/devices/addHeaders?model=K7&length=4096&firmware_version=1025");
    EXPECT_EQ(UrlDeviceCommand("addDivelogsX", "K7", 0, 1025),
              "api/v1/devices/addDivelogsX?model=K7&length=0&firmware_version=1025");

    // Values from the device or the cloud can neither leave the path nor add
    // query fields.
    EXPECT_EQ(UrlDeviceCommand("../users/1/statistics", "K7 PRO", 1, 1025),
              "api/v1/devices/..%2Fusers%2F1%2Fstatistics?model=K7%20PRO&length=1&firmware_version=1025");
    EXPECT_EQ(UrlHeaderInfo("K7&x=1#", 1025), "api/v1/devices/headerInfo?model=K7%26x%3D1%23&firmware_version=1025");
    EXPECT_EQ(UrlDivelog("a/b?c"), "api/v1/divelogs/divelog/a%2Fb%3Fc");
    // A whole segment of dots would be resolved away by the URL parser.
    EXPECT_EQ(UrlDivelog(".."), "api/v1/divelogs/divelog/%2E%2E");
    EXPECT_EQ(UrlDivelogEdit("."), "api/v1/divelogs/%2E");
    EXPECT_EQ(UrlStatistics(".."), "api/v1/users/%2E%2E/statistics");
    EXPECT_EQ(UrlDeviceCommand("..", "..", 1, 1025), "api/v1/devices/%2E%2E?model=..&length=1&firmware_version=1025");
    EXPECT_EQ(UrlDivelog("..."), "api/v1/divelogs/divelog/...");

    EXPECT_EQ(UrlFirmwareManifest("cloud.example"),
              "https://cloud.example:8443/api/v1/devices/firmwareUpdate?model=K7");
    EXPECT_EQ(UrlDivesiteManifest("127.0.0.5"), "https://127.0.0.5:8443/api/v1/devices/divesites?model=K7");
    EXPECT_EQ(UrlDivesiteManifest("::1"), "https://[::1]:8443/api/v1/devices/divesites?model=K7");
    EXPECT_EQ(UrlFirmwareManifest("[fd00::5]"), "https://[fd00::5]:8443/api/v1/devices/firmwareUpdate?model=K7");
}

TEST(FormEncoding, UrlEncode) {
    EXPECT_EQ(url_encode("a b"), "a%20b");
    EXPECT_EQ(url_encode("p&w=1"), "p%26w%3D1");
    EXPECT_EQ(url_encode("\xE3\x81\x82"), "%E3%81%82");
    EXPECT_EQ(url_encode("AZaz09-_.~"), "AZaz09-_.~");
    EXPECT_EQ(url_encode(std::string("a\0b+%", 5)), "a%00b%2B%25");
    EXPECT_EQ(url_encode(""), "");
}

TEST(BearerHeader, EmptyAndSetToken) {
    const std::string saved = AppState.token;
    AppState.token.clear();
    EXPECT_EQ(make_bearer_header(), "Authorization: Bearer \r\n\r\n");
    AppState.token = "abc.def";
    EXPECT_EQ(make_bearer_header(), "Authorization: Bearer abc.def\r\n\r\n");
    // A token that would start header lines of its own is not sent.
    const std::string hostile[] = {"abc\r\nX-Injected: 1", "abc\n", std::string("a\0b", 3), "a\tb", "a\x7f"};
    for (const std::string& token : hostile) {
        AppState.token = token;
        EXPECT_EQ(make_bearer_header(), "Authorization: Bearer \r\n\r\n") << token;
    }
    AppState.token = saved;
}
