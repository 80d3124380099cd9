#include "divelog/dive_map_func.h"

#include <cstdlib>
#include <ctime>
#include <memory>

#include "app/html_dlg.h"
#include "app/progress_worker.h"
#include "app/settings/lang_table.h"
#include "app/ui_http_post.h"
#include "base/app_state.h"
#include "base/json_safe.h"
#include "browser/map_event_state.h"
#include "browser/print_page.h"
#include "cloud/cloud_api.h"
#include "divelog/dive_log_edit.h"
#include "divelog/divelog_cloud.h"
#include "divelog/export_file.h"
#include "divelog/export_logbook.h"
#include "divelog/log_edit_dlg.h"
#include "divelog/logbook_line.h"
#include "pages/page_manifest.h"
#include "ui_engine/element.h"
#include "ui_engine/file_dialog.h"

namespace {
namespace page = pages::dive_log_page;
namespace row = pages::dive_log_cell;
const char* const kFrame = pages::main::framepage1;
using vorta_divelog::CloudAnswer;
}  // namespace

void DiveMapFunc::on_init(WindowHandle window) {
    func_base::on_init(window);
    AddEditAutomation();
    host_.Attach(window_, kFrame, kScriptPage);
}

void DiveMapFunc::on_event(const ElementHandle&, const EventParams& params) {
    if (IsEvent(params, kEventClick, row::edit)) Edit(params.target.GetAttribute("objid"));
    if (IsEvent(params, kEventClick, row::view)) View(params.target.GetAttribute("objid"));
    if (IsEvent(params, kEventClick, page::export_log) || IsEvent(params, kEventClick, page::export_logbook)) {
        const std::string scope = ui::FindInFrame(window_, kFrame, page::export_scope).GetValue();
        if (scope.empty() || scope == "dive") ExportShown();
        else ExportLogbook(scope);
    }
    if (IsEvent(params, kEventClick, page::print_log)) PrintShown();
}

void DiveMapFunc::reload_chart() {
    shown_id_.clear();
    host_.Navigate(kScriptPage);
}

void DiveMapFunc::rebuild_browser() {
    shown_id_.clear();
    host_.Attach(window_, kFrame, kScriptPage);
}

void DiveMapFunc::View(const std::string& divelog_id) {
    UiHttpPost http(HttpOptions::FromConfig());
    const vorta_divelog::StoreFirstRead read = vorta_divelog::ViewDiveLogStoreFirst(
        SessionLogbook(window_), http, divelog_id, AppState.unit, GetLangText, host_, [this] { return host_.ready(); },
        std::time(nullptr));
    const CloudAnswer& answer = read.answer;
    // Calls made while the page loads are skipped: then it shows nothing.
    if (answer.status == CloudAnswer::Status::kOk || read.stored_at)
        shown_id_ = host_.ready() ? divelog_id : std::string();
    if (ShowLogbookState(window_, read)) return;
    if (answer.status == CloudAnswer::Status::kNoSession) {
        ShowMsgDlg(GetLangText("NO_INTERNET"), std::string(), window_);
    } else if (answer.status == CloudAnswer::Status::kFailed) {
        ui::FindInFrame(window_, kFrame, page::message).SetText(GetLangText(answer.message_key));
    }
}

