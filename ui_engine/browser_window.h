// A plain browser window for a site that is not the program's (a sign-in
// provider's pages): one GTK window holding one web view.
//
// It is not a page window: the page runtime is not injected, so its pages
// raise no behaviour events and have no window.external, and it shows only
// http(s) pages (the app:// scheme and files are refused). Its view uses the
// engine's web context, so it shares the network process, the cookies and
// the certificates the engine trusts, but it does not join the web process
// of the program's pages: a foreign site runs in a process of its own.
//
// The window is undecorated and transient for its owner; it stays out of the
// owner's modal grab, so it takes input while the owner is a running modal
// dialog. Closing it from the window manager only hides it.
//
// UI thread only.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "ui_engine/ui_engine.h"

typedef struct _GtkWidget GtkWidget;
typedef struct _WebKitWebView WebKitWebView;

namespace ui {

struct BrowserWindowOptions {
    int width = 640;  // device pixels (already scaled)
    int height = 520;
    WindowId owner = 0;  // the window it belongs to and is centred on; 0 for none
};

class BrowserWindow {
public:
    // Creates the window hidden, with an empty page. Without a running engine
    // the object is inert (every call does nothing).
    explicit BrowserWindow(const BrowserWindowOptions& options);
    // Destroys the window and its view (the view's web process ends).
    ~BrowserWindow();
    BrowserWindow(const BrowserWindow&) = delete;
    BrowserWindow& operator=(const BrowserWindow&) = delete;

    // Starts loading `url` (http or https) and returns at once.
    void Navigate(const std::string& url);

    // Called after each completed navigation of the top document (also one
    // that failed), with the view's URL at that moment, fragment included.
    // The handler must not destroy this window; post work instead.
    void SetNavigationHandler(std::function<void(const std::string& url)> fn) { on_navigated_ = std::move(fn); }

    // The URL of the current page, fragment included ("" before any).
    std::string uri() const;

    void Show();
    void Hide();
    bool IsVisible() const;
    // Centres the window on its owner (on the monitor when the owner is gone
    // or hidden), inside the monitor's work area.
    void CenterOnOwner();

    GtkWidget* gtk_window() const { return window_; }
    WebKitWebView* web_view() const { return view_; }

private:
    struct Signals;
    BrowserWindowOptions options_;
    GtkWidget* window_ = nullptr;
    WebKitWebView* view_ = nullptr;
    std::function<void(const std::string&)> on_navigated_;
};

}  // namespace ui
