// The dive-site page without a window: the three lists, the site table, the
// editor, the map calls, the transfer to and from the dive computer, ".ds"
// files and the cloud's directory search.
//
// Everything it does outside itself goes through a DiveSiteSurface (the
// page's elements, dialogs, file chooser, device, cloud) and a MapScriptSink
// (the map page). DiveSiteFunc connects both to the program; tests record
// them. UI thread only, except what runs inside RunBlocking.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "browser/map_script.h"
#include "divesite/dive_site.h"
#include "divesite/dive_site_search.h"
#include "divesite/html_fragment.h"

class DeviceLink;
class DeviceSession;
class HttpPost;

namespace vorta_divesite {

class DiveSiteSurface {
public:
    virtual ~DiveSiteSurface() = default;

    // --- the dive-site page (element ids of its document) ---
    virtual std::string GetValue(const std::string& id) = 0;
    virtual void SetValue(const std::string& id, const std::string& value) = 0;
    // Sets the attribute "disabled" (empty value) or removes it.
    virtual void SetDisabled(const std::string& id, bool disabled) = 0;
    // Replaces the content of a container with HTML ("" empties it).
    virtual void SetContent(const std::string& id, const std::string& html) = 0;
    // Shows element `id` as a pop-up anchored on `anchor_id`; hides it.
    virtual void ShowPopup(const std::string& id, const std::string& anchor_id) = 0;
    virtual void HidePopup(const std::string& id) = 0;
    // Brings the page up to date (sends what was written so far).
    virtual void UpdatePage() = 0;
    // Full path of a file of the page folder (the cell and row templates).
    virtual std::string PagePath(const std::string& file) = 0;

    // --- around the page; texts are named by message key ---
    // The main page's "message" line.
    virtual void ShowMessageLine(const std::string& key) = 0;
    // The message dialog; `key2` "" for no second line.
    virtual void ShowMessage(const std::string& key1, const std::string& key2) = 0;
    // The yes/no dialog; true for yes.
    virtual bool AskYesNo(const std::string& key) = 0;
    // The file dialog for a ".ds" file to read (save false) or to write; the
    // chosen path, "" when cancelled.
    virtual std::string ChooseSiteFile(bool save) = 0;

    // --- peers; called inside RunBlocking ---
    // A device session that has been opened: found, opened and identified,
    // or failed at one of these (see DeviceSession).
    virtual std::unique_ptr<DeviceSession> OpenDevice() = 0;
    // A fresh cloud client for one request.
    virtual std::unique_ptr<HttpPost> NewCloud() = 0;
    // Runs `call` and returns once it has finished. `call` waits on the
    // device, the cloud (through OpenDevice and NewCloud) or a file, and touches
    // nothing else of this surface nor the page, so it may run on another
    // thread while the window keeps drawing.
    virtual void RunBlocking(const std::function<void()>& call) = 0;
};

// A site of the lists: list index and position in it.
struct SiteRef {
    int list = 0;
    size_t pos = 0;
    bool operator==(const SiteRef& o) const { return list == o.list && pos == o.pos; }
};

class DiveSiteEditor {
public:
    DiveSiteEditor(DiveSiteSurface& surface, vorta_browser::MapScriptSink& map);

    // After the page (re)loaded: the scuba list is shown and the editor reset.
    // The lists stay as they are.
    void SetUp();

    // A click (behaviour event 0) on an element of the page or the main
    // page's tool bar; `attributes` are the element's at the time of the
    // click. False when the id is none of this page's.
    bool OnClick(const std::string& id, const std::map<std::string, std::string>& attributes);
    // The type selector changed to `value`.
    void SwitchType(const std::string& value);

    // Whether the map page is ready for calls (it is taken as ready until
    // told otherwise). A "New" pressed while it is not is kept and asked
    // when it becomes ready.
    void SetMapReady(bool ready);

    // Map page events (the coordinates they carried).
    void OnMouseMove(double lat, double lng);
    void AddAtCenter(double lat, double lng);
    void OnMarkerDragged(double lat, double lng);

    // The operations behind the buttons.
    void NewSite();
    void Set();
    void Save();
    void Delete();
    void Select(const std::string& objid);
    void WriteToDevice();
    void ReadFromDevice();
    void ImportFile();
    void ExportFile();
    void Search();
    void TakeResult(const std::string& poi_id);

    // Operations the others use.
    void ShowList(int list_index);
    void ResetEditor();
    void EnableEditor();

    // State.
    const DiveSiteLists& lists() const { return lists_; }
    int list_index() const { return list_index_; }
    int site_type() const { return site_type_; }
    const std::optional<SiteRef>& selected() const { return selected_; }
    double position_lat() const { return position_lat_; }
    double position_lng() const { return position_lng_; }
    const std::string& edit_name() const { return edit_name_; }
    const std::vector<PoiResult>& search_results() const { return search_results_; }

private:
    const HtmlFragment& Template(const std::string& file, const std::vector<FragmentSlot>& slots);
    void LoadSelected();
    void FillEditor(bool with_name);
    // Takes the editor's name and position; false (the user told, nothing
    // taken) when the typed position is off the globe.
    bool ReadEditor();
    void ShowPosition();
    // The lists read from the device or a file take the place of the old ones.
    void ReplaceLists(DiveSiteLists lists);
    // One device connection inside RunBlocking: open and identify, then
    // `work` on the link; the link is ended and the port closed whatever
    // happens. True when `work` succeeded; otherwise the message keys to show.
    bool OnDevice(const std::function<bool(DeviceLink&)>& work, std::string& key1, std::string& key2);
    void ShowResults();
    bool TakeResultInto(const std::string& poi_id);

    DiveSiteSurface& surface_;
    vorta_browser::MapScriptSink& map_;

    DiveSiteLists lists_;
    std::optional<SiteRef> selected_;
    int list_index_ = 0;
    int site_type_ = kTypeScuba;
    double position_lat_ = 0;
    double position_lng_ = 0;
    std::string edit_name_;
    std::vector<PoiResult> search_results_;
    bool map_ready_ = true;
    bool new_pending_ = false;

    // Templates by full path, each read from disk once.
    std::map<std::string, HtmlFragment> templates_;
};

}  // namespace vorta_divesite
