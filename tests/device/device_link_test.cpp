// The commands over a real pseudo-terminal, against the simulator process.
#include "device/device_port.h"
#include "device/usb.h"
#include "tests/support/devsim_process.h"
#include "tools/devsim/memory_image.h"

#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/serial_port.hpp>
#include <boost/system/system_error.hpp>

#include <chrono>
#include <memory>
#include <numeric>
#include <thread>
#include <vector>

namespace asio = boost::asio;
using namespace std::chrono_literals;

namespace {

std::vector<uint8_t> Pattern(uint32_t seed, size_t size = kBlockSize) {
    std::vector<uint8_t> v(size);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : v) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<uint8_t>(x);
    }
    return v;
}

std::vector<uint8_t> Bytes(const DevSimProcess::Packet& p) {
    return {p.begin(), p.end()};
}

// Little-endian, written out here: the packets expected on the wire are not
// built with the program's own encoders.
void PutLittleEndian(uint8_t* at, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

std::vector<uint8_t> Request(uint8_t marker, uint8_t len, uint16_t code, std::vector<uint32_t> words = {}) {
    std::vector<uint8_t> b(40, 0);
    b[0] = marker;
    b[1] = len;
    PutLittleEndian(&b[2], code, 2);
    for (size_t i = 0; i < words.size(); ++i) PutLittleEndian(&b[8 + 4 * i], words[i], 4);
    return b;
}

// The block byte sum: every byte as an unsigned value, added.
uint32_t PlainSum(const std::vector<uint8_t>& block) {
    return std::accumulate(block.begin(), block.end(), 0u);
}

class DeviceLinkTest : public ::testing::Test {
protected:
    // Writes bytes into the image before the simulator starts.
    void Preload(uint64_t address, const std::vector<uint8_t>& bytes) {
        MemoryImage image;
        ASSERT_TRUE(image.Open(sim_.image_path(), true, nullptr));
        ASSERT_TRUE(image.Write(address, bytes.data(), bytes.size()));
    }

    void Launch(const std::vector<std::string>& args = {}) {
        ASSERT_TRUE(sim_.Start(args)) << sim_.error();
        port_ = std::make_unique<asio::serial_port>(io_);
        usb_ = std::make_unique<Usb>(*port_, sim_.pty_path());
        // Generous for answers that come (a loaded machine may be slow to
        // schedule the simulator); the silence cases shorten it.
        usb_->SetAnswerTimeout(2000ms);
    }

    // The simulator traces each packet as it arrives; wait until `count`
    // lines are there (or give up after a few seconds).
    std::vector<DevSimProcess::Packet> TraceOf(size_t count) {
        auto packets = sim_.Trace();
        for (int i = 0; i < 500 && packets.size() < count; ++i) {
            std::this_thread::sleep_for(10ms);
            packets = sim_.Trace();
        }
        return packets;
    }

    void TearDown() override {
        usb_.reset();
        port_.reset();
        sim_.Stop();
    }

    asio::io_context io_;
    DevSimProcess sim_;
    std::unique_ptr<asio::serial_port> port_;
    std::unique_ptr<Usb> usb_;
};

TEST_F(DeviceLinkTest, EmptyIdentityTextsKeepPresetsButInfoIsTaken) {
    Launch({"--firmware", "", "--model", "", "--info", "0x12345678"});
    std::string fw = "0.000", model = "K7";
    uint32_t info = 0;
    ASSERT_TRUE(usb_->GetInfo(fw, info, model));
    EXPECT_EQ(fw, "0.000");
    EXPECT_EQ(model, "K7");
    EXPECT_EQ(info, 0x12345678u);
}

TEST_F(DeviceLinkTest, FullLengthIdentityTextsAreTakenWhole) {
    Launch({"--firmware", "1.2345", "--model", "ABCDEFGHIJKL", "--info", "7"});
    std::string fw = "0.000", model = "K7";
    uint32_t info = 0;
    ASSERT_TRUE(usb_->GetInfo(fw, info, model));
    EXPECT_EQ(fw, "1.2345");
    EXPECT_EQ(model, "ABCDEFGHIJKL");
    EXPECT_EQ(info, 7u);
}

TEST_F(DeviceLinkTest, ReadsWholeBlocksFromAnyAddress) {
    const auto data = Pattern(1, 3 * kBlockSize);
    Preload(0x20000, data);
    Launch();
    std::vector<uint8_t> out(kBlockSize);
    ASSERT_TRUE(usb_->ReadBlock(0x20000, out.data(), kBlockSize));
    EXPECT_EQ(out, std::vector<uint8_t>(data.begin(), data.begin() + kBlockSize));
    // Unaligned, and a short length keeps only the leading bytes.
    std::vector<uint8_t> part(100, 0xEE);
    part.resize(200, 0xEE);
    ASSERT_TRUE(usb_->ReadBlock(0x20000 + 0x123, part.data(), 100));
    EXPECT_EQ(std::vector<uint8_t>(part.begin(), part.begin() + 100),
              std::vector<uint8_t>(data.begin() + 0x123, data.begin() + 0x123 + 100));
    EXPECT_EQ(part[100], 0xEE);
    // Past the end of the image the memory reads erased.
    ASSERT_TRUE(usb_->ReadBlock(0x3F000000, out.data(), kBlockSize));
    EXPECT_EQ(out, std::vector<uint8_t>(kBlockSize, 0xFF));
    // Length 0 hands back nothing and succeeds on a good sum.
    EXPECT_TRUE(usb_->ReadBlock(0x20000, nullptr, 0));
}

TEST_F(DeviceLinkTest, WrongEndSumFailsButFillsTheOutput) {
    const auto data = Pattern(2);
    Preload(0x1000, data);
    Launch({"--bad-sum-read", "2"});
    EXPECT_TRUE(usb_->ReadBlock(0x1000, nullptr, 0));
    std::vector<uint8_t> out(kBlockSize, 0);
    EXPECT_FALSE(usb_->ReadBlock(0x1000, out.data(), kBlockSize));
    EXPECT_EQ(out, data);
}

TEST_F(DeviceLinkTest, LengthZeroStillChecksTheSum) {
    Launch({"--bad-sum-read", "1"});
    EXPECT_FALSE(usb_->ReadBlock(0x1000, nullptr, 0));
}

TEST_F(DeviceLinkTest, WrongChunkIndexFailsAndLeavesOutputAlone) {
    Preload(0x1000, Pattern(3));
    Launch({"--bad-seq-read", "1:4"});
    std::vector<uint8_t> out(kBlockSize, 0x5A);
    EXPECT_FALSE(usb_->ReadBlock(0x1000, out.data(), kBlockSize));
    EXPECT_EQ(out, std::vector<uint8_t>(kBlockSize, 0x5A));
    // The link is still usable for the closing packet.
    EXPECT_EQ(usb_->EndLink(), 40u);
}

TEST_F(DeviceLinkTest, WritesPersistAndARefusedWriteFails) {
    Launch({"--refuse-write", "1"});
    const auto first = Pattern(4), second = Pattern(5);
    EXPECT_FALSE(usb_->WriteBlock(0x10A000, first.data()));
    ASSERT_TRUE(usb_->WriteBlock(0x10A000, second.data()));
    std::vector<uint8_t> out(kBlockSize);
    ASSERT_TRUE(usb_->ReadBlock(0x10A000, out.data(), kBlockSize));
    EXPECT_EQ(out, second);
    // Past the end: the image grows.
    ASSERT_TRUE(usb_->WriteBlock(0x200000, first.data()));
    sim_.Stop();

    MemoryImage image;
    ASSERT_TRUE(image.Open(sim_.image_path(), false, nullptr));
    image.Read(0x10A000, out.data(), kBlockSize);
    EXPECT_EQ(out, second);
    image.Read(0x200000, out.data(), kBlockSize);
    EXPECT_EQ(out, first);
    image.Read(0x1FF000, out.data(), kBlockSize);
    EXPECT_EQ(out, std::vector<uint8_t>(kBlockSize, 0xFF));
}

TEST_F(DeviceLinkTest, ExactBytesOnTheWire) {
    Launch();
    std::string fw, model;
    uint32_t info = 0;
    ASSERT_TRUE(usb_->GetInfo(fw, info, model));
    std::vector<uint8_t> out(kBlockSize);
    ASSERT_TRUE(usb_->ReadBlock(0x109000, out.data(), 100));
    const auto data = Pattern(6);
    ASSERT_TRUE(usb_->WriteBlock(0x10B000, data.data()));
    usb_->FinishFirmwareUpdate();
    EXPECT_EQ(usb_->EndLink(), 40u);

    const auto trace = TraceOf(1 + 1 + 129 + 2);
    ASSERT_EQ(trace.size(), 133u);
    EXPECT_EQ(Bytes(trace[0]), Request(0, 0, CMD_IDENTIFY));
    EXPECT_EQ(Bytes(trace[1]), Request(0, 8, CMD_READ_BLOCK, {0x109000, 100}));
    for (uint32_t i = 0; i < 128; ++i) {
        std::vector<uint8_t> chunk = Request(0, 32, PKT_DATA);
        PutLittleEndian(&chunk[4], i, 4);
        std::copy(data.begin() + i * 32, data.begin() + i * 32 + 32, chunk.begin() + 8);
        ASSERT_EQ(Bytes(trace[2 + i]), chunk) << "chunk " << i;
    }
    EXPECT_EQ(Bytes(trace[130]), Request(0xAA, 12, CMD_WRITE_COMMIT, {0x10B000, 4096, PlainSum(data)}));
    EXPECT_EQ(Bytes(trace[131]), Request(0, 0, CMD_FIRMWARE_DONE));
    EXPECT_EQ(Bytes(trace[132]), Request(0, 0, CMD_END_LINK));
}

TEST_F(DeviceLinkTest, SilenceFailsTheCommandAndEndLinkStillGoesOut) {
    Launch({"--silent-after", "1"});
    usb_->SetAnswerTimeout(300ms);
    std::string fw, model;
    uint32_t info = 0;
    ASSERT_TRUE(usb_->GetInfo(fw, info, model));
    std::vector<uint8_t> out(kBlockSize);
    EXPECT_FALSE(usb_->ReadBlock(0, out.data(), kBlockSize));
    EXPECT_FALSE(usb_->GetInfo(fw, info, model));
    EXPECT_EQ(usb_->EndLink(), 40u);
    const auto trace = TraceOf(4);
    ASSERT_EQ(trace.size(), 4u);
    EXPECT_EQ(LoadU16(trace[3].data() + 2), CMD_END_LINK);
}

TEST_F(DeviceLinkTest, SilenceMidBlockFails) {
    Launch({"--silent-after-sent", "60"});
    usb_->SetAnswerTimeout(300ms);
    std::vector<uint8_t> out(kBlockSize, 0x11);
    EXPECT_FALSE(usb_->ReadBlock(0, out.data(), kBlockSize));
    EXPECT_EQ(out, std::vector<uint8_t>(kBlockSize, 0x11));
    EXPECT_EQ(usb_->EndLink(), 40u);
}

TEST_F(DeviceLinkTest, HangUpMidBlockFailsEveryCommandAfterwards) {
    Launch({"--hangup-after-sent", "50"});
    std::string fw, model;
    uint32_t info = 0;
    ASSERT_TRUE(usb_->GetInfo(fw, info, model));
    std::vector<uint8_t> out(kBlockSize);
    EXPECT_FALSE(usb_->ReadBlock(0, out.data(), kBlockSize));
    EXPECT_FALSE(usb_->GetInfo(fw, info, model));
    EXPECT_FALSE(usb_->WriteBlock(0, out.data()));
    usb_->EndLink();  // may or may not reach a hung-up line; must not throw
    usb_->FinishFirmwareUpdate();
}

TEST_F(DeviceLinkTest, PortIsHeldExclusivelyWhileOpen) {
    Launch();
    EXPECT_EQ(ProbePort(sim_.pty_path()), PortProbe::kInUse);
    asio::serial_port other(io_);
    EXPECT_THROW(Usb(other, sim_.pty_path()), boost::system::system_error);
    usb_.reset();
    EXPECT_EQ(ProbePort(sim_.pty_path()), PortProbe::kOpened);
    // A new connection on the same port works.
    Usb again(other, sim_.pty_path());
    std::string fw, model;
    uint32_t info = 0;
    EXPECT_TRUE(again.GetInfo(fw, info, model));
}

TEST(DeviceLinkOpen, MissingPortRaisesOpen) {
    asio::io_context io;
    asio::serial_port port(io);
    try {
        Usb usb(port, "/nonexistent/tty");
        FAIL() << "opened a missing port";
    } catch (const boost::system::system_error& e) {
        EXPECT_NE(std::string(e.what()).find("open"), std::string::npos);
    }
}

}  // namespace
