// The emulator's REST endpoints, faults and control API, over real TLS.
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>

#include "base/json_safe.h"
#include "tests/support/cloudemu_process.h"

namespace {

using vorta_test::CloudEmuProcess;
using vorta_test::CloudFault;
using vorta_test::CloudReply;

Json::Value Parse(const std::string& text) {
    Json::Value v;
    EXPECT_TRUE(json_safe::Parse(text, v)) << text;
    return v;
}

std::string Code(const CloudReply& r) {
    Json::Value v;
    if (!json_safe::Parse(r.body, v)) return "<not json>";
    return json_safe::String(v, "code");
}

std::string QueryValue(const std::string& url, const std::string& key) {
    const size_t at = url.find(key + "=");
    if (at == std::string::npos) return {};
    const size_t from = at + key.size() + 1;
    return url.substr(from, url.find('&', from) - from);
}

class CloudEmuServerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        emu_ = new CloudEmuProcess();
        ASSERT_TRUE(emu_->Start());
        token_ = emu_->DemoToken();
        ASSERT_FALSE(token_.empty());
    }
    static void TearDownTestSuite() {
        delete emu_;
        emu_ = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(emu_ && emu_->running());
        ASSERT_TRUE(emu_->Reset());
    }

    static CloudReply Get(const std::string& path, const std::string& token = token_) {
        return emu_->Call("GET", path, "", {"Authorization: Bearer " + token});
    }
    static CloudReply Post(const std::string& path, const std::string& body, const std::string& token = token_) {
        return emu_->Call("POST", path, body,
                          {"Authorization: Bearer " + token, "Content-Type: application/x-www-form-urlencoded"});
    }
    static Json::Value Response(const CloudReply& r) {
        const Json::Value v = Parse(r.body);
        EXPECT_EQ(json_safe::String(v, "code"), "0000000") << r.body;
        return json_safe::Member(v, "response");
    }

    static CloudEmuProcess* emu_;
    static std::string token_;
};

CloudEmuProcess* CloudEmuServerTest::emu_ = nullptr;
std::string CloudEmuServerTest::token_;

TEST_F(CloudEmuServerTest, SignInAnswersWithSessionStringsAndAServedPicture) {
    EXPECT_EQ(Code(emu_->Call("POST", "/api/v1/users/login", "email=demo%40vorta.example&password=wrong")), "0000001");
    EXPECT_EQ(Code(emu_->Call("POST", "/api/v1/users/login", "")), "0000001");
    const Json::Value r =
        Response(emu_->Call("POST", "/api/v1/users/login", "email=demo%40vorta.example&password=vorta%2Ddemo"));
    EXPECT_TRUE(r["token"].isString());
    EXPECT_FALSE(r["token"].asString().empty());
    EXPECT_EQ(r["user"]["user_id"].asString(), "1001");
    EXPECT_FALSE(r["user"]["user_name"].asString().empty());
    const std::string picture = r["user"]["profile_image_path"].asString();
    ASSERT_EQ(picture.rfind(emu_->base_url(), 0), 0u) << picture;
    const CloudReply png = emu_->Call("GET", picture.substr(emu_->base_url().size()));
    EXPECT_EQ(png.body.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
}

TEST_F(CloudEmuServerTest, AuthenticatedRowsRefuseAMissingOrWrongToken) {
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"GET", "/api/v1/divelogs/calendar/month?year_month=202603"},
        {"GET", "/api/v1/divelogs/calendar/date?year_month_date=20260305"},
        {"GET", "/api/v1/divelogs/divelog/100001"},
        {"PATCH", "/api/v1/divelogs/100001"},
        {"GET", "/api/v1/users/1001/statistics"},
        {"POST", "/api/v1/searches/divesites"},
        {"GET", "/api/v1/devices/headerInfo?model=K7&firmware_version=1025"},
        {"POST", "/api/v2/devices/addDivelogs?model=K7&length=0&firmware_version=1025"},
    };
    for (const auto& [verb, path] : rows) {
        for (const std::string& header :
             {std::string(), std::string("Authorization: Bearer wrong"), std::string("Authorization: Bearer ")}) {
            const CloudReply r =
                emu_->Call(verb, path, "query=blue&limit=20",
                           header.empty() ? std::vector<std::string>{} : std::vector<std::string>{header});
            const std::string code = Code(r);
            EXPECT_NE(code, "0000000") << verb << " " << path << " " << header;
            EXPECT_FALSE(code.empty() || code == "<not json>") << r.body;
        }
    }
    // Another account's statistics are refused even with a valid token.
    EXPECT_NE(Code(Get("/api/v1/users/9999/statistics")), "0000000");
}

