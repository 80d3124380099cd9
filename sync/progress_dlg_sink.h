// The progress dialog seen through the sync's progress sink.
#pragma once

#include <string>

#include "sync/sync_ports.h"

class ProgressDlg;

namespace vorta_sync {

// Stage keys and messages are shown in the current language. Counter and
// percentage updates that would not change what the page shows are not
// sent again.
class ProgressDlgSink : public ProgressSink {
public:
    explicit ProgressDlgSink(ProgressDlg& dlg) : dlg_(dlg) {}
    bool wait_ready(int timeout_ms) override;
    void set_status(const std::string& key) override;
    void set_counters(const std::string& line) override;
    void set_progress(const std::string& percent) override;
    void show_message(const std::string& key) override;
    void end(int result) override;
    bool cancel_requested() override;

private:
    ProgressDlg& dlg_;
    std::string last_counters_, last_progress_;
};

}  // namespace vorta_sync
