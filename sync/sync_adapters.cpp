#include "sync/sync_adapters.h"

#include "cloud/http_post.h"
#include "device/usb.h"

namespace vorta_sync {

bool UsbSyncDevice::ReadBlock(uint32_t addr, uint8_t* out, uint32_t len) { return usb_.ReadBlock(addr, out, len); }

int UsbSyncDevice::EndLink() { return static_cast<int>(usb_.EndLink()); }

std::string HttpSyncCloud::request(const std::string& verb, const std::string& path, const uint8_t* body,
                                   uint32_t body_len, const std::string& headers) {
    return http_.request(body, body_len, 0, verb, path, headers);
}

}  // namespace vorta_sync
