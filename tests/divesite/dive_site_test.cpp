// The 64-byte dive-site record, its device blocks and the three lists:
// exact bytes, name cutting, degree conversion and the 64-site limit.
#include <gtest/gtest.h>

#include <cmath>
#include <iterator>
#include <limits>
#include <string>

#include "divesite/dive_site.h"

using namespace vorta_divesite;

namespace {

std::string Hex(const uint8_t* p, size_t n) {
    static const char* digits = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}

DiveSite Site(uint8_t type, const std::string& name, int32_t lat_e6, int32_t lng_e6) {
    DiveSite s;
    s.type = type;
    s.SetName(name);
    s.lat_e6 = lat_e6;
    s.lng_e6 = lng_e6;
    return s;
}

}  // namespace

TEST(DiveSiteRecord, EncodesToGoldenBytesAndDecodesBack) {
    struct Case {
        DiveSite site;
        const char* hex;
    } cases[] = {
        {Site(1, "Reef", 25033964, 121564468),
         "0152656566000000000000000000000000000000000000000000000000000000"
         "000000000000000000000000000000000000000000000000ecfc7d0134ed3e07"},
        {Site(2, "unnamed", -33868800, 151209300),
         "02756e6e616d6564000000000000000000000000000000000000000000000000"
         "0000000000000000000000000000000000000000000000000034fbfd54450309"},
        {Site(3, "", std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()),
         "0300000000000000000000000000000000000000000000000000000000000000"
         "00000000000000000000000000000000000000000000000000000080ffffff7f"},
    };
    for (const auto& c : cases) {
        auto bytes = EncodeDiveSite(c.site);
        EXPECT_EQ(Hex(bytes.data(), bytes.size()), c.hex);
        EXPECT_EQ(DecodeDiveSite(bytes.data()), c.site);
    }
}

TEST(DiveSiteRecord, AnyRecordBytesGoBackOutUnchanged) {
    // A device or file record need not be one the program would make: a
    // name field without a zero byte, bytes after the zero, any type byte.
    uint8_t bytes[DiveSite::kSize];
    for (size_t i = 0; i < sizeof bytes; ++i) bytes[i] = static_cast<uint8_t>(i * 37 + 11);
    DiveSite site = DecodeDiveSite(bytes);
    auto again = EncodeDiveSite(site);
    EXPECT_EQ(Hex(again.data(), again.size()), Hex(bytes, sizeof bytes));
    EXPECT_LE(site.Name().size(), DiveSite::kNameField);

    // A name field without a zero byte gives its 55 bytes, cut at a
    // character boundary.
    for (size_t i = 1; i <= DiveSite::kNameField; ++i) bytes[i] = 'x';
    EXPECT_EQ(DecodeDiveSite(bytes).Name(), std::string(55, 'x'));
    bytes[54] = '\xe2', bytes[55] = '\x82';  // a three-byte character cut off by the field's end
    EXPECT_EQ(DecodeDiveSite(bytes).Name(), std::string(53, 'x'));
}

TEST(DiveSiteRecord, NamesAreCutAtCharacterBoundaries) {
    const std::string a50(50, 'a');
    struct Case {
        const char* what;
        std::string in;
        std::string stored;
    } cases[] = {
        {"60 ASCII bytes", std::string(60, 'n'), std::string(54, 'n')},
        {"two-byte char across the cut", a50 + "aaa\xc3\xa9", a50 + "aaa"},
        {"two-byte char ending at the cut", a50 + "aa\xc3\xa9", a50 + "aa\xc3\xa9"},
        {"three-byte char across the cut", a50 + "aa\xe2\x82\xac", a50 + "aa"},
        {"three-byte char, one byte over", a50 + "aa\xe2\x82\xac" + "z", a50 + "aa"},
        {"four-byte char across the cut", a50 + "a\xf0\x9f\x98\x80", a50 + "a"},
        {"four-byte char ending at the cut", a50 + "\xf0\x9f\x98\x80", a50 + "\xf0\x9f\x98\x80"},
        {"stray continuation bytes are cut where they fall", a50 + "aaa\x80\x80\x80\x80", a50 + "aaa\x80"},
        // Each would be a character cut short by the one after it; left in,
        // every later cut of the name would drop one more.
        {"lead bytes without continuation at the end go together", "ab\xc5\xc5\xc5", "ab"},
        {"text after a zero byte is dropped", std::string("ab\0cd", 5), "ab"},
    };
    for (const auto& c : cases) {
        DiveSite site;
        site.name.fill(0x55);
        site.SetName(c.in);
        EXPECT_EQ(site.Name(), c.stored) << c.what;
        // The rest of the field is zero-filled, so the stored name ends there.
        for (size_t i = c.stored.size(); i < DiveSite::kNameField; ++i) ASSERT_EQ(site.name[i], 0) << c.what;
    }
}

