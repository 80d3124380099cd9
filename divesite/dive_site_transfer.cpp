#include "divesite/dive_site_transfer.h"

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
    std::vector<uint8_t> blocks(3 * kBlockSize, 0xFF);
    for (int list = 0; list < 3; ++list) {
        uint8_t* block = blocks.data() + static_cast<size_t>(list) * kBlockSize;
        if (!device.ReadBlock(kBlockAddress[list], block, static_cast<uint32_t>(kBlockSize))) return false;
    }
    DiveSiteLists read;
    for (int list = 0; list < 3; ++list)
        read.Replace(list, DecodeSiteBlock(blocks.data() + static_cast<size_t>(list) * kBlockSize, kBlockSize,
                                           TypeOfList(list)));
    out = std::move(read);
    return true;
}

}  // namespace vorta_divesite
