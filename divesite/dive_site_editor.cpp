#include "divesite/dive_site_editor.h"

#include <cerrno>
#include <cstdlib>

#include "base/app_state.h"
#include "base/paths.h"
#include "cloud/http_post.h"
#include "device/device_session.h"
#include "divesite/dive_site_file.h"
#include "divesite/dive_site_transfer.h"

namespace vorta_divesite {

namespace {

using vorta_browser::FormatCoordinate;
using vorta_browser::FormatCoordinateE6;

// The editor's six elements, disabled while no site is being edited.
const char* const kEditorIds[] = {"dive_site_edit_name", "dive_site_edit_lat", "dive_site_edit_lng",
                                  "dive_site_set",       "dive_site_del",      "dive_site_save"};

const std::vector<FragmentSlot>& CellSlots() {
    static const std::vector<FragmentSlot> slots = {
        FragmentSlot::Text("dive_site_name"), FragmentSlot::Text("dive_site_lat"), FragmentSlot::Text("dive_site_lng"),
        FragmentSlot::Attribute("dive_site_cell", "objid")};
    return slots;
}

const std::vector<FragmentSlot>& RowSlots() {
    static const std::vector<FragmentSlot> slots = {FragmentSlot::Attribute("dive_site_poi", "poi_id"),
                                                    FragmentSlot::Text("poi_name"), FragmentSlot::Text("poi_region")};
    return slots;
}

// A decimal number of the page ("objid", the type selector's value) as a
// C conversion reads it; `fallback` when there is no number at all.
long PageNumber(const std::string& text, long fallback) {
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (end == text.c_str() || errno == ERANGE) return fallback;
    return v;
}

}  // namespace

DiveSiteEditor::DiveSiteEditor(DiveSiteSurface& surface, vorta_browser::MapScriptSink& map)
    : surface_(surface), map_(map) {}

void DiveSiteEditor::SetUp() {
    list_index_ = 0;
    site_type_ = kTypeScuba;
    ResetEditor();
    // After a reload the table is empty while the lists are not: show them.
    ShowList(list_index_);
}

bool DiveSiteEditor::OnClick(const std::string& id, const std::map<std::string, std::string>& attributes) {
    auto attribute = [&attributes](const char* name) {
        auto it = attributes.find(name);
        return it == attributes.end() ? std::string() : it->second;
    };
    if (id == "dive_site_find") Search();
    else if (id == "dive_site_new") NewSite();
    else if (id == "dive_site_set") Set();
    else if (id == "dive_site_save") Save();
    else if (id == "dive_site_cell") Select(attribute("objid"));
    else if (id == "dive_site_del") Delete();
    else if (id == "dive_site_send") WriteToDevice();
    else if (id == "dive_site_read") ReadFromDevice();
    else if (id == "dive_site_import") ImportFile();
    else if (id == "dive_site_export") ExportFile();
    else if (id == "dive_site_poi") TakeResult(attribute("poi_id"));
    else return false;
    return true;
}

// ---------------------------------------------------------------- list and editor

const HtmlFragment& DiveSiteEditor::Template(const std::string& file, const std::vector<FragmentSlot>& slots) {
    const std::string path = surface_.PagePath(file);
    auto it = templates_.find(path);
    if (it == templates_.end()) it = templates_.emplace(path, HtmlFragment(ReadWholeFile(path), slots)).first;
    return it->second;
}

void DiveSiteEditor::ShowList(int list_index) {
    const HtmlFragment& cell = Template("dive_site_cell.htm", CellSlots());
    const std::vector<DiveSite>& sites = lists_.list(list_index);
    std::string html;
    html.reserve(sites.size() * 320);
    for (size_t i = 0; i < sites.size(); ++i) {
        cell.AppendTo(html, {sites[i].Name(), "Lat:" + FormatCoordinateE6(sites[i].lat_e6),
                             "Lng:" + FormatCoordinateE6(sites[i].lng_e6), std::to_string(i)});
    }
    surface_.SetContent("cell_tbody", html);
}

void DiveSiteEditor::ResetEditor() {
    for (const char* id : {"dive_site_edit_name", "dive_site_edit_lat", "dive_site_edit_lng"})
        surface_.SetValue(id, std::string());
    for (const char* id : kEditorIds) surface_.SetDisabled(id, true);
    surface_.UpdatePage();
}

void DiveSiteEditor::EnableEditor() {
    for (const char* id : kEditorIds) surface_.SetDisabled(id, false);
    surface_.UpdatePage();
}

void DiveSiteEditor::LoadSelected() {
    const DiveSite* site = selected_ ? lists_.at(selected_->list, selected_->pos) : nullptr;
    if (site == nullptr) return;
    edit_name_ = site->Name();
    position_lat_ = site->lat();
    position_lng_ = site->lng();
}

void DiveSiteEditor::FillEditor(bool with_name) {
    if (with_name) surface_.SetValue("dive_site_edit_name", edit_name_);
    surface_.SetValue("dive_site_edit_lat", FormatCoordinate(position_lat_));
    surface_.SetValue("dive_site_edit_lng", FormatCoordinate(position_lng_));
}

bool DiveSiteEditor::ReadEditor() {
    const double lat = ParseDegrees(surface_.GetValue("dive_site_edit_lat"));
    const double lng = ParseDegrees(surface_.GetValue("dive_site_edit_lng"));
    if (!vorta_browser::IsOnGlobe(lat, lng)) {
        // Nothing is taken from the editor; its texts stay for the user to fix.
        surface_.ShowMessage("DIVE_SITE_BAD_POSITION", "");
        return false;
    }
    edit_name_ = surface_.GetValue("dive_site_edit_name");
    position_lat_ = lat;
    position_lng_ = lng;
    return true;
}

void DiveSiteEditor::ShowPosition() {
    map_.Call(vorta_browser::SetCenter(position_lat_, position_lng_));
    map_.Call(vorta_browser::ClrMarker());
    map_.Call(vorta_browser::SetCMarker(position_lat_, position_lng_));
}

void DiveSiteEditor::Select(const std::string& objid) {
    const long index = PageNumber(objid, -1);
    // A cell of a list that has changed since it was drawn names nothing.
    if (index < 0 || static_cast<unsigned long>(index) >= lists_.list(list_index_).size()) return;
    selected_ = SiteRef{list_index_, static_cast<size_t>(index)};
    LoadSelected();
    FillEditor(true);
    ShowPosition();
    EnableEditor();
}

void DiveSiteEditor::SwitchType(const std::string& value) {
    site_type_ = static_cast<int>(PageNumber(value, 0));
    list_index_ = ListIndexOfType(site_type_);
    ShowList(list_index_);
}

void DiveSiteEditor::NewSite() {
    if (!map_ready_) {
        // A map page still loading would drop the question and never answer:
        // it is asked once the page is ready.
        new_pending_ = true;
        return;
    }
    map_.Call(vorta_browser::GetCenter());  // answered by the map-centre event
    EnableEditor();
}

void DiveSiteEditor::SetMapReady(bool ready) {
    map_ready_ = ready;
    if (!ready || !new_pending_) return;
    new_pending_ = false;
    NewSite();
}

void DiveSiteEditor::AddAtCenter(double lat, double lng) {
    if (lists_.list(list_index_).size() >= kMaxSites) {
        surface_.ShowMessage("DIVE_SITE_MAX", "");
        return;
    }
    lists_.Append(list_index_, MakeDiveSite(static_cast<uint8_t>(site_type_), "unnamed", lat, lng));
    ShowList(list_index_);
    selected_ = SiteRef{list_index_, lists_.list(list_index_).size() - 1};
    LoadSelected();
    FillEditor(true);
    ShowPosition();
}

void DiveSiteEditor::Set() {
    if (!ReadEditor()) return;
    ShowPosition();
}

void DiveSiteEditor::Save() {
    // Nothing selected (the editor was enabled by a new site the full list
    // refused): there is nothing to store into.
    DiveSite* site = selected_ ? lists_.at(selected_->list, selected_->pos) : nullptr;
    if (site == nullptr || !ReadEditor()) return;
    site->lat_e6 = DegreesToE6(position_lat_);
    site->lng_e6 = DegreesToE6(position_lng_);
    site->SetName(edit_name_);
    site_type_ = site->type;
    // The list shown is the one that holds the saved site, so the type
    // selector and the table agree.
    list_index_ = selected_->list;
    ShowPosition();
    surface_.SetValue("dive_site_type", std::to_string(site_type_));
    ShowList(list_index_);
}

void DiveSiteEditor::Delete() {
    if (!surface_.AskYesNo("TO_DEL_DIVE_SIZE")) return;
    if (!selected_ || selected_->list != list_index_ || !lists_.at(list_index_, selected_->pos)) return;
    map_.Call(vorta_browser::ClrMarker());
    lists_.Erase(list_index_, selected_->pos);
    ShowList(list_index_);
    selected_.reset();
    ResetEditor();
}

void DiveSiteEditor::OnMouseMove(double lat, double lng) {
    surface_.SetValue("mouse_move_lat", FormatCoordinate(lat));
    surface_.SetValue("mouse_move_lng", FormatCoordinate(lng));
}

void DiveSiteEditor::OnMarkerDragged(double lat, double lng) {
    position_lat_ = lat;
    position_lng_ = lng;
    FillEditor(false);
}

void DiveSiteEditor::ReplaceLists(DiveSiteLists lists) {
    lists_ = std::move(lists);
    map_.Call(vorta_browser::ClrMarker());
    selected_.reset();
    ResetEditor();
    site_type_ = kTypeScuba;
    surface_.SetValue("dive_site_type", "1");
    list_index_ = 0;
    ShowList(0);
}

// ---------------------------------------------------------------- device

bool DiveSiteEditor::OnDevice(const std::function<bool(DeviceLink&)>& work, std::string& key1, std::string& key2) {
    std::optional<DeviceIdentity> identity;
    bool done = false;
    surface_.RunBlocking([&] {
        std::unique_ptr<DeviceSession> session = surface_.OpenDevice();
        if (!session) {
            key1 = "USB_NOT_CONN";
            return;
        }
        if (session->identify_sent()) identity = session->identity();
        if (!session->identified()) {
            key1 = session->failure_key();
            key2 = session->failure_detail_key();
            return;
        }
        done = work(session->link());
        if (!done) key1 = "USB_ERROR";
        // Leaving ends the link and closes the port, before the user is told.
    });
    if (identity) {
        // Kept for the other device actions.
        AppState.firmware_version_text = identity->firmware_version_text;
        AppState.info_value = identity->info_value;
        AppState.model = identity->model;
    }
    return done;
}

void DiveSiteEditor::WriteToDevice() {
    if (lists_.AllEmpty()) {
        surface_.ShowMessage("UNABLE_TO_WRITE", "NO_DIVE_SITE");
        return;
    }
    if (!surface_.AskYesNo("SURE_SEND_DS")) return;
    std::string key1, key2;
    if (OnDevice([this](DeviceLink& device) { return WriteSitesToDevice(device, lists_); }, key1, key2)) {
        surface_.ShowMessage("DIVE_SITE_WRITED", "");
        return;
    }
    surface_.ShowMessage(key1, key2);
}

void DiveSiteEditor::ReadFromDevice() {
    if (!surface_.AskYesNo("SURE_READ_DS")) return;
    DiveSiteLists read;
    std::string key1, key2;
    if (!OnDevice([&read](DeviceLink& device) { return ReadSitesFromDevice(device, read); }, key1, key2)) {
        surface_.ShowMessage(key1, key2);  // the lists stay as they were
        return;
    }
    ReplaceLists(std::move(read));
    surface_.ShowMessage("DIVE_SITE_READED", "");
}

// ---------------------------------------------------------------- files

void DiveSiteEditor::ImportFile() {
    const std::string path = surface_.ChooseSiteFile(false);
    if (path.empty()) return;
    // The file is read whole before anything changes: one that cannot be
    // read keeps the user's sites. Reading waits off the UI thread, so the
    // window keeps drawing through a large file.
    DiveSiteLists read;
    bool ok = false;
    surface_.RunBlocking([&] { ok = ImportSiteFile(path, read); });
    if (!ok) {
        surface_.ShowMessage("DIVE_SITE_FILE_UNREADABLE", "");
        return;
    }
    ReplaceLists(std::move(read));
}

void DiveSiteEditor::ExportFile() {
    const std::string path = surface_.ChooseSiteFile(true);
    if (path.empty()) return;
    if (!ExportSiteFile(path, lists_)) surface_.ShowMessage("DIVE_SITE_FILE_NOT_SAVED", "");
}

// ---------------------------------------------------------------- search

void DiveSiteEditor::Search() {
    const std::string text = surface_.GetValue("dive_site_find_name");
    if (!SearchTextLongEnough(text)) return;
    const std::string headers = make_bearer_header();
    SearchOutcome outcome;
    surface_.RunBlocking([&] {
        std::unique_ptr<HttpPost> cloud = surface_.NewCloud();
        if (cloud) outcome = SearchDiveSites(*cloud, text, headers);
    });
    if (!outcome.connected) {
        surface_.ShowMessage("HOST_NOT_CONN", "");
        return;
    }
    if (!outcome.failure_key.empty()) {
        surface_.ShowMessageLine(outcome.failure_key);  // the earlier results stay
        return;
    }
    search_results_ = std::move(outcome.pois);
    ShowResults();
    if (search_results_.size() == 1) {
        TakeResultInto(search_results_.front().poi_id);
    } else if (search_results_.size() >= 2) {
        surface_.ShowPopup("pop_table", "right_wnd");
    }
}

void DiveSiteEditor::ShowResults() {
    const HtmlFragment& row = Template("dive_site_list.htm", RowSlots());
    std::string html;
    for (const PoiResult& poi : search_results_) row.AppendTo(html, {poi.poi_id, poi.poi_name, poi.poi_region});
    surface_.SetContent("poi_cell_tbody", html);
}

bool DiveSiteEditor::TakeResultInto(const std::string& poi_id) {
    bool found = false;
    for (const PoiResult& poi : search_results_) {
        if (poi.poi_id != poi_id) continue;
        edit_name_ = poi.poi_name;
        position_lat_ = poi.latitude;
        position_lng_ = poi.longitude;
        found = true;
    }
    if (!found) return false;
    FillEditor(true);
    map_.Call(vorta_browser::SetCenterWithZoom(position_lat_, position_lng_));
    return true;
}

void DiveSiteEditor::TakeResult(const std::string& poi_id) {
    TakeResultInto(poi_id);
    surface_.HidePopup("pop_table");
}

}  // namespace vorta_divesite
