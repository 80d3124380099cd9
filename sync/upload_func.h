// Dive-log sync controller of the main page: a click on "upload" copies the
// dive computer's log memory to the signed-in account, as the cloud service
// directs (sync_engine.h), while the progress dialog shows the stages.
#pragma once

#include <atomic>
#include <string>

#include "app/func_base.h"
#include "app/progress_dlg.h"

class DeviceLink;
class HttpPost;
class ProgressSink;
namespace vorta_divelog {
class LogbookStore;
}

class UploadFunc : public func_base {
public:
    void on_init(WindowHandle window) override;
    void on_release() override;
    void on_event(const ElementHandle& element, const EventParams& params) override;

    // UI thread: open a device session, connect to the cloud, run SyncWorker
    // under the modal progress dialog, then ask the calendar to reload; the
    // session closes the port when this returns.
    void StartSync();

    // Worker thread: the whole exchange with the device and the cloud.
    // `logbook` (may be null): the account's stored logbook, whose months but
    // `month_shown` are refreshed after a complete sync.
    void SyncWorker(HttpPost& http, DeviceLink& device, ProgressSink& sink, vorta_divelog::LogbookStore* logbook,
                    const std::string& month_shown);

private:
    ProgressDlg progress_;
    std::atomic<bool> busy_{false};
};
