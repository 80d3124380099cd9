#include "app/frame.h"

namespace app {

// The handlers point at this object: they are dropped before the window goes.
frame::~frame() { frame::destroy(); }

void frame::destroy() {
    if (!host_) return;
    host_->SetEventHandler(nullptr);
    host_->SetMessageHandler(nullptr);
    host_->SetCloseVeto(nullptr);
    host_.reset();
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
    on_created();
    return true;
}

bool frame::load_page(const std::string& full_path) {
    if (!host_) return false;
    if (!host_->LoadPage(full_path)) return false;
    on_document_loaded(ui::Element::Root(host_->id()));
    return true;
}

void frame::OnBehaviorEvent(ui::HostWindow&, const ui::BehaviorEvent&) {}

}  // namespace app
