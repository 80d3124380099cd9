// The system menu of the main page: the two tabs ("page1", "page2"), the
// Settings dialog ("setting") and the About dialog ("about").
#pragma once

#include "app/func_base.h"
#include "base/window_messages.h"

// After the Settings dialog changed something, kMsgSettingsChanged goes to
// the main window; wParam is the dialog's result (1 language, 2 unit, 3 both,
// -1 the dialog could not be shown).

class SysMenuFunc : public func_base {
public:
    void on_event(const ElementHandle& element, const EventParams& params) override;

private:
    // Shows tab "page1" (first) or "page2".
    void show_tab(bool first);
    void show_settings();
    void show_about();
};
