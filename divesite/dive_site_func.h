// Dive-site controller of the main page: the page in frame "framepage2" (the
// "dive_site_*" ids, code 5 on "dive_site_type"), the tool bar's transfer
// and file buttons, and the map page in its element "ie". The logic is
// DiveSiteEditor's; this connects it to the page, the map, the dialogs, the
// device and the cloud.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/func_base.h"
#include "browser/map_host.h"
#include "divesite/dive_site_editor.h"

class DiveSiteFunc : public func_base, private vorta_divesite::DiveSiteSurface {
public:
    DiveSiteFunc();
    ~DiveSiteFunc() override;

    // Shows the map page and sets the page up (empty editor, scuba list).
    void on_init(WindowHandle window) override;
    void on_event(const ElementHandle& element, const EventParams& params) override;

    // Map page notifications (messages 2025, 2026, 2027); the pair they refer
    // to is in the map-event record.
    void on_map_mouse_position();
    void on_map_center();
    void on_map_marker_dragged();
    // The page was reloaded in another language: show the map page again and
    // set the page up; the lists stay.
    void rebuild_browser();

    vorta_divesite::DiveSiteEditor& editor() { return *editor_; }

private:
    // DiveSiteSurface
    std::string GetValue(const std::string& id) override;
    void SetValue(const std::string& id, const std::string& value) override;
    void SetDisabled(const std::string& id, bool disabled) override;
    void SetContent(const std::string& id, const std::string& html) override;
    void ShowPopup(const std::string& id, const std::string& anchor_id) override;
    void HidePopup(const std::string& id) override;
    void UpdatePage() override;
    std::string PagePath(const std::string& file) override;
    void ShowMessageLine(const std::string& key) override;
    void ShowMessage(const std::string& key1, const std::string& key2) override;
    bool AskYesNo(const std::string& key) override;
    std::string ChooseSiteFile(bool save) override;
    std::unique_ptr<DeviceSession> OpenDevice() override;
    std::unique_ptr<HttpPost> NewCloud() override;
    void RunBlocking(const std::function<void()>& call) override;

    ElementHandle Page(const std::string& id) const;

    MapHost map_;
    std::unique_ptr<vorta_divesite::DiveSiteEditor> editor_;
};
