// The Settings dialog ("setting.htm", 340 x 210, drag band 30) and its
// controller. The dialog ends with 0 (nothing changed), 1 (language), 2
// (unit) or 3 (both).
#pragma once

#include "app/func_base.h"
#include "app/html_dlg.h"

class SettingFunc : public func_base {
public:
    // Fills "langauge" with the language index and "unit_m"/"unit_i" with the
    // unit.
    void on_init(WindowHandle window) override;
    // "exit" ends the dialog with 0; "save" stores the choice and ends the
    // dialog with what changed.
    void on_event(const ElementHandle& element, const EventParams& params) override;
};

class SettingDlg : public DialogWnd {
public:
    SettingDlg();
    void on_document_loaded(const ElementHandle& root) override;
    void on_click(const ElementHandle& element, const EventParams& params) override;

private:
    SettingFunc setting_;
};
