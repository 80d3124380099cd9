// Device update controller of the main page and of the sign-in page:
// "update_fw" updates the dive computer's firmware, "update_ds" its built-in
// dive-site database, both from the cloud service's offers and while the
// progress dialog shows the stages (update_flow.h does the work).
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "app/func_base.h"
#include "app/progress_dlg.h"
#include "update/update_engine.h"
#include "update/update_flow.h"

class DeviceLink;
class ProgressSink;

class UpdateFunc : public func_base {
public:
    UpdateFunc();
    ~UpdateFunc() override;

    void on_init(WindowHandle window) override;
    void on_release() override;
    // "update_fw" is tested first, then "update_ds".
    void on_event(const ElementHandle& element, const EventParams& params) override;

    // UI thread: fetch the offer into DataFolder() ("features.json" /
    // "divesite.json"); true when it is usable.
    bool LoadFirmwareOffer();
    bool LoadDiveSiteOffer();
    // UI thread: the whole update (offer, device, question, worker under the
    // progress dialog); the port is closed when it returns.
    void StartFirmwareUpdate();
    void StartDiveSiteUpdate();
    // Worker thread: download the offer's files and write them.
    void FirmwareWorker(DeviceLink& device, ProgressSink& sink);
    void DiveSiteWorker(DeviceLink& device, ProgressSink& sink);

    ProgressDlg& progress() { return progress_; }

private:
    class Display;
    // The offer is fetched during the page action, the files by the worker:
    // on the UI thread the download waits off it (ui::WaitOffUi), so the
    // window keeps drawing; on the worker it is a plain download.
    class Downloader : public vorta_update::HttpDownloader {
    public:
        DownloadResult Download(const std::string& url, const std::string& path, uint64_t max_bytes) override;
    };
    void StartUpdate(vorta_update::OfferKind kind);

    ProgressDlg progress_;
    std::unique_ptr<Display> display_;
    Downloader downloader_;
    vorta_update::UpdateFlow flow_;
    std::atomic<bool> busy_{false};
};
