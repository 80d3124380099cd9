// The cloud's update offers read without trusting them: the firmware offer
// ("features.json") and the dive-site database offer ("divesite.json"), the
// local names of their files, and the display form of the offered version.
//
// Offer documents: "response" -> "firmware_version" (firmware only) and
// "response" -> "firmware_files" / "divesite_files", an array of
// {"sequence", "file_path", "address", "size"} written in array order.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vorta_update {

enum class OfferKind { kFirmware, kDiveSite };

constexpr uint32_t kUpdateBlockSize = 4096;
// A firmware offer of this many bytes or fewer carries no update.
constexpr size_t kMinFirmwareOfferBytes = 256;
// An offer lists a few files: a longer answer is not an offer, and its
// download is stopped there.
constexpr uint64_t kMaxOfferBytes = uint64_t(1) << 20;

// "<folder>/features.json" or "<folder>/divesite.json".
std::string OfferPath(const std::string& folder, OfferKind kind);
// "<folder>/data<sequence>.bin" or "<folder>/ds<sequence>.bin".
std::string UpdateFilePath(const std::string& folder, OfferKind kind, int32_t sequence);

// The offered version for display: "." after the first character of the
// digits ("1025" -> "1.025"; a single character gets a trailing point).
// The first character is a whole UTF-8 character.
std::string VersionDisplayText(const std::string& digits);

// Whether the downloaded offer text is worth presenting. Firmware: longer than
// kMinFirmwareOfferBytes and carrying an offered version (see
// OfferedFirmwareVersion). Dive-site database: not empty.
bool OfferUsable(const std::string& text, OfferKind kind);

// "response" -> "firmware_version" in display form. The version is text of
// digits, or a non-negative integer number (taken as its decimal digits).
// Nothing when the text is not JSON or the version is missing, empty or of
// another kind.
std::optional<std::string> OfferedFirmwareVersion(const std::string& text);

// Why an offer's file entry cannot be used.
enum class FileProblem {
    kNone,
    // Not an object, "file_path" not non-empty text, or "sequence",
    // "address" or "size" missing, not an integer number or (sequence) not a
    // 32-bit one: the file cannot be fetched as described.
    kUnreadable,
    // "address" or "size" a number outside the device's address range:
    // negative, a size past 2^31 - 1, or blocks reaching past 4 GiB (a write
    // there would wrap round to the start of the device's memory).
    kOutOfRange,
};

// One file of an offer. A file whose entry cannot be used has usable ==
// false, the problem and the fields it could read.
struct UpdateFile {
    bool usable = false;
    FileProblem problem = FileProblem::kUnreadable;
    int32_t sequence = 0;
    std::string url;
    uint32_t address = 0;
    uint32_t size = 0;

    // 4096-byte blocks written for a file of `length` bytes: the last one
    // may be partial (it is filled up with 0xFF, the erased state of flash).
    static uint32_t BlockCount(uint64_t length) {
        return static_cast<uint32_t>((length + kUpdateBlockSize - 1) / kUpdateBlockSize);
    }
};

// The files of an offer in array order. A text that is not JSON, or has no
// such array, gives no files (the update then writes nothing).
std::vector<UpdateFile> OfferFiles(const std::string& text, OfferKind kind);

// Sum of the files' sizes for the progress counters, capped at INT32_MAX.
int32_t OfferByteTotal(const std::vector<UpdateFile>& files);

}  // namespace vorta_update
