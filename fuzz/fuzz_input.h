// Helpers of the fuzz targets: reading typed values from the fuzzer's bytes,
// and checking a property of the code under test (a broken property aborts,
// which the fuzzer reports as a finding, with the input that broke it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#define FUZZ_CHECK(cond)                                                                     \
    do {                                                                                     \
        if (!(cond)) {                                                                       \
            std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                    \
        }                                                                                    \
    } while (0)

namespace vorta_fuzz {

// Consumes the input from the front; once it runs dry every value reads as
// zero or empty, so a target never reads past the end.
class Input {
public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool empty() const { return pos_ >= size_; }
    size_t remaining() const { return size_ - pos_; }

    uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    bool Bool() { return Byte() & 1; }

    template <typename T>
    T Raw() {
        T value{};
        uint8_t bytes[sizeof(T)] = {};
        for (auto& b : bytes) b = Byte();
        std::memcpy(&value, bytes, sizeof(T));
        return value;
    }
    uint32_t U32() { return Raw<uint32_t>(); }
    int32_t I32() { return Raw<int32_t>(); }
    int64_t I64() { return Raw<int64_t>(); }
    // Any bit pattern: NaNs, infinities and subnormals included.
    double Double() { return Raw<double>(); }
    float Float() { return Raw<float>(); }

    // Text of up to `max` bytes: a length byte, then that many bytes.
    std::string Text(size_t max = 255) {
        size_t n = Byte();
        if (n > max) n = max;
        if (n > remaining()) n = remaining();
        std::string s(reinterpret_cast<const char*>(data_ + pos_), n);
        pos_ += n;
        return s;
    }
    // Everything not consumed yet.
    std::string Rest() {
        std::string s(reinterpret_cast<const char*>(data_ + pos_), remaining());
        pos_ = size_;
        return s;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

// Whether `s` is well-formed UTF-8 (shortest forms, no surrogates, at most
// U+10FFFF).
inline bool ValidUtf8(const std::string& s) {
    size_t i = 0;
    while (i < s.size()) {
        const auto b = static_cast<unsigned char>(s[i]);
        size_t need = 0;
        uint32_t cp = 0, min = 0;
        if (b < 0x80) {
            ++i;
            continue;
        } else if ((b & 0xE0) == 0xC0) {
            need = 1, cp = b & 0x1F, min = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            need = 2, cp = b & 0x0F, min = 0x800;
        } else if ((b & 0xF8) == 0xF0) {
            need = 3, cp = b & 0x07, min = 0x10000;
        } else {
            return false;
        }
        if (i + need >= s.size()) return false;
        for (size_t k = 1; k <= need; ++k) {
            const auto c = static_cast<unsigned char>(s[i + k]);
            if ((c & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (c & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += need + 1;
    }
    return true;
}

}  // namespace vorta_fuzz
