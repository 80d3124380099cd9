// The dive-log edit dialog ("log_edit.htm") without a window: fills the
// page from the record, places the map's markers, runs the dive-site search
// panel and reads the inputs back into the record on "save".
//
// Everything outside goes through a LogEditSurface (the dialog's page, its
// message dialog, the cloud search, closing) and a MapScriptSink (the
// dialog's map). LogEditFunc connects both to the program; tests record
// them. UI thread only.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "browser/map_script.h"
#include "divelog/dive_log_edit.h"
#include "divesite/dive_site_search.h"
#include "divesite/html_fragment.h"

namespace vorta_divelog {

class LogEditSurface {
public:
    virtual ~LogEditSurface() = default;

    // --- the dialog's page (element ids of its document) ---
    virtual std::string GetValue(const std::string& id) = 0;
    // The value of an input or selection; the text of any other element.
    virtual void SetValue(const std::string& id, const std::string& value) = 0;
    // Sets the attribute "hidden" (empty value) or removes it.
    virtual void SetHidden(const std::string& id, bool hidden) = 0;
    // Replaces the content of a container with HTML ("" empties it).
    virtual void SetContent(const std::string& id, const std::string& html) = 0;
    // Sends what was written so far to the page.
    virtual void UpdatePage() = 0;
    // Full path of a file of the page folder (the result row template).
    virtual std::string PagePath(const std::string& file) = 0;

    // --- around the page; texts are named by message key ---
    // The page's "message" element; "" empties it.
    virtual void ShowMessageLine(const std::string& key) = 0;
    // The message dialog over the edit dialog.
    virtual void ShowMessage(const std::string& key) = 0;

    // The cloud's dive-site search for `text` (connect, request, envelope).
    virtual vorta_divesite::SearchOutcome SearchSites(const std::string& text) = 0;

    // Removes the map and ends the dialog with `result` (1 saved, 0 not).
    virtual void Close(int result) = 0;
};

class LogEditForm {
public:
    // `record` is the dialog's record; it must outlive the form. `unit` is
    // the unit setting (0 metric, otherwise imperial).
    LogEditForm(DiveLogEdit& record, int32_t unit, LogEditSurface& surface, vorta_browser::MapScriptSink& map);

    // Fills the page: the tank inputs (hidden for a freedive), the note
    // selections, suit and weight in the user's units, and "edit_ds" hidden
    // when the log has positions. Remembers what each input shows.
    void SetUp();

    // The map reports that it has loaded: its markers and centre.
    void PlaceMarkers();

    // A click on an element of the page; `attributes` are the element's at
    // the time of the click. False when the id is none of this page's.
    bool OnClick(const std::string& id, const std::map<std::string, std::string>& attributes);

    // The operations behind the buttons.
    void OpenSearch();                         // "edit_ds"
    void BackToMap();                          // "rtn_map"
    void Search();                             // "search"
    void TakeSite(const std::string& poi_id);  // "dive_site_poi"
    void Save();                               // "save": inputs into the record, ends with 1
    void Exit();                               // "exit": ends with 0, the record untouched

    const std::vector<vorta_divesite::PoiResult>& search_results() const { return pois_; }

private:
    // Sets input `id` to `text` and remembers it as shown.
    void Show(const char* id, const std::string& text);
    // The text of input `id` when the user changed it; false when it still
    // shows what SetUp put there (a selection that matches no option reads
    // "" and counts as unchanged too).
    bool Edited(const char* id, std::string& text);

    DiveLogEdit& record_;
    int32_t unit_;
    LogEditSurface& surface_;
    vorta_browser::MapScriptSink& map_;
    std::map<std::string, std::string> shown_;
    std::vector<vorta_divesite::PoiResult> pois_;  // the last successful search
    vorta_divesite::HtmlFragment row_;
    bool row_loaded_ = false;
};

}  // namespace vorta_divelog
