// Generated dives in the log memory (format in LOG_FORMAT.md) and a reader
// for listing them.
#pragma once

#include "tools/devsim/memory_image.h"

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

constexpr uint32_t kLogIndexAddress = 0x000000;
constexpr uint32_t kLogRecordsAddress = 0x001000;
constexpr uint32_t kLogRecordsEnd = 0x100000;
constexpr size_t kMaxDives = 255;
constexpr size_t kDiveHeaderSize = 64;

struct DiveGenOptions {
    int dives = 12;
    uint32_t seed = 1;
    // The last dive happens before this time; the dives spread over the four
    // months before it.
    std::time_t end_time = 0;  // 0: now
    uint32_t first_number = 1;
};

struct DiveSummary {
    uint32_t address = 0;
    uint32_t length = 0;
    uint32_t number = 0;
    uint32_t start_time = 0;
    int16_t tz_minutes = 0;
    uint8_t type = 0;  // 0 scuba, 1 gauge, 2 freedive
    uint32_t duration = 0;
    uint16_t interval = 0;
    uint16_t samples = 0;
    uint16_t events = 0;
    uint16_t max_depth_cm = 0;
    int32_t latitude = 0;  // millionths of a degree
    int32_t longitude = 0;
    bool crc_ok = false;
};

// The log area (index block and packed records) for generated dives: at
// most kLogRecordsEnd bytes, starting at address 0.
std::vector<uint8_t> BuildLogMemory(const DiveGenOptions& options);
// Writes generated dives into the image (the log area is cleared first).
bool GenerateDives(MemoryImage& image, const DiveGenOptions& options);

// Reads the index and records back. False when the index is missing or
// malformed; `error` says why. Records that do not fit are skipped.
bool ReadDives(const MemoryImage& image, std::vector<DiveSummary>& dives, std::string* error);

uint32_t Crc32(const uint8_t* data, size_t size);
