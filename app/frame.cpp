#include "app/frame.h"

#include <unistd.h>

#include <algorithm>
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
    host_->SetMessageHandler(
        [this](uint32_t msg, intptr_t wparam, intptr_t lparam) { handle_message(msg, wparam, lparam); });
    host_->SetCloseVeto([this] { return close_veto(); });
    host_->SetDestroyHandler([this] { on_window_destroyed(); });
    on_created();
    return true;
}

bool frame::load_page(const std::string& full_path) {
    if (!host_) return false;
    if (!host_->LoadPage(full_path)) return false;
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
