// The HTML UI engine: process set-up, UI-thread dispatch (and waits for
// blocking calls run off the UI thread), DPI and the window
// registry. Windows live in host_window.h, element handles in element.h, the
// automation channel in automation.h.
//
// Threading: everything here runs on the UI thread (the thread that called
// InitEngine) unless the comment says "any thread".
#pragma once

#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

typedef struct _GtkWidget GtkWidget;

namespace ui {

class HostWindow;

// Identifies a host window for its whole life; never reused within a process.
// 0 is "no window".
using WindowId = uint64_t;

// Brings up GTK (gtk_init), the one shared web context and its "app" URI
// scheme. `program_dir` is the folder the scheme serves (normally ProgramDir());
// pages, frames and script pages under it are one origin:
//   app://local/<path relative to program_dir>   e.g. app://local/ENG/main.htm
// Sets WEBKIT_DISABLE_COMPOSITING_MODE=1 unless the environment already sets it
// (saves memory per web process), and keeps GDK and WebKit from loading the
// GL driver into this process (it never draws with GL). Pre-creates one
// hidden dialog window and waits until the shared web process has loaded its
// first (empty) page, about 0.2-0.4 s, so that later windows join a running
// process and the first dialog shows fast. Safe to call again: later calls
// only return true.
// Returns false when no display can be opened.
bool InitEngine(const std::string& program_dir);

// True once InitEngine succeeded.
bool EngineReady();

// The app:// URL of a file under the served folder, given its full path
// ("/opt/x/ENG/main.htm" -> "app://local/ENG/main.htm"; path segments are
// percent-encoded). A path outside the served folder gives a file:// URL,
// which is not same-origin with the pages.
std::string PageUrl(const std::string& full_path);

// A bare web view on the engine's own context, which serves the program's
// pages (app://local/) under the engine's memory settings: for a page drawn
// off screen that is no window of the program (a printed page). A floating
// reference, as gtk widgets are made; null before InitEngine.
GtkWidget* NewEngineWebView();

// ---------------------------------------------------------------------------
// UI-thread dispatch.

// True on the thread that called InitEngine. Any thread.
bool IsUiThread();

// Runs `fn` later on the UI thread. Any thread. Closures run in posting order,
// one at a time, interleaved in order with page events and window messages.
// While the UI thread waits in a synchronous read (see Element), posted work is
// held back and runs after the outermost read returns.
void PostToUi(std::function<void()> fn);

// Runs `fn` on the UI thread and waits for its result. Any thread; on the UI
// thread it simply calls `fn`. Must not be called from a worker while the UI
// thread waits for that worker (join), or both wait forever.
template <class F>
auto RunOnUiAndWait(F&& fn) -> decltype(fn()) {
    using R = decltype(fn());
    if (IsUiThread()) return fn();
    auto task = std::make_shared<std::packaged_task<R()>>(std::forward<F>(fn));
    std::future<R> result = task->get_future();
    PostToUi([task] { (*task)(); });
    return result.get();
}

namespace detail {
// The plumbing of WaitOffUi: runs `work` on a worker thread while the UI
// thread waits in a nested main loop. `work` must not throw.
void RunOffUi(const std::function<void()>& work);
}  // namespace detail

// Runs `fn` on a worker thread and returns its result (or rethrows its
// exception) on the calling thread; for blocking calls the UI thread has to
// wait for, such as a cloud request whose answer the controller's next step
// needs. The caller waits as before, but the window does not freeze: the UI
// thread runs a nested main loop meanwhile, so windows draw, timers run, a
// busy cursor ("wait") shows on every window of the program, and windows can
// be closed. The program's own code does not run meanwhile: page events,
// posted work and window messages are held back, as during a synchronous read
// (see Element), and delivered in order after the outermost wait returns (a
// click during the wait is handled after it, never inside it). Automation
// requests are served meanwhile (ui_engine/AUTOMATION.md).
//
// A window closed during the wait (by the user, HostWindow::Close or the
// automation channel) hides at once; the close itself (its veto, then the
// dialog's end with 0 or the window's destruction) runs when the outermost
// wait has ended, before WaitOffUi returns. The window objects, and so the
// controllers waiting on the stack, stay alive; a vetoed close shows the
// window again.
//
// Waits nest. On a thread other than the UI thread (or before InitEngine) it
// simply calls `fn`. `fn` runs on another thread: it must not touch windows
// or elements, nor wait for the UI thread (RunOnUiAndWait, DoModal from a
// worker), which is held back until `fn` has returned.
template <class F>
auto WaitOffUi(F&& fn) -> decltype(fn()) {
    using R = decltype(fn());
    if (!IsUiThread()) return fn();
    std::packaged_task<R()> task([&fn]() -> R { return fn(); });
    std::future<R> result = task.get_future();
    detail::RunOffUi([&task] { task(); });
    return result.get();
}

// Keeps the user away from every window open now while it lives, as a
// modal dialog would but without a window of its own, for work that may end
// before a dialog is worth showing: their page events are dropped (never
// delivered later, as during a modal dialog), and GTK gives them no pointer
// or key input (nor closes them). Windows opened meanwhile (a dialog) take
// input as usual. Posted work, window messages and automation requests keep
// being delivered. Blocks nest. UI thread.
class InputBlock {
public:
    InputBlock();
    ~InputBlock();
    InputBlock(const InputBlock&) = delete;
    InputBlock& operator=(const InputBlock&) = delete;

private:
    GtkWidget* grab_ = nullptr;  // the invisible widget holding the grab
};

// Posts a private message (2024-2029, 3024, ...) to the window `id`. Any thread.
// Delivered later on the UI thread, in posting order, to that window's message
// handler; dropped when the window is gone by then.
void PostWindowMessage(WindowId id, uint32_t msg, intptr_t wparam, intptr_t lparam);

// Runs the GLib main loop (nested if need be) until `done()` is true or
// `timeout_ms` passed (-1: no limit). Returns done(). For the process's main
// loop and for tests; page events and posted work are delivered meanwhile.
bool RunLoopUntil(const std::function<bool()>& done, int timeout_ms = -1);

// ---------------------------------------------------------------------------
// Colour scheme.

// Shows the program in the dark or the light colour scheme. The program's
// pages switch first: the root of each of their documents, in every window
// and frame (and every document loaded later), gets data-scheme="dark" or
// "light", which the style sheets follow ahead of prefers-color-scheme.
// GTK's "gtk-application-prefer-dark-theme" setting (window chrome, GTK's
// own dialogs, and through WebKit prefers-color-scheme for pages that are
// not the program's, such as a sign-in site) follows once every visible
// window has drawn its pages in the new scheme, or after kSchemeChromeWaitMs
// at most: changing it restyles every GTK widget and makes WebKit restyle
// every page, which would hold back the pages' own repaint. Before the
// first call the pages follow prefers-color-scheme alone.
constexpr int kSchemeChromeWaitMs = 500;
void SetColorScheme(bool dark);

// ---------------------------------------------------------------------------
// DPI.

// The screen's resolution in dots per inch, horizontally and vertically: the
// desktop's font resolution when set, else from the primary monitor's size
// in millimetres; 0 when neither is known. SetDpiScale (base/dpi.h) turns it
// into the scale factors.
struct ScreenResolution {
    double dpi_x = 0, dpi_y = 0;
};
ScreenResolution ScreenDpi();

// ---------------------------------------------------------------------------
// Window registry: every live host window, under a mutex.

struct WindowInfo {
    WindowId id = 0;
    std::string page_file;  // file name of the loaded page, e.g. "main.htm"; "" before a load
    std::string page_path;  // full path of the loaded page
    bool modal = false;     // a dialog currently running its modal loop
    bool visible = false;
};

// Snapshot of the registry, oldest window first. Any thread.
std::vector<WindowInfo> ListWindows();

// The live window with this id, or nullptr. UI thread only (the pointer is only
// valid until the window object is destroyed).
HostWindow* FindWindow(WindowId id);

// The window a user would be acting in: the innermost running modal dialog,
// else the most recently shown visible window, else nullptr. UI thread.
HostWindow* ActiveWindow();

}  // namespace ui
