#include "tests/support/sign_in.h"

#include "tests/support/automation_client.h"
#include "tests/support/cloudemu_process.h"

namespace vorta_test {

bool SubmitSignIn(AutomationClient& ui, const std::string& email, const std::string& password) {
    if (!ui.WaitWindow("login.htm", 20000)) return false;
    ui.SetTargetPage("login.htm");
    const bool ok = ui.SetValue("email", email) && ui.SetValue("pword", password) && ui.Click("login");
    ui.SetTargetPage("");
    return ok;
}

bool SignInDemo(AutomationClient& ui, int timeout_ms) {
    return SubmitSignIn(ui, CloudEmuProcess::kDemoEmail, CloudEmuProcess::kDemoPassword) &&
           ui.WaitWindow("main.htm", timeout_ms);
}

}  // namespace vorta_test
