// The real device link and cloud connection seen through the sync's small
// interfaces (sync_ports.h); the progress dialog's adapter is in
// progress_dlg_sink.h.
#pragma once

#include <string>

#include "sync/sync_ports.h"

class Usb;
class HttpPost;

namespace vorta_sync {

class UsbSyncDevice : public SyncDevice {
public:
    explicit UsbSyncDevice(Usb& usb) : usb_(usb) {}
    bool ReadBlock(uint32_t addr, uint8_t* out, uint32_t len) override;
    int EndLink() override;

private:
    Usb& usb_;
};

// Every request goes with the form content type.
class HttpSyncCloud : public SyncCloud {
public:
    explicit HttpSyncCloud(HttpPost& http) : http_(http) {}
    std::string request(const std::string& verb, const std::string& path, const uint8_t* body, uint32_t body_len,
                        const std::string& headers) override;

private:
    HttpPost& http_;
};

// Shows nothing (benchmarks, tools).
class NullProgressSink : public ProgressSink {
public:
    bool wait_ready(int) override { return true; }
    void set_status(const std::string&) override {}
    void set_counters(const std::string&) override {}
    void set_progress(const std::string&) override {}
    void show_message(const std::string& key) override { last_message = key; }
    void end(int) override {}
    bool cancel_requested() override { return false; }
    std::string last_message;
};

}  // namespace vorta_sync
