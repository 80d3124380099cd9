// The program under test: vorta-pc-tool started with its own HOME and config
// folder, pointed at a cloud emulator and a device port, driven through the
// automation channel.
#pragma once

#include <functional>
#include <map>
#include <string>

#include "tests/support/app_process.h"
#include "tests/support/automation_client.h"
#include "tests/support/skip_or_fail.h"

class E2eApp {
public:
    ~E2eApp();  // stops the program; the folder goes with `process_`

    // Extra environment for the program (VORTA_CLOUD_HOST, ...).
    std::map<std::string, std::string>& env = process_.env;
    // An installed program to start instead of the built one: it finds its
    // pages itself (VORTA_PROGRAM_DIR is not set for it).
    std::string& program = process_.program;
    // Points the program at the cloud emulator and the device on the tty
    // `device_port` ("": none answers); see AppProcess::UseTestbed.
    void UseTestbed(const vorta_test::CloudEmuProcess& emu, const std::string& device_port = "") {
        process_.UseTestbed(emu, device_port);
    }
    // Starts the program and connects the automation client.
    bool Start();
    void Stop();

    AutomationClient& ui() { return client_; }
    // The automation socket, for a second client.
    const std::string& socket() const { return process_.socket(); }
    // Waits for the program to end: its exit code, or -1000 (a signal, or
    // still running after `timeout_ms`).
    int WaitExit(int timeout_ms) { return process_.WaitExit(timeout_ms); }
    const std::string& home() const { return process_.home(); }
    pid_t pid() const { return process_.pid(); }
    std::string SettingsPath() const { return home() + "/config/VORTA PC TOOL/settings.json"; }

    // Fills the sign-in page and presses "login".
    bool SignIn(const std::string& email, const std::string& password);
    // Signs in the cloud emulator's demo account and waits (at most
    // `timeout_ms`) for the main window.
    bool SignInDemo(int timeout_ms = 20000);
    // Text of an element of the window showing `page`.
    std::string Text(const std::string& page, const std::string& id, const std::string& frame = "");
    bool ClickOn(const std::string& page, const std::string& id, const std::string& frame = "");
    bool Visible(const std::string& page);
    // The first calendar cell (0..41) of main.htm's `frame` marked as a day
    // with dives in the month shown; -1 when there is none.
    int DiveDayShown(const std::string& frame);
    // Waits for the message dialog, returns its first text and closes it.
    // "" when none came within `timeout_ms`.
    std::string TakeMessage(int timeout_ms = 15000);
    // Polls every 50 ms until `done` or the time-out.
    static bool WaitFor(const std::function<bool()>& done, int timeout_ms);
    // Settings: chooses the units ("0" metric, "1" imperial) and saves; true
    // once the settings dialog has closed.
    bool SaveUnits(const std::string& unit_i);

    static std::string BinDir() { return AppProcess::BinDir(); }
    // The ENG text of a message key.
    static std::string Lang(const std::string& key);

private:
    AppProcess process_;
    AutomationClient client_;
};

// Why the end-to-end tests cannot run here, or "" when they can.
std::string E2eMissing();
