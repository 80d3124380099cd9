#include "app/login_dlg.h"

#include "pages/page_manifest.h"

LoginDlg::LoginDlg()
    : DialogWnd(pages::login::kFile, pages::login::kWidth, pages::login::kHeight, pages::login::kDragBand) {}

LoginDlg::~LoginDlg() {
    // Released only when the page had loaded and the controllers were set up.
    if (login_.window() != 0) {
        login_.on_release();
        update_.on_release();
        offline_.on_release();
    }
}

void LoginDlg::on_document_loaded(const ElementHandle&) {
    login_.on_init(id());
    update_.on_init(id());
    offline_.on_init(id());
}

void LoginDlg::on_click(const ElementHandle& element, const EventParams& params) {
    login_.on_event(element, params);
    update_.on_event(element, params);
    offline_.on_event(element, params);
}

void LoginDlg::on_message(uint32_t msg, intptr_t wparam, intptr_t lparam) {
    if (msg == kMsgSocialSignIn) login_.on_message(msg, wparam, lparam);
}
