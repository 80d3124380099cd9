// The cloud's update offers: which are usable, the version shown, the file
// list with its local names, and offers built to break the reader.
#include <gtest/gtest.h>

#include <limits>

#include "update/update_offer.h"

using namespace vorta_update;

namespace {

// A firmware offer padded past the minimum length, as the cloud sends it.
std::string Firmware(const std::string& response) {
    std::string text = R"({"code":"0000000","message":"","response":)" + response + "}";
    return text + std::string(300, ' ');
}

std::string Sites(const std::string& files) {
    return R"({"response":{"divesite_files":)" + files + "}}";
}

}  // namespace

TEST(UpdateOffer, LocalNamesFollowTheKindAndSequence) {
    EXPECT_EQ(OfferPath("/d", OfferKind::kFirmware), "/d/features.json");
    EXPECT_EQ(OfferPath("/d", OfferKind::kDiveSite), "/d/divesite.json");
    EXPECT_EQ(UpdateFilePath("/d", OfferKind::kFirmware, 3), "/d/data3.bin");
    EXPECT_EQ(UpdateFilePath("/d", OfferKind::kDiveSite, 12), "/d/ds12.bin");
}

TEST(UpdateOffer, OfferedVersionAndUsability) {
    struct Case {
        const char* what;
        std::string text;
        std::optional<std::string> version;
        bool usable;
    } cases[] = {
        {"digits", Firmware(R"({"firmware_version":"1025"})"), "1.025", true},
        {"leading zeros kept", Firmware(R"({"firmware_version":"0000404"})"), "0.000404", true},
        {"a number", Firmware(R"({"firmware_version":1025})"), "1.025", true},
        {"multi-byte first character stays whole",
         Firmware("{\"firmware_version\":\"\xc3\xa9"
                  "12\"}"),
         "\xc3\xa9.12", true},
        {"missing", Firmware(R"({"firmware_files":[]})"), std::nullopt, false},
        {"empty", Firmware(R"({"firmware_version":""})"), std::nullopt, false},
        {"negative number", Firmware(R"({"firmware_version":-5})"), std::nullopt, false},
        {"fraction", Firmware(R"({"firmware_version":1.025})"), std::nullopt, false},
        {"not JSON", std::string(400, '<'), std::nullopt, false},
        {"deep nesting", std::string(100000, '['), std::nullopt, false},
        // Long enough only past 256 bytes.
        {"256 bytes", R"({"response":{"firmware_version":"1025"}})" + std::string(256 - 40, ' '), "1.025", false},
        {"257 bytes", R"({"response":{"firmware_version":"1025"}})" + std::string(257 - 40, ' '), "1.025", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(OfferedFirmwareVersion(c.text), c.version) << c.what;
        EXPECT_EQ(OfferUsable(c.text, OfferKind::kFirmware), c.usable) << c.what;
    }
    ASSERT_EQ(std::string(R"({"response":{"firmware_version":"1025"}})").size(), 40u);

    // The dive-site offer needs only some text.
    EXPECT_TRUE(OfferUsable("x", OfferKind::kDiveSite));
    EXPECT_FALSE(OfferUsable("", OfferKind::kDiveSite));
    EXPECT_TRUE(OfferFiles("x", OfferKind::kDiveSite).empty());
}

TEST(UpdateOffer, FilesInArrayOrderWithTheirFields) {
    const std::string text = Firmware(R"({"firmware_version":"1025","firmware_files":[
        {"sequence":2,"file_path":"https://h:8443/static/firmware/b.bin","address":1097728,"size":65536},
        {"sequence":1,"file_path":"https://h:8443/static/firmware/a.bin","address":1163264,"size":32768}],
        "divesite_files":[{"sequence":9,"file_path":"https://x/ds","address":0,"size":1}]})");
    auto files = OfferFiles(text, OfferKind::kFirmware);
    ASSERT_EQ(files.size(), 2u);
    EXPECT_TRUE(files[0].usable);
    EXPECT_EQ(files[0].sequence, 2);
    EXPECT_EQ(files[0].url, "https://h:8443/static/firmware/b.bin");
    EXPECT_EQ(files[0].address, 0x10C000u);
    EXPECT_EQ(files[0].size, 65536u);
    EXPECT_EQ(files[1].sequence, 1);
    EXPECT_EQ(files[1].address, 0x11C000u);
    EXPECT_EQ(OfferByteTotal(files), 98304);
    // The other kind's array is not read.
    auto sites = OfferFiles(text, OfferKind::kDiveSite);
    ASSERT_EQ(sites.size(), 1u);
    EXPECT_EQ(sites[0].sequence, 9);
    // A file of 10000 bytes takes three blocks, the last one partial.
    EXPECT_EQ(UpdateFile::BlockCount(10000), 3u);
    EXPECT_EQ(UpdateFile::BlockCount(4095), 1u);
    EXPECT_EQ(UpdateFile::BlockCount(8192), 2u);
    EXPECT_EQ(UpdateFile::BlockCount(0), 0u);
}

