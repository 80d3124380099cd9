// The simulator's generated log memory, as the cloud emulator will decode it.
#include "tools/devsim/dive_log.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <unistd.h>

namespace {

uint32_t U32(const std::vector<uint8_t>& m, size_t at) {
    return m[at] | (m[at + 1] << 8) | (m[at + 2] << 16) | (static_cast<uint32_t>(m[at + 3]) << 24);
}
uint16_t U16(const std::vector<uint8_t>& m, size_t at) {
    return static_cast<uint16_t>(m[at] | (m[at + 1] << 8));
}

TEST(GeneratedLog, IndexAndRecordsAreConsistent) {
    DiveGenOptions opt;
    opt.dives = 40;
    opt.seed = 9;
    opt.end_time = 1796601600;  // 2026-12-07
    const std::vector<uint8_t> mem = BuildLogMemory(opt);
    ASSERT_EQ(std::memcmp(mem.data(), "VLOG", 4), 0);
    EXPECT_EQ(U16(mem, 4), 1);
    const uint16_t count = U16(mem, 6);
    ASSERT_EQ(count, 40);
    EXPECT_EQ(U32(mem, 8), mem.size());  // first free address

    uint32_t expected_address = kLogRecordsAddress;
    uint32_t last_start = 0;
    std::set<uint8_t> types;
    for (uint16_t i = 0; i < count; ++i) {
        const size_t e = 16 + 16 * i;
        const uint32_t address = U32(mem, e), length = U32(mem, e + 4), number = U32(mem, e + 8);
        EXPECT_EQ(address, expected_address);
        EXPECT_EQ(number, i + 1u);
        ASSERT_LE(address + length, mem.size());
        ASSERT_EQ(std::memcmp(&mem[address], "DIVE", 4), 0);
        EXPECT_EQ(U32(mem, address + 4), number);
        const uint32_t start = U32(mem, address + 8);
        EXPECT_GE(start, last_start);
        EXPECT_LT(start, opt.end_time);
        EXPECT_GT(start, opt.end_time - 150u * 86400u);
        last_start = start;
        const uint8_t type = mem[address + 14];
        types.insert(type);
        const uint16_t interval = U16(mem, address + 20), samples = U16(mem, address + 22),
                       events = U16(mem, address + 24);
        ASSERT_EQ(length, 64u + 4u * samples + 6u * events);
        EXPECT_EQ(U32(mem, address + 16), (samples - 1u) * interval);
        EXPECT_EQ(U32(mem, address + 56), Crc32(&mem[address + 64], length - 64));
        uint16_t max_depth = 0;
        for (uint16_t k = 0; k < samples; ++k) max_depth = std::max(max_depth, U16(mem, address + 64 + 4 * k));
        EXPECT_EQ(U16(mem, address + 26), max_depth);
        for (uint16_t k = 0; k < events; ++k) {
            const uint16_t code = U16(mem, address + 64 + 4 * samples + 6 * k + 2);
            EXPECT_GE(code, 1);
            EXPECT_LE(code, 7);
        }
        expected_address += length;
    }
    EXPECT_EQ(types, (std::set<uint8_t>{0, 1, 2}));
}

TEST(GeneratedLog, SameSeedSameImageAndListingReadsItBack) {
    DiveGenOptions opt;
    opt.dives = 12;
    opt.end_time = 1796601600;
    EXPECT_EQ(BuildLogMemory(opt), BuildLogMemory(opt));

    char path[] = "/tmp/vorta-devsim-image-XXXXXX";
    const int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    ::close(fd);
    {
        MemoryImage image;
        ASSERT_TRUE(image.Open(path, true, nullptr));
        EXPECT_EQ(image.size(), MemoryImage::kMinSize);
        ASSERT_TRUE(GenerateDives(image, opt));
        std::vector<DiveSummary> dives;
        ASSERT_TRUE(ReadDives(image, dives, nullptr));
        ASSERT_EQ(dives.size(), 12u);
        for (const auto& d : dives) EXPECT_TRUE(d.crc_ok) << d.number;
        // A damaged record is reported, not trusted.
        uint8_t byte = 0;
        image.Read(dives[3].address + 70, &byte, 1);
        byte ^= 0x40;
        ASSERT_TRUE(image.Write(dives[3].address + 70, &byte, 1));
        ASSERT_TRUE(ReadDives(image, dives, nullptr));
        EXPECT_FALSE(dives[3].crc_ok);
        // An index claiming records outside the log area skips them.
        const uint8_t wild[4] = {0xF0, 0xFF, 0xFF, 0xFF};
        ASSERT_TRUE(image.Write(16, wild, 4));
        ASSERT_TRUE(ReadDives(image, dives, nullptr));
        EXPECT_EQ(dives.size(), 11u);
    }
    ::unlink(path);
}

}  // namespace
