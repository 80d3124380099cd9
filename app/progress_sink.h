// The progress dialog as a worker thread sees it: stage keys, the counter
// line, the percentage, modal messages, the end of the dialog and the user's
// request to stop. Display-free, so that the device operations' workers run
// without a window in tests; ProgressDlgSink (progress_dlg_sink.h) puts the
// real dialog behind it.
#pragma once

#include <string>

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
    // True once the user asked to stop.
    virtual bool cancel_requested() = 0;
    // True when the work ran without a dialog that its user saw (its delay
    // not yet passed), which from now on never comes up: a closing message
    // may then go where the work was started from instead of over a dialog.
    virtual bool without_dialog() { return false; }
};

// Shows nothing (benchmarks, tools); keeps the last message key.
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
