// Binary files the emulator serves: the account picture and the update
// images offered to the dive computer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "divesites.h"

namespace cloudemu {

// A small PNG picture (a diver's mask on blue), made with zlib.
std::string AvatarPng();

struct UpdateFile {
    int sequence = 0;
    uint32_t address = 0;  // device address of the first block
    std::string name;      // file name under /static/<kind>/
    std::string bytes;     // the file; its last block may be partial
};

// Firmware images: a header block then code-like payload, at the update area.
std::vector<UpdateFile> FirmwareFiles(const std::string& version);
// The built-in dive-site database: 64-byte site records of the directory.
std::vector<UpdateFile> SiteDatabaseFiles(const DiveSiteDirectory& sites);

constexpr uint32_t kFirmwareAddress = 0x10C000;
constexpr uint32_t kSiteDatabaseAddress = 0x210000;  // after the firmware images

}  // namespace cloudemu
