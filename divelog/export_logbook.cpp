#include "divelog/export_logbook.h"

#include <algorithm>
#include <cstdio>
#include <set>

#include "base/json_safe.h"
#include "divelog/calendar_model.h"
#include "divelog/logbook_browse.h"
#include "divelog/offline_save.h"

namespace vorta_divelog {

namespace {

int PreviousMonth(int ym) {
    return ym % 100 == 1 ? (ym / 100 - 1) * 100 + 12 : ym - 1;
}

bool ParseMonth(const std::string& text, int& ym) {
    int y = 0, m = 0, used = 0;
    if (text.size() != 7 || std::sscanf(text.c_str(), "%4d-%2d%n", &y, &m, &used) != 2 || used != 7) return false;
    if (y < 1970 || y > 9999 || m < 1 || m > 12) return false;
    ym = y * 100 + m;
    return true;
}

// The walk's own stage keys as an export names them; the rest passes on.
class ExportSink : public ProgressSink {
public:
    explicit ExportSink(ProgressSink& inner) : inner_(inner) {}
    bool wait_ready(int timeout_ms) override { return inner_.wait_ready(timeout_ms); }
    void set_status(const std::string& key) override {
        if (key == "OFFLINE_SAVE_MONTHS") inner_.set_status("EXPORT_MONTHS");
        else if (key == "OFFLINE_SAVE_DIVES") inner_.set_status("EXPORT_DIVES");
        else inner_.set_status(key);
    }
    void set_counters(const std::string& line) override { inner_.set_counters(line); }
    void set_progress(const std::string& percent) override { inner_.set_progress(percent); }
    void show_message(const std::string& key) override { inner_.show_message(key); }
    void end(int result) override { inner_.end(result); }
    bool cancel_requested() override { return inner_.cancel_requested(); }
    bool without_dialog() override { return inner_.without_dialog(); }

private:
    ProgressSink& inner_;
};

// A dive log to export and what was made of it ahead ("" for nothing).
using Found = std::pair<Json::Value, std::string>;

// The stored dive logs of one month, appended to `out` (each id once).
// False when the month's summary is not stored.
bool StoredMonth(const LogbookStore& store, int ym, std::set<std::string>& seen, std::vector<Found>& out,
                 bool& has_dives, FetchedDiveLogs* read) {
    has_dives = false;
    const int year = ym / 100, month = ym % 100;
    const std::optional<StoredAnswer> summary = store.Get(StoredKind::kMonth, MonthKey(year, month));
    if (!summary) return false;
    for (const DaySummary& day : ParseMonthSummary(summary->response)) {
        if (day.scuba_count + day.free_count <= 0 || day.date / 100 != ym) continue;
        has_dives = true;
        const std::optional<StoredAnswer> list = store.Get(StoredKind::kDay, DayKey(year, month, day.date % 100));
        if (!list) continue;
        for (const std::string& id : DayListIds(list->response)) {
            if (!seen.insert(id).second) continue;
            if (read) {
                const auto found = read->by_id.find(id);
                if (found != read->by_id.end()) {
                    if (found->second.divelog.isObject())
                        out.emplace_back(std::move(found->second.divelog), std::move(found->second.prepared));
                    continue;
                }
            }
            const std::optional<StoredAnswer> log = store.Get(StoredKind::kDiveLog, id);
            if (!log) continue;
            const Json::Value& divelog = json_safe::Member(log->response, "divelog");
            if (divelog.isObject()) out.emplace_back(divelog, std::string());
        }
    }
    return true;
}

// The newest month of a bounded span whose summary is not stored; 0 when
// every one is.
int NewestMonthNotStored(const LogbookStore& store, const ExportMonths& months) {
    for (int ym = months.last; ym >= months.first; ym = PreviousMonth(ym))
        if (!store.Has(StoredKind::kMonth, MonthKey(ym / 100, ym % 100))) return ym;
    return 0;
}

}  // namespace

bool ExportMonthsOf(const std::string& scope, int this_month, const std::string& from, const std::string& to,
                    ExportMonths& out) {
    if (scope == "month") {
        out = {this_month, this_month};
        return true;
    }
    if (scope == "all") {
        out = {0, this_month};
        return true;
    }
    if (scope != "range") return false;
    int a = 0, b = 0;
    if (!ParseMonth(from, a) || !ParseMonth(to, b)) return false;
    if (a > b) std::swap(a, b);
    // Months still to come hold no dives.
    out = {a, std::min(b, this_month)};
    return out.first <= out.last;
}

std::vector<Json::Value> StoredDiveLogs(const LogbookStore& store, const ExportMonths& months, FetchedDiveLogs* read,
                                        std::vector<std::string>* prepared) {
    std::vector<Found> found;
    std::set<std::string> seen;
    int without_dives = 0;
    for (int ym = months.last; ym >= months.first && ym > 197000; ym = PreviousMonth(ym)) {
        bool has_dives = false;
        StoredMonth(store, ym, seen, found, has_dives, read);
        without_dives = has_dives ? 0 : without_dives + 1;
        if (months.first == 0 && without_dives >= kEmptyMonthsToStop) break;
    }
    std::stable_sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        return json_safe::Double(a.first, "dive_datetime") < json_safe::Double(b.first, "dive_datetime");
    });
    std::vector<Json::Value> out;
    out.reserve(found.size());
    if (prepared) prepared->clear();
    for (Found& f : found) {
        out.push_back(std::move(f.first));
        if (prepared) prepared->push_back(std::move(f.second));
    }
    return out;
}

