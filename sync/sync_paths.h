// Request paths of the sync (relative to the cloud host, no leading "/").
#pragma once

#include <string>

namespace vorta_sync {

// Firmware version number from a version text "d.ddd": the characters at
// positions 1, 3, 4 and 5 read as a decimal integer, stopping at the first
// non-digit ("1.025" gives 1025).
int FirmwareNumber(const std::string& version_text);

// "api/v1/devices/headerInfo?model=%s&firmware_version=%d"
std::string HeaderInfoPath(const std::string& model, int firmware_number);

// "api/v2/devices/%s?model=%s&length=%d&firmware_version=%d" for
// "addDivelogs", the "api/v1/devices/" form for every other command.
std::string DevicePostPath(const std::string& command, const std::string& model, int length,
                           int firmware_number);

}  // namespace vorta_sync
