#include "log_format.h"

#include <zlib.h>

#include <cstring>

namespace cloudemu {
namespace {

uint16_t U16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t U32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}
int16_t I16(const unsigned char* p) {
    return static_cast<int16_t>(U16(p));
}
int32_t I32(const unsigned char* p) {
    return static_cast<int32_t>(U32(p));
}

void Put16(std::string& s, size_t at, uint16_t v) {
    s[at] = static_cast<char>(v & 0xFF);
    s[at + 1] = static_cast<char>(v >> 8);
}
void Put32(std::string& s, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

}  // namespace

uint32_t Crc32(const unsigned char* data, size_t size) {
    uLong crc = crc32(0L, Z_NULL, 0);
    while (size > 0) {
        uInt chunk = size > 0x40000000u ? 0x40000000u : static_cast<uInt>(size);
        crc = crc32(crc, data, chunk);
        data += chunk;
        size -= chunk;
    }
    return static_cast<uint32_t>(crc);
}

bool DecodeIndex(const std::string& bytes, LogIndex& out, std::string& error) {
    out = LogIndex{};
    if (bytes.size() < 16) {
        error = "index shorter than its header";
        return false;
    }
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    if (std::memcmp(p, "VLOG", 4) != 0) {
        error = "index magic is not VLOG";
        return false;
    }
    out.version = U16(p + 4);
    if (out.version != 1) {
        error = "unknown index version";
        return false;
    }
    const uint32_t count = U16(p + 6);
    out.first_free = U32(p + 8);
    if (count > kMaxIndexEntries || 16 + 16 * static_cast<size_t>(count) > bytes.size() ||
        16 + 16 * count > kBlockSize) {
        error = "index entry count does not fit the block";
        return false;
    }
    uint32_t last_number = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const unsigned char* e = p + 16 + 16 * i;
        IndexEntry entry;
        entry.address = U32(e);
        entry.length = U32(e + 4);
        entry.dive_number = U32(e + 8);
        if (entry.address < kRecordsBegin || entry.address >= kRecordsEnd || entry.length < kRecordHeaderSize ||
            entry.length > kRecordsEnd - entry.address) {
            error = "index entry outside the record area";
            return false;
        }
        if (entry.dive_number == 0 || entry.dive_number <= last_number) {
            error = "index dive numbers not ascending";
            return false;
        }
        last_number = entry.dive_number;
        out.entries.push_back(entry);
    }
    return true;
}

bool DecodeRecord(const std::string& bytes, DiveRecord& out, std::string& error) {
    out = DiveRecord{};
    if (bytes.size() < kRecordHeaderSize) {
        error = "record shorter than its header";
        return false;
    }
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    if (std::memcmp(p, "DIVE", 4) != 0) {
        error = "record magic is not DIVE";
        return false;
    }
    out.dive_number = U32(p + 4);
    out.start_time = U32(p + 8);
    out.tz_minutes = I16(p + 12);
    out.dive_type = p[14];
    out.oxygen_percent = p[15];
    out.duration_s = U32(p + 16);
    out.interval_s = U16(p + 20);
    const uint32_t samples = U16(p + 22);
    const uint32_t events = U16(p + 24);
    out.max_depth_cm = U16(p + 26);
    out.avg_depth_cm = U16(p + 28);
    out.min_temp_dc = I16(p + 30);
    out.start_pressure_dbar = U16(p + 32);
    out.end_pressure_dbar = U16(p + 34);
    out.surface_mbar = U16(p + 36);
    out.water_type = p[38];
    out.entry_lat_e6 = I32(p + 40);
    out.entry_lng_e6 = I32(p + 44);
    out.exit_lat_e6 = I32(p + 48);
    out.exit_lng_e6 = I32(p + 52);
    const uint32_t crc = U32(p + 56);

    if (out.dive_number == 0) {
        error = "record without a dive number";
        return false;
    }
    if (out.dive_type > 2) {
        error = "unknown dive type";
        return false;
    }
    if (out.interval_s < 1 || out.interval_s > 60) {
        error = "sample interval out of range";
        return false;
    }
    if (out.water_type > 1) {
        error = "unknown water type";
        return false;
    }
    const size_t payload = 4 * static_cast<size_t>(samples) + 6 * static_cast<size_t>(events);
    if (kRecordHeaderSize + payload != bytes.size()) {
        error = "sample and event counts do not match the posted length";
        return false;
    }
    if (Crc32(p + kRecordHeaderSize, payload) != crc) {
        error = "record CRC mismatch";
        return false;
    }
    const unsigned char* s = p + kRecordHeaderSize;
    out.samples.reserve(samples);
    for (uint32_t i = 0; i < samples; ++i, s += 4) out.samples.push_back({U16(s), I16(s + 2)});
    out.events.reserve(events);
    for (uint32_t i = 0; i < events; ++i, s += 6) out.events.push_back({U16(s), U16(s + 2), U16(s + 4)});
    return true;
}

std::string EncodeRecord(const DiveRecord& r) {
    const size_t size = kRecordHeaderSize + 4 * r.samples.size() + 6 * r.events.size();
    std::string b(size, '\0');
    std::memcpy(&b[0], "DIVE", 4);
    Put32(b, 4, r.dive_number);
    Put32(b, 8, r.start_time);
    Put16(b, 12, static_cast<uint16_t>(r.tz_minutes));
    b[14] = static_cast<char>(r.dive_type);
    b[15] = static_cast<char>(r.oxygen_percent);
    Put32(b, 16, r.duration_s);
    Put16(b, 20, r.interval_s);
    Put16(b, 22, static_cast<uint16_t>(r.samples.size()));
    Put16(b, 24, static_cast<uint16_t>(r.events.size()));
    Put16(b, 26, r.max_depth_cm);
    Put16(b, 28, r.avg_depth_cm);
    Put16(b, 30, static_cast<uint16_t>(r.min_temp_dc));
    Put16(b, 32, r.start_pressure_dbar);
    Put16(b, 34, r.end_pressure_dbar);
    Put16(b, 36, r.surface_mbar);
    b[38] = static_cast<char>(r.water_type);
    Put32(b, 40, static_cast<uint32_t>(r.entry_lat_e6));
    Put32(b, 44, static_cast<uint32_t>(r.entry_lng_e6));
    Put32(b, 48, static_cast<uint32_t>(r.exit_lat_e6));
    Put32(b, 52, static_cast<uint32_t>(r.exit_lng_e6));
    size_t at = kRecordHeaderSize;
    for (const auto& s : r.samples) {
        Put16(b, at, s.depth_cm);
        Put16(b, at + 2, static_cast<uint16_t>(s.temperature_dc));
        at += 4;
    }
    for (const auto& e : r.events) {
        Put16(b, at, e.time_s);
        Put16(b, at + 2, e.code);
        Put16(b, at + 4, e.value);
        at += 6;
    }
    Put32(b, 56, Crc32(reinterpret_cast<const unsigned char*>(b.data()) + kRecordHeaderSize, size - kRecordHeaderSize));
    return b;
}

}  // namespace cloudemu
