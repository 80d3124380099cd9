// An HTML window of the program: one engine host window showing one page,
// with the window's behaviour events and private messages routed to virtual
// operations. The main window and every page dialog derive from it.
//
// All live frames are kept in one list, guarded by a mutex: a frame joins it
// when constructed and leaves it when its window is destroyed or when the
// object is destroyed, whichever comes first.
//
// UI thread only, except LiveFrameCount().
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/ui_types.h"

namespace app {

class frame : public ui::EventHandler {
public:
    frame();
    ~frame() override;
    frame(const frame&) = delete;
    frame& operator=(const frame&) = delete;

    // Closes and drops the window (the object stays).
    virtual void destroy();
    // Asked when the user closes the window; true keeps it open.
    virtual bool close_veto() { return false; }
    // Closes the window as the user would (the veto is asked).
    virtual void close();
    // The window exists and is sized, the page is not loaded yet.
    virtual void on_created() {}
    // The page has loaded; `root` is its root element.
    virtual void on_document_loaded(const ElementHandle& root) { (void)root; }
    // A private message posted to the window. Returns whether it was handled;
    // nothing else processes these messages, so the answer is informational.
    virtual bool handle_message(uint32_t msg, intptr_t wparam, intptr_t lparam) {
        (void)msg, (void)wparam, (void)lparam;
        return false;
    }

    // The engine window, or nullptr before creation and after destruction.
    ui::HostWindow* host() const { return host_.get(); }
    // Id of the window (0 when there is none). Safe to hand to other threads.
    WindowHandle id() const { return host_ ? host_->id() : 0; }
    // True when there is no live window (never created, or destroyed).
    bool closed() const { return !host_ || host_->IsClosed(); }

protected:
    // Creates the window, installs the event, message and close handlers and
    // runs on_created. Returns false when no window could be made.
    bool create_window(const ui::WindowOptions& options);
    // Loads a page file into the window; when it loaded, runs
    // on_document_loaded with the page's root. Returns whether it loaded.
    bool load_page(const std::string& full_path);

    // Behaviour events of the page; the default ignores them.
    void OnBehaviorEvent(ui::HostWindow& window, const ui::BehaviorEvent& event) override;

private:
    void unlink();
    void on_window_destroyed();

    std::unique_ptr<ui::HostWindow> host_;
    bool linked_ = false;
};

// Number of frames in the frame list. Any thread.
size_t LiveFrameCount();
// The frame showing window `id`, or nullptr.
frame* FindFrame(WindowHandle id);

}  // namespace app
