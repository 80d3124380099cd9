#include "divesite/dive_site_transfer.h"

#include <array>
#include <vector>

namespace vorta_divesite {

bool WriteSitesToDevice(DeviceLink& device, DiveSiteLists& lists) {
    for (int list = 0; list < 3; ++list) {
        if (lists.list(list).empty()) continue;
        const uint8_t type = TypeOfList(list);
        lists.SetTypes(list, type);
        const std::vector<uint8_t> block = EncodeSiteBlock(lists.list(list), type);
        if (!device.WriteBlock(kBlockAddress[list], block.data())) return false;
    }
    return true;
}

bool ReadSitesFromDevice(DeviceLink& device, DiveSiteLists& out) {
    std::array<std::vector<uint8_t>, 3> blocks;
    for (int list = 0; list < 3; ++list) {
        std::vector<uint8_t>& block = blocks[static_cast<size_t>(list)];
        block.assign(kBlockSize, 0xFF);
        if (!device.ReadBlock(kBlockAddress[list], block.data(), static_cast<uint32_t>(kBlockSize))) return false;
    }
    DiveSiteLists read;
    for (int list = 0; list < 3; ++list) {
        const std::vector<uint8_t>& block = blocks[static_cast<size_t>(list)];
        for (const DiveSite& site : DecodeSiteBlock(block.data(), block.size(), TypeOfList(list)))
            read.Append(list, site);
    }
    out = std::move(read);
    return true;
}

}  // namespace vorta_divesite
