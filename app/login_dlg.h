// The sign-in dialog ("login.htm", 520 x 260, drag band 30). It hosts a
// LoginFunc, an UpdateFunc (the device updates also work from the sign-in
// page) and a ContinueOfflineFunc; events go to them in that order, message
// 3024 to the LoginFunc.
// Result: 0 = the user left (the program ends), anything else = signed in.
#pragma once

#include "account/login_func.h"
#include "app/html_dlg.h"
#include "base/window_messages.h"
#include "divelog/continue_offline_func.h"
#include "update/update_func.h"

class LoginDlg : public DialogWnd {
public:
    LoginDlg();
    ~LoginDlg() override;
    void on_document_loaded(const ElementHandle& root) override;
    void on_click(const ElementHandle& element, const EventParams& params) override;
    void on_message(uint32_t msg, intptr_t wparam, intptr_t lparam) override;

private:
    LoginFunc login_;
    UpdateFunc update_;
    ContinueOfflineFunc offline_;  // after login_: it looks at how the sign-in went
};
