// A sync against the real emulator, posted the way the program posts it:
// the test writes a log memory image, works through the emulator's two
// instruction lists and checks the dives that appear in the account.
#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "base/json_safe.h"
#include "tests/support/cloudemu_process.h"

namespace {

using vorta_test::CloudEmuProcess;
using vorta_test::CloudReply;

// --- A log memory image, written from the documented layout ----------------

void Le(std::string& s, size_t at, int64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) s[at + i] = static_cast<char>((static_cast<uint64_t>(v) >> (8 * i)) & 0xFF);
}

uint32_t Crc32(const std::string& data) {  // IEEE, reflected, as zlib
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char c : data) {
        crc ^= c;
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

struct TestDive {
    uint32_t number;
    uint32_t start;
    int tz;        // minutes east of UTC
    int type;      // 0 scuba, 1 gauge, 2 freedive
    int interval;  // seconds
    std::vector<int> depths_cm;
    std::vector<std::array<int, 3>> events;  // time, code, value
    int32_t lat_e6 = 0, lng_e6 = 0;
    int fresh = 0;
};

std::string Record(const TestDive& d) {
    const size_t size = 64 + 4 * d.depths_cm.size() + 6 * d.events.size();
    std::string r(size, '\0');
    std::memcpy(&r[0], "DIVE", 4);
    int max = 0;
    long sum = 0;
    for (int v : d.depths_cm) {
        max = std::max(max, v);
        sum += v;
    }
    Le(r, 4, d.number, 4);
    Le(r, 8, d.start, 4);
    Le(r, 12, d.tz, 2);
    r[14] = static_cast<char>(d.type);
    r[15] = d.type == 2 ? 0 : 21;
    Le(r, 16, static_cast<int64_t>((d.depths_cm.size() - 1) * d.interval), 4);
    Le(r, 20, d.interval, 2);
    Le(r, 22, static_cast<int64_t>(d.depths_cm.size()), 2);
    Le(r, 24, static_cast<int64_t>(d.events.size()), 2);
    Le(r, 26, max, 2);
    Le(r, 28, sum / static_cast<long>(d.depths_cm.size()), 2);
    Le(r, 30, 241, 2);
    Le(r, 32, d.type == 0 ? 2000 : 0, 2);
    Le(r, 34, d.type == 0 ? 700 : 0, 2);
    Le(r, 36, 1013, 2);
    r[38] = static_cast<char>(d.fresh);
    Le(r, 40, d.lat_e6, 4);
    Le(r, 44, d.lng_e6, 4);
    Le(r, 48, d.lat_e6 ? d.lat_e6 + 300 : 0, 4);
    Le(r, 52, d.lng_e6 ? d.lng_e6 - 200 : 0, 4);
    size_t at = 64;
    for (int v : d.depths_cm) {
        Le(r, at, v, 2);
        Le(r, at + 2, 250 - v / 100, 2);
        at += 4;
    }
    for (const auto& e : d.events) {
        Le(r, at, e[0], 2);
        Le(r, at + 2, e[1], 2);
        Le(r, at + 4, e[2], 2);
        at += 6;
    }
    Le(r, 56, Crc32(r.substr(64)), 4);
    return r;
}

// Records packed from 0x1000 (unaligned after the first), index at 0.
std::string Memory(const std::vector<TestDive>& dives) {
    std::string mem(0x10C000, '\xFF');
    std::memcpy(&mem[0], "VLOG", 4);
    Le(mem, 4, 1, 2);
    Le(mem, 6, static_cast<int64_t>(dives.size()), 2);
    size_t addr = 0x1000;
    for (size_t i = 0; i < dives.size(); ++i) {
        const std::string rec = Record(dives[i]);
        mem.replace(addr, rec.size(), rec);
        Le(mem, 16 + 16 * i, static_cast<int64_t>(addr), 4);
        Le(mem, 20 + 16 * i, static_cast<int64_t>(rec.size()), 4);
        Le(mem, 24 + 16 * i, dives[i].number, 4);
        Le(mem, 28 + 16 * i, 0, 4);
        addr += rec.size();
    }
    Le(mem, 8, static_cast<int64_t>(addr), 4);
    Le(mem, 12, 0, 4);
    return mem;
}

std::vector<int> Profile(int max_cm, int samples) {
    std::vector<int> d;
    for (int i = 0; i < samples; ++i) {
        const int half = samples / 2;
        d.push_back(i <= half ? max_cm * i / half : max_cm * (samples - 1 - i) / (samples - 1 - half));
    }
    return d;
}

// --- The program's side of the exchange -------------------------------------

class SyncDriver {
public:
    SyncDriver(CloudEmuProcess& emu, std::string token, const std::string& memory)
        : emu_(emu), token_(std::move(token)), mem_(memory) {}

    // headerInfo, then both lists; returns the three answers.
    std::vector<Json::Value> Run() {
        std::vector<Json::Value> answers;
        Json::Value a =
            Parse(emu_.Call("GET", "/api/v1/devices/headerInfo?model=K7&firmware_version=1025", "", {Auth()}).body);
        answers.push_back(a);
        for (int list = 0; list < 2; ++list) answers.push_back(RunList(answers.back()));
        return answers;
    }

    Json::Value RunList(const Json::Value& answer) {
        const Json::Value& r = json_safe::Member(answer, "response");
        if (json_safe::Int(r, "tknum") == 0) return answer;
        Json::Value result;
        const Json::Value& spi = json_safe::Member(r, "spi");
        for (Json::ArrayIndex i = 0; i < json_safe::Size(spi); ++i) {
            const Json::Value& item = json_safe::Element(spi, i);
            const std::string command = json_safe::String(item, "command");
            std::string body(static_cast<size_t>(json_safe::Int(item, "cb_send")), '\0');
            size_t offset = 0;
            const Json::Value& flash = json_safe::Member(item, "flash");
            for (Json::ArrayIndex k = 0; k < json_safe::Size(flash); ++k) {
                const size_t addr = static_cast<size_t>(json_safe::Int(json_safe::Element(flash, k), "addr"));
                const size_t size = static_cast<size_t>(json_safe::Int(json_safe::Element(flash, k), "size"));
                EXPECT_LE(size, 4096u);
                EXPECT_LE(offset + size, body.size());
                std::string block = addr < mem_.size() ? mem_.substr(addr, 4096) : std::string();
                block.resize(4096, '\xFF');
                body.replace(offset, size, block.substr(0, size));
                offset += size;
                ++blocks_read;
            }
            const std::string path = std::string(command == "addDivelogs" ? "/api/v2/devices/" : "/api/v1/devices/") +
                                     command + "?model=K7&length=" + std::to_string(body.size()) +
                                     "&firmware_version=1025";
            result =
                Parse(emu_.Call("POST", path, body, {Auth(), "Content-Type: application/x-www-form-urlencoded"}).body);
            EXPECT_EQ(json_safe::String(result, "code"), "0000000")
                << path << " " << json_safe::String(result, "message");
        }
        return result;
    }

    int blocks_read = 0;

private:
    std::string Auth() const { return "Authorization: Bearer " + token_; }
    static Json::Value Parse(const std::string& text) {
        Json::Value v;
        EXPECT_TRUE(json_safe::Parse(text, v)) << text;
        return v;
    }
    CloudEmuProcess& emu_;
    std::string token_;
    const std::string& mem_;
};

Json::Value GetJson(CloudEmuProcess& emu, const std::string& token, const std::string& path) {
    Json::Value v;
    json_safe::Parse(emu.Call("GET", path, "", {"Authorization: Bearer " + token}).body, v);
    return v;
}

// 2025-03-05 01:00:00 UTC = 09:00 local at UTC+8.
constexpr uint32_t kStart = 1741136400;

TEST(CloudEmuSync, PostedRecordsBecomeDiveLogsOnce) {
    CloudEmuProcess emu;
    ASSERT_TRUE(emu.Start());
    const std::string token = emu.DemoToken();
    ASSERT_FALSE(token.empty());
    const Json::Value before = GetJson(emu, token, "/api/v1/users/1001/statistics");

    std::vector<TestDive> dives = {
        // A long scuba dive near Blue Corner, Palau: its record spans two blocks.
        {11, kStart, 480, 0, 10, Profile(2875, 1100), {{600, 4, 28}, {1200, 1, 0}, {1500, 7, 0}}, 7135800, 134223100},
        {12, kStart + 7200, 480, 1, 20, Profile(1530, 60), {}, 0, 0},
        {13, kStart + 14400, 480, 2, 1, Profile(2210, 90), {{45, 4, 22}}, 0, 0, 1},
    };
    const std::string memory = Memory(dives);
    SyncDriver sync(emu, token, memory);
    const auto answers = sync.Run();
    ASSERT_EQ(answers.size(), 3u);
    EXPECT_EQ(answers[0]["response"]["spi"][0]["command"].asString(), "getLogIndex");
    EXPECT_EQ(answers[1]["response"]["tknum"].asInt(), 3);
    EXPECT_EQ(answers[2]["response"]["tknum"].asInt(), 0);
    EXPECT_EQ(sync.blocks_read, 1 + 2 + 1 + 1);

    // Day list: the local date of the dives, values with the types the program reads.
    const Json::Value day = GetJson(emu, token, "/api/v1/divelogs/calendar/date?year_month_date=20250305");
    const Json::Value& logs = day["response"]["divelogs"];
    ASSERT_EQ(logs.size(), 3u);
    EXPECT_TRUE(logs[0]["divelog_id"].isString());
    EXPECT_EQ(logs[0]["dive_datetime"].asInt64(), kStart);
    EXPECT_EQ(logs[0]["timezone"].asInt(), -480);
    EXPECT_EQ(logs[0]["dive_type"].asString(), "scuba");
    EXPECT_EQ(logs[1]["dive_type"].asString(), "gauge");
    EXPECT_EQ(logs[2]["dive_type"].asString(), "free");
    EXPECT_EQ(logs[0]["max_depth"].asString(), "28.75");
    EXPECT_EQ(logs[0]["dive_duration"].asInt(), 10990);

    const Json::Value month = GetJson(emu, token, "/api/v1/divelogs/calendar/month?year_month=202503");
    bool found = false;
    for (const auto& d : month["response"]["month_summary"])
        if (d["year_month_date"].asString() == "20250305") {
            found = true;
            EXPECT_EQ(d["scuba_count"].asInt(), 2);
            EXPECT_EQ(d["free_count"].asInt(), 1);
        }
    EXPECT_TRUE(found);

    // Detail of the scuba dive: samples, events, positions and the site nearby.
    const Json::Value log =
        GetJson(emu, token, "/api/v1/divelogs/divelog/" + logs[0]["divelog_id"].asString())["response"]["divelog"];
    ASSERT_EQ(log["dive_profiles"].size(), 1100u);
    EXPECT_EQ(log["dive_profiles"][1]["profile_time"].asInt(), 10);
    // 1013 mbar at the surface plus the depth at 10 m per bar in salt water.
    EXPECT_NEAR(std::stod(log["dive_profiles"][550]["pressure"].asString()), 1013 + 2875 / 100.0 * 100, 0.5);
    ASSERT_EQ(log["events"].size(), 3u);
    EXPECT_EQ(log["events"][0]["event_code"].asInt(), 18);  // depth alarm
    EXPECT_EQ(log["events"][1]["event_code"].asInt(), 3);   // ascent too fast
    EXPECT_EQ(log["events"][2]["event_code"].asInt(), 1);   // decompression
    EXPECT_EQ(log["events"][2]["event_value"].asInt(), 0);
    EXPECT_NEAR(log["entry_position"]["latitude"].asDouble(), 7.1358, 1e-6);
    EXPECT_NEAR(log["exit_position"]["longitude"].asDouble(), 134.2229, 1e-6);
    EXPECT_EQ(log["poi"]["poi_name"].asString(), "Blue Corner");
    EXPECT_EQ(log["air_in_text"].asString(), "200.0");
    EXPECT_EQ(log["min_temperature"].asString(), "24.1");
    EXPECT_EQ(log["po2"].asInt(), 21);
    EXPECT_EQ(log["water_type"].asInt(), 0);

    const Json::Value after = GetJson(emu, token, "/api/v1/users/1001/statistics");
    EXPECT_EQ(after["response"]["scuba_mode_count"].asInt(), before["response"]["scuba_mode_count"].asInt() + 2);
    EXPECT_EQ(after["response"]["freedive_mode_count"].asInt(), before["response"]["freedive_mode_count"].asInt() + 1);
    EXPECT_EQ(after["response"]["free_dive_time"].asInt(), before["response"]["free_dive_time"].asInt() + 89);

    // A second sync finds nothing new; a later dive is the only one fetched.
    EXPECT_EQ(SyncDriver(emu, token, memory).Run()[1]["response"]["tknum"].asInt(), 0);
    dives.push_back({14, kStart + 86400, 480, 0, 10, Profile(1200, 200), {}, 0, 0});
    const std::string more = Memory(dives);
    EXPECT_EQ(SyncDriver(emu, token, more).Run()[1]["response"]["tknum"].asInt(), 1);
    EXPECT_EQ(
        GetJson(emu, token, "/api/v1/divelogs/calendar/date?year_month_date=20250305")["response"]["divelogs"].size(),
        3u);
}

TEST(CloudEmuSync, MalformedPostsAreRefusedAndTheServerCarriesOn) {
    CloudEmuProcess emu;
    ASSERT_TRUE(emu.Start());
    const std::string token = emu.DemoToken();
    const std::string good = Record({21, kStart, 0, 0, 10, Profile(1000, 50), {{30, 1, 0}}, 0, 0});
    std::string index = Memory({{21, kStart, 0, 0, 10, Profile(1000, 50), {{30, 1, 0}}, 0, 0}}).substr(0, 4096);
    auto post = [&](const std::string& command, int version, const std::string& body, size_t length) {
        Json::Value v;
        const CloudReply r = emu.Call("POST",
                                      "/api/v" + std::to_string(version) + "/devices/" + command +
                                          "?model=K7&length=" + std::to_string(length) + "&firmware_version=1025",
                                      body, {"Authorization: Bearer " + token});
        EXPECT_TRUE(r.sent);
        EXPECT_TRUE(json_safe::Parse(r.body, v)) << r.body;
        return json_safe::String(v, "code");
    };
    std::string flipped = good;
    flipped[70] ^= 0x40;
    std::string counts = good;
    counts[22] = static_cast<char>(0xFF);
    counts[23] = static_cast<char>(0xFF);
    std::string bad_index = index;
    bad_index[6] = static_cast<char>(0xFF);  // 255+ entries claimed
    bad_index[7] = static_cast<char>(0x7F);

    EXPECT_NE(post("addDivelogs", 2, good, good.size() + 1), "0000000");    // length vs body
    EXPECT_NE(post("addDivelogs", 2, flipped, flipped.size()), "0000000");  // CRC
    EXPECT_NE(post("addDivelogs", 2, counts, counts.size()), "0000000");    // counts vs length
    EXPECT_NE(post("addDivelogs", 2, good.substr(0, 40), 40), "0000000");
    EXPECT_NE(post("addDivelogs", 2, "", 0), "0000000");
    EXPECT_NE(post("addDivelogs", 2, std::string(5000, '\0'), 5000), "0000000");
    EXPECT_NE(post("addDivelogs", 1, good, good.size()), "0000000");  // wrong path version
    EXPECT_NE(post("getLogIndex", 1, bad_index, bad_index.size()), "0000000");
    EXPECT_NE(post("getLogIndex", 1, std::string(4096, '\xFF'), 4096), "0000000");
    EXPECT_NE(post("formatDevice", 1, index, index.size()), "0000000");
    EXPECT_EQ(json_safe::String(GetJson(emu, "nope", "/api/v1/devices/headerInfo?model=K7&firmware_version=1"), "code"),
              "0000401");

    // Nothing was stored, and a good post still works afterwards.
    EXPECT_EQ(
        GetJson(emu, token, "/api/v1/divelogs/calendar/date?year_month_date=20250305")["response"]["divelogs"].size(),
        0u);
    EXPECT_EQ(post("getLogIndex", 1, index, index.size()), "0000000");
    EXPECT_EQ(post("addDivelogs", 2, good, good.size()), "0000000");
    EXPECT_EQ(
        GetJson(emu, token, "/api/v1/divelogs/calendar/date?year_month_date=20250305")["response"]["divelogs"].size(),
        1u);
}

TEST(CloudEmuSync, BulkPlanReadsOneMebibyteInTwoLists) {
    CloudEmuProcess emu("", {"--sync-plan", "bulk"});
    ASSERT_TRUE(emu.Start());
    const std::string memory(0x10C000, '\x5A');
    SyncDriver sync(emu, emu.DemoToken(), memory);
    const auto answers = sync.Run();
    EXPECT_EQ(sync.blocks_read, 256);
    EXPECT_EQ(answers[2]["response"]["tknum"].asInt(), 0);
    EXPECT_EQ(answers[1]["response"]["spi"][0]["command"].asString(), "addDivelogs");
}

}  // namespace
