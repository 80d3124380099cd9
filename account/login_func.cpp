#include "account/login_func.h"

#include "account/email_sign_in.h"
#include "account/social_sign_in.h"
#include "app/html_dlg.h"
#include "app/settings/lang_table.h"
#include "app/settings/settings_store.h"
#include "app/ui_http_post.h"
#include "base/app_state.h"
#include "base/config.h"
#include "base/paths.h"
#include "base/window_messages.h"
#include "cloud/cloud_config.h"
#include "cloud/http_post.h"
#include "ui_engine/element.h"
#include "ui_engine/tls_trust.h"
#include "ui_engine/ui_engine.h"

#include <system_error>
#include <thread>

namespace {

// Size of the social sign-in's browser window, in logical pixels.
constexpr int kBrowserWidth = 640;
constexpr int kBrowserHeight = 520;

// Remembering the sign-in may wait for the keyring (at most its time-out):
// the window keeps drawing meanwhile.
bool RememberSignIn() {
    return ui::WaitOffUi([] { return SaveRememberedSignIn(); });
}

// With an extra CA file configured (a private cloud, the testbed), the
// provider's pages may come from the cloud's host, whose certificate the web
// engine must first be told to accept. Asked for at the first social sign-in
// rather than at start-up: until then no TLS session is opened in this
// process.
void TrustCloudForBrowser() {
    static bool trusted = false;
    if (trusted || CloudCaFile().empty()) return;
    trusted = ui::TrustServerCertificateAndWait(CloudHost(), kCloudPort, CloudCaFile(), 10000);
}

}  // namespace

void LoginFunc::on_init(WindowHandle window) {
    func_base::on_init(window);
    DestroyBrowser();
    const StoredSettings file = LoadRememberedSignInFromFile();
    ui::FindById(window_, "email").SetValue(AppState.email);
    ui::FindById(window_, "pword").SetValue(AppState.password);
    AskKeyringMeanwhile(file);
}

void LoginFunc::on_release() {
    keyring_alive_.reset();
    DestroyBrowser();
}

void LoginFunc::AskKeyringMeanwhile(const StoredSettings& file) {
    keyring_alive_ = std::make_shared<bool>(true);
    const std::weak_ptr<bool> alive = keyring_alive_;
    const WindowHandle window = window_;
    const std::string shown_password = AppState.password;
    const std::string shown_token = AppState.token;
    const auto take = [alive, window, shown_password, shown_token](const KeyringSignIn& k) {
        // A move only tidies the file; a load fills the password while the
        // page is still this one, its field untouched and no sign-in has
        // replaced the session.
        if (k.moved || !k.answered) {
            ApplyKeyringSignIn(k);
            return;
        }
        if (alive.expired() || AppState.password != shown_password || AppState.token != shown_token) return;
        ui::Element field = ui::FindById(window, "pword");
        if (field.GetValue() != shown_password) return;
        ApplyKeyringSignIn(k);
        field.SetValue(AppState.password);
    };
    try {
        std::thread([file, take] {
            const KeyringSignIn k = AskKeyringForSignIn(file);
            ui::PostToUi([k, take] { take(k); });
        }).detach();
    } catch (const std::system_error&) {
        // No thread to be had: the page goes on without the keyring's values.
    }
}

void LoginFunc::on_event(const ElementHandle&, const EventParams& params) {
    if (IsEvent(params, kEventClick, "login")) EmailSignIn();
    if (IsEvent(params, kEventClick, "exit")) CloseLogin(0);
    if (IsEvent(params, kEventClick, "facebook")) FacebookSignIn();
}

void LoginFunc::on_message(uint32_t msg, intptr_t wparam, intptr_t) {
    // Only the latest browser counts: an earlier one's late messages would
    // show the new one before its first page.
    if (msg == kMsgSocialSignIn && browser_ && wparam == browser_->tag()) CheckSocialRedirect();
}