TEST(UpdateOffer, HostileEntriesAreRefusedOneByOne) {
    constexpr auto kOk = FileProblem::kNone;
    constexpr auto kUnreadable = FileProblem::kUnreadable;
    constexpr auto kOutOfRange = FileProblem::kOutOfRange;
    struct Case {
        const char* what;
        std::string entry;
        FileProblem problem;
        int32_t sequence;
        uint32_t address, size;
    } cases[] = {
        {"plain", R"({"sequence":1,"file_path":"https://h/f","address":4096,"size":8192})", kOk, 1, 4096, 8192},
        {"numbers as text", R"({"sequence":"3","file_path":"https://h/f","address":"1097728","size":"+10"})", kOk, 3,
         0x10C000, 10},
        {"whole doubles", R"({"sequence":4.0,"file_path":"https://h/f","address":1e3,"size":0})", kOk, 4, 1000, 0},
        {"largest address with one block", R"({"sequence":1,"file_path":"u","address":4294963200,"size":4096})", kOk, 1,
         4294963200u, 4096},
        {"last padded block ends at 4 GiB", R"({"sequence":1,"file_path":"u","address":4294963200,"size":100})", kOk, 1,
         4294963200u, 100},
        // Missing or mistyped: the file cannot be fetched as described.
        {"not an object", R"("https://h/f")", kUnreadable, 0, 0, 0},
        {"path missing", R"({"sequence":1,"address":0,"size":1})", kUnreadable, 1, 0, 1},
        {"path not text", R"({"sequence":1,"file_path":["https://h/f"],"address":0,"size":1})", kUnreadable, 1, 0, 1},
        {"sequence missing", R"({"file_path":"u","address":0,"size":1})", kUnreadable, 0, 0, 1},
        {"sequence text", R"({"sequence":"../x","file_path":"u","address":0,"size":1})", kUnreadable, 0, 0, 1},
        {"sequence too big", R"({"sequence":4294967296,"file_path":"u","address":0,"size":1})", kUnreadable, 0, 0, 1},
        {"address with hex text", R"({"sequence":1,"file_path":"u","address":"0x1000","size":1})", kUnreadable, 1, 0,
         1},
        {"size a fraction", R"({"sequence":1,"file_path":"u","address":0,"size":10.5})", kUnreadable, 1, 0, 0},
        {"size missing, address negative", R"({"sequence":1,"file_path":"u","address":-1})", kUnreadable, 1, 0, 0},
        // Numbers that put a block outside the device's address range.
        {"negative address", R"({"sequence":1,"file_path":"u","address":-4096,"size":1})", kOutOfRange, 1, 0, 1},
        {"address past 32 bits", R"({"sequence":1,"file_path":"u","address":4294967296,"size":1})", kOutOfRange, 1, 0,
         1},
        {"negative size", R"({"sequence":1,"file_path":"u","address":0,"size":-1})", kOutOfRange, 1, 0, 0},
        {"size huge", R"({"sequence":1,"file_path":"u","address":0,"size":1e300})", kOutOfRange, 1, 0, 0},
        {"size beyond 64 bits", R"({"sequence":1,"file_path":"u","address":0,"size":18446744073709551616})",
         kOutOfRange, 1, 0, 0},
        {"size beyond 64 bits as text", R"({"sequence":1,"file_path":"u","address":0,"size":"99999999999999999999"})",
         kOutOfRange, 1, 0, 0},
        {"wraps the address space", R"({"sequence":1,"file_path":"u","address":4294963200,"size":8192})", kOutOfRange,
         1, 4294963200u, 8192},
        // The padded last block would wrap, though address + size does not.
        {"padded block wraps", R"({"sequence":1,"file_path":"u","address":4294967000,"size":100})", kOutOfRange, 1,
         4294967000u, 100},
    };
    for (const auto& c : cases) {
        auto files = OfferFiles(Sites("[" + c.entry + "]"), OfferKind::kDiveSite);
        ASSERT_EQ(files.size(), 1u) << c.what;
        EXPECT_EQ(files[0].problem, c.problem) << c.what;
        EXPECT_EQ(files[0].usable, c.problem == kOk) << c.what;
        EXPECT_EQ(files[0].sequence, c.sequence) << c.what;
        EXPECT_EQ(files[0].address, c.address) << c.what;
        EXPECT_EQ(files[0].size, c.size) << c.what;
    }

    // Broken documents give no files at all.
    for (const char* text : {"", "not json", "[]", R"({"response":{"divesite_files":{"0":{}}}})",
                             R"({"response":"divesite_files"})", R"({"response":{"divesite_files":null}})"})
        EXPECT_TRUE(OfferFiles(text, OfferKind::kDiveSite).empty()) << text;

    // Totals never overflow the 32-bit counters.
    const std::string big = R"({"sequence":1,"file_path":"u","address":0,"size":2147483647})";
    auto files = OfferFiles(Sites("[" + big + "," + big + "]"), OfferKind::kDiveSite);
    EXPECT_EQ(OfferByteTotal(files), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(OfferByteTotal({}), 0);
}