void DiveMapFunc::Edit(const std::string& divelog_id) {
    if (AppState.offline_session) {
        ShowMsgDlg(GetLangText("NEEDS_CONNECTION"), std::string(), window_);
        return;
    }
    CloudAnswer loaded;
    {
        UiHttpPost http(HttpOptions::FromConfig());
        loaded = vorta_divelog::CloudGet(http, UrlDivelog(divelog_id));
    }
    if (loaded.status == CloudAnswer::Status::kNoSession) {
        ShowMsgDlg(GetLangText("NO_INTERNET"), std::string(), window_);
        return;
    }
    Json::Value divelog = json_safe::Member(loaded.response, "divelog");
    // A success without a dive log has nothing to edit, nor to send back.
    if (loaded.status == CloudAnswer::Status::kOk && !divelog.isObject()) loaded.message_key = "DATA_ERROR";
    if (!loaded.message_key.empty()) {
        ui::FindInFrame(window_, kFrame, page::message).SetText(GetLangText(loaded.message_key));
        return;
    }

    vorta_divelog::DiveLogEdit record = vorta_divelog::FillDiveLogEdit(divelog);
    HtmlDlg dialog(std::make_unique<LogEditDlg>(record));
    const int result = dialog.DoModal(window_);
    // Map events belong to this window again, however the dialog ended.
    MapEventState.target = window_;
    // Only "save" saves: -1 (the dialog could not be shown) is no answer.
    if (result != 1) return;

    const int32_t unit = AppState.unit;
    vorta_divelog::WriteDiveLogEdit(record, unit, divelog);
    // The whole dive log again, whichever one the page showed: values,
    // markers and chart.
    vorta_divelog::ShowDiveLog(divelog, unit, GetLangText, host_);
    // What the page shows now is neither stored nor in the cloud yet.
    shown_id_.clear();
    CloudAnswer saved;
    {
        UiHttpPost http(HttpOptions::FromConfig());
        saved = vorta_divelog::SaveDiveLog(http, divelog, divelog_id);
    }
    if (saved.status == CloudAnswer::Status::kOk) {
        // The cloud has the edited dive now: so has the logbook copy.
        if (vorta_divelog::LogbookStore* store = SessionLogbook(window_)) {
            Json::Value answer;
            answer["divelog"] = divelog;
            store->Put(vorta_divelog::StoredKind::kDiveLog, divelog_id, answer, std::time(nullptr));
        }
        shown_id_ = host_.ready() ? divelog_id : std::string();
        return;
    }
    // The detail shows values the cloud does not have: say so, then show
    // what it has.
    ShowMsgDlg(GetLangText(saved.message_key.empty() ? "HOST_NOT_CONN" : saved.message_key),
               GetLangText("LOG_EDIT_NOT_SAVED"), window_);
    View(divelog_id);
}

bool DiveMapFunc::FetchShown(Json::Value& divelog) {
    auto message = [this](const std::string& key) {
        ui::FindInFrame(window_, kFrame, page::message).SetText(GetLangText(key));
    };
    if (shown_id_.empty()) {
        message("EXPORT_NO_DIVE");
        return false;
    }
    CloudAnswer loaded;
    {
        UiHttpPost http(HttpOptions::FromConfig());
        loaded = vorta_divelog::CloudGet(http, UrlDivelog(shown_id_));
    }
    if (loaded.status == CloudAnswer::Status::kNoSession) {
        ShowMsgDlg(GetLangText("NO_INTERNET"), std::string(), window_);
        return false;
    }
    divelog = json_safe::Member(loaded.response, "divelog");
    if (loaded.status == CloudAnswer::Status::kOk && !divelog.isObject()) loaded.message_key = "DATA_ERROR";
    if (!loaded.message_key.empty()) {
        message(loaded.message_key);
        return false;
    }
    return true;
}

std::string DiveMapFunc::AskExportPath() {
    ui::FileDialogOptions options;
    options.save = true;
    options.title = GetLangText("EXPORT_TITLE");
    options.filters = {{"UDDF Files (*.uddf)", "*.uddf"}, {"CSV Files (*.csv)", "*.csv"}, {"All Files (*.*)", "*.*"}};
    options.default_extension = "uddf";
    options.parent = window_;
    return ui::RunFileDialog(options);
}

