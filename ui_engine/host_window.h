// A host window: one GTK window holding one web view that shows one HTML page.
//
// Two kinds:
//  - TopLevel: an ordinary decorated window (the main window).
//  - Dialog: an undecorated window, transient for its parent, run modally with
//    RunModal() in a nested main loop until EndDialog(result). Dialog windows
//    and their views are pooled: a closed dialog's window is hidden and reused
//    by the next dialog, so later dialogs come up fast.
// All web views share one web context and, where WebKit allows, one web process.
//
// Events: the page runtime injected into every frame reports
//   code 0 (BUTTON_CLICK): a click on an element with button behaviour
//     (<button>, <input type=button|submit|reset>, class "btnctrl"), or on
//     anything inside one (the nearest one is the target);
//   code 5 (SELECT_SELECTION_CHANGED): a change of a <select>.
// They reach the window's EventHandler one at a time on the UI thread, in
// order. While a modal dialog runs, events of windows opened before it are
// dropped (the user cannot reach them either). Buttons and links inside forms
// never submit or navigate.
//
// Script pages (ShowScriptPage: a page shown in a frame the host made for it,
// e.g. a map) call window.external.<name>(args...) for the methods their host
// named; each call reaches that page's handlers with the name and the
// arguments as text. No other page has window.external.
//
// Only the program's own pages (app://local/..., see PageUrl) get the page
// runtime: a foreign page loaded with LoadUri, or a foreign frame inside an
// own page, raises no events and has no window.external.
//
// UI thread only, except PostMessage.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ui_engine/element.h"
#include "ui_engine/ui_engine.h"

typedef struct _GtkWidget GtkWidget;
typedef struct _WebKitWebView WebKitWebView;

namespace ui {

// Behaviour event codes.
constexpr uint32_t BUTTON_CLICK = 0;
constexpr uint32_t SELECT_SELECTION_CHANGED = 5;

struct BehaviorEvent {
    uint32_t cmd = 0;       // BUTTON_CLICK or SELECT_SELECTION_CHANGED
    Element target;         // the element acted on; null when it has no "id"
    std::string target_id;  // its "id" at the time of the event ("" when none)
    std::string value;      // for code 5: the select's value at the time
    // The target's attributes at the time of the event (name -> value). The
    // target handle finds the first element with its id, so for an element
    // repeated in a list (cells and rows carrying an index) these are the
    // only way to the one that was clicked.
    std::map<std::string, std::string> attributes;
    uint32_t reason = 0;  // 0 user action, 1 posted (PostClick / automation)
};

class HostWindow;

class EventHandler {
public:
    virtual ~EventHandler() = default;
    // One behaviour event of the window's page. May open modal dialogs.
    virtual void OnBehaviorEvent(HostWindow& window, const BehaviorEvent& event) = 0;
};

// A call window.external.<name>(args...) from a script page.
struct ExternalCall {
    std::vector<std::string> frame_path;  // frame element ids from the top page to the caller's document
    std::string name;                     // method name, e.g. "on_map_event"
    std::vector<std::string> args;        // String(arg) (numbers with every digit); "" for null/undefined
};

// What a script page reports to its host (HostWindow::ShowScriptPage). Each
// runs on the UI thread, in order with the window's other events; any may be
// empty.
struct ScriptPageHandlers {
    // The page's scripts have run (its document is parsed): it takes calls.
    std::function<void()> ready;
    // The page went away (replaced by another document or removed).
    std::function<void()> gone;
    // window.external.<name>(args...) with one of the methods named. Calls
    // made while a modal dialog that the window is not part of runs, or while
    // the window's page is being replaced, are dropped, as clicks are.
    std::function<void(const ExternalCall&)> external;
};

enum class WindowKind { TopLevel, Dialog };

struct WindowOptions {
    WindowKind kind = WindowKind::TopLevel;
    std::string title;  // window title (TopLevel)
    int width = 800;    // device pixels (already scaled)
    int height = 600;
    HostWindow* parent = nullptr;  // Dialog: transient for this; nullptr = ActiveWindow()
    int drag_band = 0;             // Dialog: height in pixels of the top band that moves the window
};

class HostWindow {
public:
    explicit HostWindow(const WindowOptions& options);
    // Closes the window if still open (a dialog's window goes back to the pool).
    // Do not destroy a HostWindow from inside one of its own handlers.
    ~HostWindow();
    HostWindow(const HostWindow&) = delete;
    HostWindow& operator=(const HostWindow&) = delete;

    WindowId id() const { return id_; }
    WindowKind kind() const { return kind_; }

    // Loads a page file by full path and waits (nested main loop, time-out 10 s)
    // until it has loaded. Returns false when the file does not exist (the
    // window then shows an empty page) or the load failed. Pending writes of
    // the old page are dropped.
    bool LoadPage(const std::string& full_path);
    // Loads any URL (e.g. an external sign-in page), waiting the same way.
    bool LoadUri(const std::string& uri);
    // Full path and file name of the page loaded by LoadPage ("" otherwise).
    const std::string& page_path() const { return page_path_; }
    std::string page_file() const;

