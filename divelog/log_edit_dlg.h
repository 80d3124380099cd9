// The dive-log edit dialog ("log_edit.htm", 720 x 320, drag band 30) and its
// controller. The dialog edits a DiveLogEdit record given by its caller and
// ends with 1 after "save" (the record then holds the inputs the user
// changed) or 0 after "exit" or a close (the record untouched).
#pragma once

#include <memory>
#include <string>

#include "app/func_base.h"
#include "app/html_dlg.h"
#include "browser/map_host.h"
#include "divelog/log_edit_form.h"

class LogEditFunc : public func_base, private vorta_divelog::LogEditSurface {
public:
    explicit LogEditFunc(vorta_divelog::DiveLogEdit& record);
    ~LogEditFunc() override;

    // Shows the map ("web_html/maps.htm") in the page's "ie", makes the page
    // window the target of map events, and fills the page.
    void on_init(WindowHandle window) override;
    // Removes the map.
    void on_release() override;
    void on_event(const ElementHandle& element, const EventParams& params) override;
    // The dialog's map has loaded (message 2024): markers and centre.
    void on_map_loaded();

    static constexpr const char* kScriptPage = "web_html/maps.htm";

private:
    // LogEditSurface
    std::string GetValue(const std::string& id) override;
    void SetValue(const std::string& id, const std::string& value) override;
    void SetHidden(const std::string& id, bool hidden) override;
    void SetContent(const std::string& id, const std::string& html) override;
    void UpdatePage() override;
    std::string PagePath(const std::string& file) override;
    void ShowMessageLine(const std::string& key) override;
    void ShowMessage(const std::string& key) override;
    vorta_divesite::SearchOutcome SearchSites(const std::string& text) override;
    void Close(int result) override;

    MapHost map_;
    vorta_divelog::LogEditForm form_;
};

class LogEditDlg : public DialogWnd {
public:
    explicit LogEditDlg(vorta_divelog::DiveLogEdit& record);
    void on_document_loaded(const ElementHandle& root) override;
    void on_click(const ElementHandle& element, const EventParams& params) override;
    void on_message(uint32_t msg, intptr_t wparam, intptr_t lparam) override;
    void destroy() override;

private:
    LogEditFunc edit_;
};

// Automation commands of the dive-log pages (tests), picking their window
// like the element commands, with "frames" (frame ids from the top page
// down) for a page inside frames:
//   "map_calls": the script calls that the script page in element "ie" has
//     received, {"ok":true,"calls":[{"f":name,"a":[texts]}, ...]};
//   "has_attr" ("element", "name"): whether the element has the attribute,
//     {"ok":true,"value":true|false} (get_attr cannot tell an empty value).
void AddEditAutomation();
