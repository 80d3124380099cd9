// Device update controller ("update_fw", "update_ds"), on the main page and the sign-in page.
#pragma once

#include "app/func_base.h"
#include "app/progress_dlg.h"

class UpdateFunc : public func_base {
public:
    void on_event(const ElementHandle& element, const EventParams& params) override;

    ProgressDlg& progress() { return progress_; }

private:
    ProgressDlg progress_;
};
