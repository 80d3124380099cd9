// Whole reads and writes on a file descriptor (a pty to the device
// simulator), for the bare loops the benchmarks measure the device link
// against.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>

namespace vorta_test {

// False on end of file or an error before `n` bytes.
inline bool ReadFull(int fd, uint8_t* p, size_t n) {
    while (n > 0) {
        const ssize_t r = ::read(fd, p, n);
        if (r <= 0) return false;
        p += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

inline bool WriteFull(int fd, const uint8_t* p, size_t n) {
    while (n > 0) {
        const ssize_t r = ::write(fd, p, n);
        if (r <= 0) return false;
        p += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

}  // namespace vorta_test
