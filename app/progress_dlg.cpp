#include "app/progress_dlg.h"

#include <optional>
#include <utility>

#include "app/html_dlg.h"
#include "app/progress_worker.h"
#include "app/quit.h"
#include "base/app_state.h"
#include "ui_engine/ui_engine.h"

// State shared with the closures that a worker posts to the UI thread. They
// may run after a show has ended, so they hold it by shared pointer and look
// the window up by id when they run.
struct ProgressDlg::Shared {
    std::atomic<WindowHandle> window{0};
    std::atomic<bool> cancel{false};
    // UI thread only.
    bool modal_running = false;
    bool ended = false;  // end() arrived while no modal loop ran
    int end_result = 0;
    // The latest text of each element that arrived while the page was not
    // up; the page is given them once it has loaded. What arrives after an
    // end() (until the next show starts) belongs to no show and is dropped.
    std::optional<std::string> early_status, early_text2, early_progress;
    bool taking_early = true;
    // A run with a delay (begin()): where its dialog stands. Decided on the
    // UI thread only, so that the dialog and a message over the parent never
    // both come up. Set before the run's worker starts.
    std::atomic<bool> delayed{false};
    enum class Phase { kUp, kWaiting, kWithout };
    Phase phase = Phase::kUp;  // kUp: up or coming up
    WindowHandle parent = 0;
};

namespace {

constexpr int kLogicalWidth = 420;
constexpr int kLogicalHeight = 200;

// The dialog's page: "cancel" shown on request, its click passed to the
// worker as a flag.
class ProgressWnd : public DialogWnd {
public:
    ProgressWnd(std::shared_ptr<ProgressDlg::Shared> shared, bool cancellable)
        : DialogWnd("progress.htm", kLogicalWidth, kLogicalHeight),
          shared_(std::move(shared)),
          cancellable_(cancellable) {}

    void on_document_loaded(const ElementHandle&) override {
        ui::Element cancel = ui::FindById(id(), "cancel");
        if (cancellable_) {
            cancel.RemoveAttribute("hidden");
        } else {
            cancel.SetAttribute("hidden", "");
        }
    }
    void on_click(const ElementHandle&, const EventParams& params) override {
        if (IsEvent(params, kEventClick, "cancel")) shared_->cancel = true;
    }
    // Only the worker ends this dialog (end()); closing it under a running
    // worker would leave the worker reporting into nothing. The optional
    // "cancel" is the user's way to ask the worker to stop.
    bool close_veto() override { return true; }

private:
    std::shared_ptr<ProgressDlg::Shared> shared_;
    bool cancellable_;
};

using EarlyText = std::optional<std::string> ProgressDlg::Shared::*;

void ShowStatus(WindowHandle w, const std::string& text) {
    ui::FindById(w, "MsgText1").SetText(text);
}
void ShowText2(WindowHandle w, const std::string& text) {
    ui::FindById(w, "MsgText2").SetText(text);
}
void ShowProgress(WindowHandle w, const std::string& text) {
    ui::FindById(w, "progress").SetValue(text);
}

// Shows `text` with `show` on the UI thread, after every call posted before
// it; while no page is up it is kept in `early` instead (only the latest
// one), for the page that is loading.
void PostToDialog(const std::shared_ptr<ProgressDlg::Shared>& shared, EarlyText early,
                  void (*show)(WindowHandle, const std::string&), const std::string& text) {
    ui::PostToUi([shared, early, show, text] {
        WindowHandle w = shared->window.load();
        if (w != 0) show(w, text);
        else if (shared->taking_early) (*shared).*early = text;
    });
}

}  // namespace

ProgressDlg::ProgressDlg() : shared_(std::make_shared<Shared>()) {}

ProgressDlg::~ProgressDlg() = default;

int ProgressDlg::width() {
    return ScaleX(kLogicalWidth);
}
int ProgressDlg::height() {
    return ScaleY(kLogicalHeight);
}

