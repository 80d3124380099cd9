#include "divelog/offline_save.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <vector>

#include "cloud/cloud_api.h"
#include "divelog/calendar_model.h"
#include "divelog/divelog_cloud.h"
#include "divelog/logbook_browse.h"

namespace vorta_divelog {

namespace {

// The dialog is told the counters at most this often: each update is a call
// into its page on the UI thread, which would otherwise run once per request.
constexpr auto kShowEvery = std::chrono::milliseconds(50);

struct MonthWithDives {
    int year, month;
    std::vector<DaySummary> days;  // the days with dives
};

class Run {
public:
    Run(LogbookStore& store, HttpPost& http, ProgressSink& sink, const std::function<int64_t()>& now)
        : store_(store), http_(http), sink_(sink), now_(now) {}

    OfflineSaveResult Go(int year, int month, int oldest) {
        // What was fetched and not yet written is written however the walk
        // ends, so that a run after a Cancel or a lost connection does not
        // fetch it again.
        Walk(year, month, oldest);
        Flush();
        return result_;
    }

private:
    void Walk(int year, int month, int oldest) {
        sink_.set_status("OFFLINE_SAVE_MONTHS");
        std::vector<MonthWithDives> months;
        int empty_in_a_row = 0;
        for (int y = year, m = month; empty_in_a_row < kEmptyMonthsToStop && y * 100 + m >= oldest;) {
            Json::Value summary;
            if (!Read(StoredKind::kMonth, MonthKey(y, m), UrlCalendarMonth(y, m), &summary)) return;
            MonthWithDives found{y, m, {}};
            for (const DaySummary& day : ParseMonthSummary(summary))
                if (day.scuba_count + day.free_count > 0) found.days.push_back(day);
            if (found.days.empty()) {
                ++empty_in_a_row;
            } else {
                empty_in_a_row = 0;
                for (const DaySummary& day : found.days) result_.counts.dives_total += day.scuba_count + day.free_count;
                months.push_back(std::move(found));
            }
            if (--m == 0) m = 12, --y;
            Show(false);
        }
        if (!Flush()) return;

        sink_.set_status("OFFLINE_SAVE_DIVES");
        result_.counts.months_total = static_cast<int>(months.size());
        Show(true);
        for (const MonthWithDives& month_found : months) {
            for (const DaySummary& day : month_found.days) {
                Json::Value list;
                const int d = day.date % 100;
                if (!Read(StoredKind::kDay, DayKey(month_found.year, month_found.month, d),
                          UrlCalendarDate(month_found.year, month_found.month, d), &list))
                    return;
                for (const std::string& id : DayListIds(list)) {
                    if (!store_.Has(StoredKind::kDiveLog, id) &&
                        !Read(StoredKind::kDiveLog, id, UrlDivelog(id), nullptr))
                        return;
                    ++result_.counts.dives_done;
                    Show(false);
                }
            }
            // A month's answers are written together, in one transaction.
            if (!Flush()) return;
            ++result_.counts.months_done;
            Show(false);
        }
        // The summaries may count dives the day lists no longer hold.
        result_.counts.dives_total = result_.counts.dives_done;
        Show(true);
    }

    // The stored answer, or the cloud's (stored then). False when the run
    // ends here: cancelled, or the cloud failed.
    bool Read(StoredKind kind, const std::string& key, const std::string& path, Json::Value* out) {
        if (out) {
            // Nothing pending has this key: each month, day and dive is read once.
            if (std::optional<StoredAnswer> stored = store_.Get(kind, key)) {
                *out = std::move(stored->response);
                return true;
            }
        }
        if (sink_.cancel_requested()) {
            result_.status = OfflineSaveResult::Status::kCancelled;
            return false;
        }
        ++result_.requests;
        CloudAnswer answer = CloudGet(http_, path);
        if (answer.status != CloudAnswer::Status::kOk) {
            result_.status = OfflineSaveResult::Status::kFailed;
            result_.message_key = answer.message_key.empty() ? "HOST_NOT_CONN" : answer.message_key;
            return false;
        }
        // A dive log answer without its dive log is not stored; it is
        // counted and the run goes on.
        pending_.push_back({kind, key, out ? answer.response : std::move(answer.response), now_()});
        if (out) *out = std::move(answer.response);
        return true;
    }

