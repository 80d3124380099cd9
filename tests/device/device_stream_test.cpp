// Answer streams no well-behaved device sends: short, garbled, out of order,
// oversized. Every command must fail cleanly, read no further than the first
// bad packet, and never write outside the caller's buffer.
#include "device/usb.h"

#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/serial_port.hpp>
#include <boost/system/system_error.hpp>

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <random>
#include <thread>
#include <vector>

namespace asio = boost::asio;
using namespace std::chrono_literals;

namespace {

// Hands out a fixed answer stream; once it runs dry the device is "silent".
class ScriptedTransport : public PacketTransport {
public:
    struct Log {
        std::vector<uint8_t> written;
        size_t reads = 0;
    };
    ScriptedTransport(std::vector<uint8_t> answer, Log& log) : answer_(std::move(answer)), log_(log) {}

    size_t Write(const uint8_t* data, size_t size, std::chrono::milliseconds) override {
        log_.written.insert(log_.written.end(), data, data + size);
        return size;
    }
    size_t Read(uint8_t* data, size_t size, std::chrono::milliseconds) override {
        ++log_.reads;
        if (answer_.size() - pos_ < size) {
            pos_ = answer_.size();
            throw boost::system::system_error(make_error_code(boost::system::errc::timed_out), "read");
        }
        std::memcpy(data, answer_.data() + pos_, size);
        pos_ += size;
        return size;
    }
    void Purge() override {}
    void Close() override {}

private:
    std::vector<uint8_t> answer_;
    size_t pos_ = 0;
    Log& log_;
};

void Append(std::vector<uint8_t>& s, const DevicePacket& p) {
    const PacketBytes b = p.Encode();
    s.insert(s.end(), b.begin(), b.end());
}

std::vector<uint8_t> BlockAnswer(const std::vector<uint8_t>& block) {
    std::vector<uint8_t> s;
    DevicePacket chunk;
    chunk.code = PKT_DATA;
    for (uint32_t i = 0; i < 128; ++i) {
        chunk.seq = i;
        std::memcpy(chunk.payload.data(), block.data() + 32 * i, 32);
        Append(s, chunk);
    }
    DevicePacket end;
    end.code = RSP_READ_END;
    end.SetU32(16, BlockByteSum(block.data(), block.size()));
    Append(s, end);
    return s;
}

std::unique_ptr<Usb> UsbOn(std::vector<uint8_t> answer, ScriptedTransport::Log& log) {
    return std::make_unique<Usb>(std::make_unique<ScriptedTransport>(std::move(answer), log));
}

TEST(AnswerStream, ReadStopsAtTheFirstBadChunk) {
    std::vector<uint8_t> block(kBlockSize, 0x42);
    auto answer = BlockAnswer(block);
    StoreU32(&answer[4 * 40 + 4], 5);  // chunk 4 claims to be chunk 5
    ScriptedTransport::Log log;
    auto usb = UsbOn(answer, log);
    std::vector<uint8_t> out(kBlockSize, 0);
    EXPECT_FALSE(usb->ReadBlock(0, out.data(), kBlockSize));
    EXPECT_EQ(log.reads, 5u);
    EXPECT_EQ(out, std::vector<uint8_t>(kBlockSize, 0));
}

TEST(AnswerStream, WrongCodesFail) {
    std::vector<uint8_t> block(kBlockSize, 1);
    {
        auto answer = BlockAnswer(block);
        StoreU16(&answer[128 * 40 + 2], RSP_WRITE_RESULT);  // end packet with another code
        ScriptedTransport::Log log;
        std::vector<uint8_t> out(kBlockSize);
        EXPECT_FALSE(UsbOn(answer, log)->ReadBlock(0, out.data(), kBlockSize));
    }
    {
        DevicePacket p;
        p.code = RSP_READ_END;  // not an identity answer
        std::vector<uint8_t> answer;
        Append(answer, p);
        ScriptedTransport::Log log;
        std::string fw = "0.000", model = "K7";
        uint32_t info = 9;
        EXPECT_FALSE(UsbOn(answer, log)->GetInfo(fw, info, model));
        EXPECT_EQ(info, 9u);
    }
    for (uint32_t result : {0u, 1u}) {
        DevicePacket p;
        p.code = result ? RSP_IDENTIFY : RSP_WRITE_RESULT;  // wrong code, or result 0
        p.SetU32(8, result);
        std::vector<uint8_t> answer;
        Append(answer, p);
        ScriptedTransport::Log log;
        EXPECT_FALSE(UsbOn(answer, log)->WriteBlock(0, block.data()));
    }
}

TEST(AnswerStream, ShortAnswersFail) {
    std::vector<uint8_t> block(kBlockSize, 7);
    auto answer = BlockAnswer(block);
    for (size_t cut : {size_t(0), size_t(39), size_t(40 * 64 + 17), answer.size() - 1}) {
        ScriptedTransport::Log log;
        std::vector<uint8_t> out(kBlockSize, 0);
        EXPECT_FALSE(UsbOn(std::vector<uint8_t>(answer.begin(), answer.begin() + cut), log)
                         ->ReadBlock(0, out.data(), kBlockSize))
            << cut;
    }
    ScriptedTransport::Log log;
    std::string fw, model;
    uint32_t info = 0;
    EXPECT_FALSE(UsbOn(std::vector<uint8_t>(39, 0xAA), log)->GetInfo(fw, info, model));
}

TEST(AnswerStream, OversizedRequestsAreRefusedWithoutTraffic) {
    ScriptedTransport::Log log;
    auto usb = UsbOn({}, log);
    std::vector<uint8_t> out(kBlockSize + 1);
    EXPECT_FALSE(usb->ReadBlock(0, out.data(), kBlockSize + 1));
    EXPECT_FALSE(usb->ReadBlock(0, out.data(), 0xFFFFFFFFu));
    EXPECT_FALSE(usb->ReadBlock(0, nullptr, 10));
    EXPECT_FALSE(usb->WriteBlock(0, nullptr));
    EXPECT_TRUE(log.written.empty());
}

TEST(AnswerStream, GarbageNeverEscapesOrOverruns) {
    std::mt19937 rng(1234);
    for (int round = 0; round < 300; ++round) {
        std::vector<uint8_t> answer(rng() % 6000);
        for (auto& b : answer) b = static_cast<uint8_t>(rng());
        // Make some streams nearly right so the checks deep inside are reached.
        if (round % 3 == 0) {
            std::vector<uint8_t> block(kBlockSize);
            for (auto& b : block) b = static_cast<uint8_t>(rng());
            answer = BlockAnswer(block);
            answer[rng() % answer.size()] ^= static_cast<uint8_t>(1 + rng() % 255);
        }
        const uint32_t length = rng() % (kBlockSize + 1);
        std::vector<uint8_t> out(length + 64, 0xCC);
        ScriptedTransport::Log log;
        auto usb = UsbOn(answer, log);
        std::string fw = "0.000", model = "K7";
        uint32_t info = 0;
        EXPECT_NO_THROW({
            usb->ReadBlock(rng(), out.data(), length);
            usb->GetInfo(fw, info, model);
            usb->WriteBlock(0, std::vector<uint8_t>(kBlockSize).data());
            usb->EndLink();
        });
        for (size_t i = length; i < out.size(); ++i) ASSERT_EQ(out[i], 0xCC) << "overrun at " << i;
        EXPECT_LE(fw.size(), 6u * 3);
        EXPECT_LE(model.size(), 12u * 3);
    }
}

// A raw pseudo-terminal peer driven by the test: what a broken device does
// on a real line.
class RawPtyTest : public ::testing::Test {
protected:
    void SetUp() override {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master_, 0);
        ASSERT_EQ(::grantpt(master_), 0);
        ASSERT_EQ(::unlockpt(master_), 0);
        port_ = std::make_unique<asio::serial_port>(io_);
        usb_ = std::make_unique<Usb>(*port_, ::ptsname(master_));
        usb_->SetAnswerTimeout(1000ms);
    }
    void TearDown() override {
        usb_.reset();
        if (master_ >= 0) ::close(master_);
    }
    void Send(const std::vector<uint8_t>& bytes) {
        ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Reads what the host sent (one request packet).
    std::vector<uint8_t> Received() {
        std::vector<uint8_t> b(40);
        size_t got = 0;
        while (got < b.size()) {
            const ssize_t n = ::read(master_, b.data() + got, b.size() - got);
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
        b.resize(got);
        return b;
    }

    int master_ = -1;
    asio::io_context io_;
    std::unique_ptr<asio::serial_port> port_;
    std::unique_ptr<Usb> usb_;
};

TEST_F(RawPtyTest, HalfAPacketThenSilenceFails) {
    std::vector<uint8_t> half(20, 0);
    StoreU16(&half[2], RSP_IDENTIFY);
    Send(half);
    std::string fw, model;
    uint32_t info = 0;
    EXPECT_FALSE(usb_->GetInfo(fw, info, model));
    EXPECT_EQ(Received().size(), 40u);
    EXPECT_EQ(usb_->EndLink(), 40u);
}

TEST_F(RawPtyTest, LeftoversOfAFailedCommandDoNotLeakIntoTheNext) {
    // The first identify is answered by a garbled flood, the second cleanly.
    DevicePacket ok;
    ok.code = RSP_IDENTIFY;
    ok.SetU32(20, 77);
    const PacketBytes good = ok.Encode();
    std::thread device([&] {
        Received();
        Send(std::vector<uint8_t>(3000, 0x5A));
        Received();
        Send(std::vector<uint8_t>(good.begin(), good.end()));
    });
    std::string fw, model;
    uint32_t info = 0;
    EXPECT_FALSE(usb_->GetInfo(fw, info, model));
    // Let the rest of the flood reach the line before the next command.
    std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(usb_->GetInfo(fw, info, model));
    device.join();
    EXPECT_EQ(info, 77u);
}

TEST_F(RawPtyTest, DeviceHangUpFailsWithoutAnException) {
    ::close(master_);
    master_ = -1;
    std::vector<uint8_t> out(kBlockSize);
    EXPECT_FALSE(usb_->ReadBlock(0, out.data(), kBlockSize));
    EXPECT_NO_THROW(usb_->EndLink());
}

}  // namespace
