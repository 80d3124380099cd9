#include "tools/devsim/simulator.h"

#include <cstring>

namespace {

// Trace line of one packet: 80 lower-case hex digits.
std::string PacketHex(const uint8_t* packet) {
    static const char kDigits[] = "0123456789abcdef";
    std::string line(kPacketSize * 2, '0');
    for (size_t i = 0; i < kPacketSize; ++i) {
        line[2 * i] = kDigits[packet[i] >> 4];
        line[2 * i + 1] = kDigits[packet[i] & 15];
    }
    return line;
}

}  // namespace

DeviceSimulator::DeviceSimulator(MemoryImage& image, SimIdentity identity, SimFaults faults, std::FILE* trace)
    : image_(image), identity_(std::move(identity)), faults_(faults), trace_(trace) {
    std::memset(write_block_, 0xFF, sizeof write_block_);
}

void DeviceSimulator::Receive(const uint8_t* data, size_t size, std::vector<uint8_t>& out) {
    while (size > 0 && !hangup_) {
        const size_t take = std::min(size, kPacketSize - partial_size_);
        std::memcpy(partial_ + partial_size_, data, take);
        partial_size_ += take;
        data += take;
        size -= take;
        if (partial_size_ == kPacketSize) {
            partial_size_ = 0;
            Handle(partial_, out);
        }
    }
}

void DeviceSimulator::Trace(const uint8_t* packet) {
    if (!trace_) return;
    const std::string line = PacketHex(packet);
    std::fputs(line.c_str(), trace_);
    std::fputc('\n', trace_);
    std::fflush(trace_);
}

bool DeviceSimulator::Silent() const {
    return faults_.silent_after_received && received_ > *faults_.silent_after_received;
}

void DeviceSimulator::Send(const DevicePacket& packet, std::vector<uint8_t>& out) {
    if (hangup_ || Silent()) return;
    if (faults_.silent_after_sent && sent_ >= *faults_.silent_after_sent) return;
    const size_t at = out.size();
    out.resize(at + kPacketSize);
    packet.Encode(out.data() + at);
    ++sent_;
    if (faults_.hangup_after_sent && sent_ >= *faults_.hangup_after_sent) hangup_ = true;
}

void DeviceSimulator::Handle(const uint8_t* bytes, std::vector<uint8_t>& out) {
    ++received_;
    Trace(bytes);
    const DevicePacket packet = DevicePacket::Decode(bytes);
    switch (packet.code) {
        case CMD_IDENTIFY: AnswerIdentify(out); break;
        case CMD_READ_BLOCK: AnswerRead(packet, out); break;
        case PKT_DATA:
            // Chunks of a block to write; an out-of-order chunk spoils the block.
            if (packet.seq == 0) {
                next_chunk_ = 0;
                chunks_in_order_ = true;
            }
            if (packet.seq != next_chunk_ || packet.seq >= kChunksPerBlock) {
                chunks_in_order_ = false;
            } else {
                std::memcpy(write_block_ + packet.seq * kChunkSize, packet.payload.data(), kChunkSize);
                ++next_chunk_;
            }
            break;
        case CMD_WRITE_COMMIT: AnswerCommit(packet, out); break;
        case CMD_FIRMWARE_DONE: FinishFirmware(); break;
        default:
            // End of link and unknown codes: no answer.
            break;
    }
    if (faults_.hangup_after_received && received_ >= *faults_.hangup_after_received) hangup_ = true;
}

