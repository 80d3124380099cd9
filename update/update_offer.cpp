#include "update/update_offer.h"

#include <charconv>
#include <limits>

#include "base/json_safe.h"

namespace vorta_update {

namespace {

// An integer field of an offer: a JSON integer, a double with no fraction, or
// text of decimal digits with an optional sign. Anything else gives nothing.
std::optional<int64_t> IntegerField(const Json::Value& v) {
    if (v.isBool()) return std::nullopt;
    if (v.isInt64()) return v.asInt64();
    if (v.isUInt64()) return std::nullopt;  // beyond every range used here
    if (v.isDouble()) {
        double d = v.asDouble();
        if (!(d >= -9.0e15 && d <= 9.0e15) || d != static_cast<double>(static_cast<int64_t>(d))) return std::nullopt;
        return static_cast<int64_t>(d);
    }
    if (v.isString()) {
        const char* begin = nullptr;
        const char* end = nullptr;
        if (!v.getString(&begin, &end) || begin == nullptr || begin == end) return std::nullopt;
        if (*begin == '+') ++begin;
        int64_t out = 0;
        auto [stop, ec] = std::from_chars(begin, end, out, 10);
        if (ec != std::errc() || stop != end) return std::nullopt;
        return out;
    }
    return std::nullopt;
}

bool InRange(std::optional<int64_t> v, int64_t lo, int64_t hi) { return v && *v >= lo && *v <= hi; }

const char* FilesKey(OfferKind kind) { return kind == OfferKind::kFirmware ? "firmware_files" : "divesite_files"; }

UpdateFile ReadFile(const Json::Value& entry) {
    UpdateFile f;
    auto sequence = IntegerField(json_safe::Member(entry, "sequence"));
    auto address = IntegerField(json_safe::Member(entry, "address"));
    auto size = IntegerField(json_safe::Member(entry, "size"));
    f.url = json_safe::String(entry, "file_path");
    bool ok = !f.url.empty();
    if (InRange(sequence, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()))
        f.sequence = static_cast<int32_t>(*sequence);
    else
        ok = false;
    if (InRange(address, 0, std::numeric_limits<uint32_t>::max()))
        f.address = static_cast<uint32_t>(*address);
    else
        ok = false;
    if (InRange(size, 0, std::numeric_limits<int32_t>::max()))
        f.size = static_cast<uint32_t>(*size);
    else
        ok = false;
    // Every block must land below 4 GiB: a write past the end of the
    // address space would wrap round to the start of the device's memory.
    if (ok && uint64_t{f.address} + f.size > (uint64_t{1} << 32)) ok = false;
    f.usable = ok;
    return f;
}

}  // namespace

std::string OfferPath(const std::string& folder, OfferKind kind) {
    return folder + (kind == OfferKind::kFirmware ? "/features.json" : "/divesite.json");
}

std::string UpdateFilePath(const std::string& folder, OfferKind kind, int32_t sequence) {
    return folder + (kind == OfferKind::kFirmware ? "/data" : "/ds") + std::to_string(sequence) + ".bin";
}

std::string VersionDisplayText(const std::string& digits) {
    if (digits.empty()) return digits;
    unsigned char c = static_cast<unsigned char>(digits[0]);
    size_t first = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    if (first > digits.size()) first = digits.size();
    return digits.substr(0, first) + "." + digits.substr(first);
}

std::optional<std::string> OfferedFirmwareVersion(const std::string& text) {
    Json::Value root;
    if (!json_safe::Parse(text, root)) return std::nullopt;
    const Json::Value& v = json_safe::Member(json_safe::Member(root, "response"), "firmware_version");
    std::string digits;
    if (v.isString()) {
        digits = v.asString();
    } else if (v.isIntegral() && !v.isBool()) {
        if (v.isInt64() && v.asInt64() < 0) return std::nullopt;
        digits = std::to_string(v.asUInt64());
    }
    if (digits.empty()) return std::nullopt;
    return VersionDisplayText(digits);
}

bool OfferUsable(const std::string& text, OfferKind kind) {
    if (kind == OfferKind::kDiveSite) return !text.empty();
    return text.size() > kMinFirmwareOfferBytes && OfferedFirmwareVersion(text).has_value();
}

std::vector<UpdateFile> OfferFiles(const std::string& text, OfferKind kind) {
    std::vector<UpdateFile> files;
    Json::Value root;
    if (!json_safe::Parse(text, root)) return files;
    const Json::Value& list = json_safe::Member(json_safe::Member(root, "response"), FilesKey(kind));
    for (Json::ArrayIndex i = 0; i < json_safe::Size(list); ++i) files.push_back(ReadFile(json_safe::Element(list, i)));
    return files;
}

int32_t OfferByteTotal(const std::vector<UpdateFile>& files) {
    int64_t total = 0;
    for (const auto& f : files) {
        total += f.size;
        if (total >= std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    }
    return static_cast<int32_t>(total);
}

}  // namespace vorta_update
