#include "divelog/export_file.h"

#include <strings.h>

#include "base/file_write.h"
#include "divelog/export_csv.h"

namespace vorta_divelog {

ExportFormat ExportFormatOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return ExportFormat::kUddf;
    return strcasecmp(path.c_str() + dot, ".csv") == 0 ? ExportFormat::kCsv : ExportFormat::kUddf;
}

bool ExportDiveLogs(const std::string& path, const std::vector<Json::Value>& divelogs, int32_t unit,
                    const LangFunction& lang, const UddfGenerator& generator, const UddfOwner& owner,
                    const std::vector<std::string>& uddf_bodies) {
    const std::string bytes = ExportFormatOf(path) == ExportFormat::kCsv
                                  ? CsvDocument(divelogs, unit, lang)
                                  : UddfDocument(divelogs, generator, owner, uddf_bodies);
    return WriteWholeFile(path, bytes);
}

}  // namespace vorta_divelog
