// The dive computer's 40-byte packet and the 4096-byte block it moves.
//
// Every transfer on the link is exactly one packet. Fields are little-endian
// on the wire; Encode and Decode build and read the bytes explicitly, so the
// host's byte order and struct layout never matter.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// Packet codes.
constexpr uint16_t CMD_READ_BLOCK = 0x0001;     // host -> device: u32 address at 8, u32 length at 12
constexpr uint16_t RSP_READ_END = 0x0002;       // device -> host: u32 block byte sum at 16
constexpr uint16_t CMD_WRITE_COMMIT = 0x0003;   // host -> device: address at 8, 4096 at 12, sum at 16
constexpr uint16_t RSP_WRITE_RESULT = 0x0004;   // device -> host: u32 result at 8, non-zero = written
constexpr uint16_t PKT_DATA = 0x0005;           // both ways: seq = chunk index, 32 bytes at 8
constexpr uint16_t CMD_IDENTIFY = 0x0030;       // host -> device
constexpr uint16_t RSP_IDENTIFY = 0xAAAA;       // device -> host: identity
constexpr uint16_t CMD_END_LINK = 0x9997;       // host -> device, no answer
constexpr uint16_t CMD_FIRMWARE_DONE = 0x9999;  // host -> device, no answer

constexpr uint8_t kWriteCommitMarker = 0xAA;

constexpr size_t kPacketSize = 40;
constexpr size_t kPayloadOffset = 8;
constexpr size_t kPayloadSize = 32;
constexpr size_t kChunkSize = 32;
constexpr size_t kChunksPerBlock = 128;
constexpr size_t kBlockSize = kChunkSize * kChunksPerBlock;  // 4096

using PacketBytes = std::array<uint8_t, kPacketSize>;

struct DevicePacket {
    uint8_t marker = 0;
    uint8_t payload_len = 0;
    uint16_t code = 0;
    uint32_t seq = 0;
    std::array<uint8_t, kPayloadSize> payload{};

    // Writes the 40 wire bytes to out.
    void Encode(uint8_t* out) const;
    PacketBytes Encode() const;
    // Reads the 40 wire bytes at in.
    static DevicePacket Decode(const uint8_t* in);

    // Payload fields addressed by their offset in the whole packet (8..39),
    // the way the protocol names them. Offsets outside the payload are
    // ignored on write and read as 0.
    void SetU32(size_t packet_offset, uint32_t value);
    uint32_t GetU32(size_t packet_offset) const;
    void SetU16(size_t packet_offset, uint16_t value);
    uint16_t GetU16(size_t packet_offset) const;
};

// Little-endian helpers on raw bytes.
inline uint16_t LoadU16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t LoadU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}
inline void StoreU16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void StoreU32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

// Sum of the bytes as unsigned 8-bit values. Over one 4096-byte block it is
// at most 4096 * 255 = 1,044,480, so the 32-bit total never wraps.
uint32_t BlockByteSum(const uint8_t* data, size_t size);
