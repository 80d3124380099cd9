// Sign-in controller of "login.htm" ("login", "exit", "facebook"), hosted by
// the sign-in dialog. The dialog's result is what this controller ends it
// with: 0 = leave (the program ends), 1 = signed in.
#pragma once

#include <cstdint>
#include <string>

#include "app/func_base.h"

class LoginFunc : public func_base {
public:
    // Remembers the page and fills "email" and "pword" with the remembered
    // sign-in.
    void on_init(WindowHandle window) override;
    void on_event(const ElementHandle& element, const EventParams& params) override;
    // Private messages of the sign-in dialog (3024 from the social sign-in).
    void on_message(uint32_t msg, intptr_t wparam, intptr_t lparam);

    // "login": the e-mail sign-in with the typed values. On success the
    // dialog ends with 1; otherwise the reason is shown in "message".
    void EmailSignIn();
    // "facebook": the social sign-in. Not available yet; does nothing.
    void FacebookSignIn();
    // Ends the sign-in dialog with `result`.
    void CloseLogin(int result);

private:
    void ShowMessage(const std::string& key);
};
