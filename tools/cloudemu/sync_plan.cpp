#include "sync_plan.h"

namespace cloudemu {
namespace {

Json::Value List(const Json::Value& items) {
    Json::Value r(Json::objectValue);
    Json::Int64 total = 0;
    for (const auto& item : items) total += item["cb_send"].asInt64();
    r["tknum"] = static_cast<Json::UInt>(items.size());
    r["total"] = total;
    r["spi"] = items;
    return r;
}

Json::Value BulkHalf(uint32_t from) {
    Json::Value items(Json::arrayValue);
    const uint32_t step = kBulkItemBlocks * kBlockSize;
    for (uint32_t a = from; a < from + kBulkBytes / 2; a += step)
        items.append(Item(from == 0 ? "getLogBlocks" : "addDivelogs", a, step));
    return List(items);
}

}  // namespace

Json::Value Item(const char* command, uint32_t address, uint32_t length) {
    Json::Value item(Json::objectValue);
    item["command"] = command;
    item["cb_send"] = length;
    Json::Value flash(Json::arrayValue);
    for (uint32_t off = 0; off < length; off += kBlockSize) {
        Json::Value range(Json::objectValue);
        range["addr"] = address + off;
        range["size"] = length - off < kBlockSize ? length - off : kBlockSize;
        flash.append(range);
    }
    item["flash"] = flash;
    return item;
}

Json::Value FirstList(SyncPlan plan) {
    if (plan == SyncPlan::kBulk) return BulkHalf(0);
    Json::Value items(Json::arrayValue);
    items.append(Item("getLogIndex", kIndexAddress, kBlockSize));
    return List(items);
}

Json::Value SecondList(const LogIndex& index, const std::set<int64_t>& known) {
    Json::Value items(Json::arrayValue);
    for (const auto& e : index.entries)
        if (!known.count(e.dive_number)) items.append(Item("addDivelogs", e.address, e.length));
    return List(items);
}

Json::Value BulkSecondList() {
    return BulkHalf(kBulkBytes / 2);
}

Json::Value EmptyList() {
    return List(Json::Value(Json::arrayValue));
}

}  // namespace cloudemu
