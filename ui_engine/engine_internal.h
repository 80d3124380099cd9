// Internals shared by the engine's source files. Not part of the API.
#pragma once

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ui_engine/host_window.h"

namespace ui {
namespace detail {

// A GTK window with its web view and content manager. Top-level windows own
// theirs; dialog slots are pooled and handed from one dialog to the next.
struct Slot {
    GtkWidget* window = nullptr;
    WebKitWebView* view = nullptr;
    WebKitUserContentManager* ucm = nullptr;
    HostWindow* owner = nullptr;  // nullptr while pooled
};

// Makes a window with a view sharing the engine's web process.
Slot* CreateSlot(bool dialog);
// A dialog slot from the pool (or a new one).
Slot* AcquireDialogSlot();
// Gives a dialog slot back: hidden, emptied, kept for reuse.
void ReleaseDialogSlot(Slot* slot);
// Every slot alive (pooled or in use), oldest first.
const std::vector<Slot*>& AllSlots();

// Gives a new slot's content manager the script that starts each of the
// program's documents in the colour scheme last set (SetColorScheme).
void AddColorSchemeScript(WebKitUserContentManager* ucm);

// The web context shared by every view.
WebKitWebContext* Context();

// Puts `fn` on the UI dispatch queue (any thread). With `during_off_ui_wait`,
// it may run ahead of held-back work while the UI thread waits in WaitOffUi
// (not while it waits for a read); the automation channel's requests.
void Enqueue(std::function<void()> fn, bool during_off_ui_wait = false);

// Synchronous waits (reads, loads, snapshots) hold back the dispatch queue.
void BeginWait();
void EndWait();

// Gives the UI process's freed heap back to the system once the program has
// been quiet for a moment (a page loaded, a script page ready, a wait off the
// UI thread ended): loading a page or a dive frees megabytes of parse trees
// and strings that malloc would otherwise keep. Each call restarts the wait.
void TrimHeapWhenQuiet();
// Pending trims so far (tests).
int PendingHeapTrims();

// True while the UI thread waits in WaitOffUi (at any depth).
bool InOffUiWait();
// Runs `fn` once the outermost WaitOffUi has ended, before it returns.
void RunAfterOffUiWait(std::function<void()> fn);

// Registry upkeep (UI thread).
void RegistryAdd(HostWindow* w);
void RegistryRemove(HostWindow* w);
// Takes the window's page, modal state and visibility into its entry.
void RegistryUpdate(const HostWindow* w);
void NoteShown(const HostWindow* w);
void ModalPush(HostWindow* w, WindowId epoch);
void ModalPop(HostWindow* w);
// False when a modal dialog that began after `w` was made is running and `w`
// is not it: user events to `w` are then dropped.
bool AcceptsUserEvents(const HostWindow* w);
WindowId NextWindowId();
WindowId PeekNextWindowId();

// JavaScript string literal of arbitrary bytes: quotes, backslashes, control
// characters, <, >, &, U+2028/2029 are escaped; invalid UTF-8 becomes U+FFFD.
std::string JsString(const std::string& text);
// JS array literal of strings.
std::string JsStringArray(const std::vector<std::string>& items);

// The page runtime injected into every frame at document start; "@TOKEN@"
// in it stands for MessageToken().
const char* PageRuntimeScript();
// Random text, made once per process, that the page runtime puts into every
// message it posts; messages without it did not come from the runtime.
const std::string& MessageToken();

// Whether `uri` is one of the program's own pages or files (app://local/...).
bool IsOwnPageUrl(const std::string& uri);
// Whether a page window may navigate its top document or one of its frames
// to `uri`: only to the program's own pages, or to `requested`, the address
// the host is loading itself at that moment ("" when none). Everything else
// (a dropped file, a page script or a link leading elsewhere, a frame sent
// to a foreign site) is refused and the page stays.
bool NavigationAllowed(const std::string& uri, const std::string& requested);

// Escaped for a URL path segment.
std::string PercentEncodePath(const std::string& path);

// Moves `win` (w x h) to the centre of `owner` (null: of the monitor's work
// area), kept inside the work area. A minimised owner counts as none.
void PlaceCentred(GtkWindow* win, int w, int h, GtkWindow* owner);

}  // namespace detail
}  // namespace ui

namespace ui {

// Private access to HostWindow and Element for the engine's own files.
struct HostWindowAccess {
    static void DeliverEvent(HostWindow& w, const BehaviorEvent& ev);
    static void DeliverMessage(HostWindow& w, uint32_t msg, intptr_t wparam, intptr_t lparam);
    static HostWindow::Impl* impl(const HostWindow& w) { return w.impl_.get(); }
};

struct ElementAccess {
    // A handle from a frame path and an id; null when the id or a frame id
    // on the path is empty.
    static Element Make(WindowId w, const std::vector<std::string>& frames, const std::string& id);
    // The same, for the element the page tagged `tag` when it raised an event
    // on it (0: no tag, the first with the id).
    static Element MakeTagged(WindowId w, const std::vector<std::string>& frames, const std::string& id, uint64_t tag);
    static bool IsRoot(const Element& e) { return e.kind_ == Element::Kind::Root; }
    static uint64_t Tag(const Element& e) { return e.tag_; }
    static unsigned Index(const Element& e) { return e.nth_; }
};

}  // namespace ui

namespace ui {
namespace detail {
// Element operations on a window by id; nothing happens when it is gone.
void QueueWrite(WindowId id, std::string stmt);
std::string ReadFrom(WindowId id, const std::string& js);
void CallScriptIn(WindowId id, const std::string& path_json, const std::string& id_json,
                  const std::string& function_json, const std::string& args_json);
// Runs `body` (a function body, which may return a promise) in the window's
// page after its queued writes, without waiting: `done` gets the value it
// returned or its promise settled with, as text, or nothing when there was
// none (null, an error, the window gone). `done` runs once, on the UI thread.
using ScriptDone = std::function<void(std::optional<std::string>)>;
void AwaitScriptIn(WindowId id, const std::string& body, ScriptDone done);
// `done` gets the element's text once it is no longer `was` (at once when it
// is not now), or nothing after `timeout_ms`; the page is not asked again and
// again meanwhile, and the UI keeps running.
void WhenTextIsNot(const Element& e, const std::string& was, int timeout_ms, ScriptDone done);
}  // namespace detail
}  // namespace ui

namespace ui {
namespace detail {
// Sets a value as a user would: the page sees input and change events, so a
// <select> raises code 5.
void SetValueAsUser(const Element& e, const std::string& value);
// Gives the element the keyboard focus, as a user's click into it would.
void FocusAsUser(const Element& e);
// Queues the write that puts a script-page frame into `holder` (see
// HostWindow::ShowScriptPage): `load` numbers this showing, `methods` are the
// page's window.external methods, space-separated.
void AttachScriptPage(const Element& holder, const std::string& url, const std::string& load,
                      const std::string& methods);
}  // namespace detail
}  // namespace ui
