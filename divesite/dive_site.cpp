#include "divesite/dive_site.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace vorta_divesite {

namespace {
bool IsContinuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

void PutLe32(uint8_t* out, int32_t v) {
    uint32_t u = static_cast<uint32_t>(v);
    for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(u >> (8 * i));
}

int32_t GetLe32(const uint8_t* in) {
    uint32_t u = 0;
    for (int i = 0; i < 4; ++i) u |= static_cast<uint32_t>(in[i]) << (8 * i);
    return static_cast<int32_t>(u);
}

constexpr size_t kNameOffset = 1;
constexpr size_t kLatOffset = 56;
constexpr size_t kLngOffset = 60;
constexpr uint8_t kEmptySlot = 0xFF;
}  // namespace

std::string CutUtf8(const std::string& s, size_t max_bytes) {
    size_t cut = std::min(s.size(), max_bytes);
    if (cut == 0) return std::string();
    // The last character kept: back up from the cut over continuation bytes
    // (at most three) to its lead byte. When that character reaches past the
    // cut (or past the end of the text), it is left out whole, and so is the
    // one before it if that one is cut short too (lead bytes of broken text),
    // so that cutting the result again changes nothing. Other bytes that are
    // not UTF-8 are cut where they fall.
    while (cut > 0) {
        size_t lead = cut - 1;
        while (lead > 0 && cut - 1 - lead < 3 && IsContinuation(static_cast<unsigned char>(s[lead]))) --lead;
        const unsigned char c = static_cast<unsigned char>(s[lead]);
        const size_t len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        if (c < 0xC0 || lead + len <= cut) break;
        cut = lead;
    }
    return s.substr(0, cut);
}

std::string KeepUtf8(const std::string& s) {
    static const uint32_t kShortest[5] = {0, 0, 0x80, 0x800, 0x10000};
    std::string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        const auto b = static_cast<unsigned char>(s[i]);
        const size_t len = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
        bool whole = len != 0 && i + len <= s.size();
        uint32_t cp = len == 1 ? b : len == 2 ? b & 0x1Fu : len == 3 ? b & 0x0Fu : b & 0x07u;
        for (size_t k = 1; whole && k < len; ++k) {
            const auto c = static_cast<unsigned char>(s[i + k]);
            whole = IsContinuation(c);
            cp = (cp << 6) | (c & 0x3Fu);
        }
        if (whole && cp >= kShortest[len] && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF)) {
            out.append(s, i, len);
            i += len;
        } else {
            ++i;  // this byte is dropped; the next may start a character
        }
    }
    return out;
}

double ParseDegrees(const std::string& text) {
    const char* p = text.c_str();
    const char* end = p + text.size();
    while (p < end && (*p == ' ' || (*p >= '\t' && *p <= '\r'))) ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    // from_chars takes no sign of its own here, so "+-1" stays invalid.
    if (p < end && (*p == '+' || *p == '-')) return 0.0;
    double value = 0.0;
    auto [stop, ec] = std::from_chars(p, end, value, std::chars_format::general);
    if (ec != std::errc() || stop == p || !std::isfinite(value)) return 0.0;
    return negative ? -value : value;
}

