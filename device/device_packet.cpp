#include "device/device_packet.h"

#include <algorithm>
#include <cstring>

void DevicePacket::Encode(uint8_t* out) const {
    out[0] = marker;
    out[1] = payload_len;
    StoreU16(out + 2, code);
    StoreU32(out + 4, seq);
    std::memcpy(out + kPayloadOffset, payload.data(), kPayloadSize);
}

PacketBytes DevicePacket::Encode() const {
    PacketBytes bytes;
    Encode(bytes.data());
    return bytes;
}

DevicePacket DevicePacket::Decode(const uint8_t* in) {
    DevicePacket p;
    p.marker = in[0];
    p.payload_len = in[1];
    p.code = LoadU16(in + 2);
    p.seq = LoadU32(in + 4);
    std::memcpy(p.payload.data(), in + kPayloadOffset, kPayloadSize);
    return p;
}

void DevicePacket::SetU32(size_t packet_offset, uint32_t value) {
    if (packet_offset < kPayloadOffset || packet_offset + 4 > kPacketSize) return;
    StoreU32(payload.data() + (packet_offset - kPayloadOffset), value);
}

uint32_t DevicePacket::GetU32(size_t packet_offset) const {
    if (packet_offset < kPayloadOffset || packet_offset + 4 > kPacketSize) return 0;
    return LoadU32(payload.data() + (packet_offset - kPayloadOffset));
}

void DevicePacket::SetU16(size_t packet_offset, uint16_t value) {
    if (packet_offset < kPayloadOffset || packet_offset + 2 > kPacketSize) return;
    StoreU16(payload.data() + (packet_offset - kPayloadOffset), value);
}

uint16_t DevicePacket::GetU16(size_t packet_offset) const {
    if (packet_offset < kPayloadOffset || packet_offset + 2 > kPacketSize) return 0;
    return LoadU16(payload.data() + (packet_offset - kPayloadOffset));
}

uint32_t BlockByteSum(const uint8_t* data, size_t size) {
    // Eight bytes at a time: the bytes at even and odd positions are added
    // into four 16-bit lanes. 128 words add at most 128 * 2 * 255 = 65280 to
    // a lane, so each run of 128 words is folded before a lane can overflow.
    constexpr uint64_t kEvenBytes = 0x00FF00FF00FF00FFull;
    constexpr uint64_t kLowHalves = 0x0000FFFF0000FFFFull;
    uint32_t sum = 0;
    size_t i = 0;
    while (size - i >= 8) {
        const size_t words = std::min<size_t>((size - i) / 8, 128);
        uint64_t lanes = 0;
        for (size_t k = 0; k < words; ++k, i += 8) {
            uint64_t w;
            std::memcpy(&w, data + i, 8);
            lanes += (w & kEvenBytes) + ((w >> 8) & kEvenBytes);
        }
        lanes = (lanes & kLowHalves) + ((lanes >> 16) & kLowHalves);
        sum += static_cast<uint32_t>(lanes) + static_cast<uint32_t>(lanes >> 32);
    }
    for (; i < size; ++i) sum += data[i];
    return sum;
}
