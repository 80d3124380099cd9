#include "divelog/history_func.h"

#include <ctime>
#include <string>

#include "app/html_dlg.h"
#include "app/settings/lang_table.h"
#include "app/ui_http_post.h"
#include "base/app_state.h"
#include "cloud/cloud_api.h"
#include "divelog/divelog_cloud.h"
#include "divelog/logbook_line.h"
#include "pages/page_manifest.h"
#include "ui_engine/element.h"

namespace {
namespace page = pages::dive_log_page;
const char* const kFrame = pages::main::framepage1;
using vorta_divelog::CloudAnswer;
}  // namespace

void HistoryFunc::on_init(WindowHandle window) {
    func_base::on_init(window);
    reload();
}

void HistoryFunc::on_event(const ElementHandle&, const EventParams& params) {
    if (IsEvent(params, kEventClick, page::odo_type)) Show();
}

void HistoryFunc::reload() {
    Load();
    // Shown even when the load failed: the kept figures in the current unit.
    Show();
}

void HistoryFunc::Load() {
    UiHttpPost http(HttpOptions::FromConfig());
    const vorta_divelog::StoreFirstRead read = vorta_divelog::ReadStoreFirst(
        SessionLogbook(window_), vorta_divelog::StoredKind::kStatistics, std::string(), http,
        UrlStatistics(AppState.user_id),
        [&](const Json::Value& response) {
            stats_ = vorta_divelog::ParseStatistics(response);
            Show();
            return true;
        },
        std::time(nullptr));
    if (ShowLogbookState(window_, read)) return;
    const CloudAnswer& answer = read.answer;
    if (answer.status == CloudAnswer::Status::kNoSession) {
        ShowMsgDlg(GetLangText("HOST_NOT_CONN"), std::string(), window_);
    } else if (answer.status == CloudAnswer::Status::kFailed) {
        ui::FindInFrame(window_, kFrame, page::message).SetText(GetLangText(answer.message_key));
    }
}

void HistoryFunc::Show() {
    const vorta_divelog::StatisticsTexts t = vorta_divelog::StatisticsText(stats_, AppState.unit);
    const std::pair<const char*, const std::string*> fields[] = {
        {page::scuba_total_dive, &t.scuba_total_dive}, {page::scuba_total_time, &t.scuba_total_time},
        {page::scuba_max_depth, &t.scuba_max_depth},   {page::scuba_max_depth_unit, &t.scuba_max_depth_unit},
        {page::free_total_dive, &t.free_total_dive},   {page::free_total_time, &t.free_total_time},
        {page::free_max_depth, &t.free_max_depth},     {page::free_max_depth_unit, &t.free_max_depth_unit},
    };
    for (const auto& [id, text] : fields) ui::FindInFrame(window_, kFrame, id).SetText(*text);
}