int32_t DegreesToE6(double degrees) {
    double v = degrees * 1000000.0;
    if (std::isnan(v)) return 0;
    if (v >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (v <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    // Truncated toward zero, except that a value a hair off a whole
    // millionth is that millionth: "-8.123456" is -8123455.9999999995 as a
    // double, and the text means -8123456.
    const double whole = std::nearbyint(v);
    return static_cast<int32_t>(std::fabs(v - whole) < 1e-6 ? whole : std::trunc(v));
}

DiveSite MakeDiveSite(uint8_t type, const std::string& name, double lat, double lng) {
    DiveSite site;
    site.type = type;
    site.SetName(name);
    site.lat_e6 = DegreesToE6(lat);
    site.lng_e6 = DegreesToE6(lng);
    return site;
}

std::array<uint8_t, DiveSite::kSize> EncodeDiveSite(const DiveSite& site) {
    std::array<uint8_t, DiveSite::kSize> out{};
    out[0] = site.type;
    std::copy(site.name.begin(), site.name.end(), out.begin() + kNameOffset);
    PutLe32(out.data() + kLatOffset, site.lat_e6);
    PutLe32(out.data() + kLngOffset, site.lng_e6);
    return out;
}

DiveSite DecodeDiveSite(const uint8_t* bytes) {
    DiveSite site;
    site.type = bytes[0];
    std::copy(bytes + kNameOffset, bytes + kNameOffset + DiveSite::kNameField, site.name.begin());
    site.lat_e6 = GetLe32(bytes + kLatOffset);
    site.lng_e6 = GetLe32(bytes + kLngOffset);
    return site;
}

int ListIndexOfType(int type) {
    switch (type) {
        case kTypeFreedive: return 1;
        case kTypeGauge: return 2;
        default: return 0;
    }
}

uint8_t TypeOfList(int list_index) {
    switch (list_index) {
        case 1: return kTypeFreedive;
        case 2: return kTypeGauge;
        default: return kTypeScuba;
    }
}

std::vector<uint8_t> EncodeSiteBlock(const std::vector<DiveSite>& sites, uint8_t type) {
    std::vector<uint8_t> block(kBlockSize, kEmptySlot);
    size_t n = std::min(sites.size(), kMaxSites);
    for (size_t i = 0; i < n; ++i) {
        DiveSite site = sites[i];
        site.type = type;
        auto bytes = EncodeDiveSite(site);
        std::copy(bytes.begin(), bytes.end(), block.begin() + static_cast<std::ptrdiff_t>(i * DiveSite::kSize));
    }
    return block;
}

std::vector<DiveSite> DecodeSiteBlock(const uint8_t* block, size_t len, uint8_t type) {
    std::vector<DiveSite> sites;
    if (block == nullptr) return sites;
    size_t slots = std::min(len / DiveSite::kSize, kMaxSites);
    sites.reserve(slots);
    for (size_t i = 0; i < slots; ++i) {
        const uint8_t* slot = block + i * DiveSite::kSize;
        if (slot[0] == kEmptySlot) continue;
        DiveSite site = DecodeDiveSite(slot);
        site.type = type;
        sites.push_back(site);
    }
    return sites;
}

const std::vector<DiveSite>& DiveSiteLists::list(int index) const {
    static const std::vector<DiveSite> kNone;
    if (index < 0 || index > 2) return kNone;
    return lists_[static_cast<size_t>(index)];
}

DiveSite* DiveSiteLists::at(int index, size_t pos) {
    if (index < 0 || index > 2) return nullptr;
    auto& l = lists_[static_cast<size_t>(index)];
    return pos < l.size() ? &l[pos] : nullptr;
}

void DiveSiteLists::Replace(int index, std::vector<DiveSite> sites) {
    if (index < 0 || index > 2) return;
    if (sites.size() > kMaxSites) sites.resize(kMaxSites);
    lists_[static_cast<size_t>(index)] = std::move(sites);
}

void DiveSiteLists::SetTypes(int index, uint8_t type) {
    if (index < 0 || index > 2) return;
    for (DiveSite& site : lists_[static_cast<size_t>(index)]) site.type = type;
}

bool DiveSiteLists::Append(int index, const DiveSite& site) {
    if (index < 0 || index > 2) return false;
    auto& l = lists_[static_cast<size_t>(index)];
    if (l.size() >= kMaxSites) return false;
    l.push_back(site);
    return true;
}

bool DiveSiteLists::Erase(int index, size_t pos) {
    if (index < 0 || index > 2) return false;
    auto& l = lists_[static_cast<size_t>(index)];
    if (pos >= l.size()) return false;
    l.erase(l.begin() + static_cast<std::ptrdiff_t>(pos));
    return true;
}

void DiveSiteLists::Clear() {
    for (auto& l : lists_) l.clear();
}

bool DiveSiteLists::AllEmpty() const {
    return std::all_of(lists_.begin(), lists_.end(), [](const auto& l) { return l.empty(); });
}

}  // namespace vorta_divesite

std::string DiveSite::Name() const {
    size_t len = 0;
    while (len < kNameField && name[len] != 0) ++len;
    std::string raw(reinterpret_cast<const char*>(name.data()), len);
    return vorta_divesite::CutUtf8(raw, kNameField);
}

void DiveSite::SetName(const std::string& utf8) {
    std::string text = utf8.substr(0, utf8.find('\0'));
    text = vorta_divesite::CutUtf8(text, kNameMax);
    name.fill(0);
    std::memcpy(name.data(), text.data(), text.size());
}