void DeviceSimulator::AnswerIdentify(std::vector<uint8_t>& out) {
    DevicePacket answer;
    answer.code = RSP_IDENTIFY;
    answer.payload_len = 32;
    // Firmware text as UTF-16LE, at most 6 units (the text is ASCII in practice;
    // other characters are sent as their UTF-16 units from a UTF-8 decode).
    size_t unit = 0;
    const std::string& fw = identity_.firmware;
    for (size_t i = 0; i < fw.size() && unit < 6;) {
        uint32_t cp = static_cast<uint8_t>(fw[i]);
        size_t len = 1;
        if (cp >= 0xF0) len = 4, cp &= 0x07;
        else if (cp >= 0xE0) len = 3, cp &= 0x0F;
        else if (cp >= 0xC0) len = 2, cp &= 0x1F;
        for (size_t k = 1; k < len && i + k < fw.size(); ++k) cp = (cp << 6) | (static_cast<uint8_t>(fw[i + k]) & 0x3F);
        i += len;
        if (cp >= 0x10000) {
            if (unit + 2 > 6) break;
            cp -= 0x10000;
            answer.SetU16(8 + 2 * unit++, static_cast<uint16_t>(0xD800 + (cp >> 10)));
            answer.SetU16(8 + 2 * unit++, static_cast<uint16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            answer.SetU16(8 + 2 * unit++, static_cast<uint16_t>(cp));
        }
    }
    answer.SetU32(20, identity_.info);
    const size_t model_len = std::min<size_t>(identity_.model.size(), 12);
    std::memcpy(answer.payload.data() + (24 - kPayloadOffset), identity_.model.data(), model_len);
    Send(answer, out);
}

void DeviceSimulator::AnswerRead(const DevicePacket& request, std::vector<uint8_t>& out) {
    ++reads_;
    // The device always answers with the whole block at the address,
    // whatever length was asked for.
    uint8_t block[kBlockSize];
    image_.Read(request.GetU32(8), block, kBlockSize);
    out.reserve(out.size() + (kChunksPerBlock + 1) * kPacketSize);
    DevicePacket chunk;
    chunk.code = PKT_DATA;
    chunk.payload_len = kChunkSize;
    for (uint32_t i = 0; i < kChunksPerBlock; ++i) {
        chunk.seq = i;
        if (faults_.bad_seq_read == reads_ && faults_.bad_seq_chunk == i) chunk.seq = i + 1;
        std::memcpy(chunk.payload.data(), block + i * kChunkSize, kChunkSize);
        Send(chunk, out);
    }
    DevicePacket end;
    end.code = RSP_READ_END;
    end.payload_len = 12;
    uint32_t sum = BlockByteSum(block, kBlockSize);
    if (faults_.bad_sum_read == reads_) sum += 1;
    end.SetU32(16, sum);
    Send(end, out);
}

void DeviceSimulator::AnswerCommit(const DevicePacket& request, std::vector<uint8_t>& out) {
    ++writes_;
    const uint32_t address = request.GetU32(8);
    const bool complete = chunks_in_order_ && next_chunk_ == kChunksPerBlock;
    const bool sum_ok = complete && BlockByteSum(write_block_, kBlockSize) == request.GetU32(16);
    const bool refused = faults_.refuse_all_writes || faults_.refuse_write == writes_;
    bool written = false;
    if (complete && sum_ok && request.GetU32(12) == kBlockSize && !refused) {
        written = image_.Write(address, write_block_, kBlockSize);
    }
    if (written && !firmware_header_ && std::memcmp(write_block_, "VFW1", 4) == 0) firmware_header_ = address;
    next_chunk_ = 0;
    chunks_in_order_ = true;
    DevicePacket answer;
    answer.code = RSP_WRITE_RESULT;
    answer.payload_len = 4;
    answer.SetU32(8, written ? 1 : 0);
    Send(answer, out);
}

void DeviceSimulator::FinishFirmware() {
    // The device restarts into the image just written: a firmware header
    // ("VFW1", model, u32 version at 8) among the blocks written since the
    // last update gives the version reported from now on ("1026" -> 1.026).
    // No answer is sent.
    ++firmware_updates_;
    if (firmware_header_) {
        uint8_t header[16];
        image_.Read(*firmware_header_, header, sizeof header);
        const uint32_t version = header[8] | (header[9] << 8) | (header[10] << 16) | (uint32_t{header[11]} << 24);
        const std::string digits = std::to_string(version);
        if (version > 0) identity_.firmware = digits.substr(0, 1) + "." + digits.substr(1);
    }
    firmware_header_.reset();
}
