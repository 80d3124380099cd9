// The simulator's side of a firmware update, without a pty: written blocks
// land in the image, and the end-of-firmware command makes the device report
// the version of the image it was given.
#include "tools/devsim/memory_image.h"
#include "tools/devsim/simulator.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

class Device {
public:
    Device() {
        char tmpl[] = "/tmp/vorta-devsim-XXXXXX";
        dir_ = ::mkdtemp(tmpl);
        image_.Open(dir_ + "/image.bin", true, nullptr);
        sim_ = std::make_unique<DeviceSimulator>(image_, SimIdentity{}, SimFaults{}, nullptr);
    }
    ~Device() { std::filesystem::remove_all(dir_); }

    std::vector<uint8_t> Send(const DevicePacket& p) {
        std::vector<uint8_t> out;
        const PacketBytes b = p.Encode();
        sim_->Receive(b.data(), b.size(), out);
        return out;
    }
    std::string Version() {
        DevicePacket ask;
        ask.code = CMD_IDENTIFY;
        const std::vector<uint8_t> answer = Send(ask);
        std::string text;
        for (size_t i = 8; i < 20 && answer.size() == kPacketSize && answer[i]; i += 2) text += char(answer[i]);
        return text;
    }
    bool Write(uint32_t address, const std::vector<uint8_t>& block) {
        DevicePacket chunk;
        chunk.code = PKT_DATA;
        chunk.payload_len = 32;
        for (uint32_t i = 0; i < kChunksPerBlock; ++i) {
            chunk.seq = i;
            std::memcpy(chunk.payload.data(), &block[i * kChunkSize], kChunkSize);
            Send(chunk);
        }
        DevicePacket commit;
        commit.marker = kWriteCommitMarker;
        commit.payload_len = 12;
        commit.code = CMD_WRITE_COMMIT;
        commit.SetU32(8, address);
        commit.SetU32(12, kBlockSize);
        commit.SetU32(16, BlockByteSum(block.data(), kBlockSize));
        const std::vector<uint8_t> answer = Send(commit);
        return answer.size() == kPacketSize && LoadU32(&answer[8]) == 1;
    }
    void Finish() {
        DevicePacket done;
        done.code = CMD_FIRMWARE_DONE;
        EXPECT_TRUE(Send(done).empty());
    }
    MemoryImage& image() { return image_; }

private:
    std::string dir_;
    MemoryImage image_;
    std::unique_ptr<DeviceSimulator> sim_;
};

std::vector<uint8_t> FirmwareHeaderBlock(uint32_t version) {
    std::vector<uint8_t> b(kBlockSize, 0x5A);
    std::memcpy(b.data(), "VFW1K7\0\0", 8);
    StoreU32(&b[8], version);
    return b;
}

}  // namespace

TEST(DevSimUpdate, FinishedFirmwareReportsTheWrittenVersion) {
    Device d;
    EXPECT_EQ(d.Version(), "1.025");
    ASSERT_TRUE(d.Write(0x10C000, FirmwareHeaderBlock(1026)));
    ASSERT_TRUE(d.Write(0x10D000, std::vector<uint8_t>(kBlockSize, 0x11)));
    // Written, but not yet running.
    EXPECT_EQ(d.Version(), "1.025");
    uint8_t back[4];
    d.image().Read(0x10D000, back, sizeof back);
    EXPECT_EQ(back[3], 0x11);
    d.Finish();
    EXPECT_EQ(d.Version(), "1.026");

    // A database image has no firmware header: the version stays.
    ASSERT_TRUE(d.Write(0x210000, std::vector<uint8_t>(kBlockSize, 0x01)));
    d.Finish();
    EXPECT_EQ(d.Version(), "1.026");
}
