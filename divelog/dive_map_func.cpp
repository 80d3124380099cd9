#include "divelog/dive_map_func.h"

#include "app/html_dlg.h"
#include "app/settings/lang_table.h"
#include "app/ui_http_post.h"
#include "base/app_state.h"
#include "divelog/divelog_cloud.h"
#include "pages/page_manifest.h"
#include "ui_engine/element.h"

namespace {
namespace page = pages::dive_log_page;
namespace row = pages::dive_log_cell;
const char* const kFrame = pages::main::framepage1;
using vorta_divelog::CloudAnswer;
}  // namespace

void DiveMapFunc::on_init(WindowHandle window) {
    func_base::on_init(window);
    host_.Attach(window_, kFrame, kScriptPage);
}

void DiveMapFunc::on_event(const ElementHandle&, const EventParams& params) {
    if (IsEvent(params, kEventClick, row::edit)) Edit(params.target.GetAttribute("objid"));
    if (IsEvent(params, kEventClick, row::view)) View(params.target.GetAttribute("objid"));
}

void DiveMapFunc::reload_chart() {
    host_.Navigate(kScriptPage);
}

void DiveMapFunc::rebuild_browser() {
    host_.Attach(window_, kFrame, kScriptPage);
}

void DiveMapFunc::View(const std::string& divelog_id) {
    UiHttpPost http(HttpOptions::FromConfig());
    const CloudAnswer answer = vorta_divelog::ViewDiveLog(http, divelog_id, AppState.unit, GetLangText, host_);
    if (answer.status == CloudAnswer::Status::kNoSession) {
        ShowMsgDlg(GetLangText("NO_INTERNET"), std::string(), window_);
    } else if (answer.status == CloudAnswer::Status::kFailed) {
        ui::FindInFrame(window_, kFrame, page::message).SetText(GetLangText(answer.message_key));
    }
}

void DiveMapFunc::Edit(const std::string& divelog_id) {
    (void)divelog_id;
}
