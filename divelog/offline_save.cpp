#include "divelog/offline_save.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "base/json_safe.h"
#include "cloud/cloud_api.h"
#include "divelog/calendar_model.h"
#include "divelog/divelog_cloud.h"
#include "divelog/logbook_browse.h"

namespace vorta_divelog {

namespace {

// The dialog is told the counters at most this often: each update is a call
// into its page on the UI thread, which would otherwise run once per request.
constexpr auto kShowEvery = std::chrono::milliseconds(50);

// The storing thread's niceness where the idle class is refused.
constexpr int kStoringNice = 19;

struct MonthWithDives {
    int year, month;
    std::vector<DaySummary> days;  // the days with dives
};

// The storing half of the walk, on its own thread, so that storing one
// answer runs while the next request is on the wire: the dive-log replies
// (the big ones) are judged by their envelope here, and parsed when their
// values are wanted (an export) or the reply is not a plain success; every
// answer joins the current batch in the order it was handed over, and a
// batch is written in one transaction when the walk commits it. The store
// serializes the calls of the two threads itself.
class Storer {
public:
    Storer(LogbookStore& store, FetchedDiveLogs* written) : store_(store), written_(written) {
        thread_ = std::thread([this] { Loop(); });
    }
    ~Storer() { Finish(); }
    Storer(const Storer&) = delete;
    Storer& operator=(const Storer&) = delete;

    // An answer the walk has judged and read (a month summary, a day list),
    // with the reply it was read from.
    void Answer(StoredKind kind, std::string key, Json::Value response, std::string reply, int64_t fetched_at) {
        Push({Item::kAnswer, kind, std::move(key), std::move(response), std::move(reply), fetched_at, false});
    }
    // A reply not yet judged (a dive log).
    void Reply(StoredKind kind, std::string key, std::string reply, int64_t fetched_at) {
        Push({Item::kReply, kind, std::move(key), Json::Value(), std::move(reply), fetched_at, false});
    }
    // Writes what was handed over since the last commit, in one transaction;
    // `month` counts it as a month done once written.
    void Commit(bool month) { Push({Item::kCommit, StoredKind::kMonth, {}, {}, {}, 0, month}); }

    // Writes everything handed over and ends the thread.
    void Finish() {
        if (!thread_.joinable()) return;
        Commit(false);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            finishing_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }

    // The first failure: the message key of a reply the cloud refused, or
    // "DATA_ERROR" for a write that failed; "" while there is none.
    std::string failure() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return failure_;
    }
    bool failed() const { return failed_.load(); }
    int months_written() const { return months_written_.load(); }

private:
    struct Item {
        enum What { kAnswer, kReply, kCommit } what;
        StoredKind kind;
        std::string key;
        Json::Value response;
        std::string reply;
        int64_t fetched_at;
        bool month;
    };
    // Held at most this many items ahead of the storing: the walk waits
    // rather than holding the whole logbook in memory.
    static constexpr size_t kQueued = 8;

