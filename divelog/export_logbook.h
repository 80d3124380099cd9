// Exporting more than one dive without a window: the dive logs of a span of
// months, read from the logbook store, the ones not yet stored fetched
// first by the offline save's walk (which stores them too), then written
// whole to the chosen file.
//
// Stages on the sink: "EXPORT_MONTHS" and "EXPORT_DIVES" while the walk
// reads and fetches (its counter line and bar), then "EXPORT_WRITING".
// Cancel is looked at before every request and once more before the file is
// written: a cancelled, failed or empty export writes nothing.
#pragma once

#include <json/value.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/progress_sink.h"
#include "divelog/export_file.h"
#include "divelog/logbook_store.h"
#include "divelog/offline_save.h"

class HttpPost;

namespace vorta_divelog {

// The months to export, as YYYYMM, both included. `first` 0: every month
// back from `last` to the first month with dives (the offline save's walk).
struct ExportMonths {
    int first = 0;
    int last = 0;
};

// The span of scope "month" ("this month") and "range" ("YYYY-MM" from and
// to, in either order), "all" up to `this_month` (YYYYMM). False for an
// unknown scope or a month that is not "YYYY-MM".
bool ExportMonthsOf(const std::string& scope, int this_month, const std::string& from, const std::string& to,
                    ExportMonths& out);

struct LogbookExportResult {
    enum class Status { kDone, kCancelled, kFailed, kNoDives };
    Status status = Status::kDone;
    std::string message_key;  // kFailed: why
    int dives = 0;            // dives written
    int requests = 0;         // GETs sent
};

// The stored dive logs of `months`, oldest dive first (each once). Without
// `months.first` the walk back from `months.last` ends after
// kEmptyMonthsToStop months in a row without stored dives. `read`
// (optional): dive logs already at hand (as the walk that stored them gives
// them), taken from it instead of being read back from the store; then
// `prepared` (optional) receives, by position, what was made of each ahead
// ("" for the ones read from the store).
std::vector<Json::Value> StoredDiveLogs(const LogbookStore& store, const ExportMonths& months,
                                        FetchedDiveLogs* read = nullptr, std::vector<std::string>* prepared = nullptr);

struct ExportTarget {
    std::string path;  // the format by its extension (ExportFormatOf)
    int32_t unit = 0;
    LangFunction lang;
    UddfGenerator generator;
    UddfOwner owner;
};

// Reads (with `http`; nullptr in an offline session: the store alone) and
// writes the export of `months` to `target.path`. `now` stamps what is
// stored.
LogbookExportResult ExportLogbook(LogbookStore& store, HttpPost* http, ProgressSink& sink, const ExportMonths& months,
                                  const ExportTarget& target, const std::function<int64_t()>& now);

}  // namespace vorta_divelog