LogbookExportResult ExportLogbook(LogbookStore& store, HttpPost* http, ProgressSink& sink, const ExportMonths& months,
                                  const ExportTarget& target, const std::function<int64_t()>& now) {
    LogbookExportResult result;
    // What the walk fetches and stores is handed over as it was read, not
    // read back from the store and parsed again; for a UDDF file, each dive's
    // part of the document is made as its dive log comes in, while the walk
    // waits for the next one.
    FetchedDiveLogs fetched;
    if (ExportFormatOf(target.path) == ExportFormat::kUddf) fetched.prepare = UddfDiveBodyAndTrim;
    if (http) {
        ExportSink export_sink(sink);
        // The walk stops after a year without dives: a span with a longer
        // gap is walked again from the newest month it has not reached.
        for (int from = months.last; from != 0;) {
            const OfflineSaveResult walked =
                SaveLogbookForOffline(store, *http, export_sink, from / 100, from % 100, now, months.first, &fetched);
            result.requests += walked.requests;
            if (walked.status == OfflineSaveResult::Status::kCancelled) {
                result.status = LogbookExportResult::Status::kCancelled;
                return result;
            }
            if (walked.status == OfflineSaveResult::Status::kFailed) {
                result.status = LogbookExportResult::Status::kFailed;
                result.message_key = walked.message_key;
                return result;
            }
            const int next = months.first == 0 ? 0 : NewestMonthNotStored(store, months);
            // A month the walk read without storing it would be walked for ever.
            from = next < from ? next : 0;
        }
    }
    sink.set_status("EXPORT_WRITING");
    std::vector<std::string> prepared;
    const std::vector<Json::Value> divelogs = StoredDiveLogs(store, months, &fetched, &prepared);
    if (sink.cancel_requested()) {
        result.status = LogbookExportResult::Status::kCancelled;
        return result;
    }
    if (divelogs.empty()) {
        result.status = LogbookExportResult::Status::kNoDives;
        return result;
    }
    if (!ExportDiveLogs(target.path, divelogs, target.unit, target.lang, target.generator, target.owner, prepared)) {
        result.status = LogbookExportResult::Status::kFailed;
        result.message_key = "EXPORT_NOT_SAVED";
        return result;
    }
    result.dives = static_cast<int>(divelogs.size());
    return result;
}

}  // namespace vorta_divelog