    void Push(Item item) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return queue_.size() < kQueued; });
        queue_.push_back(std::move(item));
        lock.unlock();
        changed_.notify_all();
    }

    void Loop() {
        // Storing yields to the walk: the next request, not the storing of
        // the last answer, is what the whole run waits for. In the idle class
        // the storing runs on whatever core neither the walk nor the cloud's
        // side wants, and gives it up the moment they wake, where a niceness
        // alone still lets it finish its slice first. It is never starved
        // for long: the walk waits for it once kQueued answers are ahead,
        // and at the end.
        const sched_param idle{};
        if (pthread_setschedparam(pthread_self(), SCHED_IDLE, &idle) != 0)
            setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kStoringNice);
        std::vector<LogbookStore::Write> batch;
        for (;;) {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [this] { return !queue_.empty() || finishing_; });
            if (queue_.empty()) return;
            Item item = std::move(queue_.front());
            queue_.pop_front();
            lock.unlock();
            changed_.notify_all();
            try {
                Take(std::move(item), batch);
            } catch (const std::exception&) {
                // Out of memory: nothing may leave the thread; the run fails.
                batch.clear();
                prepared_.clear();
                Fail("DATA_ERROR");
            }
        }
    }

    void Take(Item item, std::vector<LogbookStore::Write>& batch) {
        if (item.what == Item::kCommit) {
            bool written = true;
            if (!batch.empty()) written = store_.PutAll(batch);
            if (written && written_) {
                for (LogbookStore::Write& w : batch) {
                    if (w.kind != StoredKind::kDiveLog) continue;
                    FetchedDiveLogs::Entry& entry = written_->by_id[w.key];
                    entry.divelog = std::move(w.response["divelog"]);
                    const auto prepared = prepared_.find(w.key);
                    if (prepared != prepared_.end()) entry.prepared = std::move(prepared->second);
                }
            }
            batch.clear();
            prepared_.clear();
            if (!written) Fail("DATA_ERROR");
            else if (item.month) ++months_written_;
            return;
        }
        if (item.what == Item::kReply) {
            // Only stored: a plain success is judged without reading its
            // values (the most processor time of a save).
            if (!written_) {
                std::optional<std::string> response = store_.DiveLogResponseOf(item.reply);
                if (response) {
                    batch.push_back(
                        {item.kind, std::move(item.key), Json::Value(), item.fetched_at, std::move(*response), true});
                    return;
                }
            }
            CloudAnswer answer = CloudAnswerOf(item.reply);
            if (answer.status != CloudAnswer::Status::kOk) {
                Fail(answer.message_key);
                return;
            }
            // A dive log answer without its dive log is not stored.
            if (!json_safe::Member(answer.response, "divelog").isObject()) return;
            std::string text = TextOf(item.reply, answer.response);
            if (written_ && written_->prepare) prepared_[item.key] = written_->prepare(answer.response["divelog"]);
            batch.push_back(
                {item.kind, std::move(item.key), std::move(answer.response), item.fetched_at, std::move(text)});
            return;
        }
        std::string compact = TextOf(item.reply, item.response);
        batch.push_back(
            {item.kind, std::move(item.key), std::move(item.response), item.fetched_at, std::move(compact)});
    }

    // The text of `response` within `reply`, as the cloud sent it: it reads
    // back as the same value, and writing the value out again would cost
    // about as much as reading it did. Made anew when the reader left no
    // usable place.
    static std::string TextOf(const std::string& reply, const Json::Value& response) {
        const ptrdiff_t start = response.getOffsetStart(), limit = response.getOffsetLimit();
        if (start >= 0 && limit > start && static_cast<size_t>(limit) <= reply.size() && reply[start] == '{' &&
            reply[limit - 1] == '}')
            return reply.substr(static_cast<size_t>(start), static_cast<size_t>(limit - start));
        return CompactAnswer(response);
    }

    void Fail(const std::string& key) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (failure_.empty()) failure_ = key.empty() ? "HOST_NOT_CONN" : key;
        failed_ = true;
    }

    LogbookStore& store_;
    // Filled on the storing thread, read once it has ended.
    FetchedDiveLogs* written_;
    // What written_->prepare made of the dive logs of the batch, by id.
    std::map<std::string, std::string> prepared_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Item> queue_;
    bool finishing_ = false;
    std::string failure_;
    std::atomic<bool> failed_{false};
    std::atomic<int> months_written_{0};
    std::thread thread_;
};

class Run {
public:
    Run(LogbookStore& store, HttpPost& http, ProgressSink& sink, const std::function<int64_t()>& now,
        FetchedDiveLogs* stored)
        : store_(store), http_(http), sink_(sink), now_(now), storer_(store, stored) {}

