#include "device/usb.h"

#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <exception>

namespace {

std::chrono::milliseconds InitialDefaultTimeout() {
    if (const char* env = std::getenv("VORTA_DEVICE_TIMEOUT_MS")) {
        char* end = nullptr;
        const long ms = std::strtol(env, &end, 10);
        if (end != env && *end == '\0' && ms > 0 && ms <= 600000) return std::chrono::milliseconds(ms);
    }
    return std::chrono::milliseconds(3000);
}

std::atomic<long long>& DefaultTimeoutMs() {
    static std::atomic<long long> value(InitialDefaultTimeout().count());
    return value;
}

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

constexpr uint32_t kReplacement = 0xFFFD;

}  // namespace

std::string Utf16LeToUtf8(const uint8_t* bytes, size_t units) {
    std::string out;
    for (size_t i = 0; i < units; ++i) {
        const uint16_t u = LoadU16(bytes + 2 * i);
        if (u == 0) break;
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
            const uint16_t low = LoadU16(bytes + 2 * (i + 1));
            if (low >= 0xDC00 && low <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((static_cast<uint32_t>(u - 0xD800) << 10) | (low - 0xDC00)));
                ++i;
                continue;
            }
        }
        AppendUtf8(out, (u >= 0xD800 && u <= 0xDFFF) ? kReplacement : u);
    }
    return out;
}

std::string SanitizeUtf8(const uint8_t* bytes, size_t size) {
    size_t len = 0;
    while (len < size && bytes[len] != 0) ++len;
    std::string out;
    size_t i = 0;
    while (i < len) {
        const uint8_t b = bytes[i];
        size_t need = 0;
        uint32_t cp = 0;
        uint32_t min = 0;
        if (b < 0x80) {
            out += static_cast<char>(b);
            ++i;
            continue;
        } else if ((b & 0xE0) == 0xC0) {
            need = 1, cp = b & 0x1F, min = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            need = 2, cp = b & 0x0F, min = 0x800;
        } else if ((b & 0xF8) == 0xF0) {
            need = 3, cp = b & 0x07, min = 0x10000;
        } else {
            AppendUtf8(out, kReplacement);
            ++i;
            continue;
        }
        size_t k = 1;
        for (; k <= need && i + k < len; ++k) {
            const uint8_t c = bytes[i + k];
            if ((c & 0xC0) != 0x80) break;
            cp = (cp << 6) | (c & 0x3F);
        }
        if (k != need + 1 || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            AppendUtf8(out, kReplacement);
            i += k;  // the lead byte and the continuation bytes it took
            continue;
        }
        AppendUtf8(out, cp);
        i += need + 1;
    }
    return out;
}

std::chrono::milliseconds Usb::DefaultAnswerTimeout() {
    return std::chrono::milliseconds(DefaultTimeoutMs().load());
}

void Usb::SetDefaultAnswerTimeout(std::chrono::milliseconds timeout) {
    DefaultTimeoutMs().store(timeout.count());
}

Usb::Usb(boost::asio::serial_port& port, const std::string& port_name)
    : Usb(std::make_unique<SerialPortTransport>(port, port_name)) {}

Usb::Usb(std::unique_ptr<PacketTransport> transport)
    : transport_(std::move(transport)), timeout_(DefaultAnswerTimeout()) {
    DevicePacket chunk;
    chunk.payload_len = kChunkSize;
    chunk.code = PKT_DATA;
    for (uint32_t i = 0; i < kChunksPerBlock; ++i) {
        chunk.seq = i;
        chunk.Encode(write_wire_.data() + i * kPacketSize);
    }
}

Usb::~Usb() = default;

void Usb::Close() {
    transport_->Close();
}

void Usb::BeginExchange() {
    // Bytes left over from an exchange that failed half-way must not be
    // taken for the answer to this one.
    if (stale_) transport_->Purge();
    stale_ = true;
}

size_t Usb::WritePacket(const DevicePacket& packet) {
    uint8_t bytes[kPacketSize];
    packet.Encode(bytes);
    return transport_->Write(bytes, kPacketSize, timeout_);
}

