#include "divelog/calendar_func.h"

#include <ctime>

#include "app/html_dlg.h"
#include "app/settings/lang_table.h"
#include "app/ui_http_post.h"
#include "base/app_state.h"
#include "base/paths.h"
#include "base/window_messages.h"
#include "cloud/cloud_api.h"
#include "divelog/divelog_cloud.h"
#include "divelog/logbook_line.h"
#include "divelog/offline_save.h"
#include "app/progress_worker.h"
#include "divelog/value_format.h"
#include "pages/page_manifest.h"
#include "ui_engine/element.h"

namespace {

namespace page = pages::dive_log_page;
const char* const kFrame = pages::main::framepage1;

using vorta_divelog::CloudAnswer;

}  // namespace

void CalendarFunc::on_init(WindowHandle window) {
    func_base::on_init(window);
    Bind();
}

void CalendarFunc::reload() {
    Bind();
}

void CalendarFunc::Bind() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    model_.SetMonth(local.tm_year + 1900, local.tm_mon + 1);

    const ElementHandle calendar = ui::FindInFrame(window_, kFrame, page::calendar);
    for (int i = 0; i < vorta_divelog::CalendarModel::kCells; ++i) {
        cells_[static_cast<size_t>(i)] = calendar.Find(vorta_divelog::CellId(i));
        cells_[static_cast<size_t>(i)].SetAttribute("objid", std::to_string(i));
    }
    LoadMonth();
}

void CalendarFunc::on_event(const ElementHandle&, const EventParams& params) {
    if (params.cmd != kEventClick) return;
    const std::string& id = TargetId(params);
    if (id == page::lastmon) {
        model_.PreviousMonth();
        LoadMonth();
    } else if (id == page::nextmon) {
        model_.NextMonth();
        LoadMonth();
    } else if (id == page::offline_save) {
        SaveForOffline();
    } else if (id == page::synclog) {
        LoadMonth();
        ui::PostWindowMessage(window_, kMsgStatisticsReload, 0, 0);
    } else if (vorta_divelog::CellIndexOfId(id)) {
        // The cell's own record of its index; anything but 0..41 is not a cell.
        const std::string objid = params.target.GetAttribute("objid");
        const int index = vorta_divelog::TextInteger(objid);
        if (!objid.empty() && index >= 0 && index < vorta_divelog::CalendarModel::kCells) LoadDayList(index);
    }
}

void CalendarFunc::LoadMonth() {
    ui::FindInFrame(window_, kFrame, page::calendardate)
        .SetText(vorta_divelog::MonthTitle(model_.year(), model_.month()));
    const int year = model_.year(), month = model_.month();
    vorta_divelog::NoteMonthShown(vorta_divelog::MonthKey(year, month));
    UiHttpPost http(HttpOptions::FromConfig());
    const vorta_divelog::StoreFirstRead read = vorta_divelog::ReadStoreFirst(
        SessionLogbook(window_), vorta_divelog::StoredKind::kMonth, vorta_divelog::MonthKey(year, month), http,
        UrlCalendarMonth(year, month),
        [&](const Json::Value& response) {
            ShowMonth(response);
            return true;
        },
        std::time(nullptr));
    if (ShowLogbookState(window_, read)) return;
    const CloudAnswer& answer = read.answer;
    if (answer.status == CloudAnswer::Status::kNoSession) {
        ShowMsgDlg(GetLangText("HOST_NOT_CONN"), std::string(), window_);
    } else if (answer.status == CloudAnswer::Status::kFailed) {
        ShowMessage(answer.message_key);
    }
}

void CalendarFunc::ShowMonth(const Json::Value& response) {
    summary_ = vorta_divelog::ParseMonthSummary(response);
    model_.RefreshCells();
    for (int i = 0; i < vorta_divelog::CalendarModel::kCells; ++i) {
        const vorta_divelog::CivilDate& date = model_.cell(i);
        const bool dives = vorta_divelog::DayHasDives(summary_, vorta_divelog::DateNumber(date));
        const ElementHandle& cell = cells_[static_cast<size_t>(i)];
        cell.SetText(std::to_string(date.day));
        cell.SetAttribute("class", vorta_divelog::CellClass(date, model_.month(), dives));
    }
}

void CalendarFunc::LoadDayList(int cell_index) {
    const vorta_divelog::CivilDate date = model_.cell(cell_index);
    UiHttpPost http(HttpOptions::FromConfig());
    const vorta_divelog::StoreFirstRead read = vorta_divelog::ReadStoreFirst(
        SessionLogbook(window_), vorta_divelog::StoredKind::kDay,
        vorta_divelog::DayKey(date.year, date.month, date.day), http, UrlCalendarDate(date.year, date.month, date.day),
        [&](const Json::Value& response) {
            ShowDayList(response);
            return true;
        },
        std::time(nullptr));
    if (ShowLogbookState(window_, read)) return;
    const CloudAnswer& answer = read.answer;
    if (answer.status == CloudAnswer::Status::kNoSession) {
        ShowMsgDlg(GetLangText("HOST_NOT_CONN"), std::string(), window_);
    } else if (answer.status == CloudAnswer::Status::kFailed) {
        ShowMessage(answer.message_key);
    }
}

void CalendarFunc::ShowDayList(const Json::Value& response) {
    const ElementHandle list = ui::FindInFrame(window_, kFrame, page::cell_tbody);
    list.SetHtml("");
    // Each row is the page's row fragment with the dive's values put in
    // before it is added: the rows share their element ids, so a row could
    // not be found by id once it is in the page.
    const std::string row_template = ReadWholeFile(PagePath(pages::dive_log_cell::kFile));
    for (const vorta_divelog::DayListRow& row : vorta_divelog::ParseDayList(response, AppState.unit, GetLangText))
        list.AppendHtml(vorta_divelog::FillDayListRow(row_template, row));
}

void CalendarFunc::ShowMessage(const std::string& key) const {
    ui::FindInFrame(window_, kFrame, page::message).SetText(GetLangText(key));
}

void CalendarFunc::SaveForOffline() {
    if (AppState.offline_session) {
        ShowMsgDlg(GetLangText("NEEDS_CONNECTION"), std::string(), window_);
        return;
    }
    vorta_divelog::LogbookStore* store = SessionLogbook(window_);
    if (!store) return;
    HttpPost http(HttpOptions::FromConfig());
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    progress_.set_cancellable(true);
    // A logbook already stored, or a small one, is saved before a dialog
    // could come up: its message alone says so.
    progress_.set_show_after(kProgressShowAfterMs);
    // A success over before the dialog came up is told on the page's
    // message line (announced, no window to close); a failure, or a success
    // under the dialog, in a message dialog.
    bool done_on_page = false;
    const Outcome run = RunUnderProgress(progress_, window_, [&](ProgressSink& sink) {
        const vorta_divelog::OfflineSaveResult result = vorta_divelog::SaveLogbookForOffline(
            *store, http, sink, local.tm_year + 1900, local.tm_mon + 1, [] { return int64_t(std::time(nullptr)); });
        if (result.status == vorta_divelog::OfflineSaveResult::Status::kDone) {
            if (sink.without_dialog()) done_on_page = true;
            else sink.show_message("OFFLINE_SAVE_DONE");
        }
        if (result.status == vorta_divelog::OfflineSaveResult::Status::kFailed) sink.show_message(result.message_key);
    });
    if (!run.ok()) ShowMsgDlg(GetLangText(run.key), std::string(), window_);
    else if (done_on_page) ShowMessage("OFFLINE_SAVE_DONE");
}
