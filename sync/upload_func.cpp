#include "sync/upload_func.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/serial_port.hpp>
#include <boost/system/system_error.hpp>
#include <boost/thread/thread.hpp>
#include <memory>

#include "base/app_state.h"
#include "app/html_dlg.h"
#include "base/config.h"
#include "app/settings/lang_table.h"
#include "cloud/cloud_config.h"
#include "cloud/http_post.h"
#include "device/device_port.h"
#include "device/usb.h"
#include "sync/progress_dlg_sink.h"
#include "sync/sync_adapters.h"
#include "sync/sync_engine.h"
#include "ui_engine/element.h"
#include "ui_engine/ui_engine.h"

namespace {

void ShowKey(WindowHandle parent, const char* key, const std::string& second = std::string()) {
    ShowMsgDlg(GetLangText(key), second, parent);
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

void UploadFunc::on_release() { progress_.ready_event.Reset(); }

void UploadFunc::on_event(const ElementHandle&, const EventParams& params) {
    if (IsEvent(params, kEventClick, "upload")) StartSync();
}

void UploadFunc::StartSync() {
    // The UI thread keeps serving the loop while it waits for the worker
    // below, so a second click must not start a second sync.
    if (busy_.exchange(true)) return;
    BusyScope busy{busy_};

    // 1. The device's port.
    DevicePortResult found = SearchDevicePort(GetConfig().device_port);
    if (found.status != DevicePortStatus::kFound) {
        ShowKey(window_, "USB_NOT_CONN",
                found.status == DevicePortStatus::kAccessDenied ? GetLangText("USB_ACCESS_DENIED") : std::string());
        return;
    }

    // 2. The connection lives on this stack for the action only.
    boost::asio::io_context io;
    boost::asio::serial_port port(io);
    std::unique_ptr<Usb> usb;
    try {
        usb = std::make_unique<Usb>(port, found.path);
    } catch (const boost::system::system_error&) {
        // Unplugged or taken between the search and the open: nothing was
        // sent, so there is no link to end.
        ShowKey(window_, "USB_NOT_CONN");
        return;
    }
    auto close_port = [&usb] {
        try {
            usb->Close();
        } catch (const boost::system::system_error&) {
        }
    };

    // 3. Identify.
    AppState.firmware_version_text = "0.000";
    AppState.info_value = 0;
    AppState.model = "K7";
    if (!usb->GetInfo(AppState.firmware_version_text, AppState.info_value, AppState.model)) {
        ShowKey(window_, "NOT_SUPPOR_DEVICE");
        close_port();
        return;
    }

    // 4. The cloud.
    HttpPost http(HttpOptions::FromConfig());
    if (!http.connect(CloudHost(), kCloudPort)) {
        usb->EndLink();
        ShowKey(window_, "HOST_NOT_CONN");
        close_port();
        return;
    }

    // 5.-7. Worker and modal progress dialog; the worker ends the dialog.
    progress_.ready_event.Reset();
    progress_.set_cancellable(true);
    std::atomic<bool> worker_done{false};
    boost::thread worker;
    try {
        worker = boost::thread([this, &http, &usb, &worker_done] {
            SyncWorker(http, *usb);
            worker_done = true;
            // The UI thread may already be idle in the loop below, waiting
            // for this flag: wake it, or it would hold the port and the
            // worker until some unrelated event came along.
            ui::PostToUi([] {});
        });
    } catch (const boost::thread_resource_error&) {
        // No thread to be had: the link is identified, so it is ended.
        usb->EndLink();
        ShowKey(window_, "USB_ERROR");
        close_port();
        return;
    }
    progress_.DoModal(0);

    // 8. The calendar and statistics reload.
    ui::FindInFrame(window_, "framepage1", "synclog").PostClick();

    // 9. The worker may still be showing a message or ending the link; keep
    // the loop running until it is done, so that nothing it hands to the UI
    // thread can wait for ever, then join.
    ui::RunLoopUntil([&worker_done] { return worker_done.load(); });
    worker.join();

    // 10. Close the port; the HttpPost, the port and the io_context go with
    // this scope.
    close_port();
}

void UploadFunc::SyncWorker(HttpPost& http, Usb& usb) {
    vorta_sync::UsbSyncDevice device(usb);
    vorta_sync::HttpSyncCloud cloud(http);
    vorta_sync::ProgressDlgSink sink(progress_);
    vorta_sync::SyncEngine engine(
        device, cloud, sink,
        vorta_sync::SyncIdentity{AppState.model, AppState.firmware_version_text, make_bearer_header()});
    engine.Run();
}