int ProgressDlg::DoModal(WindowHandle parent) {
    if (!ui::EngineReady() || !ui::IsUiThread()) return -1;
    Shared& s = *shared_;
    s.cancel = false;
    s.taking_early = true;
    s.phase = Shared::Phase::kUp;
    if (s.ended) {
        // The worker finished before the dialog came up.
        s.ended = false;
        return s.end_result;
    }

    auto wnd = std::make_unique<ProgressWnd>(shared_, cancellable_);
    // A missing page still shows the dialog: the worker, not the page, ends it.
    if (!wnd->create(parent)) return -1;
    s.window = wnd->id();
    // What the worker reported while the page loaded; later reports follow
    // it, as they run after this.
    const std::pair<EarlyText, void (*)(WindowHandle, const std::string&)> early[] = {
        {&Shared::early_status, ShowStatus},
        {&Shared::early_text2, ShowText2},
        {&Shared::early_progress, ShowProgress}};
    for (const auto& [text, show] : early) {
        if ((s.*text).has_value()) show(s.window, *(s.*text));
        (s.*text).reset();
    }
    ready_event.Set();

    int result = 0;
    if (s.ended) {
        // end() already ran while the page loaded.
        s.ended = false;
        result = s.end_result;
    } else {
        s.modal_running = true;
        result = wnd->host()->RunModal();
        s.modal_running = false;
    }
    s.window = 0;
    // The window goes back to the engine's pool for the next dialog.
    wnd->destroy();
    // A stale signal must not satisfy the next show's wait.
    ready_event.Reset();
    return result;
}

void ProgressDlg::begin(WindowHandle parent) {
    Shared& s = *shared_;
    // A Cancel of the last run must not stop this one before its dialog is up.
    s.cancel = false;
    s.taking_early = true;
    s.parent = parent;
    s.delayed = show_after_ms_ > 0;
    s.phase = show_after_ms_ > 0 ? Shared::Phase::kWaiting : Shared::Phase::kUp;
}

int ProgressDlg::DoModalAfter(WindowHandle parent) {
    Shared& s = *shared_;
    if (s.phase == Shared::Phase::kWaiting && ui::EngineReady() && ui::IsUiThread()) {
        ui::RunLoopUntil([&s] { return s.ended || s.phase != Shared::Phase::kWaiting; }, show_after_ms_);
        if (s.phase == Shared::Phase::kWithout) return 0;
        if (s.ended) {
            // Over before the delay, without a message: nothing to show.
            s.phase = Shared::Phase::kWithout;
            s.ended = false;
            return s.end_result;
        }
    }
    return DoModal(parent);
}

bool ProgressDlg::without_dialog() {
    if (!shared_->delayed.load() || !ui::EngineReady()) return false;
    std::shared_ptr<Shared> shared = shared_;
    return ui::RunOnUiAndWait([shared] {
        // The dialog will not come up: what the run shows stands in for it.
        if (shared->phase == Shared::Phase::kWaiting) shared->phase = Shared::Phase::kWithout;
        return shared->phase == Shared::Phase::kWithout;
    });
}

WindowHandle ProgressDlg::message_parent(bool ended) {
    if (without_dialog()) return shared_->parent;
    // Modal over the dialog, once its page is up (the work starts while it
    // loads).
    if (!ended && window() == 0) wait_ready(kProgressReadyWaitMs);
    return window();
}

bool ProgressDlg::wait_ready(int timeout_ms) {
    return ready_event.Wait(timeout_ms);
}

void ProgressDlg::set_status(const std::string& text) {
    PostToDialog(shared_, &Shared::early_status, ShowStatus, text);
}

void ProgressDlg::set_progress(const std::string& text) {
    PostToDialog(shared_, &Shared::early_progress, ShowProgress, text);
}

void ProgressDlg::set_text2(const std::string& text) {
    PostToDialog(shared_, &Shared::early_text2, ShowText2, text);
}

void ProgressDlg::end(int result) {
    std::shared_ptr<Shared> shared = shared_;
    ui::PostToUi([shared, result] {
        shared->taking_early = false;
        shared->early_status.reset();
        shared->early_text2.reset();
        shared->early_progress.reset();
        if (shared->modal_running) {
            if (ui::HostWindow* w = ui::FindWindow(shared->window.load())) {
                w->EndDialog(result);
                return;
            }
        }
        shared->ended = true;
        shared->end_result = result;
    });
}

void ProgressDlg::drop_pending_end() {
    shared_->ended = false;
}

// The program being asked to end counts as a Cancel where the user could
// press one.
bool ProgressDlg::cancel_requested() const {
    return shared_->cancel.load() || (cancellable_ && QuitRequested());
}

WindowHandle ProgressDlg::window() const {
    return shared_->window.load();
}
