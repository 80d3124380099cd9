#include "app/setting_dlg.h"

#include <string>

#include "base/app_state.h"
#include "app/settings/settings_store.h"
#include "pages/page_manifest.h"

namespace page = pages::setting;

void SettingFunc::on_init(WindowHandle window) {
    func_base::on_init(window);
    ui::FindById(window_, page::langauge).SetValue(std::to_string(LanguageIndex()));
    if (AppState.unit == 0) ui::FindById(window_, page::unit_m).SetValue("0");
    if (AppState.unit == 1) ui::FindById(window_, page::unit_i).SetValue("1");
}

void SettingFunc::on_event(const ElementHandle&, const EventParams& params) {
    if (IsEvent(params, kEventClick, page::exit)) EndPageDialog(window_, 0);
    if (IsEvent(params, kEventClick, page::save)) {
        std::string lang = ui::FindById(window_, page::langauge).GetValue();
        std::string unit_i = ui::FindById(window_, page::unit_i).GetValue();
        EndPageDialog(window_, ApplySettingsSave(lang, unit_i));
    }
}

SettingDlg::SettingDlg() : DialogWnd(page::kFile, page::kWidth, page::kHeight, page::kDragBand) {}

void SettingDlg::on_document_loaded(const ElementHandle&) {
    setting_.on_init(id());
}

void SettingDlg::on_click(const ElementHandle& element, const EventParams& params) {
    setting_.on_event(element, params);
}
