// The progress dialog seen through the workers' progress sink.
#pragma once

#include <string>

#include "app/progress_sink.h"

class ProgressDlg;

// Stage keys and messages are shown in the current language. Counter and
// percentage updates that would not change what the page shows are not sent
// again. Only the first end() reaches the dialog: one sink serves one show,
// and a second end would close the next one.
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
    bool without_dialog() override;

    bool ended() const { return ended_; }

private:
    ProgressDlg& dlg_;
    std::string last_counters_, last_progress_;
    bool ended_ = false;
};
