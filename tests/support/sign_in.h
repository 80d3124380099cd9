// Signing in through the program's sign-in page, as a user does, for tests
// and benchmarks that drive the program over the automation channel.
#pragma once

#include <string>

class AutomationClient;

namespace vorta_test {

// Waits (at most 20 s) for the sign-in page, types `email` and `password`
// into it and presses "login"; the calls then act on the active window
// again. False when one of these steps failed (not whether the sign-in will
// succeed).
bool SubmitSignIn(AutomationClient& ui, const std::string& email, const std::string& password);

// SubmitSignIn with the cloud emulator's demo account, then waits (at most
// `timeout_ms`) for the main window.
bool SignInDemo(AutomationClient& ui, int timeout_ms = 20000);

}  // namespace vorta_test
