#include "app/progress_dlg.h"

#include "base/app_state.h"
#include "base/paths.h"

// State shared with the closures that a worker posts to the UI thread. They
// may run after a show has ended, so they hold it by shared pointer and look
// the window up by id when they run.
struct ProgressDlg::Shared : public ui::EventHandler {
    std::atomic<WindowHandle> window{0};
    std::atomic<bool> cancel{false};
    // UI thread only.
    bool modal_running = false;
    bool ended = false;  // end() arrived while no modal loop ran
    int end_result = 0;

    void OnBehaviorEvent(ui::HostWindow&, const ui::BehaviorEvent& event) override {
        if (event.cmd == ui::BUTTON_CLICK && event.target_id == "cancel") cancel = true;
    }
};

namespace {

// Runs `fn` with the shown window's id on the UI thread, after every call
// posted before it.
template <class F>
void PostToDialog(const std::shared_ptr<ProgressDlg::Shared>& shared, F fn) {
    ui::PostToUi([shared, fn] {
        WindowHandle w = shared->window.load();
        if (w != 0) fn(w);
    });
}

}  // namespace

ProgressDlg::ProgressDlg() : shared_(std::make_shared<Shared>()) {}

ProgressDlg::~ProgressDlg() = default;

int ProgressDlg::width() { return ScaleX(420); }
int ProgressDlg::height() { return ScaleY(200); }

int ProgressDlg::DoModal(WindowHandle parent) {
    if (!ui::EngineReady() || !ui::IsUiThread()) return -1;
    Shared& s = *shared_;
    s.cancel = false;
    if (s.ended) {
        // The worker finished before the dialog came up.
        s.ended = false;
        return s.end_result;
    }

    ui::WindowOptions options;
    options.kind = ui::WindowKind::Dialog;
    options.width = width();
    options.height = height();
    options.parent = parent != 0 ? ui::FindWindow(parent) : nullptr;
    auto host = std::make_unique<ui::HostWindow>(options);
    if (host->id() == 0 || host->IsClosed()) return -1;
    host->SetEventHandler(shared_.get());
    // Only the worker ends this dialog (end()); closing it under a running
    // worker would leave the worker reporting into nothing. The optional
    // "cancel" is the user's way to ask the worker to stop.
    host->SetCloseVeto([] { return true; });
    host->Center();
    host->LoadPage(PagePath("progress.htm"));
    if (cancellable_) {
        ui::FindById(host->id(), "cancel").RemoveAttribute("hidden");
    } else {
        ui::FindById(host->id(), "cancel").SetAttribute("hidden", "");
    }
    s.window = host->id();
    ready_event.Set();

    int result = 0;
    if (s.ended) {
        // end() already ran while the page loaded.
        s.ended = false;
        result = s.end_result;
    } else {
        s.modal_running = true;
        result = host->RunModal();
        s.modal_running = false;
    }
    s.window = 0;
    host->SetEventHandler(nullptr);
    host->SetCloseVeto(nullptr);
    host.reset();
    // A stale signal must not satisfy the next show's wait.
    ready_event.Reset();
    return result;
}

bool ProgressDlg::wait_ready(int timeout_ms) { return ready_event.Wait(timeout_ms); }

void ProgressDlg::set_status(const std::string& text) {
    PostToDialog(shared_, [text](WindowHandle w) { ui::FindById(w, "MsgText1").SetText(text); });
}

void ProgressDlg::set_progress(const std::string& text) {
    PostToDialog(shared_, [text](WindowHandle w) { ui::FindById(w, "progress").SetValue(text); });
}

void ProgressDlg::set_text2(const std::string& text) {
    PostToDialog(shared_, [text](WindowHandle w) { ui::FindById(w, "MsgText2").SetText(text); });
}

void ProgressDlg::end(int result) {
    std::shared_ptr<Shared> shared = shared_;
    ui::PostToUi([shared, result] {
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

bool ProgressDlg::cancel_requested() const { return shared_->cancel.load(); }

WindowHandle ProgressDlg::window() const { return shared_->window.load(); }
