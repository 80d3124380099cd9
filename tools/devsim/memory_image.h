// The simulated device memory: a file of 4096-byte blocks, kept in memory and
// written through on every change, so writes persist across runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class MemoryImage {
public:
    static constexpr uint64_t kMinSize = 0x10C000;     // log, spare and dive-site areas
    static constexpr uint64_t kMaxSize = 64ull << 20;  // writes beyond are refused

    MemoryImage() = default;
    ~MemoryImage();
    MemoryImage(const MemoryImage&) = delete;
    MemoryImage& operator=(const MemoryImage&) = delete;

    // Opens an existing image file, or creates one of kMinSize bytes of 0xFF
    // when `create` is set and the file is missing.
    bool Open(const std::string& path, bool create, std::string* error);

    // Copies `size` bytes from `address`; bytes past the end read 0xFF.
    void Read(uint64_t address, uint8_t* out, size_t size) const;
    // Writes and persists; grows the image with 0xFF as needed. False past
    // kMaxSize or when the file cannot be written.
    bool Write(uint64_t address, const uint8_t* data, size_t size);

    uint64_t size() const { return data_.size(); }
    const std::string& path() const { return path_; }

private:
    int fd_ = -1;
    std::string path_;
    std::vector<uint8_t> data_;
};