TEST_F(CloudEmuServerTest, SearchMatchesNameAndRegionWithoutCaseUpToTheLimit) {
    const Json::Value pois = Response(Post("/api/v1/searches/divesites", "query=BLUE hole&limit=20"))["pois"];
    ASSERT_GE(pois.size(), 2u);  // Dahab, Gozo, Lighthouse Reef, Long Island...
    for (const auto& p : pois) {
        EXPECT_TRUE(p["poi_id"].isString());
        EXPECT_NE(p["poi_name"].asString().find("Blue Hole"), std::string::npos);
        EXPECT_TRUE(p["gps_location"]["latitude"].isDouble() || p["gps_location"]["latitude"].isInt());
    }
    const Json::Value palau = Response(Post("/api/v1/searches/divesites", "query=palau&limit=20"))["pois"];
    ASSERT_GE(palau.size(), 5u);
    EXPECT_EQ(palau[0]["poi_region"].asString(), "Palau");
    EXPECT_NEAR(palau[0]["gps_location"]["longitude"].asDouble(), 134.2236, 1e-6);
    EXPECT_EQ(Response(Post("/api/v1/searches/divesites", "query=a&limit=3"))["pois"].size(), 3u);
    EXPECT_EQ(Response(Post("/api/v1/searches/divesites", "query=fish%26chips&limit=20"))["pois"].size(), 0u);
    // A form: the encoded text is the query, "+" a blank.
    EXPECT_EQ(Response(Post("/api/v1/searches/divesites", "query=blue+hole&limit=20"))["pois"],
              Response(Post("/api/v1/searches/divesites", "query=BLUE%20hole&limit=20"))["pois"]);
    EXPECT_EQ(Response(Post("/api/v1/searches/divesites", "query=zzzzzz&limit=20"))["pois"].size(), 0u);
    EXPECT_NE(Code(Post("/api/v1/searches/divesites", "limit=20")), "0000000");
}

