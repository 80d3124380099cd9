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

#include "sync/new_mem.h"
#include "sync/show_counters.h"
#include "sync/sync_instructions.h"
#include "sync/sync_ports.h"

namespace vorta_sync {

// What the requests carry about the device and the session.
struct SyncIdentity {
    std::string model;                  // AppState.model
    std::string firmware_version_text;  // AppState.firmware_version_text, "d.ddd"
    std::string auth_header;            // the bearer header block
};

struct SyncTiming {
    int ready_wait_ms = 1000;      // wait for the progress page to load
    int complete_pause_ms = 2000;  // "COMPLETE_UPLOAD" stays this long
};

enum class SyncResult { kComplete, kFailed, kCancelled };
enum class Step { kOk, kFailed, kCancelled };

class SyncEngine {
public:
    SyncEngine(SyncDevice& device, SyncCloud& cloud, ProgressSink& sink, SyncIdentity identity,
               SyncTiming timing = SyncTiming());

    // The whole worker: both lists, the closing of the progress dialog and
    // the final EndLink, also when something throws.
    SyncResult Run();

    // Judges one answer; on failure shows its message and returns false.
    // Empty: "HOST_NOT_CONN"; not JSON or a "code" that is not text:
    // "HOST_ERROR"; a non-zero code: "NOT_SUPPOR_DEVICE".
    bool CheckAnswer(const std::string& text);

    // Works through one list: reads each item's ranges into its buffer and
    // posts it, reading the next item while the previous post is answered.
    // kOk hands back the answer to its last post (or the input itself when
    // "tknum" is 0) for the caller to judge; kFailed means the failure has
    // been shown already. A range that cannot be read or does not fit fails
    // its item with "USB_ERROR" before anything of it is posted.
    Step RunInstructions(const std::string& answer, std::string& result);

    // Reads `ranges` one after another into `buffer`, which holds `capacity`
    // bytes. A range above 4096 bytes or past the buffer's end fails.
    Step ReadFlashList(const std::vector<FlashRange>& ranges, uint8_t* buffer, size_t capacity);

    void ShowCounters();

    static constexpr uint32_t kBlockSize = 4096;

private:
    void Fail(const std::string& key);
    bool Cancelled();

    SyncDevice& device_;
    SyncCloud& cloud_;
    ProgressSink& sink_;
    SyncIdentity identity_;
    SyncTiming timing_;
    int firmware_number_ = 0;
    ProgressCounters counters_;
};

}  // namespace vorta_sync