void DiveMapFunc::ExportShown() {
    if (shown_id_.empty()) {
        ui::FindInFrame(window_, kFrame, page::message).SetText(GetLangText("EXPORT_NO_DIVE"));
        return;
    }
    const std::string path = AskExportPath();
    Json::Value divelog;
    if (path.empty() || !FetchShown(divelog)) return;
    const vorta_divelog::UddfGenerator generator{"VORTA PC TOOL", VORTA_VERSION};
    const vorta_divelog::UddfOwner owner{AppState.user_name, AppState.email};
    if (!vorta_divelog::ExportDiveLogs(path, {divelog}, AppState.unit, GetLangText, generator, owner))
        ShowMsgDlg(GetLangText("EXPORT_NOT_SAVED"), std::string(), window_);
}

void DiveMapFunc::ExportLogbook(const std::string& scope) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    // "This month" is the calendar's; "all dives" and a range end at today's.
    int this_month = (local.tm_year + 1900) * 100 + local.tm_mon + 1;
    if (scope == "month" && calendar_) this_month = calendar_->year() * 100 + calendar_->month();
    vorta_divelog::ExportMonths months;
    if (!vorta_divelog::ExportMonthsOf(scope, this_month,
                                       ui::FindInFrame(window_, kFrame, page::export_from).GetValue(),
                                       ui::FindInFrame(window_, kFrame, page::export_to).GetValue(), months)) {
        ui::FindInFrame(window_, kFrame, page::message).SetText(GetLangText("EXPORT_BAD_RANGE"));
        return;
    }
    vorta_divelog::LogbookStore* store = SessionLogbook(window_);
    if (!store) {
        ShowMsgDlg(GetLangText("EXPORT_NOT_SAVED"), std::string(), window_);
        return;
    }
    vorta_divelog::ExportTarget target;
    target.path = AskExportPath();
    if (target.path.empty()) return;
    target.unit = AppState.unit;
    // The worker reads the labels in the language of this moment.
    target.lang = [language = AppState.language](const std::string& key) { return GetLangTextIn(key, language); };
    target.generator = {"VORTA PC TOOL", VORTA_VERSION};
    target.owner = {AppState.user_name, AppState.email};

    std::unique_ptr<HttpPost> http;
    if (!AppState.offline_session) http = std::make_unique<HttpPost>(HttpOptions::FromConfig());
    progress_.set_cancellable(true);
    // An export of stored months is written before a dialog could come up.
    progress_.set_show_after(kProgressShowAfterMs);
    const Outcome run = RunUnderProgress(progress_, window_, [&](ProgressSink& sink) {
        const vorta_divelog::LogbookExportResult result = vorta_divelog::ExportLogbook(
            *store, http.get(), sink, months, target, [] { return int64_t(std::time(nullptr)); });
        using Status = vorta_divelog::LogbookExportResult::Status;
        if (result.status == Status::kDone) sink.show_message("EXPORT_DONE");
        if (result.status == Status::kNoDives) sink.show_message("EXPORT_NO_DIVES");
        if (result.status == Status::kFailed) sink.show_message(result.message_key);
    });
    if (!run.ok()) ShowMsgDlg(GetLangText(run.key), std::string(), window_);
}

void DiveMapFunc::PrintShown() {
    Json::Value divelog;
    if (printing_ || !FetchShown(divelog)) return;
    printing_ = true;
    PrintRequest request;
    request.script_page = kScriptPage;
    request.parent = window_;
    const int32_t unit = AppState.unit;
    request.calls.push_back(vorta_browser::SetDiveValue(vorta_divelog::ValuePanelJson(divelog, unit, GetLangText)));
    for (const auto& call : vorta_divelog::PositionCalls(divelog)) request.calls.push_back(call);
    request.calls.push_back(vorta_browser::SetDiveChart(unit, vorta_divelog::ProfileChartJson(divelog, unit)));
    if (const char* pdf = std::getenv("VORTA_PRINT_PDF")) request.pdf_file = pdf;
    const PrintResult result = PrintScriptPage(request);
    printing_ = false;
    if (result == PrintResult::kFailed) ShowMsgDlg(GetLangText("PRINT_FAILED"), std::string(), window_);
}
