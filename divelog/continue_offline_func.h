// "Continue offline" on the sign-in page ("offline", hidden until offered).
// When a sign-in found the cloud unreachable and this machine holds a stored
// logbook of the remembered account, the button shows; pressed, it ends the
// sign-in dialog with 1 and the main window opens on that account's stored
// logbook (AppState.offline_session). Hosted after LoginFunc, so it sees how
// the sign-in went.
#pragma once

#include <optional>
#include <string>

#include "app/func_base.h"
#include "divelog/logbook_store.h"

class ContinueOfflineFunc : public func_base {
public:
    // Notes the remembered e-mail address (already filled in by LoginFunc).
    void on_init(WindowHandle window) override;
    void on_event(const ElementHandle& element, const EventParams& params) override;

private:
    // After "login": offers the stored logbook when the cloud was unreachable.
    void Offer();
    void ContinueOffline();

    std::string remembered_email_;
    std::optional<vorta_divelog::StoredAccount> account_;
};
