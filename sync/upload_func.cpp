#include "sync/upload_func.h"

#include "app/html_dlg.h"
#include "app/progress_worker.h"
#include "app/settings/lang_table.h"
#include "base/app_state.h"
#include "base/config.h"
#include "cloud/cloud_config.h"
#include "cloud/http_post.h"
#include "device/device_session.h"
#include "divelog/logbook_browse.h"
#include "divelog/offline_save.h"
#include "sync/sync_engine.h"
#include "ui_engine/element.h"

#include <ctime>

namespace {

void ShowKey(WindowHandle parent, const std::string& key, const std::string& second_key = std::string()) {
    ShowMsgDlg(GetLangText(key), second_key.empty() ? std::string() : GetLangText(second_key), parent);
}

// Clears a flag when the action ends, whichever way.
struct BusyScope {
    std::atomic<bool>& flag;
    ~BusyScope() { flag = false; }
};

}  // namespace

void UploadFunc::on_init(WindowHandle window) {
    func_base::on_init(window);
    progress_.ready_event.Reset();
}

void UploadFunc::on_release() {
    progress_.ready_event.Reset();
}

void UploadFunc::on_event(const ElementHandle&, const EventParams& params) {
    if (IsEvent(params, kEventClick, "upload")) StartSync();
}

void UploadFunc::StartSync() {
    // The UI thread keeps serving the loop while the worker runs, so a
    // second click must not start a second sync.
    if (busy_.exchange(true)) return;
    BusyScope busy{busy_};
    if (AppState.offline_session) {
        ShowMsgDlg(GetLangText("NEEDS_CONNECTION"), std::string(), window_);
        return;
    }

    // Find, open and identify the device; the session ends the link and
    // closes the port when this returns.
    DeviceSession session;
    const bool opened = session.Open(GetConfig().device_port);
    if (session.identify_sent()) {
        AppState.firmware_version_text = session.identity().firmware_version_text;
        AppState.info_value = session.identity().info_value;
        AppState.model = session.identity().model;
    }
    if (!opened) {
        ShowKey(window_, session.failure_key(), session.failure_detail_key());
        return;
    }

    HttpPost http(HttpOptions::FromConfig());
    if (!http.connect(CloudHost(), kCloudPort)) {
        session.EndLink();
        ShowKey(window_, "HOST_NOT_CONN");
        return;
    }

    progress_.set_cancellable(true);
    DeviceLink& device = session.link();
    // The account's logbook copy, opened here on the UI thread; the worker
    // refreshes it once the sync is complete.
    vorta_divelog::LogbookStore* logbook = vorta_divelog::AccountLogbook(AppState.user_id, nullptr);
    const std::string shown = vorta_divelog::MonthShown();
    Outcome run = RunUnderProgress(progress_, window_, [this, &http, &device, logbook, &shown](ProgressSink& sink) {
        SyncWorker(http, device, sink, logbook, shown);
    });
    if (!run.ok()) {
        // No worker: the link is identified, so it is ended here.
        session.EndLink();
        ShowKey(window_, run.key);
        return;
    }

    // The calendar and statistics reload.
    ui::FindInFrame(window_, "framepage1", "synclog").PostClick();
}

void UploadFunc::SyncWorker(HttpPost& http, DeviceLink& device, ProgressSink& sink,
                            vorta_divelog::LogbookStore* logbook, const std::string& month_shown) {
    vorta_sync::SyncEngine engine(
        device, http, sink,
        vorta_sync::SyncIdentity{AppState.model, AppState.firmware_version_text, make_bearer_header()});
    if (!engine.Run().ok() || !logbook) return;
    // The new dives may be in any month: every stored month is asked for
    // again, but the one shown: the calendar reloads it afterwards, and the
    // statistics with it.
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    vorta_divelog::RefreshStoredMonths(*logbook, http, local.tm_year + 1900, local.tm_mon + 1, now, month_shown);
}