TEST_F(CloudEmuServerTest, CalendarDetailAndStatisticsAgreeOnTheDemoYear) {
    const Json::Value stats = Response(Get("/api/v1/users/1001/statistics"));
    for (const char* key : {"scuba_max_depth", "free_max_depth"}) EXPECT_TRUE(stats[key].isString()) << key;
    for (const char* key : {"scuba_mode_count", "scuba_dive_time", "freedive_mode_count", "free_dive_time"})
        EXPECT_TRUE(stats[key].isIntegral()) << key;

    // Walk the last 13 months: every counted dive is listed on its day.
    time_t now = time(nullptr);
    tm t{};
    gmtime_r(&now, &t);
    int year = t.tm_year + 1900, month = t.tm_mon + 1, scuba = 0, free = 0;
    std::string some_day, some_id;
    std::set<std::string> types;
    for (int i = 0; i < 13; ++i) {
        char ym[16];
        std::snprintf(ym, sizeof ym, "%.4d%.2d", year, month);
        const Json::Value summary =
            Response(Get(std::string("/api/v1/divelogs/calendar/month?year_month=") + ym))["month_summary"];
        for (const auto& day : summary) {
            ASSERT_TRUE(day["year_month_date"].isString());
            scuba += day["scuba_count"].asInt();
            free += day["free_count"].asInt();
            some_day = day["year_month_date"].asString();
        }
        if (--month == 0) month = 12, --year;
    }
    EXPECT_EQ(scuba, stats["scuba_mode_count"].asInt());
    EXPECT_EQ(free, stats["freedive_mode_count"].asInt());
    EXPECT_GT(scuba, 20);
    EXPECT_GT(free, 5);
    ASSERT_FALSE(some_day.empty());

    const Json::Value logs = Response(Get("/api/v1/divelogs/calendar/date?year_month_date=" + some_day))["divelogs"];
    ASSERT_GE(logs.size(), 1u);
    for (const auto& l : logs) {
        EXPECT_TRUE(l["divelog_id"].isString() && l["dive_type"].isString() && l["max_depth"].isString());
        EXPECT_TRUE(l["dive_datetime"].isIntegral() && l["timezone"].isIntegral() && l["dive_duration"].isIntegral());
    }
    const Json::Value log = Response(Get("/api/v1/divelogs/divelog/" + logs[0]["divelog_id"].asString()))["divelog"];
    for (const char* key :
         {"dive_type", "max_depth", "average_depth", "air_in_text", "air_out_text", "cylinder_size_text",
          "min_temperature", "air_temperature", "suit_thickness", "weight", "altitude", "divelog_id"})
        EXPECT_TRUE(log[key].isString()) << key;
    for (const char* key : {"dive_datetime", "timezone", "dive_duration", "po2", "weather_type", "wave_type",
                            "current_type", "visibility_type", "water_type"})
        EXPECT_TRUE(log[key].isIntegral()) << key;
    ASSERT_GT(log["dive_profiles"].size(), 2u);
    EXPECT_TRUE(log["dive_profiles"][0]["profile_time"].isIntegral());
    EXPECT_TRUE(log["dive_profiles"][0]["pressure"].isString());
    EXPECT_TRUE(log["events"].isArray());
    EXPECT_NE(Code(Get("/api/v1/divelogs/divelog/nope")), "0000000");
    EXPECT_NE(Code(Get("/api/v1/divelogs/calendar/month?year_month=2026-3")), "0000000");
}

TEST_F(CloudEmuServerTest, PatchStoresTheNotesButNotTheRecordedData) {
    const Json::Value before = Response(Get("/api/v1/divelogs/divelog/100002"))["divelog"];
    Json::Value edit = before;
    edit["air_in_text"] = "200.016909";
    edit["weather_type"] = 3;
    edit["weight"] = "4.000000";
    edit["max_depth"] = "99.00";  // not the diver's to change
    edit["poi"]["poi_id"] = "P0010";
    Json::StreamWriterBuilder w;
    const CloudReply r = emu_->Call("PATCH", "/api/v1/divelogs/100002", Json::writeString(w, edit),
                                    {"Authorization: Bearer " + token_, "Content-Type: application/json"});
    EXPECT_EQ(Code(r), "0000000");
    const Json::Value after = Response(Get("/api/v1/divelogs/divelog/100002"))["divelog"];
    EXPECT_EQ(after["air_in_text"].asString(), "200.016909");
    EXPECT_EQ(after["weather_type"].asInt(), 3);
    EXPECT_EQ(after["weight"].asString(), "4.000000");
    EXPECT_EQ(after["max_depth"].asString(), before["max_depth"].asString());
    EXPECT_EQ(after["poi"]["poi_name"].asString(), "Blue Hole");
    EXPECT_EQ(after["dive_profiles"].size(), before["dive_profiles"].size());

    EXPECT_NE(Code(emu_->Call("PATCH", "/api/v1/divelogs/100002", "not json", {"Authorization: Bearer " + token_})),
              "0000000");
    EXPECT_NE(Code(emu_->Call("PATCH", "/api/v1/divelogs/999999", "{}", {"Authorization: Bearer " + token_})),
              "0000000");
}

