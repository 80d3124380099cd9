#include "divelog/log_edit_dlg.h"

#include <json/writer.h>

#include "app/settings/lang_table.h"
#include "app/ui_http_post.h"
#include "base/app_state.h"
#include "base/json_safe.h"
#include "base/paths.h"
#include "base/window_messages.h"
#include "browser/map_event_state.h"
#include "cloud/cloud_api.h"
#include "pages/page_manifest.h"
#include "ui_engine/automation.h"
#include "ui_engine/element.h"
#include "ui_engine/host_window.h"

namespace page = pages::log_edit;

LogEditFunc::LogEditFunc(vorta_divelog::DiveLogEdit& record) : form_(record, AppState.unit, *this, map_) {}

LogEditFunc::~LogEditFunc() = default;

void LogEditFunc::on_init(WindowHandle window) {
    func_base::on_init(window);
    // The map's load event has to reach this dialog.
    MapEventState.target = window_;
    map_.Attach(window_, std::string(), kScriptPage);
    form_.SetUp();
}

void LogEditFunc::on_release() {
    map_.Detach();
}

void LogEditFunc::on_event(const ElementHandle&, const EventParams& params) {
    if (params.cmd == kEventClick) form_.OnClick(params.target_id, params.attributes);
}

void LogEditFunc::on_map_loaded() {
    form_.PlaceMarkers();
}

std::string LogEditFunc::GetValue(const std::string& id) {
    return ui::FindById(window_, id).GetValue();
}
void LogEditFunc::SetValue(const std::string& id, const std::string& value) {
    ui::FindById(window_, id).SetValue(value);
}
void LogEditFunc::SetHidden(const std::string& id, bool hidden) {
    if (hidden) ui::FindById(window_, id).SetAttribute("hidden", std::string());
    else ui::FindById(window_, id).RemoveAttribute("hidden");
}
void LogEditFunc::SetContent(const std::string& id, const std::string& html) {
    ui::FindById(window_, id).SetHtml(html);
}
void LogEditFunc::UpdatePage() {
    if (ui::HostWindow* w = ui::FindWindow(window_)) w->FlushWrites();
}
std::string LogEditFunc::PagePath(const std::string& file) {
    return ::PagePath(file);
}
void LogEditFunc::ShowMessageLine(const std::string& key) {
    ui::FindById(window_, page::message).SetText(key.empty() ? std::string() : GetLangText(key));
}
void LogEditFunc::ShowMessage(const std::string& key) {
    ShowMsgDlg(GetLangText(key), std::string(), window_);
}
vorta_divesite::SearchOutcome LogEditFunc::SearchSites(const std::string& text) {
    UiHttpPost http(HttpOptions::FromConfig());
    return vorta_divesite::SearchDiveSites(http, text, make_bearer_header());
}
void LogEditFunc::Close(int result) {
    map_.Detach();
    EndPageDialog(window_, result);
}

// ---------------------------------------------------------------- the dialog

LogEditDlg::LogEditDlg(vorta_divelog::DiveLogEdit& record)
    : DialogWnd(page::kFile, page::kWidth, page::kHeight, page::kDragBand), edit_(record) {}

void LogEditDlg::on_document_loaded(const ElementHandle&) {
    edit_.on_init(id());
}

void LogEditDlg::on_click(const ElementHandle& element, const EventParams& params) {
    edit_.on_event(element, params);
}

void LogEditDlg::on_message(uint32_t msg, intptr_t, intptr_t) {
    if (msg == kMsgMapLoaded) edit_.on_map_loaded();
}

void LogEditDlg::destroy() {
    // Closed by the window manager or automation as well as by the buttons.
    edit_.on_release();
    DialogWnd::destroy();
}

// ---------------------------------------------------------------- tests

namespace {

std::string JsonText(const Json::Value& v) {
    Json::StreamWriterBuilder wb;
    wb["indentation"] = "";
    return Json::writeString(wb, v);
}

// Script that finds the document of the frames named in the request's
// "frames" (from the top page down) as `d`. The ids go in as a JSON literal,
// so nothing in them is code.
std::string FramesScript(const Json::Value& request) {
    Json::Value frames(Json::arrayValue);
    const Json::Value& list = json_safe::Member(request, "frames");
    for (Json::ArrayIndex i = 0; i < json_safe::Size(list); ++i)
        frames.append(json_safe::AsString(json_safe::Element(list, i)));
    return "var d=document,p=" + JsonText(frames) +
           ";for(var k=0;k<p.length;k++){d=d.querySelector(\"[id='\"+CSS.escape(p[k])+\"']\").contentDocument;}";
}

Json::Value Failed(const char* error) {
    Json::Value answer;
    answer["ok"] = false;
    answer["error"] = error;
    return answer;
}

Json::Value MapCallsCommand(ui::HostWindow& window, const Json::Value& request) {
    const std::string script = "(function(){try{" + FramesScript(request) +
                               "var f=d.querySelector(\"[id='ie'] iframe\");"
                               "return JSON.stringify(f.contentWindow.__received);}catch(e){return '';}})()";
    Json::Value calls;
    if (!json_safe::Parse(window.Evaluate(script), calls) || !calls.isArray()) return Failed("no script page");
    Json::Value answer;
    answer["ok"] = true;
    answer["calls"] = calls;
    return answer;
}

Json::Value HasAttrCommand(ui::HostWindow& window, const Json::Value& request) {
    const std::string script =
        "(function(){try{" + FramesScript(request) + "var e=d.querySelector(\"[id='\"+CSS.escape(" +
        JsonText(Json::Value(json_safe::String(request, "element"))) +
        ")+\"']\");if(!e)return '';return e.hasAttribute(" + JsonText(Json::Value(json_safe::String(request, "name"))) +
        ")?'1':'0';}catch(x){return '';}})()";
    const std::string has = window.Evaluate(script);
    if (has.empty()) return Failed("no such element");
    Json::Value answer;
    answer["ok"] = true;
    answer["value"] = has == "1";
    return answer;
}

}  // namespace

void AddEditAutomation() {
    ui::AddAutomationCommand("map_calls", MapCallsCommand);
    ui::AddAutomationCommand("has_attr", HasAttrCommand);
}
