// Decoding of the dive computer's log memory as a sync posts it: the log
// index block and single dive records (format in tools/devsim/LOG_FORMAT.md).
// Every function checks sizes before reading; nothing here trusts the bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace cloudemu {

constexpr uint32_t kBlockSize = 4096;
constexpr uint32_t kIndexAddress = 0x000000;
constexpr uint32_t kRecordsBegin = 0x001000;
constexpr uint32_t kRecordsEnd = 0x100000;  // one past the last record byte
constexpr uint32_t kRecordHeaderSize = 64;
constexpr uint32_t kMaxIndexEntries = 255;

struct IndexEntry {
    uint32_t address = 0;
    uint32_t length = 0;
    uint32_t dive_number = 0;
};

struct LogIndex {
    uint16_t version = 0;
    uint32_t first_free = 0;
    std::vector<IndexEntry> entries;
};

struct Sample {
    uint16_t depth_cm = 0;
    int16_t temperature_dc = 0;  // tenths of a degree Celsius
};

struct DeviceEvent {
    uint16_t time_s = 0;
    uint16_t code = 0;
    uint16_t value = 0;
};

// Event codes as the device writes them.
enum DeviceEventCode : uint16_t {
    kEvAscentTooFast = 1,
    kEvSafetyStopMissed = 2,
    kEvDeepStop = 3,
    kEvDepthAlarm = 4,
    kEvDiveTimeAlarm = 5,
    kEvLowBattery = 6,
    kEvDeco = 7,
};

struct DiveRecord {
    uint32_t dive_number = 0;
    uint32_t start_time = 0;  // seconds since 1970 UTC
    int16_t tz_minutes = 0;   // minutes east of UTC
    uint8_t dive_type = 0;    // 0 scuba, 1 gauge, 2 freedive
    uint8_t oxygen_percent = 0;
    uint32_t duration_s = 0;
    uint16_t interval_s = 0;
    uint16_t max_depth_cm = 0;
    uint16_t avg_depth_cm = 0;
    int16_t min_temp_dc = 0;
    uint16_t start_pressure_dbar = 0;  // tenths of bar
    uint16_t end_pressure_dbar = 0;
    uint16_t surface_mbar = 0;
    uint8_t water_type = 0;  // 0 salt, 1 fresh
    int32_t entry_lat_e6 = 0, entry_lng_e6 = 0;
    int32_t exit_lat_e6 = 0, exit_lng_e6 = 0;
    std::vector<Sample> samples;
    std::vector<DeviceEvent> events;
};

// Decodes a posted log index block. False with a reason on any fault (wrong
// magic or version, more entries than fit, entries outside the record area).
bool DecodeIndex(const std::string& bytes, LogIndex& out, std::string& error);

// Decodes one posted dive record. The body is exactly the record (the sync
// asks for the record length), so its counts must account for every byte and
// the CRC must match.
bool DecodeRecord(const std::string& bytes, DiveRecord& out, std::string& error);

// Encodes a record in the device's layout (used by the demo and tests).
std::string EncodeRecord(const DiveRecord& rec);

uint32_t Crc32(const unsigned char* data, size_t size);

}  // namespace cloudemu
