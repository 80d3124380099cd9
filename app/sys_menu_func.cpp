#include "app/sys_menu_func.h"

#include <memory>
#include <string>

#include "app/html_dlg.h"
#include "app/setting_dlg.h"

namespace {

// A tab button with its frame and function bar: gold and visible, or white
// and hidden.
void SetTab(WindowHandle window, const std::string& tab, bool shown) {
    ui::FindById(window, tab)
        .SetAttribute("class", shown ? "page_func btnctrl back_gold" : "page_func btnctrl back_white");
    for (const std::string& id : {"frame" + tab, tab + "_func"}) {
        if (shown) ui::FindById(window, id).RemoveAttribute("hidden");
        else ui::FindById(window, id).SetAttribute("hidden", "");
    }
}

}  // namespace

void SysMenuFunc::on_event(const ElementHandle&, const EventParams& params) {
    if (IsEvent(params, kEventClick, "page1")) show_tab(true);
    if (IsEvent(params, kEventClick, "page2")) show_tab(false);
    if (IsEvent(params, kEventClick, "setting")) show_settings();
    if (IsEvent(params, kEventClick, "about")) show_about();
}

void SysMenuFunc::show_tab(bool first) {
    SetTab(window_, "page1", first);
    SetTab(window_, "page2", !first);
}

void SysMenuFunc::show_settings() {
    // Parent: the active window (0 lets the engine pick it).
    HtmlDlg dlg(std::make_unique<SettingDlg>());
    int result = dlg.DoModal(0);
    if (result != 0) ui::PostWindowMessage(window_, kMsgSettingsChanged, result, 0);
}

void SysMenuFunc::show_about() {
    HtmlDlg dlg(std::make_unique<AboutDlg>());
    dlg.DoModal(0);
}