TEST(DiveSiteRecord, DegreesBecomeTruncatedMillionths) {
    const int32_t kMax = std::numeric_limits<int32_t>::max();
    const int32_t kMin = std::numeric_limits<int32_t>::min();
    struct Case {
        double degrees;
        int32_t e6;
    } cases[] = {
        {-33.8688, -33868800},
        {12.3456789, 12345678},
        {-12.3456789, -12345678},
        {0.0000009, 0},
        {-8.123456, -8123456},
        {121.564468, 121564468},
        {0.000001, 1},
        {2147.483647, kMax},
        {3000.0, kMax},
        {-INFINITY, kMin},
        {NAN, 0},
    };
    for (const auto& c : cases) EXPECT_EQ(DegreesToE6(c.degrees), c.e6) << c.degrees;

    // Typed or file text, read as the C conversion reads it, with a point
    // for the decimal mark whatever the locale.
    struct Text {
        const char* text;
        double degrees;
    } texts[] = {{"25.033964", 25.033964},
                 {"  -33.8688xyz", -33.8688},
                 {"+1.5e1", 15.0},
                 {".5", 0.5},
                 {"abc", 0.0},
                 {"", 0.0},
                 {"1,5", 1.0},
                 {"--1", 0.0},
                 {"+-1", 0.0},
                 {"inf", 0.0},
                 {"1e999", 0.0},
                 {"\t\n7", 7.0}};
    for (const auto& t : texts) EXPECT_DOUBLE_EQ(ParseDegrees(t.text), t.degrees) << t.text;

    DiveSite site = MakeDiveSite(kTypeFreedive, std::string(60, 'u'), -33.8688, 151.2093);
    EXPECT_EQ(site.type, kTypeFreedive);
    EXPECT_EQ(site.Name(), std::string(54, 'u'));
    EXPECT_DOUBLE_EQ(site.lat(), -33.8688);
    EXPECT_DOUBLE_EQ(site.lng(), 151.2093);
}

TEST(DiveSiteBlock, ListsGoIntoSlotsInOrderWithTheBlockType) {
    std::vector<DiveSite> sites = {Site(0, "a", 1, 2), Site(2, "b", 3, 4), Site(7, "c", 5, 6)};
    std::vector<uint8_t> block = EncodeSiteBlock(sites, kTypeScuba);
    ASSERT_EQ(block.size(), kBlockSize);
    // Type 1, the name zero-filled to 55 bytes, latitude and longitude
    // little-endian.
    const std::string zeros(2 * 54, '0');
    const std::string slots[] = {
        "0161" + zeros + "0100000002000000",
        "0162" + zeros + "0300000004000000",
        "0163" + zeros + "0500000006000000",
    };
    for (size_t i = 0; i < std::size(slots); ++i) EXPECT_EQ(Hex(block.data() + i * 64, 64), slots[i]) << i;
    for (size_t i = 192; i < kBlockSize; ++i) ASSERT_EQ(block[i], 0xFF) << i;

    // Never more than the block holds.
    std::vector<DiveSite> many(70, Site(1, "m", 0, 0));
    EXPECT_EQ(DecodeSiteBlock(EncodeSiteBlock(many, kTypeGauge).data(), kBlockSize, kTypeGauge).size(), kMaxSites);
}

TEST(DiveSiteBlock, ReadingSkipsEmptySlotsAndTakesTheBlockType) {
    std::vector<uint8_t> block(kBlockSize, 0xFF);
    auto put = [&](size_t slot, const DiveSite& s) {
        auto bytes = EncodeDiveSite(s);
        std::copy(bytes.begin(), bytes.end(), block.begin() + static_cast<std::ptrdiff_t>(slot * 64));
    };
    put(0, Site(2, "first", 10, 20));
    put(2, Site(7, "odd type", 30, 40));  // slot 1 stays empty
    put(63, Site(1, "last", 50, 60));

    auto sites = DecodeSiteBlock(block.data(), block.size(), kTypeFreedive);
    ASSERT_EQ(sites.size(), 3u);
    EXPECT_EQ(sites[0], Site(kTypeFreedive, "first", 10, 20));
    EXPECT_EQ(sites[1], Site(kTypeFreedive, "odd type", 30, 40));
    EXPECT_EQ(sites[2], Site(kTypeFreedive, "last", 50, 60));

    // A short buffer reads only its whole slots.
    EXPECT_EQ(DecodeSiteBlock(block.data(), 64 * 3 - 1, kTypeFreedive).size(), 1u);
    EXPECT_TRUE(DecodeSiteBlock(nullptr, kBlockSize, kTypeFreedive).empty());
}

TEST(DiveSiteLists, EachTypeHoldsAtMost64Sites) {
    DiveSiteLists lists;
    for (int i = 0; i < 64; ++i) ASSERT_TRUE(lists.Append(0, Site(1, std::to_string(i), i, 0)));
    EXPECT_FALSE(lists.Append(0, Site(1, "65th", 0, 0)));
    EXPECT_EQ(lists.list(0).size(), 64u);
    EXPECT_TRUE(lists.Append(1, Site(2, "free", 0, 0)));  // the other lists still take sites
    EXPECT_FALSE(lists.Append(3, Site(3, "no such list", 0, 0)));

    EXPECT_TRUE(lists.Erase(0, 1));  // the others keep their order
    EXPECT_FALSE(lists.Erase(0, 63));
    EXPECT_EQ(lists.list(0)[1].Name(), "2");
    EXPECT_TRUE(lists.Append(0, Site(1, "room again", 0, 0)));
    lists.Clear();
    EXPECT_TRUE(lists.AllEmpty());
}