    // Writes the pending answers. A store that cannot be written ends the
    // run as a failure: going on would fetch what could not be kept.
    bool Flush() {
        if (pending_.empty()) return true;
        const bool written = store_.PutAll(pending_);
        pending_.clear();
        if (!written && result_.status == OfflineSaveResult::Status::kDone) {
            result_.status = OfflineSaveResult::Status::kFailed;
            result_.message_key = "DATA_ERROR";
        }
        return written;
    }

    void Show(bool always) {
        const auto now = std::chrono::steady_clock::now();
        if (!always && shown_once_ && now - last_shown_ < kShowEvery) return;
        shown_once_ = true;
        last_shown_ = now;
        const OfflineSaveCounts& c = result_.counts;
        sink_.set_counters(OfflineSaveCounterLine(c));
        const int percent = c.dives_total > 0 ? static_cast<int>(int64_t(c.dives_done) * 100 / c.dives_total) : 0;
        sink_.set_progress(std::to_string(percent > 100 ? 100 : percent));
    }

    LogbookStore& store_;
    HttpPost& http_;
    ProgressSink& sink_;
    const std::function<int64_t()>& now_;
    OfflineSaveResult result_;
    std::vector<LogbookStore::Write> pending_;
    bool shown_once_ = false;
    std::chrono::steady_clock::time_point last_shown_;
};

}  // namespace

std::string OfflineSaveCounterLine(const OfflineSaveCounts& c) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "%d/%d %d/%d", c.months_done, c.months_total, c.dives_done, c.dives_total);
    return buf;
}

OfflineSaveResult SaveLogbookForOffline(LogbookStore& store, HttpPost& http, ProgressSink& sink, int year, int month,
                                        const std::function<int64_t()>& now, int oldest) {
    return Run(store, http, sink, now).Go(year, month, oldest);
}

int RefreshStoredMonths(LogbookStore& store, HttpPost& http, int year, int month, int64_t now,
                        const std::string& skip) {
    std::vector<std::string> months = store.Keys(StoredKind::kMonth);
    const std::string this_month = MonthKey(year, month);
    if (std::find(months.begin(), months.end(), this_month) == months.end()) months.push_back(this_month);
    const std::vector<std::string> stored_days = store.Keys(StoredKind::kDay);
    int refreshed = 0;
    for (const std::string& key : months) {
        const int number = std::atoi(key.c_str());
        const int y = number / 100, m = number % 100;
        if (key.size() != 6 || m < 1 || m > 12 || key == skip) continue;
        CloudAnswer fresh = CloudGet(http, UrlCalendarMonth(y, m));
        if (fresh.status != CloudAnswer::Status::kOk) break;
        std::map<int, int> before;
        if (std::optional<StoredAnswer> old = store.Get(StoredKind::kMonth, key))
            for (const DaySummary& day : ParseMonthSummary(old->response))
                before[day.date] = day.scuba_count + day.free_count;
        std::vector<LogbookStore::Write> writes{{StoredKind::kMonth, key, fresh.response, now}};
        bool lists_read = true;
        for (const DaySummary& day : ParseMonthSummary(fresh.response)) {
            const int count = day.scuba_count + day.free_count;
            const std::string day_key = std::to_string(day.date);
            const auto was = before.find(day.date);
            if (count == 0 || (was != before.end() && was->second == count) ||
                !std::binary_search(stored_days.begin(), stored_days.end(), day_key))
                continue;
            CloudAnswer list = CloudGet(http, UrlCalendarDate(y, m, day.date % 100));
            if (list.status != CloudAnswer::Status::kOk) {
                lists_read = false;
                break;
            }
            writes.push_back({StoredKind::kDay, day_key, std::move(list.response), now});
        }
        // A fresh month beside a day list that could not be refreshed would
        // leave the two disagreeing: the month's copy stays as it was.
        if (!lists_read || !store.PutAll(writes)) break;
        ++refreshed;
    }
    return refreshed;
}

}  // namespace vorta_divelog
