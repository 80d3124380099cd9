// The dive-log sync as the worker thread runs it, without any window:
// ask the cloud service for instructions, read the device memory ranges they
// name, post the bytes, and take the answer to the last post as the next list
// of instructions. Exactly two lists are worked through.
//
// Every failure is reported once, as a message key through the progress
// sink, and ends the sync; the link to the device is ended on every way out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/progress_sink.h"
#include "app/show_counters.h"
#include "base/outcome.h"
#include "cloud/http_post.h"
#include "device/device_link.h"
#include "sync/new_mem.h"
#include "sync/sync_instructions.h"

namespace vorta_sync {

// What the requests carry about the device and the session.
struct SyncIdentity {
    std::string model;                  // AppState.model
    std::string firmware_version_text;  // AppState.firmware_version_text, "d.ddd"
    std::string auth_header;            // the bearer header block
};

struct SyncTiming {
    int complete_pause_ms = 2000;  // "COMPLETE_UPLOAD" stays this long
};

class SyncEngine {
public:
    // `device` is identified and `cloud` connected. Every request goes with
    // the form content type.
    SyncEngine(DeviceLink& device, HttpPost& cloud, ProgressSink& sink, SyncIdentity identity,
               SyncTiming timing = SyncTiming());

    // The whole work of the worker once the progress page is up: both lists,
    // the failure's message, the closing of the progress dialog and then the
    // final EndLink, also when something throws. Ok when complete.
    Outcome Run();

    // Judges one answer: empty is "HOST_NOT_CONN"; not JSON or a "code" that
    // is not text is "HOST_ERROR"; a non-zero code is "NOT_SUPPOR_DEVICE".
    static Outcome CheckAnswer(const std::string& text);

    // Works through one list: reads each item's ranges into its buffer and
    // posts it, reading the next item while the previous post is answered.
    // Ok hands back the answer to its last post (or the input itself when
    // "tknum" is 0) for the caller to judge. A range that cannot be read or
    // does not fit fails its item with "USB_ERROR" before anything of it is
    // posted.
    Outcome RunInstructions(const std::string& answer, std::string& result);

    // Reads `ranges` one after another into `buffer`, which holds `capacity`
    // bytes. A range above 4096 bytes or past the buffer's end, or a failed
    // read, is "USB_ERROR".
    Outcome ReadFlashList(const std::vector<FlashRange>& ranges, uint8_t* buffer, size_t capacity);

    void ShowCounters();

    static constexpr uint32_t kBlockSize = 4096;

private:
    Outcome Work();
    bool Cancelled();

    DeviceLink& device_;
    HttpPost& cloud_;
    ProgressSink& sink_;
    SyncIdentity identity_;
    SyncTiming timing_;
    int firmware_number_ = 0;
    ProgressCounters counters_;
};

}  // namespace vorta_sync
