#include "tools/devsim/memory_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

MemoryImage::~MemoryImage() {
    if (fd_ >= 0) ::close(fd_);
}

bool MemoryImage::Open(const std::string& path, bool create, std::string* error) {
    auto fail = [&](const std::string& what) {
        if (error) *error = what + " " + path + ": " + std::strerror(errno);
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        return false;
    };
    fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0644);
    if (fd_ < 0) return fail("cannot open");
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return fail("cannot stat");
    if (static_cast<uint64_t>(st.st_size) > kMaxSize) {
        errno = EFBIG;
        return fail("image too large");
    }
    path_ = path;
    data_.assign(static_cast<size_t>(st.st_size), 0xFF);
    size_t done = 0;
    while (done < data_.size()) {
        const ssize_t n = ::pread(fd_, data_.data() + done, data_.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return fail("cannot read");
        done += static_cast<size_t>(n);
    }
    if (data_.size() < kMinSize) {
        // A new or short image is padded to the whole memory map.
        const std::vector<uint8_t> pad(kMinSize - data_.size(), 0xFF);
        if (!Write(data_.size(), pad.data(), pad.size())) return fail("cannot extend");
    }
    return true;
}

void MemoryImage::Read(uint64_t address, uint8_t* out, size_t size) const {
    std::memset(out, 0xFF, size);
    if (address >= data_.size()) return;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(size, data_.size() - address));
    std::memcpy(out, data_.data() + address, n);
}

bool MemoryImage::Write(uint64_t address, const uint8_t* data, size_t size) {
    if (fd_ < 0 || address + size > kMaxSize) return false;
    const uint64_t old_size = data_.size();
    if (address + size > old_size) data_.resize(static_cast<size_t>(address + size), 0xFF);
    std::memcpy(data_.data() + address, data, size);
    // When the image grows, the gap between the old end and `address` is
    // written too, so the file never has holes that would read back as 0x00.
    const uint64_t from = std::min(address, old_size);
    const uint64_t to = address + size;
    uint64_t done = from;
    while (done < to) {
        const ssize_t n = ::pwrite(fd_, data_.data() + done, static_cast<size_t>(to - done), static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<uint64_t>(n);
    }
    return true;
}
