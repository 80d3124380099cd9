#include "app/progress_worker.h"

#include <memory>
#include <optional>

#include <boost/thread/thread.hpp>

#include "app/progress_dlg_sink.h"
#include "ui_engine/ui_engine.h"

Outcome RunUnderProgress(ProgressDlg& dlg, WindowHandle parent, const std::function<void(ProgressSink&)>& work) {
    if (!ui::EngineReady() || !ui::IsUiThread()) return Outcome::Failed("USB_ERROR");
    dlg.ready_event.Reset();
    // A delayed dialog: the windows take no input until the run is over, as
    // under the dialog; what the user tries meanwhile is dropped, not done
    // afterwards.
    std::optional<ui::InputBlock> block;
    if (dlg.show_after() > 0) block.emplace();
    dlg.begin(parent);
    // Set on the UI thread by the worker's last posted closure, which runs
    // after everything the worker posted before it, the dialog's end too.
    auto done = std::make_shared<bool>(false);
    boost::thread worker;
    try {
        worker = boost::thread([&dlg, &work, done] {
            {
                // No wait for the page: the dialog keeps what is reported
                // before it is up.
                ProgressDlgSink sink(dlg);
                try {
                    work(sink);
                } catch (...) {
                    // Nothing may leave the thread; the dialog still closes.
                }
                sink.end(0);
            }
            // The UI thread may already be idle in the loop below: wake it,
            // or it would hold the device and this thread until some
            // unrelated event came along.
            ui::PostToUi([done] { *done = true; });
        });
    } catch (const boost::thread_resource_error&) {
        return Outcome::Failed("USB_ERROR");
    }
    dlg.DoModalAfter(parent);
    ui::RunLoopUntil([&done] { return *done; });
    worker.join();
    // A dialog that could not come up left the worker's end unused.
    dlg.drop_pending_end();
    return Outcome::Ok();
}
