#include "update/update_offer.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "base/json_safe.h"

namespace vorta_update {

namespace {

// An integer field of an offer: a JSON integer, a double with no fraction, or
// text of decimal digits with an optional sign.
struct IntegerValue {
    enum Kind { kNotANumber, kHuge, kValue } kind = kNotANumber;
    int64_t value = 0;  // kValue only
};

IntegerValue IntegerField(const Json::Value& v) {
    IntegerValue out;
    auto value = [&out](int64_t x) {
        out.kind = IntegerValue::kValue;
        out.value = x;
        return out;
    };
    if (v.isBool()) return out;
    if (v.isInt64()) return value(v.asInt64());
    if (v.isUInt64()) {
        out.kind = IntegerValue::kHuge;  // beyond every range used here
        return out;
    }
    if (v.isDouble()) {
        double d = v.asDouble();
        if (d != d || d != std::floor(d)) return out;  // NaN or a fraction
        if (!(d >= -9.0e15 && d <= 9.0e15)) {
            out.kind = IntegerValue::kHuge;
            return out;
        }
        return value(static_cast<int64_t>(d));
    }
    if (v.isString()) {
        const char* begin = nullptr;
        const char* end = nullptr;
        if (!v.getString(&begin, &end) || begin == nullptr || begin == end) return out;
        if (*begin == '+') ++begin;
        int64_t x = 0;
        auto [stop, ec] = std::from_chars(begin, end, x, 10);
        if (stop != end) return out;
        if (ec == std::errc::result_out_of_range) {
            out.kind = IntegerValue::kHuge;
            return out;
        }
        if (ec != std::errc()) return out;
        return value(x);
    }
    return out;
}

const char* FilesKey(OfferKind kind) {
    return kind == OfferKind::kFirmware ? "firmware_files" : "divesite_files";
}

// A device number ("address", "size") within [0, hi]: its value, or the
// problem it makes for the file.
FileProblem DeviceNumber(const IntegerValue& v, int64_t hi, uint32_t& out) {
    if (v.kind == IntegerValue::kNotANumber) return FileProblem::kUnreadable;
    if (v.kind == IntegerValue::kHuge || v.value < 0 || v.value > hi) return FileProblem::kOutOfRange;
    out = static_cast<uint32_t>(v.value);
    return FileProblem::kNone;
}

UpdateFile ReadFile(const Json::Value& entry) {
    UpdateFile f;
    const IntegerValue sequence = IntegerField(json_safe::Member(entry, "sequence"));
    f.url = json_safe::String(entry, "file_path");
    bool readable = !f.url.empty();
    if (sequence.kind == IntegerValue::kValue && sequence.value >= std::numeric_limits<int32_t>::min() &&
        sequence.value <= std::numeric_limits<int32_t>::max())
        f.sequence = static_cast<int32_t>(sequence.value);
    else readable = false;
    const FileProblem address = DeviceNumber(IntegerField(json_safe::Member(entry, "address")),
                                             std::numeric_limits<uint32_t>::max(), f.address);
    const FileProblem size =
        DeviceNumber(IntegerField(json_safe::Member(entry, "size")), std::numeric_limits<int32_t>::max(), f.size);
    if (!readable || address == FileProblem::kUnreadable || size == FileProblem::kUnreadable)
        f.problem = FileProblem::kUnreadable;
    else if (address == FileProblem::kOutOfRange || size == FileProblem::kOutOfRange)
        f.problem = FileProblem::kOutOfRange;
    // Every block, the last (padded) one too, must end at or below 4 GiB.
    else if (uint64_t{f.address} + uint64_t{UpdateFile::BlockCount(f.size)} * kUpdateBlockSize > (uint64_t{1} << 32))
        f.problem = FileProblem::kOutOfRange;
    else f.problem = FileProblem::kNone;
    f.usable = f.problem == FileProblem::kNone;
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
