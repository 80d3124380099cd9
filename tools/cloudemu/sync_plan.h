// The instruction lists with which the cloud directs a sync: which device
// memory ranges to read and where to post them.
#pragma once

#include <json/json.h>

#include <cstdint>
#include <set>

#include "log_format.h"

namespace cloudemu {

enum class SyncPlan {
    kLogs,  // read the log index, then each new dive record
    kBulk,  // benchmark: 1 MiB of log memory in two lists of 4-block items
};

// "response" of the answer to headerInfo.
Json::Value FirstList(SyncPlan plan);
// "response" of the answer to the first list's post(s): for kLogs, one
// "addDivelogs" item per indexed dive whose number is not in `known`.
Json::Value SecondList(const LogIndex& index, const std::set<int64_t>& known);
Json::Value BulkSecondList();
// "response" with nothing to do ("tknum" 0).
Json::Value EmptyList();

// One item: `command`, "cb_send" = length, ranges from `address` in steps of
// 4096 bytes, the last keeping the remainder.
Json::Value Item(const char* command, uint32_t address, uint32_t length);

constexpr uint32_t kBulkBytes = 1024 * 1024;
constexpr uint32_t kBulkItemBlocks = 4;
// Items of each bulk list.
constexpr uint32_t kBulkFirstListItems = kBulkBytes / 2 / (kBulkItemBlocks * kBlockSize);

}  // namespace cloudemu