TEST_F(CloudEmuServerTest, AFaultForOneVerbLeavesTheOthers) {
    vorta_test::CloudFault refuse;
    refuse.kind = "code";
    refuse.path = "/api/v1/divelogs/";
    refuse.verb = "PATCH";
    ASSERT_TRUE(emu_->SetFault(refuse));
    const CloudReply read = Get("/api/v1/divelogs/divelog/100002");
    EXPECT_EQ(Code(read), "0000000");
    const int weather = Response(read)["divelog"]["weather_type"].asInt();
    const std::string body = "{\"weather_type\": " + std::to_string(weather % 5 + 1) + "}";
    const std::vector<std::string> headers{"Authorization: Bearer " + token_, "Content-Type: application/json"};
    EXPECT_EQ(Code(emu_->Call("PATCH", "/api/v1/divelogs/100002", body, headers)), "0000001");
    EXPECT_EQ(Response(Get("/api/v1/divelogs/divelog/100002"))["divelog"]["weather_type"].asInt(), weather);
    // The fault was spent on the PATCH.
    EXPECT_EQ(Code(emu_->Call("PATCH", "/api/v1/divelogs/100002", body, headers)), "0000000");
}

// Zero bytes compressed with gzip: a small body that inflates to `size` bytes.
std::string GzipOfZeros(size_t size) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, 9, Z_DEFLATED, 31, 9, Z_DEFAULT_STRATEGY), Z_OK);
    const std::string zeros(1 << 20, '\0');
    std::string out;
    char buf[65536];
    for (size_t done = 0; done <= size; done += zeros.size()) {
        const bool last = done + zeros.size() > size;
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.data()));
        z.avail_in = static_cast<uInt>(last ? size - done : zeros.size());
        do {
            z.next_out = reinterpret_cast<Bytef*>(buf);
            z.avail_out = sizeof buf;
            deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
            out.append(buf, sizeof buf - z.avail_out);
        } while (z.avail_out == 0);
        if (last) break;
    }
    deflateEnd(&z);
    return out;
}

TEST_F(CloudEmuServerTest, HostileRequestsAreRefusedAndServingGoesOn) {
    // Values shaped as SQL reach the store as values only.
    EXPECT_EQ(
        Code(emu_->Call("POST", "/api/v1/users/login", "email=%27%20OR%201%3D1%20--&password=%27%20OR%20%27%27%3D%27")),
        "0000001");
    EXPECT_EQ(Code(Get("/api/v1/divelogs/divelog/100001%27%20OR%20%271%27%3D%271")), "0000404");
    EXPECT_EQ(Code(Get("/api/v1/users/1001%27%3B%20DROP%20TABLE%20users%3B--/statistics")), "0000403");
    // Bodies that are not JSON objects, nested past any sense.
    for (const std::string& body : {std::string(100000, '['), std::string("{\"divelog\":"), std::string("[]"),
                                    std::string("{\"divelog\":[],\"weather_type\":{}}")}) {
        const CloudReply r = emu_->Call("PATCH", "/api/v1/divelogs/100003", body,
                                        {"Authorization: Bearer " + token_, "Content-Type: application/json"});
        EXPECT_TRUE(r.sent);
        EXPECT_FALSE(Code(r).empty() || Code(r) == "<not json>") << r.body;
    }
    // A body without a declared length, or one that inflates, is bounded by
    // what it becomes: 17 MiB sent chunked, 32 MiB inflated from 32 KiB.
    const CloudReply chunked =
        emu_->Call("POST", "/api/v1/users/login", std::string(17u << 20, 'a'), {"Transfer-Encoding: chunked"});
    EXPECT_EQ(chunked.status, 413);
    EXPECT_NE(Code(chunked), "0000000");
    const std::string bomb = GzipOfZeros(32u << 20);
    ASSERT_LT(bomb.size(), 64u << 10);
    for (const char* verb : {"POST", "PATCH", "PUT", "DELETE"}) {
        const CloudReply r = emu_->Call(verb, "/api/v1/users/login", bomb, {"Content-Encoding: gzip"});
        EXPECT_EQ(r.status, 413) << verb;
    }
    // A small compressed form still arrives whole.
    EXPECT_EQ(Code(emu_->Call("POST", "/api/v1/users/login", GzipOfZeros(1000), {"Content-Encoding: gzip"})),
              "0000001");

    EXPECT_FALSE(emu_->DemoToken().empty());
    EXPECT_EQ(Code(Get("/api/v1/users/1001/statistics")), "0000000");
}

