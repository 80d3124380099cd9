// The browser window of the social sign-in: the provider's pages in a window
// of their own, owned by the sign-in page's window. It keeps the URL of the
// last completed navigation and tells the sign-in page about each one by
// posting kMsgSocialSignIn (wParam: the browser's tag) to that page's window,
// so the page looks at the URL from its own message handling, never from
// inside the browser's callback.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "app/ui_types.h"
#include "ui_engine/browser_window.h"

class CWTLIExplorer {
public:
    // `notify`: the window that receives the messages; `tag` goes with each
    // one, so messages of an earlier browser can be told apart.
    CWTLIExplorer(WindowHandle notify, intptr_t tag);

    // Creates the window hidden, owned by the notified window, `width` x
    // `height` device pixels, and starts loading `url`.
    void Create(int width, int height, const std::string& url);

    // The last navigated URL, fragment included.
    const std::string& url() const { return url_; }
    intptr_t tag() const { return tag_; }

    void CenterAndShow();
    void Hide();
    bool IsVisible() const { return window_ && window_->IsVisible(); }

private:
    WindowHandle notify_;
    intptr_t tag_;
    std::string url_;
    std::unique_ptr<ui::BrowserWindow> window_;
};
