// The wire bytes of every command and answer of the 40-byte packet protocol,
// written out literally. The device simulator builds its packets from the
// same header as the program, so a wrong code or offset there would go
// unnoticed by every test against the simulator: this table is the one place
// where the protocol is stated independently of that header. Its expectations
// are byte values only, never the header's names.
#include "device/usb.h"

#include <gtest/gtest.h>

#include <boost/system/system_error.hpp>

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// Records what the host writes; hands out a fixed answer stream and raises a
// time-out once it runs dry, as a silent device would.
class RecordingTransport : public PacketTransport {
public:
    struct Log {
        Bytes sent;
        size_t reads = 0;
    };
    RecordingTransport(Bytes answer, Log& log) : answer_(std::move(answer)), log_(log) {}

    size_t Write(const uint8_t* data, size_t size, std::chrono::milliseconds) override {
        log_.sent.insert(log_.sent.end(), data, data + size);
        return size;
    }
    size_t Read(uint8_t* data, size_t size, std::chrono::milliseconds) override {
        ++log_.reads;
        if (answer_.size() - pos_ < size)
            throw boost::system::system_error(make_error_code(boost::system::errc::timed_out), "read");
        std::memcpy(data, answer_.data() + pos_, size);
        pos_ += size;
        return size;
    }
    void Purge() override {}
    void Close() override {}

private:
    Bytes answer_;
    size_t pos_ = 0;
    Log& log_;
};

// A 40-byte packet: `head` from offset 0, the rest `fill`.
Bytes Packet(std::initializer_list<uint8_t> head, uint8_t fill = 0x00) {
    Bytes p(40, fill);
    std::copy(head.begin(), head.end(), p.begin());
    return p;
}

// Writes `v` little-endian at `offset`.
void Put32(Bytes& p, size_t offset, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[offset + i] = static_cast<uint8_t>(v >> (8 * i));
}

void Append(Bytes& stream, const Bytes& packet) {
    stream.insert(stream.end(), packet.begin(), packet.end());
}

// A block whose every byte differs from its neighbours, so that a chunk put in
// the wrong place or a shifted copy shows, and the sum of its bytes.
Bytes Pattern() {
    Bytes block(4096);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>((i * 7 + i / 256) & 0xFF);
    return block;
}
uint32_t PlainSum(const Bytes& block) {
    uint32_t sum = 0;
    for (uint8_t b : block) sum += b;
    return sum;
}

// The device's answer to a block read: 128 data packets, chunk index at 4,
// then the end packet with the sum at 16. Every byte the host must not look
// at (marker, length, unused payload) is 0xEE.
Bytes BlockAnswer(const Bytes& block) {
    Bytes stream;
    for (uint8_t i = 0; i < 128; ++i) {
        Bytes chunk = Packet({0xEE, 0xEE, 0x05, 0x00, i, 0x00, 0x00, 0x00});
        std::memcpy(chunk.data() + 8, block.data() + 32 * i, 32);
        Append(stream, chunk);
    }
    Bytes end = Packet({0xEE, 0xEE, 0x02, 0x00}, 0xEE);
    Put32(end, 16, PlainSum(block));
    Append(stream, end);
    return stream;
}

// What the host sends to write `block` at 0x00109000: 128 data packets
// (length 32, chunk index at 4), then the commit: marker 0xAA, length 12,
// address at 8, 4096 at 12, sum at 16.
Bytes WriteRequest(const Bytes& block) {
    Bytes stream;
    for (uint8_t i = 0; i < 128; ++i) {
        Bytes chunk = Packet({0x00, 0x20, 0x05, 0x00, i, 0x00, 0x00, 0x00});
        std::memcpy(chunk.data() + 8, block.data() + 32 * i, 32);
        Append(stream, chunk);
    }
    Bytes commit = Packet({0xAA, 0x0C, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00,  // header, seq 0
                           0x00, 0x90, 0x10, 0x00,                          // address 0x00109000
                           0x00, 0x10, 0x00, 0x00});                        // length 4096
    Put32(commit, 16, PlainSum(block));
    Append(stream, commit);
    return stream;
}

struct Case {
    std::string name;
    Bytes answer;                         // what the device sends back
    std::function<bool(Usb&)> run;        // the command; its result
    bool result;                          // the result expected
    Bytes sent;                           // every byte the host must send
    size_t reads;                         // packets the host reads
    std::function<void()> check = [] {};  // what the command must hand back
};

