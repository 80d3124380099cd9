// Sign-in controller of "login.htm" ("login", "exit", "facebook"), hosted by
// the sign-in dialog. The dialog's result is what this controller ends it
// with: 0 = leave (the program ends), 1 = signed in.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "account/social_browser.h"
#include "app/func_base.h"
#include "app/settings/settings_store.h"

class LoginFunc : public func_base {
public:
    // Remembers the page and fills "email" and "pword" with the remembered
    // sign-in.
    void on_init(WindowHandle window) override;
    // Closes the social sign-in's browser window, if any.
    void on_release() override;
    void on_event(const ElementHandle& element, const EventParams& params) override;
    // Private messages of the sign-in dialog: 3024, a page of the social
    // sign-in's browser has loaded.
    void on_message(uint32_t msg, intptr_t wparam, intptr_t lparam);

    // "login": the e-mail sign-in with the typed values. On success the
    // dialog ends with 1; otherwise the reason is shown in "message".
    void EmailSignIn();
    // "facebook": opens a new browser window (hidden until its first page has
    // loaded) on the provider's OAuth dialog, replacing any earlier one. When
    // the provider is not configured, "message" says so instead.
    void FacebookSignIn();
    // Closes the browser window, if any, and ends the sign-in dialog with
    // `result`.
    void CloseLogin(int result);

private:
    // Looks at the page the browser has reached: shows the browser on the
    // provider's own pages, shows the provider's refusal (or "HOST_ERROR" for
    // a redirect that does not echo this request's state), or goes on with
    // the sign-in once the redirect page carries the access token.
    void CheckSocialRedirect();
    void DestroyBrowser();
    void ShowMessage(const std::string& key);
    // Asks the keyring for the remembered password and token on a thread of
    // its own (an unlock prompt can keep it waiting); the page works
    // meanwhile, and the answer fills "pword" only if nothing changed it.
    void AskKeyringMeanwhile(const StoredSettings& file);

    std::unique_ptr<CWTLIExplorer> browser_;
    intptr_t browser_tag_ = 0;             // tag of the latest browser
    bool error_shown_ = false;             // the provider's refusal is shown; keep the browser hidden
    bool token_taken_ = false;             // the browser's token redirect was handled; later pages are ignored
    std::string oauth_state_;              // the "state" of the latest browser's OAuth request
    std::string redirect_url_;             // the redirect page that request names
    std::shared_ptr<bool> keyring_alive_;  // while set, the keyring's late answer may fill the page
};
