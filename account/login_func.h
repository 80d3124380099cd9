// Sign-in controller of "login.htm" ("login", "exit", "facebook"), hosted by
// the sign-in dialog. The dialog's result is what this controller ends it
// with: 0 = leave (the program ends), anything else = signed in.
#pragma once

#include <cstdint>

#include "app/func_base.h"

class LoginFunc : public func_base {
public:
    void on_init(WindowHandle window) override;
    void on_event(const ElementHandle& element, const EventParams& params) override;
    // Private messages of the sign-in dialog (3024 from the social sign-in).
    void on_message(uint32_t msg, intptr_t wparam, intptr_t lparam);
};
