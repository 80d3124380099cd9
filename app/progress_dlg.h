// The progress dialog of the long device operations (sync, firmware update,
// dive-site database update): "progress.htm", 420 x 200, no drag band, a
// page dialog like the others (html_dlg.h). RunUnderProgress
// (progress_worker.h) runs a worker under it and keeps this protocol between
// the controller (UI thread) and its worker thread:
//   1. the controller starts the worker, then calls DoModal();
//   2. the worker reports with set_status / set_text2 / set_progress at
//      once, while the page loads (it may wait for the page with
//      wait_ready(), but need not);
//   3. the worker ends the dialog with end(result); DoModal returns that
//      result and the controller joins the worker.
// The worker's calls are carried to the UI thread and reach the page in the
// order they were made. Of the calls that arrive before the page has loaded
// the latest text of each element is kept and shown once it has loaded.
//
// Optional cancel: set_cancellable(true) before DoModal shows the page's
// "cancel" element; a click on it sets a flag the worker polls with
// cancel_requested(). Otherwise "cancel" is hidden.
//
// Optional delay (set_show_after): work that is over within a short time
// shows no dialog, which would only flash. RunUnderProgress then calls
// begin() before starting the worker and DoModalAfter() instead of
// DoModal(), and keeps the windows from taking input for the whole run
// (ui::InputBlock); the dialog comes up once the delay has passed unless the
// worker has ended it or asked where its message goes (message_parent) by
// then.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "base/auto_reset_event.h"
#include "app/ui_types.h"

class ProgressDlg {
public:
    ProgressDlg();
    ~ProgressDlg();
    ProgressDlg(const ProgressDlg&) = delete;
    ProgressDlg& operator=(const ProgressDlg&) = delete;

    // Size in device pixels.
    static int width();
    static int height();

    // Signalled once per show, when the page has loaded. Auto-reset.
    AutoResetEvent ready_event;

    // UI thread: shows the dialog modally until a worker calls end(); returns
    // the result given to end(), or -1 when it cannot be shown.
    int DoModal(WindowHandle parent = 0);

    // --- from the worker thread (any thread) ---
    // Waits at most `timeout_ms` for the page; true when it signalled.
    bool wait_ready(int timeout_ms = 1000);
    // Text of "MsgText1" (the stage).
    void set_status(const std::string& text);
    // Value of "progress": a whole percentage as text, e.g. "42".
    void set_progress(const std::string& text);
    // Text of "MsgText2" (counts such as "3/10 12288/40960").
    void set_text2(const std::string& text);
    // Ends the dialog with `result`. Also valid before the dialog is up: the
    // next DoModal then returns at once with that result.
    void end(int result);

    // UI thread, before the worker of a run starts: reports from now on are
    // kept for this run's page; with a delay, the dialog is not up yet.
    void begin(WindowHandle parent);
    // UI thread: DoModal once the delay has passed. Returns the result given
    // to end(), or 0 when the run went on without the dialog (its message
    // shown over `parent` instead).
    int DoModalAfter(WindowHandle parent);

    // Worker thread: the window to show the run's message over. The dialog
    // when it is up or coming up (waiting for its page unless `ended`); the
    // run's parent when no dialog came up, which then never comes.
    WindowHandle message_parent(bool ended);
    // Worker thread: true when the run has a delay and its dialog has not
    // come up; it then never comes (as after message_parent's choice of the
    // parent). False once the dialog is up or coming up.
    bool without_dialog();

    // UI thread: forgets an end() that no show took (its show could not come
    // up), so that the next DoModal waits for its own worker.
    void drop_pending_end();

    // Cancel support (see above); applies from the next DoModal.
    void set_cancellable(bool on) { cancellable_ = on; }
    // The delay before the dialog comes up in a run (see above), 0 for at
    // once; applies from the next begin().
    void set_show_after(int ms) { show_after_ms_ = ms; }
    int show_after() const { return show_after_ms_; }
    bool cancel_requested() const;

    // Id of the dialog's window while shown, else 0.
    WindowHandle window() const;

    struct Shared;

private:
    std::shared_ptr<Shared> shared_;
    bool cancellable_ = false;
    int show_after_ms_ = 0;
};
