#include "divelog/log_edit_form.h"

#include "base/paths.h"
#include "divelog/value_format.h"

namespace vorta_divelog {

namespace {

constexpr const char* kRowTemplate = "dive_site_list.htm";

// The four note selections, their record fields and change bits.
struct Selection {
    const char* id;
    int32_t DiveLogEdit::*field;
    EditField bit;
};
const Selection kSelections[] = {
    {"weather", &DiveLogEdit::weather, kEditWeather},
    {"wave", &DiveLogEdit::wave, kEditWave},
    {"current", &DiveLogEdit::current, kEditCurrent},
    {"visibility", &DiveLogEdit::visibility, kEditVisibility},
};

}  // namespace

LogEditForm::LogEditForm(DiveLogEdit& record, int32_t unit, LogEditSurface& surface, vorta_browser::MapScriptSink& map)
    : record_(record), unit_(unit), surface_(surface), map_(map) {}

void LogEditForm::Show(const char* id, const std::string& text) {
    surface_.SetValue(id, text);
    shown_[id] = text;
}

bool LogEditForm::Edited(const char* id, std::string& text) {
    text = surface_.GetValue(id);
    auto it = shown_.find(id);
    return it == shown_.end() || text != it->second;
}

void LogEditForm::SetUp() {
    if (record_.IsFreedive()) {
        surface_.SetHidden("scuba_option_title", true);
        surface_.SetHidden("scuba_option_value", true);
    } else {
        Show("s_bar", FormatPressure(record_.start_pressure, unit_));
        surface_.SetValue("s_bar_unit", PressureUnit(unit_));
        Show("e_bar", FormatPressure(record_.end_pressure, unit_));
        surface_.SetValue("e_bar_unit", PressureUnit(unit_));
        Show("volume", FormatVolume(record_.cylinder_volume));
        surface_.SetValue("volume_unit", VolumeUnit(unit_));
    }
    if (HasPositions(record_)) surface_.SetHidden("edit_ds", true);
    for (const Selection& s : kSelections) Show(s.id, std::to_string(record_.*s.field));
    Show("suit_thickness", std::to_string(TruncateToInt(record_.suit_thickness)));
    Show("weight", FormatWeight(record_.weight, unit_));
    surface_.SetValue("weight_unit", WeightUnit(unit_));
    surface_.UpdatePage();
}

void LogEditForm::PlaceMarkers() {
    for (const vorta_browser::MapScriptCall& call : EditMarkerCalls(record_)) map_.Call(call);
}

bool LogEditForm::OnClick(const std::string& id, const std::map<std::string, std::string>& attributes) {
    if (id == "edit_ds") {
        OpenSearch();
    } else if (id == "rtn_map") {
        BackToMap();
    } else if (id == "search") {
        Search();
    } else if (id == "dive_site_poi") {
        auto it = attributes.find("poi_id");
        TakeSite(it == attributes.end() ? std::string() : it->second);
    } else if (id == "save") {
        Save();
    } else if (id == "exit") {
        Exit();
    } else {
        return false;
    }
    return true;
}

void LogEditForm::OpenSearch() {
    surface_.SetHidden("ie", true);
    surface_.SetHidden("ds", false);
    surface_.UpdatePage();
}

void LogEditForm::BackToMap() {
    surface_.SetHidden("ds", true);
    surface_.SetHidden("ie", false);
    surface_.UpdatePage();
}

void LogEditForm::Search() {
    const std::string text = surface_.GetValue("ds_name");
    if (!vorta_divesite::SearchTextLongEnough(text)) return;
    vorta_divesite::SearchOutcome outcome = surface_.SearchSites(text);
    if (!outcome.connected) {
        surface_.ShowMessage("HOST_NOT_CONN");
        return;
    }
    if (!outcome.failure_key.empty()) {
        surface_.ShowMessageLine(outcome.failure_key);  // the earlier results stay
        return;
    }
    pois_ = std::move(outcome.pois);
    if (!row_loaded_) {
        row_ = vorta_divesite::HtmlFragment(
            ReadWholeFile(surface_.PagePath(kRowTemplate)),
            {vorta_divesite::FragmentSlot::Attribute("dive_site_poi", "poi_id"),
             vorta_divesite::FragmentSlot::Text("poi_name"), vorta_divesite::FragmentSlot::Text("poi_region")});
        row_loaded_ = true;
    }
    std::string html;
    for (const vorta_divesite::PoiResult& poi : pois_) row_.AppendTo(html, {poi.poi_id, poi.poi_name, poi.poi_region});
    surface_.SetContent("cell_tbody", html);
    surface_.ShowMessageLine(std::string());
    surface_.UpdatePage();
}

void LogEditForm::TakeSite(const std::string& poi_id) {
    bool found = false;
    for (const vorta_divesite::PoiResult& poi : pois_) {
        if (poi.poi_id != poi_id) continue;
        record_.poi_id = poi.poi_id;
        record_.poi_lat = poi.latitude;
        record_.poi_lng = poi.longitude;
        found = true;
    }
    // The map is shown again before it is moved: a hidden map has no size
    // to centre in.
    BackToMap();
    if (!found) return;
    record_.changed |= kEditDiveSite;
    PlaceMarkers();
}

void LogEditForm::Save() {
    std::string text;
    if (!record_.IsFreedive()) {
        if (Edited("s_bar", text)) {
            record_.start_pressure = TextInteger(text);
            record_.changed |= kEditStartPressure;
        }
        if (Edited("e_bar", text)) {
            record_.end_pressure = TextInteger(text);
            record_.changed |= kEditEndPressure;
        }
        if (Edited("volume", text)) {
            record_.cylinder_volume = TextInteger(text);
            record_.changed |= kEditCylinderVolume;
        }
    }
    for (const Selection& s : kSelections) {
        // A code the page has no option for shows no choice and reads "";
        // the user cannot pick "" back, so it means untouched.
        if (Edited(s.id, text) && !text.empty()) {
            record_.*s.field = TextInteger(text);
            record_.changed |= s.bit;
        }
    }
    if (Edited("suit_thickness", text)) {
        record_.suit_thickness = TextInteger(text);
        record_.changed |= kEditSuitThickness;
    }
    // The weight takes decimals: 4.5 kg stays 4.5 kg.
    if (Edited("weight", text)) {
        record_.weight = TextNumber(text);
        record_.changed |= kEditWeight;
    }
    surface_.Close(1);
}

void LogEditForm::Exit() {
    surface_.Close(0);
}

}  // namespace vorta_divelog
