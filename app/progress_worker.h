// A worker thread under the progress dialog: the one way the long device
// operations (dive-log sync, firmware update, dive-site database update) run
// their work while the user watches.
//
//   Outcome started = RunUnderProgress(progress_, window_, [&](ProgressSink& sink) {
//       ... the work, reporting through `sink` ...
//   });
//   if (!started.ok()) { session.EndLink(); show started.key; }
//
// On the UI thread: starts the worker (boost::thread) and shows `dlg`
// modally over `parent` (0: the active window); with a delay
// (ProgressDlg::set_show_after) only once the work has lasted that long, the
// windows taking no input meanwhile, and a message of the work shown over
// `parent` instead when it comes first. On the worker: runs `work` at
// once, while the dialog's page loads (what it reports meanwhile is shown when
// the page is up), then ends the dialog unless the work already did
// (ProgressDlgSink ends it once). An
// exception leaving `work` is swallowed there and still ends the dialog.
// Back on the UI thread the loop keeps running until the worker is done (it
// may still show a message or end a device link after the dialog closed),
// and the worker is joined before this returns.
#pragma once

#include <functional>

#include "app/progress_dlg.h"
#include "app/progress_sink.h"
#include "app/ui_types.h"
#include "base/outcome.h"

// The longest wait of a worker for the progress page to load (before it puts
// a message over it).
constexpr int kProgressReadyWaitMs = 1000;

// The delay of the progress dialog of work that is often over at once (the
// logbook's offline save and export): a dialog shown and closed within it
// would only flash.
constexpr int kProgressShowAfterMs = 400;

// Ok once the work has run and its thread is joined; Failed("USB_ERROR")
// when no thread could be started (nothing ran, nothing was shown). UI
// thread.
Outcome RunUnderProgress(ProgressDlg& dlg, WindowHandle parent, const std::function<void(ProgressSink&)>& work);
