#include "divelog/logbook_browse.h"

#include <cstdio>
#include <ctime>

#include "base/json_safe.h"
#include "cloud/cloud_api.h"
#include "cloud/http_post.h"

namespace vorta_divelog {

namespace {

// The signed-in account's store, opened at its first use.
std::unique_ptr<LogbookStore> g_store;
std::string g_store_path;

// Passes a connection's requests on, noting whether any answer came back.
class AnswerWatch : public HttpPost {
public:
    explicit AnswerWatch(HttpPost& inner) : HttpPost(HttpOptions()), inner_(inner) {}
    bool connect(const std::string& host, int port) override { return inner_.connect(host, port); }
    std::string request(const void* body, uint32_t len, int is_json, const std::string& verb, const std::string& path,
                        const std::string& headers) override {
        std::string reply = inner_.request(body, len, is_json, verb, path, headers);
        answered = answered || !reply.empty();
        return reply;
    }
    bool answered = false;

private:
    HttpPost& inner_;
};

}  // namespace

StoreFirstRead ReadStoreFirst(LogbookStore* store, StoredKind kind, const std::string& key, HttpPost& http,
                              const std::string& path, const std::function<bool(const Json::Value&)>& show,
                              int64_t now) {
    StoreFirstRead read;
    std::optional<StoredAnswer> stored = store ? store->Get(kind, key) : std::nullopt;
    if (stored && show(stored->response)) read.stored_at = stored->fetched_at;
    AnswerWatch watch(http);
    read.answer = CloudGet(watch, path);
    read.answered = watch.answered;
    if (read.answer.status != CloudAnswer::Status::kOk) return read;
    if (!read.stored_at || stored->response != read.answer.response) show(read.answer.response);
    if (store) store->Put(kind, key, read.answer.response, now);
    return read;
}

StoreFirstRead ViewDiveLogStoreFirst(LogbookStore* store, HttpPost& http, const std::string& divelog_id, int32_t unit,
                                     const LangFunction& lang, vorta_browser::MapScriptSink& page,
                                     const std::function<bool()>& page_ready, int64_t now) {
    // Stored dive logs always hold one: only the cloud's answer can lack it.
    bool fresh_unusable = false;
    StoreFirstRead read = ReadStoreFirst(
        store, StoredKind::kDiveLog, divelog_id, http, UrlDivelog(divelog_id),
        [&](const Json::Value& response) {
            const Json::Value& divelog = json_safe::Member(response, "divelog");
            if (!divelog.isObject()) {
                fresh_unusable = true;
                return false;
            }
            const bool drawn = page_ready();
            ShowDiveLog(divelog, unit, lang, page);
            return drawn;
        },
        now);
    if (fresh_unusable && read.answer.status == CloudAnswer::Status::kOk) {
        read.answer.status = CloudAnswer::Status::kFailed;
        read.answer.message_key = "DATA_ERROR";
    }
    return read;
}

std::string MonthKey(int year, int month) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.4d%.2d", year, month);
    return buf;
}

std::string DayKey(int year, int month, int day) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.4d%.2d%.2d", year, month, day);
    return buf;
}

std::string OfflineLine(int64_t fetched_at, const std::function<std::string(const std::string&)>& lang) {
    const std::time_t t = static_cast<std::time_t>(fetched_at);
    std::tm local{};
    localtime_r(&t, &local);
    char when[64];
    std::strftime(when, sizeof when, "%Y-%m-%d %H:%M", &local);
    std::string text = lang("LOGBOOK_OFFLINE");
    const size_t at = text.find("%s");
    if (at != std::string::npos) text.replace(at, 2, when);
    return text;
}

LogbookStore* AccountLogbook(const std::string& user_id, std::string* set_aside, const std::string& email,
                             const std::string& user_name) {
    if (user_id.empty()) return nullptr;
    if (g_store && g_store->user_id() == user_id) return g_store.get();
    g_store.reset();
    if (g_store_path.empty()) g_store_path = LogbookStorePath();
    if (g_store_path.empty()) return nullptr;
    LogbookStore::Opened opened = LogbookStore::Open(g_store_path, user_id);
    if (set_aside) *set_aside = opened.set_aside;
    g_store = std::move(opened.store);
    if (g_store && !email.empty()) g_store->RememberAccount(email, user_name);
    return g_store.get();
}

void CloseAccountLogbook() {
    g_store.reset();
    g_store_path.clear();
}

namespace {
std::string g_month_shown;
}

void NoteMonthShown(const std::string& month_key) {
    g_month_shown = month_key;
}

const std::string& MonthShown() {
    return g_month_shown;
}

}  // namespace vorta_divelog
