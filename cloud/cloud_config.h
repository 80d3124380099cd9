// Where the cloud service is: host name and an optional extra CA file, from
// the program's configuration (config file or VORTA_CLOUD_HOST /
// VORTA_CA_FILE). The port is fixed.
#pragma once

#include <string>

constexpr int kCloudPort = 8443;

std::string CloudHost();
std::string CloudCaFile();
