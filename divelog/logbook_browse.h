// Browsing from the logbook store first: the stored answer is shown at once,
// then the cloud is asked and the page changes only when its answer differs.
// When the cloud cannot be reached the stored copy stays, and the page says
// that the logbook is offline and when it was last refreshed.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "divelog/divelog_cloud.h"
#include "divelog/logbook_store.h"

namespace vorta_divelog {

struct StoreFirstRead {
    CloudAnswer answer;  // the cloud's answer, as without a store
    // False when no answer came back at all (no connection, nothing sent).
    bool answered = false;
    // When a stored copy was shown: the time it was fetched.
    std::optional<int64_t> stored_at;
    // The cloud could not be reached and the stored copy is shown instead. An
    // answer the cloud sent but that is unusable is not "offline": it is
    // reported as before.
    bool offline() const { return stored_at.has_value() && !answered; }
};

// Shows the stored answer for (`kind`, `key`) when there is one, then GETs
// `path` on `http` (CloudGet) and stores a successful answer (fetched at
// `now`; the store refuses what it cannot use). The cloud's answer is shown
// only when it differs from the stored one, or when the stored one could not
// be drawn (`show` returned false, e.g. the page was still loading). `store`
// may be null: the cloud alone, as before.
StoreFirstRead ReadStoreFirst(LogbookStore* store, StoredKind kind, const std::string& key, HttpPost& http,
                              const std::string& path, const std::function<bool(const Json::Value&)>& show,
                              int64_t now);

// "view" of one dive log, store first: the stored dive log is shown on `page`
// (ShowDiveLog) at once, the cloud's only when it differs. `page_ready` tells
// whether the page takes calls now (a loading page drops them). A success
// without a "divelog" object shows nothing and reads as "DATA_ERROR".
StoreFirstRead ViewDiveLogStoreFirst(LogbookStore* store, HttpPost& http, const std::string& divelog_id, int32_t unit,
                                     const LangFunction& lang, vorta_browser::MapScriptSink& page,
                                     const std::function<bool()>& page_ready, int64_t now);

// The store's keys of a month and of a day.
std::string MonthKey(int year, int month);         // "YYYYMM"
std::string DayKey(int year, int month, int day);  // "YYYYMMDD"

// The message line while offline: the text of "LOGBOOK_OFFLINE" with the
// local time `fetched_at` ("YYYY-MM-DD hh:mm") put in for its "%s".
std::string OfflineLine(int64_t fetched_at, const std::function<std::string(const std::string&)>& lang);

// The store of the signed-in account, opened on first use (after the window
// shows) and again when the account changes; null when there is no account or
// no store could be made. `set_aside` receives, once, the path of a damaged
// file that was moved out of the way. When it opens, a non-empty `email` is
// noted as this account's (see FindStoredAccount).
LogbookStore* AccountLogbook(const std::string& user_id, std::string* set_aside, const std::string& email = "",
                             const std::string& user_name = "");
// Closes the open store (tests, sign-out).
void CloseAccountLogbook();

// The month the calendar shows ("YYYYMM", "" before the first), noted by the
// calendar when it loads one, so that a refresh after a sync leaves it to the
// calendar's own reload. UI thread.
void NoteMonthShown(const std::string& month_key);
const std::string& MonthShown();

}  // namespace vorta_divelog
