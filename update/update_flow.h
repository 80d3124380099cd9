// One device update from the user's click to the closed port, without any
// window: the dialogs it shows are behind UpdateDisplay, the device behind
// DeviceSession, the downloads behind Downloader. UpdateFunc supplies the
// real ones; tests supply fakes.
//
//   offer -> find, open, identify -> question -> worker under the progress
//   dialog -> link ended, port closed (by the session)
#pragma once

#include <functional>
#include <string>

#include "app/progress_sink.h"
#include "base/outcome.h"
#include "device/device_session.h"
#include "update/update_engine.h"

namespace vorta_update {

// What an update shows the user.
class UpdateDisplay {
public:
    virtual ~UpdateDisplay() = default;
    // Text of a message key in the current language.
    virtual std::string Text(const std::string& key) = 0;
    // A modal message with the text of `key` (and of `detail_key` as its
    // second line, when not empty).
    virtual void ShowMessage(const std::string& key, const std::string& detail_key) = 0;
    // A yes/no question; true for yes.
    virtual bool Confirm(const std::string& question) = 0;
    // Runs `work` on a worker thread under the progress dialog and returns
    // once the worker has finished. Failed when no worker could be started.
    virtual Outcome RunWorker(const std::function<void(ProgressSink&)>& work) = 0;
};

class UpdateFlow {
public:
    UpdateFlow(UpdateDisplay& display, Downloader& downloader, UpdateTiming timing = UpdateTiming())
        : display_(display), downloader_(downloader), timing_(timing) {}

    // Fetches the offer of `kind` into `folder` and keeps its text (and, for
    // the firmware, the offered version) until the next load. True when it
    // is usable.
    bool LoadOffer(OfferKind kind, const std::string& url, const std::string& folder);

    // The whole update on the UI thread: loads the offer, opens `session`
    // (with the configured port `port_override`), copies the identity into
    // AppState, asks, and runs Worker under the progress dialog. Every
    // failure before the worker is shown as a message. Ok when the update
    // completed; Cancelled when the user declined (the link is ended);
    // otherwise failed with the key shown.
    Outcome Start(OfferKind kind, const std::string& url, const std::string& folder, DeviceSession& session,
                  const std::string& port_override);

    // The worker thread's part, on the offer loaded last for `kind`.
    Outcome Worker(OfferKind kind, DeviceLink& device, ProgressSink& sink);

    const std::string& offer_text(OfferKind kind) const { return Offer(kind).text; }
    // The offered firmware version for display ("1.026"); "" when none.
    const std::string& offered_version() const { return offered_version_; }

private:
    struct LoadedOffer {
        std::string text;    // the whole offer document as downloaded
        std::string folder;  // where its files go
    };
    LoadedOffer& Offer(OfferKind kind) { return kind == OfferKind::kFirmware ? firmware_ : dive_site_; }
    const LoadedOffer& Offer(OfferKind kind) const { return kind == OfferKind::kFirmware ? firmware_ : dive_site_; }

    UpdateDisplay& display_;
    Downloader& downloader_;
    UpdateTiming timing_;
    LoadedOffer firmware_, dive_site_;
    std::string offered_version_;
};

}  // namespace vorta_update
