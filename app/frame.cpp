#include "app/frame.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <list>
#include <mutex>

namespace app {
namespace {

std::mutex& ListMutex() {
    static std::mutex m;
    return m;
}

std::list<frame*>& FrameList() {
    static std::list<frame*> frames;
    return frames;
}

}  // namespace

frame::frame() {
    std::lock_guard<std::mutex> lock(ListMutex());
    FrameList().push_back(this);
    linked_ = true;
}

frame::~frame() {
    unlink();
    if (host_) {
        // The handlers point at this object: drop them before the window goes.
        host_->SetEventHandler(nullptr);
        host_->SetMessageHandler(nullptr);
        host_->SetCloseVeto(nullptr);
        host_->SetDestroyHandler(nullptr);
        host_.reset();
    }
}

void frame::unlink() {
    std::lock_guard<std::mutex> lock(ListMutex());
    if (!linked_) return;
    FrameList().remove(this);
    linked_ = false;
}

void frame::destroy() {
    if (!host_) return;
    host_->SetEventHandler(nullptr);
    host_->SetMessageHandler(nullptr);
    host_->SetCloseVeto(nullptr);
    host_->SetDestroyHandler(nullptr);
    host_.reset();
    unlink();
}

void frame::close() {
    if (host_) host_->Close();
}

bool frame::create_window(const ui::WindowOptions& options) {
    if (host_) return true;
    host_ = std::make_unique<ui::HostWindow>(options);
    if (host_->id() == 0 || host_->IsClosed()) {
        host_.reset();
        return false;
    }
    host_->SetEventHandler(this);
    host_->SetMessageHandler([this](uint32_t msg, intptr_t wparam, intptr_t lparam) {
        handle_message(msg, wparam, lparam);
    });
    host_->SetCloseVeto([this] { return close_veto(); });
    host_->SetDestroyHandler([this] { on_window_destroyed(); });
    on_created();
    return true;
}

bool frame::load_page(const std::string& full_path) {
    if (!host_) return false;
    if (!LoadPageAndWait(*host_, full_path)) return false;
    on_document_loaded(ui::Element::Root(host_->id()));
    return true;
}

void frame::on_window_destroyed() {
    // The window is gone (closed by the user or by the program): leave the
    // frame list; the host object stays until the frame is destroyed and
    // answers IsClosed().
    unlink();
}

void frame::OnBehaviorEvent(ui::HostWindow&, const ui::BehaviorEvent&) {}

bool LoadPageAndWait(ui::HostWindow& host, const std::string& full_path) {
    if (access(full_path.c_str(), R_OK) != 0) {
        host.LoadPage(full_path);  // the window shows an empty page
        return false;
    }
    // A reused dialog view may report the load done while it still shows an
    // older document: the blank page it was cleared with, or even the same
    // page from the previous dialog. Writes made then would land in that old
    // document and vanish. So the document there now is marked first, and
    // after the load we wait (bounded) until an unmarked, complete document
    // of the expected address is in place. The engine also gives up waiting
    // after a while on a busy machine, while the page may still come.
    host.Evaluate("window.__vortaOldDocument = true; ''");
    host.LoadPage(full_path);
    const std::string expected = ui::PageUrl(full_path);
    const char* probe =
        "(document.readyState === 'complete' && !window.__vortaOldDocument) ? location.href : ''";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!host.IsClosed()) {
        if (host.Evaluate(probe) == expected) return true;
        if (std::chrono::steady_clock::now() > deadline) break;
        bool never = false;
        ui::RunLoopUntil([&never] { return never; }, 5);
    }
    return false;
}

size_t LiveFrameCount() {
    std::lock_guard<std::mutex> lock(ListMutex());
    return FrameList().size();
}

frame* FindFrame(WindowHandle id) {
    if (id == 0) return nullptr;
    std::lock_guard<std::mutex> lock(ListMutex());
    for (frame* f : FrameList()) {
        if (f->id() == id) return f;
    }
    return nullptr;
}

}  // namespace app
