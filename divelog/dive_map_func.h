// Dive-log detail controller of the dive-log page: owns the detail page
// ("web_html/main.htm", value panel, map and profile chart) shown in element
// "ie" of frame "framepage1", and answers the day list's "view" and "edit"
// buttons, which carry the dive log's id in "objid".
#pragma once

#include <json/value.h>

#include <string>

#include "app/func_base.h"
#include "app/progress_dlg.h"
#include "browser/map_host.h"
#include "divelog/calendar_model.h"

class DiveMapFunc : public func_base {
public:
    // The detail page, relative to the language folder.
    static constexpr const char* kScriptPage = "web_html/main.htm";

    // Shows the detail page in the dive-log page's "ie".
    void on_init(WindowHandle window) override;
    void on_event(const ElementHandle& element, const EventParams& params) override;

    // The unit changed: the detail page loads again (empty until the next view).
    void reload_chart();
    // The main page was loaded again: the detail page moves into the new "ie".
    void rebuild_browser();

    // "view": fetches the dive log and shows it in the detail page.
    void View(const std::string& divelog_id);
    // "edit": loads the dive log and opens the edit dialog over the main
    // window. After "save" the changed fields go into the dive log, the
    // detail page shows all of it again (values, markers, chart), and it is
    // sent back to the cloud (PATCH); when the cloud does not take it, a
    // message dialog says why and the detail page is loaded again from the
    // cloud. Map events go to the main window again however the dialog ended.
    void Edit(const std::string& divelog_id);

    // "Export...": the save dialog (UDDF or CSV by the chosen name), then the
    // dive log shown, fetched again, written whole to that file. Nothing is
    // written when the dialog is cancelled or the fetch fails.
    void ExportShown();
    // "Export..." with more than the dive shown ("export_scope": "month",
    // the calendar's month; "range", "export_from" to "export_to"; "all"):
    // the save dialog, then under the progress dialog the dive logs of those
    // months from the logbook store, the ones not stored fetched first (in
    // an offline session the store alone), written whole to the file. A
    // cancelled, failed or empty export writes nothing.
    void ExportLogbook(const std::string& scope);
    // The calendar whose month "This month" exports.
    void set_calendar(const vorta_divelog::CalendarModel* calendar) { calendar_ = calendar; }

    // "Print...": the dive log shown, fetched again, printed as a logbook
    // page (values, profile, map, a box for a signature) through the
    // desktop's print dialog; with VORTA_PRINT_PDF set, to that PDF file
    // without a dialog (for tests).
    void PrintShown();

    MapHost& map_host() { return host_; }

private:
    // The dive log shown, fetched again; false (and the user told) when
    // none is shown or the fetch fails.
    bool FetchShown(Json::Value& divelog);
    // The save dialog of an export (UDDF, CSV or any file); "" when cancelled.
    std::string AskExportPath();

    MapHost host_;
    ProgressDlg progress_;
    const vorta_divelog::CalendarModel* calendar_ = nullptr;
    // The dive log the detail page shows in full (value panel, map, chart);
    // "" when it shows none.
    std::string shown_id_;
    // A print runs a nested main loop while the window stays usable: a
    // second "Print..." meanwhile is ignored.
    bool printing_ = false;
};
