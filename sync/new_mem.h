// An owned, zero-filled heap buffer released through its virtual destructor.
// One is made for each sync item, sized by the item's "cb_send".
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

class new_mem {
public:
    // Allocates `size` zeroed bytes. A failed allocation leaves an empty
    // buffer (ok() false) instead of throwing.
    explicit new_mem(size_t size) : size_(size) {
        if (size_ == 0) return;
        data_ = new (std::nothrow) uint8_t[size_];
        if (data_) std::memset(data_, 0, size_);
        else size_ = 0;
    }
    virtual ~new_mem() { delete[] data_; }

    new_mem(const new_mem&) = delete;
    new_mem& operator=(const new_mem&) = delete;

    uint8_t* data() { return data_; }
    const uint8_t* data() const { return data_; }
    size_t size() const { return size_; }
    // False when a non-empty buffer was asked for and could not be made.
    bool ok(size_t wanted) const { return wanted == 0 || data_ != nullptr; }

private:
    uint8_t* data_ = nullptr;
    size_t size_ = 0;
};
