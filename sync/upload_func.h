// Dive-log sync controller of the main page ("upload").
#pragma once

#include "app/func_base.h"
#include "app/progress_dlg.h"

class UploadFunc : public func_base {
public:
    void on_event(const ElementHandle& element, const EventParams& params) override;

    ProgressDlg& progress() { return progress_; }

private:
    ProgressDlg progress_;
};
