#include "sync/sync_paths.h"

#include <cctype>

namespace vorta_sync {

int FirmwareNumber(const std::string& text) {
    std::string digits;
    for (size_t pos : {0u, 2u, 3u, 4u}) {
        if (pos >= text.size()) break;
        digits += text[pos];
    }
    int n = 0;
    for (char c : digits) {
        if (!std::isdigit(static_cast<unsigned char>(c))) break;
        n = n * 10 + (c - '0');
    }
    return n;
}

std::string HeaderInfoPath(const std::string& model, int firmware_number) {
    return "api/v1/devices/headerInfo?model=" + model + "&firmware_version=" + std::to_string(firmware_number);
}

std::string DevicePostPath(const std::string& command, const std::string& model, int length,
                           int firmware_number) {
    const char* prefix = command == "addDivelogs" ? "api/v2/devices/" : "api/v1/devices/";
    return prefix + command + "?model=" + model + "&length=" + std::to_string(length) +
           "&firmware_version=" + std::to_string(firmware_number);
}

}  // namespace vorta_sync