void LoginFunc::EmailSignIn() {
    const std::string email = ui::FindById(window_, "email").GetValue();
    const std::string password = ui::FindById(window_, "pword").GetValue();
    // A fresh connection for this attempt; the dialog keeps drawing while
    // the cloud answers.
    UiHttpPost http(HttpOptions::FromConfig());
    vorta_account::SignInResult result = vorta_account::EmailSignIn(email, password, http, AppState, RememberSignIn);
    if (!result.signed_in) {
        ShowMessage(result.message_key);
        return;
    }
    CloseLogin(1);
}

void LoginFunc::FacebookSignIn() {
    error_shown_ = false;
    const vorta_account::SocialEndpoints endpoints = vorta_account::SocialEndpoints::FromConfig(GetConfig());
    if (!endpoints.configured()) {
        // A window on the provider without the program's client id could
        // only show the provider's error.
        ShowMessage("FB_NOT_CONFIGURED");
        return;
    }
    DestroyBrowser();
    // A new state for each request: a token redirect counts only when it
    // echoes this one.
    oauth_state_ = vorta_account::NewOAuthState();
    if (oauth_state_.empty()) {
        ShowMessage("HOST_ERROR");
        return;
    }
    redirect_url_ = endpoints.redirect_url;
    TrustCloudForBrowser();
    browser_ = std::make_unique<CWTLIExplorer>(window_, ++browser_tag_);
    browser_->Create(ScaleX(kBrowserWidth), ScaleY(kBrowserHeight),
                     vorta_account::OAuthRequestUrl(endpoints, oauth_state_));
}

void LoginFunc::CheckSocialRedirect() {
    if (token_taken_) return;
    const vorta_account::RedirectCheck check =
        vorta_account::CheckRedirect(browser_->url(), redirect_url_, oauth_state_);
    switch (check.kind) {
        case vorta_account::RedirectKind::Page:
            if (error_shown_) browser_->Hide();
            else browser_->CenterAndShow();
            return;
        case vorta_account::RedirectKind::Error:
            ui::FindById(window_, "message").SetText(check.error_text);
            error_shown_ = true;
            browser_->Hide();
            return;
        case vorta_account::RedirectKind::Refused:
            // A token this program did not ask for: nothing is fetched.
            ShowMessage("HOST_ERROR");
            error_shown_ = true;
            browser_->Hide();
            return;
        case vorta_account::RedirectKind::Token: break;
    }
    browser_->Hide();
    token_taken_ = true;

    // The profile and the cloud's answer are awaited off the UI thread; the
    // dialog keeps drawing meanwhile.
    // The profile carries the e-mail that the session is opened for: over
    // https only, redirects included, and no larger than a profile can be.
    HttpOptions profile_options = HttpOptions::FromConfig();
    profile_options.https_only = true;
    profile_options.max_download_bytes = vorta_account::kMaxProfileBytes;
    const vorta_account::Downloader download = [&profile_options](const std::string& url, const std::string& path) {
        return ui::WaitOffUi([&] { return download_to_file(url, path, profile_options); });
    };
    UiHttpPost http(HttpOptions::FromConfig());
    const vorta_account::SocialSignInResult result = vorta_account::CompleteSocialSignIn(
        check, GetConfig().facebook_graph_url, DataFolder(), download, http, AppState, RememberSignIn);
    if (!result.signed_in) {
        if (!result.message_key.empty()) ShowMessage(result.message_key);
        return;
    }
    CloseLogin(1);
}

void LoginFunc::CloseLogin(int result) {
    DestroyBrowser();
    EndPageDialog(window_, result);
}

void LoginFunc::DestroyBrowser() {
    browser_.reset();
    token_taken_ = false;
    oauth_state_.clear();
}

void LoginFunc::ShowMessage(const std::string& key) {
    ui::FindById(window_, "message").SetText(GetLangText(key));
}
