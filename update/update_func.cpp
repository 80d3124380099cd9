#include "update/update_func.h"

#include "app/html_dlg.h"
#include "app/progress_worker.h"
#include "app/settings/lang_table.h"
#include "base/app_state.h"
#include "base/config.h"
#include "base/paths.h"
#include "cloud/cloud_api.h"
#include "device/device_session.h"
#include "ui_engine/ui_engine.h"

using vorta_update::OfferKind;

// The dialogs of an update, over the controller's page window.
class UpdateFunc::Display : public vorta_update::UpdateDisplay {
public:
    explicit Display(UpdateFunc& owner) : owner_(owner) {}

    std::string Text(const std::string& key) override { return GetLangText(key); }
    void ShowMessage(const std::string& key, const std::string& detail_key) override {
        ShowMsgDlg(GetLangText(key), detail_key.empty() ? std::string() : GetLangText(detail_key), owner_.window_);
    }
    bool Confirm(const std::string& question) override { return ShowYesNoDlg(question, owner_.window_) == 1; }
    Outcome RunWorker(const std::function<void(ProgressSink&)>& work) override {
        // A half-written firmware is worse than a slow update: no Cancel,
        // and the dialog refuses to close while the worker writes.
        owner_.progress_.set_cancellable(false);
        return RunUnderProgress(owner_.progress_, owner_.window_, work);
    }

private:
    UpdateFunc& owner_;
};

namespace {

// Clears a flag when the action ends, whichever way.
struct BusyScope {
    std::atomic<bool>& flag;
    ~BusyScope() { flag = false; }
};

}  // namespace

DownloadResult UpdateFunc::Downloader::Download(const std::string& url, const std::string& path, uint64_t max_bytes) {
    return ui::WaitOffUi([&] { return HttpDownloader::Download(url, path, max_bytes); });
}

UpdateFunc::UpdateFunc() : display_(std::make_unique<Display>(*this)), flow_(*display_, downloader_) {}

UpdateFunc::~UpdateFunc() = default;

void UpdateFunc::on_init(WindowHandle window) {
    func_base::on_init(window);
    progress_.ready_event.Reset();
}

void UpdateFunc::on_release() {
    progress_.ready_event.Reset();
}

void UpdateFunc::on_event(const ElementHandle&, const EventParams& params) {
    if (AppState.offline_session &&
        (IsEvent(params, kEventClick, "update_fw") || IsEvent(params, kEventClick, "update_ds"))) {
        ShowMsgDlg(GetLangText("NEEDS_CONNECTION"), std::string(), window_);
        return;
    }
    if (IsEvent(params, kEventClick, "update_fw")) StartFirmwareUpdate();
    if (IsEvent(params, kEventClick, "update_ds")) StartDiveSiteUpdate();
}

bool UpdateFunc::LoadFirmwareOffer() {
    return flow_.LoadOffer(OfferKind::kFirmware, UrlFirmwareManifest(), DataFolder());
}

bool UpdateFunc::LoadDiveSiteOffer() {
    return flow_.LoadOffer(OfferKind::kDiveSite, UrlDivesiteManifest(), DataFolder());
}

void UpdateFunc::StartFirmwareUpdate() {
    StartUpdate(OfferKind::kFirmware);
}

void UpdateFunc::StartDiveSiteUpdate() {
    StartUpdate(OfferKind::kDiveSite);
}

void UpdateFunc::FirmwareWorker(DeviceLink& device, ProgressSink& sink) {
    flow_.Worker(OfferKind::kFirmware, device, sink);
}

void UpdateFunc::DiveSiteWorker(DeviceLink& device, ProgressSink& sink) {
    flow_.Worker(OfferKind::kDiveSite, device, sink);
}

void UpdateFunc::StartUpdate(OfferKind kind) {
    // The UI thread keeps serving the loop while the worker runs, so a
    // second click must not start a second update.
    if (busy_.exchange(true)) return;
    BusyScope busy{busy_};
    const std::string url = kind == OfferKind::kFirmware ? UrlFirmwareManifest() : UrlDivesiteManifest();
    // The session ends the link and closes the port when this returns.
    DeviceSession session;
    flow_.Start(kind, url, DataFolder(), session, GetConfig().device_port);
}
