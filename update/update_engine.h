// The device updates as they run, without any window: fetching an offer,
// the confirmation text, and the worker that downloads the offer's files
// and writes them to the dive computer block by block.
//
// The firmware update and the dive-site database update share all of it;
// they differ only in the offer, the local file names, the question and the
// firmware's closing announcement (FinishFirmwareUpdate).
#pragma once

#include <cstdint>
#include <string>

#include "app/progress_sink.h"
#include "base/outcome.h"
#include "cloud/http_post.h"
#include "device/device_link.h"
#include "update/update_offer.h"

namespace vorta_update {

// Fetches an absolute URL into a file. The file is replaced only by a
// whole, successful download; a failed one leaves an earlier file as it was
// and no partial one. A body of more than `max_bytes` is stopped as soon as
// that shows (kTooLarge).
class Downloader {
public:
    virtual ~Downloader() = default;
    virtual DownloadResult Download(const std::string& url, const std::string& path, uint64_t max_bytes) = 0;
};

// The real one: download_file with the configured transport settings (the
// cloud's trust), https only, without flushing each file to the disk.
class HttpDownloader : public Downloader {
public:
    DownloadResult Download(const std::string& url, const std::string& path, uint64_t max_bytes) override;
};

struct UpdateTiming {
    // How long the final line ("UPDATE_COMPLETE" or the failure) stays up
    // before the progress dialog closes.
    int status_pause_ms = 2000;
};

// Downloads the offer from `url` (at most kMaxOfferBytes) to its file in
// `folder` and reads that file into `text`. True when the text is usable
// (OfferUsable). Only an offer fetched by this call is ever read: when the
// download fails, `text` stays empty and an offer file left by an earlier
// download is deleted, since the cloud no longer stands behind it. No
// folder: false, and nothing is fetched.
bool LoadOffer(OfferKind kind, Downloader& downloader, const std::string& url, const std::string& folder,
               std::string& text);

// The firmware question: `format` (the text of "FIRMWARE_INFO") with its
// first "%s" replaced by the installed version and its second by the
// offered one; "%%" is a percent sign, every other "%" stays as it is. At
// most 4095 characters.
std::string FirmwareQuestion(const std::string& format, const std::string& installed, const std::string& offered);

// The worker of one update, once the progress page is up. Reports
// "GET_UPDATE_FILE" and then, per file in offer order: "GET_UPDATE_FILE",
// download into `folder` (stopped as soon as it passes "size"), length
// check against "size", "UPDATING", the
// blocks at "address" + i * 4096 (the last one filled up with 0xFF), with
// the counter line after each step. After the last file the firmware
// update sends FinishFirmwareUpdate; both then show "UPDATE_COMPLETE".
//
// An offer with an unusable entry is refused before anything is fetched or
// written: "UNABLE_GET_FILE" for an entry that cannot be read, "FILE_ERROR"
// for an address or size outside the device's range. A failed download is
// "UNABLE_GET_FILE", a length other than "size" "FILE_ERROR", a refused
// write "USB_ERROR"; no later file is touched then, and every local file of
// the offer is deleted, so that no image of a failed update stays behind to
// be taken for a good one. The last line stays up
// for the pause, then the dialog is ended and the device link is ended, on
// every way out (an exception included). Ok when complete; otherwise failed
// with the key shown.
Outcome RunUpdateWorker(OfferKind kind, const std::string& offer_text, const std::string& folder, DeviceLink& device,
                        Downloader& downloader, ProgressSink& sink, UpdateTiming timing = UpdateTiming());

}  // namespace vorta_update
