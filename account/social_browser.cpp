#include "account/social_browser.h"

#include "base/window_messages.h"

CWTLIExplorer::CWTLIExplorer(WindowHandle notify, intptr_t tag) : notify_(notify), tag_(tag) {}

void CWTLIExplorer::Create(int width, int height, const std::string& url) {
    ui::BrowserWindowOptions options;
    options.width = width;
    options.height = height;
    options.owner = notify_;
    window_ = std::make_unique<ui::BrowserWindow>(options);
    window_->SetNavigationHandler([this](const std::string& navigated) {
        url_ = navigated;
        ui::PostWindowMessage(notify_, kMsgSocialSignIn, tag_, 0);
    });
    window_->Navigate(url);
}

void CWTLIExplorer::CenterAndShow() {
    if (!window_) return;
    window_->CenterOnOwner();
    window_->Show();
}

void CWTLIExplorer::Hide() {
    if (window_) window_->Hide();
}
