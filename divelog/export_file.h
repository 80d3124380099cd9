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

// Writes `bytes` to `path`: into a new file beside it (beside a link's
// target), then renamed over it, so a failed or interrupted write never
// leaves a cut file, and a replaced file keeps its permissions. Refuses to
// replace anything but a regular file. False on any failure, with no file
// left behind.
bool WriteWholeFile(const std::string& path, const std::string& bytes);

// The dive logs as the file at `path` asks (ExportFormatOf), written whole.
bool ExportDiveLogs(const std::string& path, const std::vector<Json::Value>& divelogs, int32_t unit,
                    const LangFunction& lang, const UddfGenerator& generator, const UddfOwner& owner);

}  // namespace vorta_divelog