    void Show();
    void Hide();
    bool IsVisible() const;
    // True once the window was destroyed (closed by the user or by Close()).
    bool IsClosed() const { return closed_; }

    // Size in device pixels; Center() centres the window on its parent (or,
    // without a visible parent, on the monitor's work area) and keeps it inside
    // the work area.
    void Resize(int width, int height);
    void Center();
    void SetTitle(const std::string& title);

    // Dialog: centres the window on its parent (options.parent, else the
    // window active at this moment), shows it modally and runs a nested main
    // loop until EndDialog; returns its result. Queued writes are sent before
    // showing. Page events, posted work and automation requests keep being
    // delivered inside the loop. -1 if the window is not a dialog, already
    // closed or already running.
    int RunModal();
    // Ends RunModal with `result` and hides the dialog. Any time on the UI
    // thread. The first call of a run sets its result; later calls of the same
    // run only hide (a user's close during WaitOffUi stays the answer even when
    // the waiting controller ends the dialog right after).
    void EndDialog(int result);
    bool IsModalRunning() const { return modal_running_; }

    // Dialog: the top `pixels` of the window start a window move when the mouse
    // is pressed there; 0 turns it off.
    void SetDragBand(int pixels);
    int drag_band() const { return drag_band_; }
    // Number of window moves started from the drag band (for tests).
    int drag_moves_started() const { return drag_moves_started_; }

    // Closes as a user would: the close handler may veto. A dialog closed this
    // way ends with result 0; a top-level window is destroyed. While the UI
    // thread waits in WaitOffUi, the window only hides and the close runs
    // after the wait (see WaitOffUi); so does a close by the window manager.
    void Close();

    // --- handlers (all called on the UI thread) ---
    void SetEventHandler(EventHandler* handler) { event_handler_ = handler; }
    void SetMessageHandler(std::function<void(uint32_t msg, intptr_t wparam, intptr_t lparam)> fn) {
        message_handler_ = std::move(fn);
    }
    // Asked when the user closes the window; return true to keep it open.
    void SetCloseVeto(std::function<bool()> fn) { close_veto_ = std::move(fn); }
    // Called once when a top-level window is destroyed (after which
    // IsClosed()). Dialog windows are never destroyed, only hidden.
    void SetDestroyHandler(std::function<void()> fn) { destroy_handler_ = std::move(fn); }

    // Private message to this window. Any thread (the window must outlive the
    // call; from workers prefer PostWindowMessage(id, ...)).
    void PostMessage(uint32_t msg, intptr_t wparam, intptr_t lparam);

    // --- script pages ---
    // Shows `url`, a page of the program (app://local/..., see PageUrl), as a
    // script page: in an <iframe> (id "<holder id>_page", filling the
    // element, no border) that replaces the content of `holder`, an element
    // of this window's page or of one of its frames, found by id. The page's
    // document gets window.external with exactly the methods named in
    // `methods` (plain names; anything else is left out), and its reports go
    // to `handlers`. Showing a page in the same holder again replaces the
    // earlier page and its handlers: reports still on their way from the
    // earlier page are dropped. Queued in order with the element writes.
    // Returns the frame element (for Element::CallScript); a null handle,
    // and nothing shown, when `holder` is null, a root, of another window, or
    // `url` is not the program's.
    Element ShowScriptPage(const Element& holder, const std::string& url, const std::vector<std::string>& methods,
                           ScriptPageHandlers handlers);
    // Removes the script page shown in `holder` (the element is emptied) and
    // forgets its handlers. Nothing happens when none is shown there.
    void CloseScriptPage(const Element& holder);

    // Sends the queued writes now (asynchronously; order is kept).
    void FlushWrites();
    // Evaluates a script in the top document and waits for its result as text
    // ("" on error or time-out). For tests and tools: never build `script` from
    // page or user data.
    std::string Evaluate(const std::string& script);
    // Writes a PNG of the visible page to `path`, after sending queued writes.
    bool SnapshotPng(const std::string& path);

    GtkWidget* gtk_window() const;
    WebKitWebView* web_view() const;

    struct Impl;  // engine internals

private:
    WindowId id_ = 0;
    WindowKind kind_;
    std::string page_path_;
    bool closed_ = false;
    bool modal_running_ = false;
    int drag_band_ = 0;
    int drag_moves_started_ = 0;
    EventHandler* event_handler_ = nullptr;
    std::function<void(uint32_t, intptr_t, intptr_t)> message_handler_;
    std::function<bool()> close_veto_;
    std::function<void()> destroy_handler_;
    std::unique_ptr<Impl> impl_;

    friend struct HostWindowAccess;
};

}  // namespace ui