TEST_F(CloudEmuServerTest, FaultsSpoilMatchingAnswersForTheirCount) {
    const std::string stats = "/api/v1/users/1001/statistics";
    ASSERT_TRUE(emu_->SetFault({"not_json", stats, 1}));
    EXPECT_EQ(Code(Get("/api/v1/divelogs/calendar/month?year_month=202601")), "0000000");  // other path untouched
    EXPECT_EQ(Code(Get(stats)), "<not json>");
    EXPECT_EQ(Code(Get(stats)), "0000000");  // count used up

    ASSERT_TRUE(emu_->SetFault({"no_code", "api/v1/users", 2}));  // prefix without the slash
    EXPECT_EQ(Code(Get(stats)), "");
    EXPECT_EQ(Code(Get(stats)), "");
    EXPECT_EQ(Code(Get(stats)), "0000000");

    CloudFault code{"code", "/api/", -1};
    code.code = "0000009";
    ASSERT_TRUE(emu_->SetFault(code));
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Code(Get(stats)), "0000009");
    EXPECT_TRUE(emu_->Stats().requests >= 3);  // control requests still answered
    ASSERT_TRUE(emu_->Reset());
    EXPECT_EQ(Code(Get(stats)), "0000000");

    ASSERT_TRUE(emu_->SetFault({"drop", stats, 1}));
    const CloudReply dropped = Get(stats);
    EXPECT_FALSE(dropped.sent);
    EXPECT_TRUE(dropped.body.empty());
    CloudFault slow{"slow", stats, 1};
    slow.delay_ms = 300;
    ASSERT_TRUE(emu_->SetFault(slow));
    EXPECT_EQ(Code(Get(stats)), "0000000");

    // "close" on the second matching request: it is read and logged, then
    // the connection goes without an answer.
    ASSERT_TRUE(emu_->Reset());
    CloudFault close{"close", stats, 1};
    close.skip = 1;
    ASSERT_TRUE(emu_->SetFault(close));
    EXPECT_EQ(Code(Get(stats)), "0000000");
    const CloudReply closed = Get(stats);
    EXPECT_FALSE(closed.sent);
    EXPECT_EQ(closed.status, 0);
    EXPECT_EQ(Code(Get(stats)), "0000000");
    EXPECT_EQ(emu_->Log().size(), 3u);

    EXPECT_FALSE(emu_->SetFault({"explode", "", 1}));
    EXPECT_FALSE(emu_->SetFault({"code", "", 0}));
}

TEST_F(CloudEmuServerTest, LogKeepsExactRequestsAndLeavesControlOut) {
    std::string binary("ab\0\xFF\x01z", 6);
    Post("/api/v2/devices/addDivelogs?model=K7&length=6&firmware_version=1025", binary);
    Get("/api/v1/divelogs/calendar/month?year_month=202403");
    const auto log = emu_->Log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].verb, "POST");
    EXPECT_EQ(log[0].path, "/api/v2/devices/addDivelogs?model=K7&length=6&firmware_version=1025");
    EXPECT_EQ(log[0].body, binary);
    EXPECT_EQ(log[0].Header("authorization"), "Bearer " + token_);
    EXPECT_EQ(log[0].Header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(log[1].path, "/api/v1/divelogs/calendar/month?year_month=202403");
    EXPECT_EQ(emu_->Stats().requests, 2);
}

