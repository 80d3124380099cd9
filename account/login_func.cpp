#include "account/login_func.h"

#include "account/email_sign_in.h"
#include "base/app_state.h"
#include "app/html_dlg.h"
#include "app/ui_http_post.h"
#include "app/settings/lang_table.h"
#include "app/settings/settings_store.h"
#include "cloud/cloud_api.h"
#include "cloud/cloud_config.h"
#include "cloud/http_post.h"
#include "ui_engine/element.h"

void LoginFunc::on_init(WindowHandle window) {
    func_base::on_init(window);
    LoadRememberedSignIn();
    ui::FindById(window_, "email").SetValue(AppState.email);
    ui::FindById(window_, "pword").SetValue(AppState.password);
}

void LoginFunc::on_event(const ElementHandle&, const EventParams& params) {
    if (IsEvent(params, kEventClick, "login")) EmailSignIn();
    if (IsEvent(params, kEventClick, "exit")) CloseLogin(0);
    if (IsEvent(params, kEventClick, "facebook")) FacebookSignIn();
}

void LoginFunc::on_message(uint32_t, intptr_t, intptr_t) {}

void LoginFunc::EmailSignIn() {
    const std::string email = ui::FindById(window_, "email").GetValue();
    const std::string password = ui::FindById(window_, "pword").GetValue();
    // A fresh connection for this attempt; the dialog keeps drawing while
    // the cloud answers.
    UiHttpPost http(HttpOptions::FromConfig());
    vorta_account::SignInResult result =
        vorta_account::EmailSignIn(email, password, http, AppState, [] { return SaveRememberedSignIn(); });
    if (!result.signed_in) {
        ShowMessage(result.message_key);
        return;
    }
    CloseLogin(1);
}

void LoginFunc::FacebookSignIn() {
    // The social sign-in comes with its own browser window; until then the
    // button does nothing.
}

void LoginFunc::CloseLogin(int result) { EndPageDialog(window_, result); }

void LoginFunc::ShowMessage(const std::string& key) { ui::FindById(window_, "message").SetText(GetLangText(key)); }
