#include "images.h"

#include <zlib.h>

#include <cmath>
#include <cstring>

#include "log_format.h"

namespace cloudemu {
namespace {

void Be32(std::string& s, uint32_t v) {
    for (int i = 3; i >= 0; --i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
}

void Le32(std::string& s, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

void Chunk(std::string& png, const char* type, const std::string& data) {
    Be32(png, static_cast<uint32_t>(data.size()));
    std::string body = std::string(type, 4) + data;
    png += body;
    Be32(png, Crc32(reinterpret_cast<const unsigned char*>(body.data()), body.size()));
}

}  // namespace

std::string AvatarPng() {
    const int w = 64, h = 64;
    std::string raw;
    for (int y = 0; y < h; ++y) {
        raw += '\0';  // filter: none
        for (int x = 0; x < w; ++x) {
            const double dx = x - 31.5, dy = y - 31.5, r = std::sqrt(dx * dx + dy * dy);
            unsigned char R = 20, G = static_cast<unsigned char>(90 + y), B = 200;
            const bool lens = (std::fabs(dy + 4) < 9) && (std::fabs(std::fabs(dx) - 11) < 9);
            if (r < 28 && std::fabs(dy + 4) < 12 && std::fabs(dx) < 24) R = G = B = 40;  // mask frame
            if (lens) R = 170, G = 220, B = 250;                                         // glass
            if (r >= 31) R = G = B = 255;                                                // round picture
            raw += static_cast<char>(R);
            raw += static_cast<char>(G);
            raw += static_cast<char>(B);
        }
    }
    uLongf size = compressBound(raw.size());
    std::string z(size, '\0');
    compress2(reinterpret_cast<Bytef*>(&z[0]), &size, reinterpret_cast<const Bytef*>(raw.data()), raw.size(), 9);
    z.resize(size);
    std::string png("\x89PNG\r\n\x1a\n", 8);
    std::string ihdr;
    Be32(ihdr, w);
    Be32(ihdr, h);
    ihdr += std::string("\x08\x02\x00\x00\x00", 5);  // 8-bit RGB
    Chunk(png, "IHDR", ihdr);
    Chunk(png, "IDAT", z);
    Chunk(png, "IEND", "");
    return png;
}

std::vector<UpdateFile> FirmwareFiles(const std::string& version) {
    // Two images: the application (770 KiB and a bit: its last block is
    // partial) and a resource image (256 KiB). Each starts at a block
    // boundary, the second right after the blocks of the first.
    const uint32_t sizes[] = {786432 + 2345, 256 * 1024};
    std::vector<UpdateFile> files;
    uint32_t address = kFirmwareAddress;
    uint32_t ver = static_cast<uint32_t>(std::strtoul(version.c_str(), nullptr, 10));
    for (int i = 0; i < 2; ++i) {
        UpdateFile f;
        f.sequence = i + 1;
        f.address = address;
        f.name = "K7-" + version + "-" + std::to_string(i + 1) + ".bin";
        std::string b(sizes[i], '\0');
        // Payload: a deterministic stream that looks like machine code.
        uint32_t x = 0x9E3779B9u ^ (ver * 2654435761u) ^ static_cast<uint32_t>(i + 1);
        for (size_t k = 64; k < b.size(); ++k) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            b[k] = static_cast<char>(x & 0xFF);
        }
        std::memcpy(&b[0], "VFW1", 4);
        std::memcpy(&b[4], "K7\0\0", 4);
        Le32(b, 8, ver);
        Le32(b, 12, static_cast<uint32_t>(i + 1));
        Le32(b, 16, 2);
        Le32(b, 20, address);
        Le32(b, 24, sizes[i] - 64);
        Le32(b, 28, Crc32(reinterpret_cast<const unsigned char*>(b.data()) + 64, b.size() - 64));
        f.bytes = std::move(b);
        files.push_back(std::move(f));
        address += (sizes[i] + kBlockSize - 1) / kBlockSize * kBlockSize;
    }
    return files;
}

std::vector<UpdateFile> SiteDatabaseFiles(const DiveSiteDirectory& sites) {
    // Two files, each a 64-byte header then site records (type, name of at
    // most 54 bytes plus a zero, latitude and longitude in millionths); a
    // file ends with its last record, and the next one starts at the next
    // block boundary.
    const auto& all = sites.all();
    const size_t half = (all.size() + 1) / 2;
    std::vector<UpdateFile> files;
    uint32_t address = kSiteDatabaseAddress;
    for (int part = 0; part < 2; ++part) {
        const size_t from = part == 0 ? 0 : half, to = part == 0 ? half : all.size();
        std::string b(64, '\0');
        std::memcpy(&b[0], "VDSD", 4);
        Le32(b, 4, 1);
        Le32(b, 8, static_cast<uint32_t>(part + 1));
        Le32(b, 12, static_cast<uint32_t>(to - from));
        for (size_t i = from; i < to; ++i) {
            std::string rec(64, '\0');
            rec[0] = 1;  // scuba site
            const std::string name = all[i].name.substr(0, 54);
            std::memcpy(&rec[1], name.data(), name.size());
            Le32(rec, 56, static_cast<uint32_t>(static_cast<int32_t>(all[i].latitude * 1e6)));
            Le32(rec, 60, static_cast<uint32_t>(static_cast<int32_t>(all[i].longitude * 1e6)));
            b += rec;
        }
        Le32(b, 16, Crc32(reinterpret_cast<const unsigned char*>(b.data()) + 64, b.size() - 64));
        UpdateFile f;
        f.sequence = part + 1;
        f.address = address;
        f.name = "K7-ds-" + std::to_string(part + 1) + ".bin";
        address += static_cast<uint32_t>((b.size() + kBlockSize - 1) / kBlockSize * kBlockSize);
        f.bytes = std::move(b);
        files.push_back(std::move(f));
    }
    return files;
}

}  // namespace cloudemu
