#include "cloud/cloud_config.h"

#include "base/config.h"

std::string CloudHost() {
    return GetConfig().cloud_host;
}
std::string CloudCaFile() {
    return GetConfig().ca_file;
}
