#include "app/sys_menu_func.h"

#include <memory>
#include <string>

#include "app/html_dlg.h"
#include "app/setting_dlg.h"
#include "pages/page_manifest.h"

namespace {

namespace page = pages::main;

// A tab of the main page: its button, its frame and its function bar.
struct Tab {
    const char* button;
    const char* frame;
    const char* func_bar;
};
constexpr Tab kTab1 = {page::page1, page::framepage1, page::page1_func};
constexpr Tab kTab2 = {page::page2, page::framepage2, page::page2_func};

// A tab button with its frame and function bar: gold and visible, or white
// and hidden.
void SetTab(WindowHandle window, const Tab& tab, bool shown) {
    ui::FindById(window, tab.button)
        .SetAttribute("class", shown ? "page_func btnctrl back_gold" : "page_func btnctrl back_white");
    for (const char* id : {tab.frame, tab.func_bar}) {
        if (shown) ui::FindById(window, id).RemoveAttribute("hidden");
        else ui::FindById(window, id).SetAttribute("hidden", "");
    }
}

}  // namespace

void SysMenuFunc::on_event(const ElementHandle&, const EventParams& params) {
    if (IsEvent(params, kEventClick, page::page1)) show_tab(true);
    if (IsEvent(params, kEventClick, page::page2)) show_tab(false);
    if (IsEvent(params, kEventClick, page::setting)) show_settings();
    if (IsEvent(params, kEventClick, page::about)) show_about();
}

void SysMenuFunc::show_tab(bool first) {
    SetTab(window_, kTab1, first);
    SetTab(window_, kTab2, !first);
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
