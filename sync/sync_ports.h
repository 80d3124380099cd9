// The three things the sync worker talks to, kept small so that the whole
// workflow runs without a window, a serial port or a network in tests.
// The real `Usb`, `HttpPost` and `ProgressDlg` are wrapped by thin adapters
// (sync/sync_adapters.h).
#pragma once

#include <cstdint>
#include <string>

namespace vorta_sync {

// The connected dive computer, already identified.
class SyncDevice {
public:
    virtual ~SyncDevice() = default;
    // Reads the block at `addr` and hands back its first `len` bytes
    // (len <= 4096). False on any transport or checksum failure.
    virtual bool ReadBlock(uint32_t addr, uint8_t* out, uint32_t len) = 0;
    // Ends the link; the number of bytes written (0 on failure).
    virtual int EndLink() = 0;
};

// The cloud service over one kept connection.
class SyncCloud {
public:
    virtual ~SyncCloud() = default;
    // One request with the form content type; the raw answer body, or empty
    // when the request could not be sent.
    virtual std::string request(const std::string& verb, const std::string& path,
                                const uint8_t* body, uint32_t body_len,
                                const std::string& headers) = 0;
};

// The progress dialog as the worker sees it. Texts are message keys; the
// adapter looks up the localised text.
class ProgressSink {
public:
    virtual ~ProgressSink() = default;
    // Waits until the progress page has loaded, at most `timeout_ms`.
    virtual bool wait_ready(int timeout_ms) = 0;
    // Stage line ("MsgText1") from a message key.
    virtual void set_status(const std::string& key) = 0;
    // Counter line ("MsgText2"), already formatted.
    virtual void set_counters(const std::string& line) = 0;
    // Percentage for the "progress" element, formatted with "%d".
    virtual void set_progress(const std::string& percent) = 0;
    // Shows a modal message with the key's text; returns once it is closed.
    virtual void show_message(const std::string& key) = 0;
    // Closes the progress dialog with `result`.
    virtual void end(int result) = 0;
    // True once the user asked to stop the sync.
    virtual bool cancel_requested() = 0;
};

}  // namespace vorta_sync