size_t Discard(char*, size_t size, size_t n, void*) {
    return size * n;
}

TEST_F(CloudEmuServerTest, OneKeptConnectionIsOneHandshake) {
    CURL* curl = curl_easy_init();
    ASSERT_NE(curl, nullptr);
    const std::string url = emu_->base_url() + "/api/v1/users/1001/statistics";
    const std::string auth = "Authorization: Bearer " + token_;
    curl_slist* headers = curl_slist_append(nullptr, auth.c_str());
    const std::string ca = emu_->ca_file();
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_CAINFO, ca.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Discard);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(curl_easy_perform(curl), CURLE_OK);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    const auto stats = emu_->Stats();
    EXPECT_EQ(stats.handshakes, 1);
    EXPECT_EQ(stats.requests, 20);
    Get("/api/v1/users/1001/statistics");  // a new connection
    EXPECT_EQ(emu_->Stats().handshakes, 2);
}

TEST_F(CloudEmuServerTest, UpdateOffersListFilesThatDownloadWhole) {
    // The update area's blocks taken so far, so that no two files overlap.
    std::vector<std::pair<uint32_t, uint32_t>> taken;
    for (const auto& [path, key] :
         {std::pair<std::string, std::string>{"/api/v1/devices/firmwareUpdate?model=K7", "firmware_files"},
          {"/api/v1/devices/divesites?model=K7", "divesite_files"}}) {
        const CloudReply offer = emu_->Call("GET", path);
        EXPECT_GT(offer.body.size(), 256u);
        const Json::Value files = Response(offer)[key];
        ASSERT_GE(files.size(), 1u) << key;
        bool partial_block = false;
        for (const auto& f : files) {
            const std::string url = f["file_path"].asString();
            ASSERT_EQ(url.rfind(emu_->base_url(), 0), 0u) << url;
            const CloudReply file = emu_->Call("GET", url.substr(emu_->base_url().size()));
            EXPECT_EQ(file.body.size(), f["size"].asUInt());
            partial_block = partial_block || file.body.size() % 4096 != 0;
            const uint32_t address = f["address"].asUInt();
            const uint32_t end = address + (f["size"].asUInt() + 4095) / 4096 * 4096;
            EXPECT_EQ(address % 4096, 0u);
            EXPECT_GE(address, 0x10C000u);
            for (const auto& t : taken) EXPECT_TRUE(end <= t.first || address >= t.second) << url;
            taken.emplace_back(address, end);
            EXPECT_TRUE(f["sequence"].isIntegral());
        }
        // Each offer has a file whose last block is partial.
        EXPECT_TRUE(partial_block) << key;
    }
    EXPECT_TRUE(Response(emu_->Call("GET", "/api/v1/devices/firmwareUpdate?model=K7"))["firmware_version"].isString());
    EXPECT_NE(Code(emu_->Call("GET", "/api/v1/devices/firmwareUpdate?model=X9")), "0000000");
    EXPECT_EQ(emu_->Call("GET", "/static/firmware/none.bin").status, 404);
}

