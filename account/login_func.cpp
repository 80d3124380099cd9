#include "account/login_func.h"

#include "app/html_dlg.h"

void LoginFunc::on_init(WindowHandle window) { func_base::on_init(window); }

void LoginFunc::on_event(const ElementHandle&, const EventParams& params) {
    if (IsEvent(params, kEventClick, "exit")) EndPageDialog(window_, 0);
}

void LoginFunc::on_message(uint32_t, intptr_t, intptr_t) {}
