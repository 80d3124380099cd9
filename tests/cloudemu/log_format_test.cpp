// Decoding of posted log memory and the instruction lists built from it.
#include <gtest/gtest.h>

#include <cstring>

#include "log_format.h"
#include "sync_plan.h"

namespace cloudemu {
namespace {

void Put(std::string& s, size_t at, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) s[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// An index block written field by field as the device lays it out.
std::string IndexBlock(const std::vector<IndexEntry>& entries) {
    std::string b(4096, '\xFF');
    std::memcpy(&b[0], "VLOG", 4);
    Put(b, 4, 1, 2);
    Put(b, 6, static_cast<uint32_t>(entries.size()), 2);
    Put(b, 8, 0x5000, 4);
    Put(b, 12, 0, 4);
    for (size_t i = 0; i < entries.size(); ++i) {
        Put(b, 16 + 16 * i, entries[i].address, 4);
        Put(b, 20 + 16 * i, entries[i].length, 4);
        Put(b, 24 + 16 * i, entries[i].dive_number, 4);
        Put(b, 28 + 16 * i, 0, 4);
    }
    return b;
}

DiveRecord SampleRecord() {
    DiveRecord r;
    r.dive_number = 42;
    r.start_time = 1709600400;
    r.tz_minutes = 480;
    r.dive_type = 0;
    r.oxygen_percent = 32;
    r.interval_s = 10;
    r.max_depth_cm = 2150;
    r.avg_depth_cm = 1200;
    r.min_temp_dc = 254;
    r.start_pressure_dbar = 2000;
    r.end_pressure_dbar = 600;
    r.surface_mbar = 1012;
    r.entry_lat_e6 = 7135300;
    r.entry_lng_e6 = 134223600;
    r.samples = {{0, 270}, {1000, 262}, {2150, 254}, {500, 265}, {0, 270}};
    r.events = {{20, kEvDepthAlarm, 20}, {30, kEvAscentTooFast, 0}};
    r.duration_s = 40;
    return r;
}

TEST(LogIndexDecode, ReadsEntriesAndRejectsBrokenBlocks) {
    LogIndex idx;
    std::string err;
    const std::vector<IndexEntry> entries = {{0x1000, 300, 7}, {0x112C, 9000, 8}};
    ASSERT_TRUE(DecodeIndex(IndexBlock(entries), idx, err)) << err;
    ASSERT_EQ(idx.entries.size(), 2u);
    EXPECT_EQ(idx.entries[1].address, 0x112Cu);
    EXPECT_EQ(idx.entries[1].length, 9000u);
    EXPECT_EQ(idx.entries[1].dive_number, 8u);

    std::string bad = IndexBlock(entries);
    bad[0] = 'X';
    EXPECT_FALSE(DecodeIndex(bad, idx, err));
    bad = IndexBlock(entries);
    Put(bad, 6, 300, 2);  // more entries than a block holds
    EXPECT_FALSE(DecodeIndex(bad, idx, err));
    EXPECT_FALSE(DecodeIndex(IndexBlock(entries).substr(0, 40), idx, err));                 // entries cut off
    EXPECT_FALSE(DecodeIndex(IndexBlock({{0x0800, 300, 1}}), idx, err));                    // inside the index block
    EXPECT_FALSE(DecodeIndex(IndexBlock({{0xFFF00, 0x200, 1}}), idx, err));                 // runs past the record area
    EXPECT_FALSE(DecodeIndex(IndexBlock({{0x1000, 100, 5}, {0x2000, 100, 5}}), idx, err));  // number reused
    EXPECT_FALSE(DecodeIndex("", idx, err));
}

TEST(DiveRecordDecode, RoundTripsEveryField) {
    const DiveRecord in = SampleRecord();
    DiveRecord out;
    std::string err;
    ASSERT_TRUE(DecodeRecord(EncodeRecord(in), out, err)) << err;
    EXPECT_EQ(out.dive_number, 42u);
    EXPECT_EQ(out.start_time, 1709600400u);
    EXPECT_EQ(out.tz_minutes, 480);
    EXPECT_EQ(out.oxygen_percent, 32);
    EXPECT_EQ(out.max_depth_cm, 2150);
    EXPECT_EQ(out.min_temp_dc, 254);
    EXPECT_EQ(out.entry_lng_e6, 134223600);
    ASSERT_EQ(out.samples.size(), 5u);
    EXPECT_EQ(out.samples[2].depth_cm, 2150);
    EXPECT_EQ(out.samples[1].temperature_dc, 262);
    ASSERT_EQ(out.events.size(), 2u);
    EXPECT_EQ(out.events[1].code, kEvAscentTooFast);
    EXPECT_EQ(out.events[0].value, 20);
}

TEST(DiveRecordDecode, RejectsCorruptOrMisSizedRecords) {
    const std::string good = EncodeRecord(SampleRecord());
    DiveRecord out;
    std::string err;
    std::string b = good;
    b[64 + 2] ^= 0x01;  // one sample bit flipped
    EXPECT_FALSE(DecodeRecord(b, out, err));
    EXPECT_NE(err.find("CRC"), std::string::npos);
    EXPECT_FALSE(DecodeRecord(good + '\0', out, err));                      // a byte more than the counts say
    EXPECT_FALSE(DecodeRecord(good.substr(0, good.size() - 1), out, err));  // a byte short
    b = good;
    Put(b, 22, 60000, 2);  // sample count far beyond the body
    EXPECT_FALSE(DecodeRecord(b, out, err));
    b = good;
    b[1] = 'X';
    EXPECT_FALSE(DecodeRecord(b, out, err));
    EXPECT_FALSE(DecodeRecord(good.substr(0, 63), out, err));
    EXPECT_FALSE(DecodeRecord(std::string(64, '\xFF'), out, err));
}

TEST(SyncLists, CoverRecordsInBlockStepsAndSkipKnownDives) {
    LogIndex idx;
    idx.entries = {{0x1000, 300, 1}, {0x112C, 9000, 2}, {0x3458, 64, 3}};
    const Json::Value list = SecondList(idx, {1});
    EXPECT_EQ(list["tknum"].asInt(), 2);
    EXPECT_EQ(list["total"].asInt(), 9064);
    const Json::Value& item = list["spi"][0];
    EXPECT_EQ(item["command"].asString(), "addDivelogs");
    EXPECT_EQ(item["cb_send"].asInt(), 9000);
    ASSERT_EQ(item["flash"].size(), 3u);
    EXPECT_EQ(item["flash"][1]["addr"].asInt(), 0x112C + 4096);
    EXPECT_EQ(item["flash"][2]["size"].asInt(), 9000 - 8192);
    EXPECT_EQ(EmptyList()["tknum"].asInt(), 0);

    // The benchmark plan reads 1 MiB in two lists of 4-block items.
    const Json::Value a = FirstList(SyncPlan::kBulk), b = BulkSecondList();
    EXPECT_EQ(a["total"].asInt() + b["total"].asInt(), 1024 * 1024);
    EXPECT_EQ(a["spi"][0]["flash"].size(), 4u);
    EXPECT_EQ(b["spi"][0]["flash"][0]["addr"].asInt(), 512 * 1024);
}

}  // namespace
}  // namespace cloudemu
