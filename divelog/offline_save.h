// "Save logbook for offline use" without a window: every month with dives
// and every dive log of them into the logbook store, on one cloud
// connection, skipping what is stored already, so that a second run (after a
// Cancel or a lost connection) fetches only what is missing.
//
// First the month summaries, from this month back to the first month with
// dives (the walk stops after kEmptyMonthsToStop months in a row without
// dives); then, month by month, the day list of each day with dives and each
// dive log it lists.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "app/progress_sink.h"
#include "divelog/logbook_store.h"

class HttpPost;

namespace vorta_divelog {

constexpr int kEmptyMonthsToStop = 12;

// The dive logs a run fetched and wrote, for a caller that reads them next
// (the export), so that it need not read them back from the store: by id,
// each one's "divelog" object and what `prepare` (optional) made of it.
// `prepare` runs on the storing thread as each dive log is read, while the
// walk waits for the next answer; it must not touch the store. It may leave
// in the dive log only what the caller still reads of it: what it lets go
// is freed there and then, not all at once when the caller is done.
struct FetchedDiveLogs {
    struct Entry {
        Json::Value divelog;
        std::string prepared;
    };
    std::function<std::string(Json::Value& divelog)> prepare;
    std::map<std::string, Entry> by_id;
};

struct OfflineSaveCounts {
    int months_done = 0, months_total = 0;
    int dives_done = 0, dives_total = 0;
};

struct OfflineSaveResult {
    enum class Status { kDone, kCancelled, kFailed };
    Status status = Status::kDone;
    std::string message_key;  // kFailed: why (as the browsing pages say it)
    OfflineSaveCounts counts;
    int requests = 0;  // GETs sent
};

// "%d/%d %d/%d": months done/total, dives done/total.
std::string OfflineSaveCounterLine(const OfflineSaveCounts& c);

// Runs the save for the months up to `year`-`month` (this month). Stages on
// `sink`: "OFFLINE_SAVE_MONTHS", then "OFFLINE_SAVE_DIVES"; the counter line
// and the percentage of dives done after each step. Cancel is looked at
// before every request. `now` stamps what is stored.
// `oldest` (YYYYMM, 0 for none) also ends the walk back through the months:
// nothing before that month is read.
// `stored` (optional): receives the dive logs the run fetched and wrote
// (FetchedDiveLogs).
OfflineSaveResult SaveLogbookForOffline(LogbookStore& store, HttpPost& http, ProgressSink& sink, int year, int month,
                                        const std::function<int64_t()>& now, int oldest = 0,
                                        FetchedDiveLogs* stored = nullptr);

// After a sync: the cloud's month summary of every month the store holds and
// of `year`-`month` (this month), but `skip` (the month the calendar reloads
// itself), each stored whole; in a month whose summary
// changed, the stored day lists of the days whose counts changed are fetched
// again (a day no longer listed is dropped with its dive logs by the month's
// write). What is not stored is not fetched: the store keeps what was
// browsed. Stops at the first failed request. Returns the months refreshed.
int RefreshStoredMonths(LogbookStore& store, HttpPost& http, int year, int month, int64_t now, const std::string& skip);

}  // namespace vorta_divelog
