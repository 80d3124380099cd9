// Writing an export to the file the user chose: the format by the file's
// extension, the bytes by the writers, and the file replaced whole or not at
// all. No window.
#pragma once

#include <json/value.h>

#include <cstdint>
#include <string>
#include <vector>

#include "divelog/dive_values.h"
#include "divelog/export_uddf.h"

namespace vorta_divelog {

enum class ExportFormat { kUddf, kCsv };

// ".csv" (any case) is CSV; every other name UDDF, the default.
ExportFormat ExportFormatOf(const std::string& path);

// The dive logs as the file at `path` asks (ExportFormatOf), written whole.
// `uddf_bodies` (optional): the dives' parts made ahead by UddfDiveBody, by
// position, for a UDDF file.
bool ExportDiveLogs(const std::string& path, const std::vector<Json::Value>& divelogs, int32_t unit,
                    const LangFunction& lang, const UddfGenerator& generator, const UddfOwner& owner,
                    const std::vector<std::string>& uddf_bodies = {});

}  // namespace vorta_divelog