TEST_F(CloudEmuServerTest, FacebookStandInsLeadToASocialSignIn) {
    const std::string redirect = emu_->base_url() + "/_fb/connect/login_success.html";
    const CloudReply dialog = emu_->Call("GET", "/_fb/dialog/oauth?client_id=123&redirect_uri=" + redirect +
                                                    "&scope=email,public_profile&response_type=token,granted_scopes"
                                                    "&state=PCTidewalkerTool");
    EXPECT_EQ(dialog.status, 200);
    // A form whose buttons name the decision.
    EXPECT_NE(dialog.body.find("name=\"decision\" value=\"allow\""), std::string::npos);
    EXPECT_NE(dialog.body.find("name=\"decision\" value=\"deny\""), std::string::npos);

    // Grant: the redirect carries the token, the Graph answers for it.
    CURL* curl = curl_easy_init();
    const std::string grant = emu_->base_url() +
                              "/_fb/dialog/oauth/grant?decision=allow&state=PCTidewalkerTool"
                              "&redirect_uri=" +
                              redirect;
    const std::string ca = emu_->ca_file();
    curl_easy_setopt(curl, CURLOPT_URL, grant.c_str());
    curl_easy_setopt(curl, CURLOPT_CAINFO, ca.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Discard);
    ASSERT_EQ(curl_easy_perform(curl), CURLE_OK);
    char* location = nullptr;
    curl_easy_getinfo(curl, CURLINFO_REDIRECT_URL, &location);
    ASSERT_NE(location, nullptr);
    const std::string loc = location;
    curl_easy_cleanup(curl);
    ASSERT_EQ(loc.rfind(redirect, 0), 0u) << loc;
    const std::string token = QueryValue(loc, "access_token");
    const std::string expires = QueryValue(loc, "data_access_expiration_time");
    ASSERT_FALSE(token.empty());
    ASSERT_FALSE(expires.empty());

    const Json::Value me = Parse(emu_->Call("GET", "/_fb/v6.0/me?fields=email,id,name&access_token=" + token).body);
    EXPECT_EQ(me["email"].asString(), "demo@vorta.example");
    ASSERT_TRUE(me["id"].isString());
    EXPECT_TRUE(me["name"].isString());
    EXPECT_EQ(emu_->Call("GET", "/_fb/v6.0/me?fields=email,id,name&access_token=forged").status, 400);

    // The values arrive percent-encoded, as a form.
    const std::string body = "email=demo%40vorta.example&social_platform=facebook&social_id=" + me["id"].asString() +
                             "&access_token=" + token + "&expire_datetime=" + expires;
    const Json::Value r = Response(emu_->Call("POST", "/api/v1/users/socialLogin", body));
    EXPECT_EQ(r["user"]["user_id"].asString(), "1001");
    EXPECT_TRUE(r["user"]["profile_image_path"].isString());
    EXPECT_EQ(Code(Get("/api/v1/users/1001/statistics", r["token"].asString())), "0000000");
    EXPECT_NE(Code(emu_->Call("POST", "/api/v1/users/socialLogin",
                              "email=demo@vorta.example&social_platform=facebook&social_id=" + me["id"].asString() +
                                  "&access_token=forged&expire_datetime=1")),
              "0000000");

    const CloudReply deny = emu_->Call("GET", "/_fb/dialog/oauth/grant?decision=deny&state=s&redirect_uri=" + redirect);
    EXPECT_EQ(deny.status, 302);
}

TEST(CloudEmuRestart, KeepsItsStoreSessionsAndCertificate) {
    CloudEmuProcess emu;
    ASSERT_TRUE(emu.Start());
    const std::string token = emu.DemoToken();
    const std::string stats =
        emu.Call("GET", "/api/v1/users/1001/statistics", "", {"Authorization: Bearer " + token}).body;
    emu.Stop();
    EXPECT_FALSE(emu.running());
    ASSERT_TRUE(emu.Start());
    EXPECT_EQ(emu.Call("GET", "/api/v1/users/1001/statistics", "", {"Authorization: Bearer " + token}).body, stats);
}

}  // namespace

namespace {

TEST(CloudEmuProcessStart, ATakenAddressFailsAndAnAutomaticOneMovesOn) {
    CloudEmuProcess first;
    ASSERT_TRUE(first.Start());
    CloudEmuProcess same(first.host());
    EXPECT_FALSE(same.Start());  // the emulator exits instead of hanging
    EXPECT_FALSE(same.running());
    CloudEmuProcess other;
    ASSERT_TRUE(other.Start());
    EXPECT_NE(other.host(), first.host());
    EXPECT_FALSE(other.DemoToken().empty());
}

}  // namespace