TEST(PacketTable, CommandsAndAnswersOnTheWire) {
    const Bytes block = Pattern();
    std::string firmware = "0.000", model = "none";
    uint32_t info = 0;
    Bytes read_out(4096, 0);

    // Identity answer: code 0xAAAA; firmware "1.025" in UTF-16LE at 8,
    // info value at 20, model "K7" at 24; 36..39 not examined.
    Bytes identity = Packet({0xEE, 0xEE, 0xAA, 0xAA, 0xEE, 0xEE, 0xEE, 0xEE,                 //
                             '1',  0,    '.',  0,    '0',  0,    '2',  0,    '5', 0, 0, 0,   // firmware
                             0x01, 0x02, 0x03, 0x04,                                         // info value
                             'K',  '7',  0,    0,    0,    0,    0,    0,    0,   0, 0, 0},  // model
                            0xEE);

    // Write result: code 4, result at 8 (1 = written, 0 = refused); the other
    // bytes carry junk the host must ignore.
    Bytes written = Packet({0xEE, 0xEE, 0x04, 0x00, 0xEE, 0xEE, 0xEE, 0xEE, 0x01, 0x00, 0x00, 0x00}, 0xEE);
    Bytes refused = Packet({0xEE, 0xEE, 0x04, 0x00, 0xEE, 0xEE, 0xEE, 0xEE, 0x00, 0x00, 0x00, 0x00}, 0xEE);

    // The same block, but its end packet carries the sum at 12 instead of 16.
    Bytes misplaced_sum = BlockAnswer(block);
    Put32(misplaced_sum, 128 * 40 + 16, 0);
    Put32(misplaced_sum, 128 * 40 + 12, PlainSum(block));

    const Case cases[] = {
        {"identify", identity, [&](Usb& usb) { return usb.GetInfo(firmware, info, model); }, true,
         Packet({0x00, 0x00, 0x30, 0x00}), 1,
         [&] {
             EXPECT_EQ(firmware, "1.025");
             EXPECT_EQ(info, 0x04030201u);
             EXPECT_EQ(model, "K7");
         }},
        {"read block", BlockAnswer(block), [&](Usb& usb) { return usb.ReadBlock(0x0010A000, read_out.data(), 4096); },
         true,
         Packet({0x00, 0x08, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,  // length 8, code 1
                 0x00, 0xA0, 0x10, 0x00,                          // address 0x0010A000
                 0x00, 0x10, 0x00, 0x00}),                        // length 4096
         129, [&] { EXPECT_EQ(read_out, block); }},
        {"read block, sum not at 16", misplaced_sum,
         [&](Usb& usb) { return usb.ReadBlock(0x0010A000, read_out.data(), 4096); }, false,
         Packet({0x00, 0x08, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xA0, 0x10, 0x00, 0x00, 0x10, 0x00, 0x00}), 129},
        {"write block", written, [&](Usb& usb) { return usb.WriteBlock(0x00109000, block.data()); }, true,
         WriteRequest(block), 1},
        {"write block refused", refused, [&](Usb& usb) { return usb.WriteBlock(0x00109000, block.data()); }, false,
         WriteRequest(block), 1},
        {"end link", {}, [](Usb& usb) { return usb.EndLink() == 40; }, true, Packet({0x00, 0x00, 0x97, 0x99}), 0},
        {"firmware done",
         {},
         [](Usb& usb) {
             usb.FinishFirmwareUpdate();
             return true;
         },
         true,
         Packet({0x00, 0x00, 0x99, 0x99}),
         0},
    };

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingTransport::Log log;
        Usb usb(std::make_unique<RecordingTransport>(c.answer, log));
        std::fill(read_out.begin(), read_out.end(), 0);
        EXPECT_EQ(c.run(usb), c.result);
        ASSERT_EQ(log.sent.size(), c.sent.size());
        for (size_t i = 0; i < c.sent.size(); ++i)
            ASSERT_EQ(log.sent[i], c.sent[i]) << "packet " << i / 40 << ", offset " << i % 40;
        EXPECT_EQ(log.reads, c.reads);
        c.check();
    }
}

}  // namespace
