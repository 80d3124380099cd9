#include "device/device_packet.h"
#include "device/usb.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <vector>

TEST(DevicePacket, EncodesLittleEndianFieldsAtTheirOffsets) {
    DevicePacket p;
    p.marker = 0xAA;
    p.payload_len = 12;
    p.code = CMD_WRITE_COMMIT;
    p.seq = 0x01020304;
    p.SetU32(8, 0x0010A000);
    p.SetU32(12, 4096);
    p.SetU32(16, 1044480);
    const PacketBytes b = p.Encode();
    const std::vector<uint8_t> expected = {0xAA, 0x0C, 0x03, 0x00, 0x04, 0x03, 0x02, 0x01,  // header
                                           0x00, 0xA0, 0x10, 0x00, 0x00, 0x10, 0x00, 0x00,  // address, length
                                           0x00, 0xF0, 0x0F, 0x00};                         // sum
    ASSERT_EQ(b.size(), 40u);
    EXPECT_EQ(std::vector<uint8_t>(b.begin(), b.begin() + 20), expected);
    for (size_t i = 20; i < 40; ++i) EXPECT_EQ(b[i], 0) << i;

    const DevicePacket back = DevicePacket::Decode(b.data());
    EXPECT_EQ(back.code, CMD_WRITE_COMMIT);
    EXPECT_EQ(back.seq, 0x01020304u);
    EXPECT_EQ(back.GetU32(16), 1044480u);
    // Offsets outside the payload neither write nor read.
    p.SetU32(4, 7);
    p.SetU32(37, 7);
    EXPECT_EQ(p.GetU32(37), 0u);
    EXPECT_EQ(p.Encode(), b);
}

TEST(DevicePacket, BlockByteSumOfErasedBlockIsItsMaximum) {
    const std::vector<uint8_t> erased(kBlockSize, 0xFF);
    EXPECT_EQ(BlockByteSum(erased.data(), erased.size()), 1044480u);
}

TEST(DevicePacket, BlockByteSumMatchesAPlainSumAtAnySizeAndAlignment) {
    std::vector<uint8_t> bytes(3 * kBlockSize + 13);
    uint32_t x = 99;
    for (auto& b : bytes) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 23);
    for (size_t offset : {0, 1, 7}) {
        for (size_t size : {0, 1, 7, 8, 9, 1023, 1024, 1025, 4096, 3 * 4096}) {
            uint32_t plain = 0;
            for (size_t i = 0; i < size; ++i) plain += bytes[offset + i];
            EXPECT_EQ(BlockByteSum(bytes.data() + offset, size), plain) << offset << " " << size;
        }
    }
}

TEST(IdentityText, DecodesUtf16AndCleansInvalidUtf8) {
    // "1.02" then a zero unit: the text ends there.
    const uint8_t fw[12] = {'1', 0, '.', 0, '0', 0, '2', 0, 0, 0, '9', 0};
    EXPECT_EQ(Utf16LeToUtf8(fw, 6), "1.02");
    // A lone high surrogate and a pair (U+1F600).
    const uint8_t odd[8] = {0x00, 0xD8, 'A', 0, 0x3D, 0xD8, 0x00, 0xDE};
    EXPECT_EQ(Utf16LeToUtf8(odd, 4),
              "\xEF\xBF\xBD"
              "A\xF0\x9F\x98\x80");

    const uint8_t model[12] = {'K', '7', 0xC3, 0xA9, 0xFF, 0xE2, 0x82, 'x', 0xC0, 0x80, 0, 'Z'};
    EXPECT_EQ(SanitizeUtf8(model, 12), "K7\xC3\xA9\xEF\xBF\xBD\xEF\xBF\xBDx\xEF\xBF\xBD");
}
