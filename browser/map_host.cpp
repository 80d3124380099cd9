#include "browser/map_host.h"

#include <memory>

#include "base/config.h"
#include "base/paths.h"
#include "base/window_messages.h"
#include "browser/map_event_state.h"
#include "browser/web_event.h"
#include "ui_engine/element.h"
#include "ui_engine/host_window.h"

namespace {

// Text as a URL query value: everything but the unreserved characters
// percent-encoded.
std::string QueryValue(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                          c == '_' || c == '.' || c == '~';
        if (unreserved) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

// The address of a script page of the language folder. The online tiles the
// configuration names, if any, travel as the query "tiles": the page draws
// them over its offline basemap.
std::string ScriptPageUrl(const std::string& script_page) {
    std::string url = ui::PageUrl(PagePath(script_page));
    const std::string& tiles = GetConfig().map_tile_url;
    if (!tiles.empty()) url += "?tiles=" + QueryValue(tiles);
    return url;
}

void PostMapMessage(uint64_t target, uint32_t msg) {
    ui::PostWindowMessage(target, msg, 0, 0);
}

}  // namespace

struct MapHost::Impl {
    WebEvent events{MapEventState, PostMapMessage};
    ui::WindowId window = 0;
    ui::Element holder;  // the "ie" element
    ui::Element frame;   // the script page's frame inside it
    bool ready = false;
    std::function<void(bool)> ready_listener;
    // The page's handlers live in the window and may outlast this host.
    std::shared_ptr<Impl*> self = std::make_shared<Impl*>(this);

    void SetReady(bool now) {
        ready = now;
        if (ready_listener) ready_listener(now);
    }

    void Show(const std::string& script_page) {
        ready = false;
        frame = ui::Element();
        ui::HostWindow* w = ui::FindWindow(window);
        if (!w) return;
        std::vector<std::string> methods;
        for (const auto& entry : events.table()) methods.push_back(entry.first);
        std::weak_ptr<Impl*> weak = self;
        ui::ScriptPageHandlers handlers;
        handlers.ready = [weak] {
            if (auto impl = weak.lock()) (*impl)->SetReady(true);
        };
        handlers.gone = [weak] {
            if (auto impl = weak.lock()) (*impl)->SetReady(false);
        };
        handlers.external = [weak](const ui::ExternalCall& call) {
            auto impl = weak.lock();
            if (!impl) return;
            WebEvent::Args args;
            args.reserve(call.args.size());
            for (const std::string& a : call.args) args.emplace_back(a);
            (*impl)->events.InvokeByName(call.name, args);
        };
        frame = w->ShowScriptPage(holder, ScriptPageUrl(script_page), methods, std::move(handlers));
    }
};

MapHost::MapHost() : impl_(std::make_unique<Impl>()) {}

MapHost::~MapHost() {
    impl_->ready_listener = nullptr;
    Detach();
}

bool MapHost::Attach(WindowHandle window, const std::string& frame_id, const std::string& script_page) {
    // The element of the owner's page that holds the script page.
    ui::Element holder = frame_id.empty() ? ui::FindById(window, "ie") : ui::FindInFrame(window, frame_id, "ie");
    if (holder.IsNull() || !holder.Exists()) return false;
    // Moving to another window or frame leaves nothing behind at the old place.
    if (impl_->window != 0 && (impl_->window != window || impl_->holder.frame_path() != holder.frame_path())) Detach();
    impl_->window = window;
    impl_->holder = holder;
    impl_->Show(script_page);
    return true;
}

void MapHost::Navigate(const std::string& script_page) {
    if (impl_->window == 0) return;
    impl_->Show(script_page);
}

void MapHost::Detach() {
    if (impl_->window != 0) {
        if (ui::HostWindow* w = ui::FindWindow(impl_->window)) w->CloseScriptPage(impl_->holder);
    }
    impl_->window = 0;
    impl_->holder = ui::Element();
    impl_->frame = ui::Element();
    impl_->ready = false;
}

bool MapHost::attached() const {
    return impl_->window != 0;
}

void MapHost::SetReadyListener(std::function<void(bool)> listener) {
    impl_->ready_listener = std::move(listener);
}

bool MapHost::ready() const {
    return impl_->ready;
}

void MapHost::InvokeScript(const std::string& function, const std::vector<std::string>& args) {
    if (!impl_->ready) return;
    impl_->frame.CallScript(function, args);
}
