#include "divelog/continue_offline_func.h"

#include <strings.h>

#include "app/html_dlg.h"
#include "app/settings/lang_table.h"
#include "base/app_state.h"
#include "pages/page_manifest.h"
#include "ui_engine/element.h"

namespace {
namespace page = pages::login;
}  // namespace

void ContinueOfflineFunc::on_init(WindowHandle window) {
    func_base::on_init(window);
    remembered_email_ = AppState.email;
    account_.reset();
}

void ContinueOfflineFunc::on_event(const ElementHandle&, const EventParams& params) {
    if (IsEvent(params, kEventClick, page::login)) Offer();
    if (IsEvent(params, kEventClick, page::offline)) ContinueOffline();
}

void ContinueOfflineFunc::Offer() {
    account_.reset();
    const ElementHandle button = ui::FindById(window_, page::offline);
    // Only the remembered account, and only when the cloud gave no answer (a
    // refused password is not a reason to open the logbook).
    const std::string typed = ui::FindById(window_, page::email).GetValue();
    const bool unreachable = ui::FindById(window_, page::message).GetText() == GetLangText("HOST_NOT_CONN");
    if (unreachable && !remembered_email_.empty() && strcasecmp(typed.c_str(), remembered_email_.c_str()) == 0) {
        const std::string path = vorta_divelog::LogbookStorePath();
        if (!path.empty()) account_ = vorta_divelog::FindStoredAccount(path, typed);
    }
    if (account_) button.RemoveAttribute("hidden");
    else button.SetAttribute("hidden", "hidden");
}

void ContinueOfflineFunc::ContinueOffline() {
    if (!account_) return;
    AppState.user_id = account_->user_id;
    AppState.user_name = account_->user_name;
    AppState.email = remembered_email_;
    AppState.offline_session = true;
    EndPageDialog(window_, 1);
}
