#include "divelog/logbook_line.h"

#include "account/email_sign_in.h"
#include "app/settings/lang_table.h"
#include "app/settings/settings_store.h"
#include "app/ui_http_post.h"
#include "base/app_state.h"
#include "pages/page_manifest.h"
#include "ui_engine/element.h"

namespace {
namespace page = pages::dive_log_page;
const char* const kFrame = pages::main::framepage1;

// Whether the message line shows the offline text now.
bool g_offline_shown = false;

void SetLine(WindowHandle window, const std::string& text) {
    ui::FindInFrame(window, kFrame, page::message).SetText(text);
}
// An offline session whose remembered token the cloud no longer takes: a
// sign-in with the remembered account, so that the next action is online.
void RejoinCloud() {
    if (AppState.email.empty() || AppState.password.empty()) return;
    UiHttpPost http(HttpOptions::FromConfig());
    const vorta_account::SignInResult result = vorta_account::EmailSignIn(
        AppState.email, AppState.password, http, AppState, [] { return SaveRememberedSignIn(); });
    if (result.signed_in) AppState.offline_session = false;
}

}  // namespace

vorta_divelog::LogbookStore* SessionLogbook(WindowHandle window) {
    std::string set_aside;
    vorta_divelog::LogbookStore* store =
        vorta_divelog::AccountLogbook(AppState.user_id, &set_aside, AppState.email, AppState.user_name);
    if (!set_aside.empty()) SetLine(window, GetLangText("LOGBOOK_SET_ASIDE"));
    return store;
}

bool ShowLogbookState(WindowHandle window, const vorta_divelog::StoreFirstRead& read) {
    if (read.answer.status == vorta_divelog::CloudAnswer::Status::kOk) {
        // Any answer of the cloud ends an offline session.
        AppState.offline_session = false;
        if (g_offline_shown) SetLine(window, std::string());
        g_offline_shown = false;
        return true;
    }
    if (read.answered && AppState.offline_session) RejoinCloud();
    if (!read.offline()) return false;
    // The newest copy of the whole logbook tells when it was last refreshed.
    int64_t when = *read.stored_at;
    if (vorta_divelog::LogbookStore* store = vorta_divelog::AccountLogbook(AppState.user_id, nullptr))
        when = store->LastRefreshed().value_or(when);
    SetLine(window, vorta_divelog::OfflineLine(when, GetLangText));
    g_offline_shown = true;
    return true;
}
