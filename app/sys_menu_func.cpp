#include "app/sys_menu_func.h"

#include <memory>

#include "app/html_dlg.h"
#include "app/setting_dlg.h"

void SysMenuFunc::on_event(const ElementHandle&, const EventParams& params) {
    if (IsEvent(params, kEventClick, "page1")) show_page1();
    if (IsEvent(params, kEventClick, "page2")) show_page2();
    if (IsEvent(params, kEventClick, "setting")) show_settings();
    if (IsEvent(params, kEventClick, "about")) show_about();
}

void SysMenuFunc::show_page1() {
    ui::FindById(window_, "page1").SetAttribute("class", "page_func btnctrl back_gold");
    ui::FindById(window_, "framepage1").RemoveAttribute("hidden");
    ui::FindById(window_, "page1_func").RemoveAttribute("hidden");
    ui::FindById(window_, "page2").SetAttribute("class", "page_func btnctrl back_white");
    ui::FindById(window_, "framepage2").SetAttribute("hidden", "");
    ui::FindById(window_, "page2_func").SetAttribute("hidden", "");
}

void SysMenuFunc::show_page2() {
    ui::FindById(window_, "page1").SetAttribute("class", "page_func btnctrl back_white");
    ui::FindById(window_, "framepage1").SetAttribute("hidden", "");
    ui::FindById(window_, "page1_func").SetAttribute("hidden", "");
    ui::FindById(window_, "page2").SetAttribute("class", "page_func btnctrl back_gold");
    ui::FindById(window_, "framepage2").RemoveAttribute("hidden");
    ui::FindById(window_, "page2_func").RemoveAttribute("hidden");
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
