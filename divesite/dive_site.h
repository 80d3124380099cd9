// The dive-site record and the three lists of the dive-site page.
//
// One site is a fixed 64-byte record, the same on the device and behind the
// ".ds" files:
//
//   offset 0   1 byte   type: 1 scuba, 2 freedive, 3 gauge
//   offset 1  55 bytes  name: UTF-8, at most 54 bytes, zero-terminated,
//                       the rest zero-filled in records made here
//   offset 56  4 bytes  latitude in millionths of a degree, signed, little-endian
//   offset 60  4 bytes  longitude, the same
//
// The device keeps each type's sites in one 4096-byte block of 64 slots; a
// slot whose first byte is 0xFF is empty.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct DiveSite {
    static constexpr size_t kSize = 64;
    static constexpr size_t kNameField = 55;
    static constexpr size_t kNameMax = 54;

    uint8_t type = 0;
    // The name field byte for byte, so that a record read from the device or
    // a file goes back out unchanged.
    std::array<uint8_t, kNameField> name{};
    int32_t lat_e6 = 0;
    int32_t lng_e6 = 0;

    // The name up to its first zero byte, never ending inside a UTF-8
    // sequence. A field without a zero byte (from the device) gives its 55
    // bytes, cut the same way.
    std::string Name() const;
    // Stores `utf8` cut to at most kNameMax bytes at a character boundary
    // (up to its first zero byte, if it has one) and zero-fills the rest.
    void SetName(const std::string& utf8);

    double lat() const { return lat_e6 / 1000000.0; }
    double lng() const { return lng_e6 / 1000000.0; }

    bool operator==(const DiveSite& o) const {
        return type == o.type && name == o.name && lat_e6 == o.lat_e6 && lng_e6 == o.lng_e6;
    }
};

namespace vorta_divesite {

constexpr uint8_t kTypeScuba = 1;
constexpr uint8_t kTypeFreedive = 2;
constexpr uint8_t kTypeGauge = 3;

// Sites per type: one 4096-byte device block of 64-byte records.
constexpr size_t kMaxSites = 64;
constexpr size_t kBlockSize = 4096;
// Device addresses of the scuba, freedive and gauge blocks (list 0, 1, 2).
constexpr uint32_t kBlockAddress[3] = {0x109000, 0x10A000, 0x10B000};

// `s` cut to at most `max_bytes`, never inside a UTF-8 sequence: a character
// that the cut (or the end of `s`) splits is dropped whole.
std::string CutUtf8(const std::string& s, size_t max_bytes);

// `s` without the bytes that are no part of a well-formed UTF-8 character
// (shortest form, no surrogate, at most U+10FFFF); the rest kept in order.
std::string KeepUtf8(const std::string& s);

// A decimal number as the C library's text-to-double conversion reads it:
// leading blanks, then the longest prefix that is a number; 0 when there is
// none. The decimal mark is a point whatever the locale, and a result that is
// not finite (an overflow, "inf", "nan") is 0 as well.
double ParseDegrees(const std::string& text);

// Degrees to millionths, truncated toward zero (a decimal text of six places
// keeps its digits, whatever its binary rounding). Values beyond the 32-bit
// range saturate; a value that is not a number gives 0.
int32_t DegreesToE6(double degrees);

// A record made on the page or from a file: name cut as SetName does,
// position from degrees.
DiveSite MakeDiveSite(uint8_t type, const std::string& name, double lat, double lng);

// The 64 bytes of a record, and back. `bytes` must hold DiveSite::kSize bytes.
std::array<uint8_t, DiveSite::kSize> EncodeDiveSite(const DiveSite& site);
DiveSite DecodeDiveSite(const uint8_t* bytes);

// List index of a dive type (1 -> 0, 2 -> 1, 3 -> 2, anything else -> 0),
// and the type of a list index (0 -> 1, 1 -> 2, 2 -> 3).
int ListIndexOfType(int type);
uint8_t TypeOfList(int list_index);

// One device block for a list: the sites in slots 0, 1, ... with their type
// byte set to `type`, every other byte 0xFF. Sites beyond kMaxSites are left
// out.
std::vector<uint8_t> EncodeSiteBlock(const std::vector<DiveSite>& sites, uint8_t type);
// The sites of a device block in slot order, empty slots skipped wherever
// they stand; each gets `type` whatever its own type byte says. Only whole
// slots within `len` bytes are read.
std::vector<DiveSite> DecodeSiteBlock(const uint8_t* block, size_t len, uint8_t type);

// The three lists of the dive-site page: 0 scuba, 1 freedive, 2 gauge, at
// most kMaxSites each. A list index outside 0..2 reads as an empty list and
// refuses changes.
class DiveSiteLists {
public:
    const std::vector<DiveSite>& list(int index) const;
    // Site `pos` of a list to change in place; null when there is none.
    DiveSite* at(int index, size_t pos);
    // Puts `sites` in place of a list's sites; beyond kMaxSites they are
    // dropped.
    void Replace(int index, std::vector<DiveSite> sites);
    // Gives every site of a list the type byte `type`.
    void SetTypes(int index, uint8_t type);
    // Appends `site`; false (and nothing changed) when the list is full.
    bool Append(int index, const DiveSite& site);
    // Removes site `pos`, keeping the order of the others; false when there
    // is no such site.
    bool Erase(int index, size_t pos);
    void Clear();
    bool AllEmpty() const;

private:
    std::array<std::vector<DiveSite>, 3> lists_;
};

}  // namespace vorta_divesite
