#include "app/progress_dlg_sink.h"

#include "app/html_dlg.h"
#include "app/progress_dlg.h"
#include "app/progress_worker.h"
#include "app/settings/lang_table.h"

bool ProgressDlgSink::wait_ready(int timeout_ms) {
    return dlg_.wait_ready(timeout_ms);
}

void ProgressDlgSink::set_status(const std::string& key) {
    dlg_.set_status(GetLangText(key));
}

void ProgressDlgSink::set_counters(const std::string& line) {
    if (line == last_counters_) return;
    last_counters_ = line;
    dlg_.set_text2(line);
}

void ProgressDlgSink::set_progress(const std::string& percent) {
    if (percent == last_progress_) return;
    last_progress_ = percent;
    dlg_.set_progress(percent);
}

void ProgressDlgSink::show_message(const std::string& key) {
    // Modal over the progress dialog, or over the run's parent when the
    // dialog did not come up; the worker waits until the message is closed.
    ShowMsgDlg(GetLangText(key), std::string(), dlg_.message_parent(ended_));
}

void ProgressDlgSink::end(int result) {
    if (ended_) return;
    ended_ = true;
    dlg_.end(result);
}

bool ProgressDlgSink::cancel_requested() {
    return dlg_.cancel_requested();
}

bool ProgressDlgSink::without_dialog() {
    return dlg_.without_dialog();
}