    OfflineSaveResult Go(int year, int month, int oldest) {
        // What is stored already, looked up once: the walk then reads the
        // store only for what it holds, and does not wait on the writes.
        for (const StoredKind kind : {StoredKind::kMonth, StoredKind::kDay, StoredKind::kDiveLog})
            for (std::string& key : store_.Keys(kind)) stored_[static_cast<int>(kind)].insert(std::move(key));
        // What was fetched is written however the walk ends, so that a run
        // after a Cancel or a lost connection does not fetch it again.
        const bool walked = Walk(year, month, oldest);
        storer_.Finish();
        // A failure the storing found concerns an answer fetched before
        // whatever ended the walk.
        if (storer_.failed()) {
            result_.status = OfflineSaveResult::Status::kFailed;
            result_.message_key = storer_.failure();
        }
        result_.counts.months_done = storer_.months_written();
        // The summaries may count dives the day lists no longer hold.
        if (walked && result_.status == OfflineSaveResult::Status::kDone)
            result_.counts.dives_total = result_.counts.dives_done;
        Show(true);
        return result_;
    }

private:
    // False when the walk ended early (cancelled, or a request failed).
    bool Walk(int year, int month, int oldest) {
        sink_.set_status("OFFLINE_SAVE_MONTHS");
        std::vector<MonthWithDives> months;
        int empty_in_a_row = 0;
        for (int y = year, m = month; empty_in_a_row < kEmptyMonthsToStop && y * 100 + m >= oldest;) {
            Json::Value summary;
            if (!Read(StoredKind::kMonth, MonthKey(y, m), UrlCalendarMonth(y, m), &summary)) return false;
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
        storer_.Commit(false);

        sink_.set_status("OFFLINE_SAVE_DIVES");
        result_.counts.months_total = static_cast<int>(months.size());
        Show(true);
        for (const MonthWithDives& month_found : months) {
            for (const DaySummary& day : month_found.days) {
                Json::Value list;
                const int d = day.date % 100;
                if (!Read(StoredKind::kDay, DayKey(month_found.year, month_found.month, d),
                          UrlCalendarDate(month_found.year, month_found.month, d), &list))
                    return false;
                for (const std::string& id : DayListIds(list)) {
                    // Each dive log once, also when two days list it.
                    if (!IsStored(StoredKind::kDiveLog, id) && fetched_.insert(id).second &&
                        !Read(StoredKind::kDiveLog, id, UrlDivelog(id), nullptr))
                        return false;
                    ++result_.counts.dives_done;
                    Show(false);
                }
            }
            // A month's answers are written together, in one transaction.
            storer_.Commit(true);
            Show(false);
        }
        return true;
    }

    bool IsStored(StoredKind kind, const std::string& key) const {
        return stored_[static_cast<int>(kind)].count(key) > 0;
    }

    // The stored answer, or the cloud's (handed to the storer). `out`
    // nullptr: a dive log, whose reply the storer judges and reads. False
    // when the run ends here: cancelled, the cloud failed, or the storer
    // found a failure.
    bool Read(StoredKind kind, const std::string& key, const std::string& path, Json::Value* out) {
        if (out) {
            // Nothing pending has this key: each month, day and dive is read once.
            std::optional<StoredAnswer> stored;
            if (IsStored(kind, key)) stored = store_.Get(kind, key);
            if (stored) {
                *out = std::move(stored->response);
                return true;
            }
        }
        // The storer's failure is looked at in Go.
        if (storer_.failed()) return false;
        if (sink_.cancel_requested()) {
            result_.status = OfflineSaveResult::Status::kCancelled;
            return false;
        }
        ++result_.requests;
        std::string reply;
        // No reply at all is a lost connection: no request after it.
        if (!CloudGetReply(http_, path, &reply) || reply.empty()) return Failed("HOST_NOT_CONN");
        if (!out) {
            storer_.Reply(kind, key, std::move(reply), now_());
            return true;
        }
        CloudAnswer answer = CloudAnswerOf(reply);
        if (answer.status != CloudAnswer::Status::kOk) return Failed(answer.message_key);
        *out = answer.response;
        storer_.Answer(kind, key, std::move(answer.response), std::move(reply), now_());
        return true;
    }

    bool Failed(const std::string& key) {
        result_.status = OfflineSaveResult::Status::kFailed;
        result_.message_key = key.empty() ? "HOST_NOT_CONN" : key;
        return false;
    }

    void Show(bool always) {
        const auto now = std::chrono::steady_clock::now();
        if (!always && shown_once_ && now - last_shown_ < kShowEvery) return;
        shown_once_ = true;
        last_shown_ = now;
        OfflineSaveCounts& c = result_.counts;
        c.months_done = storer_.months_written();
        sink_.set_counters(OfflineSaveCounterLine(c));
        const int percent = c.dives_total > 0 ? static_cast<int>(int64_t(c.dives_done) * 100 / c.dives_total) : 0;
        sink_.set_progress(std::to_string(percent > 100 ? 100 : percent));
    }

    LogbookStore& store_;
    HttpPost& http_;
    ProgressSink& sink_;
    const std::function<int64_t()>& now_;
    OfflineSaveResult result_;
    bool shown_once_ = false;
    std::chrono::steady_clock::time_point last_shown_;
    // The keys stored before the run, by kind; the dive logs this run fetched.
    std::set<std::string> stored_[5];
    std::set<std::string> fetched_;
    // Last: its thread ends (everything written) before the rest goes.
    Storer storer_;
};

}  // namespace

std::string OfflineSaveCounterLine(const OfflineSaveCounts& c) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "%d/%d %d/%d", c.months_done, c.months_total, c.dives_done, c.dives_total);
    return buf;
}

OfflineSaveResult SaveLogbookForOffline(LogbookStore& store, HttpPost& http, ProgressSink& sink, int year, int month,
                                        const std::function<int64_t()>& now, int oldest, FetchedDiveLogs* stored) {
    return Run(store, http, sink, now, stored).Go(year, month, oldest);
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
