#include "update/update_flow.h"

#include "base/app_state.h"

namespace vorta_update {

bool UpdateFlow::LoadOffer(OfferKind kind, const std::string& url, const std::string& folder) {
    LoadedOffer& offer = Offer(kind);
    offer.folder = folder;
    const bool usable = vorta_update::LoadOffer(kind, downloader_, url, folder, offer.text);
    if (kind == OfferKind::kFirmware) offered_version_ = OfferedFirmwareVersion(offer.text).value_or("");
    return usable;
}

Outcome UpdateFlow::Start(OfferKind kind, const std::string& url, const std::string& folder, DeviceSession& session,
                          const std::string& port_override) {
    auto fail = [this](const std::string& key, const std::string& detail = std::string()) {
        display_.ShowMessage(key, detail);
        return Outcome::Failed(key);
    };

    if (!LoadOffer(kind, url, folder)) return fail("NO_UPDATE_INFO");

    const bool opened = session.Open(port_override);
    if (session.identify_sent()) {
        AppState.firmware_version_text = session.identity().firmware_version_text;
        AppState.info_value = session.identity().info_value;
        AppState.model = session.identity().model;
    }
    if (!opened) return fail(session.failure_key(), session.failure_detail_key());

    // The versions are not compared: the question comes even when they are
    // equal, so that a device can be written again.
    const std::string question = kind == OfferKind::kFirmware
                                     ? FirmwareQuestion(display_.Text("FIRMWARE_INFO"),
                                                        session.identity().firmware_version_text, offered_version_)
                                     : display_.Text("SURE_UPDATE_DS");
    if (!display_.Confirm(question)) {
        session.EndLink();
        return Outcome::Cancelled();
    }

    DeviceLink& device = session.link();
    Outcome result = Outcome::Failed("USB_ERROR");
    Outcome run =
        display_.RunWorker([this, kind, &device, &result](ProgressSink& sink) { result = Worker(kind, device, sink); });
    if (!run.ok()) {
        // No worker ran: the link is identified, so it is ended here.
        session.EndLink();
        return fail(run.key);
    }
    return result;
}

Outcome UpdateFlow::Worker(OfferKind kind, DeviceLink& device, ProgressSink& sink) {
    const LoadedOffer& offer = Offer(kind);
    return RunUpdateWorker(kind, offer.text, offer.folder, device, downloader_, sink, timing_);
}

}  // namespace vorta_update
