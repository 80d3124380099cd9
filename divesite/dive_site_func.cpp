#include "divesite/dive_site_func.h"

#include "app/html_dlg.h"
#include "app/settings/lang_table.h"
#include "base/app_state.h"
#include "base/config.h"
#include "base/json_safe.h"
#include "base/paths.h"
#include "browser/map_event_state.h"
#include "browser/web_event.h"
#include "cloud/http_post.h"
#include "device/device_session.h"
#include "ui_engine/automation.h"
#include "ui_engine/element.h"
#include "ui_engine/file_dialog.h"
#include "ui_engine/ui_engine.h"

namespace {

constexpr const char* kFrame = "framepage2";

// The automation channel's "map_event": a map page event raised as the page
// raises it, through the page's external object, with the messages posted to
// the window the request names:
//   {"cmd":"map_event","page":"main.htm","name":"on_get_map_center","args":["25.03","121.56"]}
// Tests drive the dive-site page's map with it.
Json::Value MapEventCommand(ui::HostWindow& window, const Json::Value& request) {
    const ui::WindowId target = window.id();
    WebEvent events(MapEventState, [target](uint64_t, uint32_t msg) { ui::PostWindowMessage(target, msg, 0, 0); });
    WebEvent::Args args;
    const Json::Value& list = json_safe::Member(request, "args");
    for (Json::ArrayIndex i = 0; i < json_safe::Size(list); ++i) args.push_back(json_safe::Element(list, i));
    Json::Value answer;
    if (events.InvokeByName(json_safe::String(request, "name"), args) != WebEvent::Result::kOk) {
        answer["ok"] = false;
        answer["error"] = "no such event";
        return answer;
    }
    answer["ok"] = true;
    return answer;
}

}  // namespace

DiveSiteFunc::DiveSiteFunc() {
    vorta_divesite::DiveSiteSurface& surface = *this;
    editor_ = std::make_unique<vorta_divesite::DiveSiteEditor>(surface, map_);
    editor_->SetMapReady(false);
    map_.SetReadyListener([this](bool ready) { editor_->SetMapReady(ready); });
}
DiveSiteFunc::~DiveSiteFunc() = default;

void DiveSiteFunc::on_init(WindowHandle window) {
    func_base::on_init(window);
    ui::AddAutomationCommand("map_event", MapEventCommand);
    rebuild_browser();
}

void DiveSiteFunc::rebuild_browser() {
    // The map page comes when the tab is first shown: its web page and map
    // cost memory and start-up time that a user who never opens the tab
    // should not pay.
    map_.Detach();
    editor_->SetMapReady(false);
    editor_->SetUp();
}

void DiveSiteFunc::on_event(const ElementHandle&, const EventParams& params) {
    if (IsEvent(params, kEventClick, "page2") && !map_.attached()) {
        // Not ready until the page says so; a "New" meanwhile waits for it.
        editor_->SetMapReady(false);
        map_.Attach(window_, kFrame, "web_html/maps.htm");
    }
    if (AppState.offline_session && IsEvent(params, kEventClick, "dive_site_find")) {
        ShowMsgDlg(GetLangText("NEEDS_CONNECTION"), std::string(), window_);
        return;
    }
    if (params.cmd == kEventClick) {
        editor_->OnClick(params.target_id, params.attributes);
    } else if (IsEvent(params, kEventSelectChange, "dive_site_type")) {
        editor_->SwitchType(params.value);
    }
}

void DiveSiteFunc::on_map_mouse_position() {
    editor_->OnMouseMove(MapEventState.lat, MapEventState.lng);
}
void DiveSiteFunc::on_map_center() {
    editor_->AddAtCenter(MapEventState.lat, MapEventState.lng);
}
void DiveSiteFunc::on_map_marker_dragged() {
    editor_->OnMarkerDragged(MapEventState.lat, MapEventState.lng);
}

// ---------------------------------------------------------------- the page

ElementHandle DiveSiteFunc::Page(const std::string& id) const {
    return ui::FindInFrame(window_, kFrame, id);
}

std::string DiveSiteFunc::GetValue(const std::string& id) {
    return Page(id).GetValue();
}
void DiveSiteFunc::SetValue(const std::string& id, const std::string& value) {
    Page(id).SetValue(value);
}
void DiveSiteFunc::SetDisabled(const std::string& id, bool disabled) {
    if (disabled) Page(id).SetAttribute("disabled", std::string());
    else Page(id).RemoveAttribute("disabled");
}
void DiveSiteFunc::SetContent(const std::string& id, const std::string& html) {
    Page(id).SetHtml(html);
}
void DiveSiteFunc::ShowPopup(const std::string& id, const std::string& anchor_id) {
    Page(id).ShowPopup(Page(anchor_id));
}
void DiveSiteFunc::HidePopup(const std::string& id) {
    Page(id).HidePopup();
}
void DiveSiteFunc::UpdatePage() {
    ui::FindById(window_, kFrame).Update();
}
std::string DiveSiteFunc::PagePath(const std::string& file) {
    return ::PagePath(file);
}

// ---------------------------------------------------------------- around the page

void DiveSiteFunc::ShowMessageLine(const std::string& key) {
    ui::FindById(window_, "message").SetText(GetLangText(key));
}

void DiveSiteFunc::ShowMessage(const std::string& key1, const std::string& key2) {
    ShowMsgDlg(GetLangText(key1), key2.empty() ? std::string() : GetLangText(key2), window_);
}

bool DiveSiteFunc::AskYesNo(const std::string& key) {
    return ShowYesNoDlg(GetLangText(key), window_) == 1;
}

std::string DiveSiteFunc::ChooseSiteFile(bool save) {
    ui::FileDialogOptions options;
    options.save = save;
    options.title = GetLangText(save ? "DIVE_SITE_EXPORT_TITLE" : "DIVE_SITE_IMPORT_TITLE");
    options.filters = {{"Dive Site Files (*.ds)", "*.ds"}, {"All Files (*.*)", "*.*"}};
    options.default_extension = "ds";
    options.parent = window_;
    return ui::RunFileDialog(options);
}

std::unique_ptr<DeviceSession> DiveSiteFunc::OpenDevice() {
    auto session = std::make_unique<DeviceSession>();
    session->Open(GetConfig().device_port);
    return session;
}

std::unique_ptr<HttpPost> DiveSiteFunc::NewCloud() {
    return std::make_unique<HttpPost>(HttpOptions::FromConfig());
}

void DiveSiteFunc::RunBlocking(const std::function<void()>& call) {
    // The device traffic and the search request: the action waits for them,
    // the window keeps drawing meanwhile.
    ui::WaitOffUi(call);
}