size_t Usb::ReadPacket(DevicePacket& packet) {
    uint8_t bytes[kPacketSize];
    const size_t n = transport_->Read(bytes, kPacketSize, timeout_);
    packet = DevicePacket::Decode(bytes);
    return n;
}

bool Usb::GetInfo(std::string& firmware_version_text, uint32_t& info_value, std::string& model) {
    try {
        BeginExchange();
        DevicePacket request;
        request.code = CMD_IDENTIFY;
        WritePacket(request);

        DevicePacket answer;
        if (ReadPacket(answer) != kPacketSize || answer.code != RSP_IDENTIFY) return false;
        stale_ = false;

        const uint8_t* p = answer.payload.data();
        const std::string firmware = Utf16LeToUtf8(p + (8 - kPayloadOffset), 6);
        const uint32_t info = answer.GetU32(20);
        const std::string model_text = SanitizeUtf8(p + (24 - kPayloadOffset), 12);

        if (!firmware.empty()) firmware_version_text = firmware;
        info_value = info;
        if (!model_text.empty()) model = model_text;
        return true;
    } catch (...) {
        return false;
    }
}

bool Usb::ReadBlock(uint32_t address, uint8_t* out, uint32_t length) {
    if (length > kBlockSize || (length > 0 && out == nullptr)) return false;
    try {
        BeginExchange();
        DevicePacket request;
        request.payload_len = 8;
        request.code = CMD_READ_BLOCK;
        request.SetU32(8, address);
        request.SetU32(12, length);
        WritePacket(request);

        // Every byte of the block is filled in before it is used.
        uint8_t block[kBlockSize];
        uint8_t packet[kPacketSize];
        for (uint32_t i = 0; i < kChunksPerBlock; ++i) {
            transport_->Read(packet, kPacketSize, timeout_);
            if (LoadU16(packet + 2) != PKT_DATA || LoadU32(packet + 4) != i) return false;
            std::memcpy(block + i * kChunkSize, packet + kPayloadOffset, kChunkSize);
        }
        transport_->Read(packet, kPacketSize, timeout_);
        if (LoadU16(packet + 2) != RSP_READ_END) return false;
        stale_ = false;

        const uint32_t sum = BlockByteSum(block, kBlockSize);
        // The received bytes are handed back even when the sum disagrees.
        if (length > 0) std::memcpy(out, block, length);
        return sum == LoadU32(packet + 16);
    } catch (...) {
        return false;
    }
}

bool Usb::WriteBlock(uint32_t address, const uint8_t* data) {
    if (data == nullptr) return false;
    try {
        BeginExchange();
        // The 128 chunks and the commit go out as one write: the same bytes
        // on the wire as packet by packet, for a fraction of the system calls.
        // The chunk headers never change (their index is their place), so
        // only the payloads and the commit are filled in per block.
        uint8_t* wire = write_wire_.data();
        for (uint32_t i = 0; i < kChunksPerBlock; ++i)
            std::memcpy(wire + i * kPacketSize + kPayloadOffset, data + i * kChunkSize, kChunkSize);
        DevicePacket commit;
        commit.marker = kWriteCommitMarker;
        commit.payload_len = 12;
        commit.code = CMD_WRITE_COMMIT;
        commit.seq = 0;
        commit.SetU32(8, address);
        commit.SetU32(12, static_cast<uint32_t>(kBlockSize));
        commit.SetU32(16, BlockByteSum(data, kBlockSize));
        commit.Encode(wire + kChunksPerBlock * kPacketSize);
        transport_->Write(wire, write_wire_.size(), timeout_);

        DevicePacket answer;
        if (ReadPacket(answer) != kPacketSize) return false;
        stale_ = answer.code != RSP_WRITE_RESULT;
        return answer.code == RSP_WRITE_RESULT && answer.GetU32(8) != 0;
    } catch (...) {
        return false;
    }
}

size_t Usb::EndLink() {
    try {
        DevicePacket request;
        request.code = CMD_END_LINK;
        return WritePacket(request);
    } catch (...) {
        return 0;
    }
}

void Usb::FinishFirmwareUpdate() {
    try {
        DevicePacket request;
        request.code = CMD_FIRMWARE_DONE;
        WritePacket(request);
    } catch (...) {}
}
