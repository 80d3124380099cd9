// Starts the real vorta-pc-tool for a test or a benchmark: a private HOME and
// settings folder in a temporary directory (so the user's settings are never
// touched), the automation channel on a socket inside it, plus any extra
// environment. Stops the program and removes the folder when destroyed.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>

namespace vorta_test {
class CloudEmuProcess;
}

class AppProcess {
public:
    AppProcess();
    ~AppProcess();
    AppProcess(const AppProcess&) = delete;
    AppProcess& operator=(const AppProcess&) = delete;

    // Extra environment for the program (VORTA_CLOUD_HOST, ...); read by Start.
    // DBUS_SESSION_BUS_ADDRESS is empty (no session bus, so no keyring)
    // unless given here.
    std::map<std::string, std::string> env;

    // The program to start; empty: BinDir()/vorta-pc-tool (an installed
    // one is named here: /usr/bin/vorta-pc-tool).
    std::string program;

    // Points the program at the cloud emulator `emu` (its host and CA file)
    // and at the build's pages, unless `program` names another binary (set it
    // first). The device port is left unset: the program searches USB.
    void UseCloud(const vorta_test::CloudEmuProcess& emu);
    // UseCloud, and the device on the tty `device_port`; "" names a path in
    // the program's folder where no device answers.
    void UseTestbed(const vorta_test::CloudEmuProcess& emu, const std::string& device_port = "");

    // Starts the program; false when it could not be started.
    bool Start();
    // Waits for the program to end: its exit code, or -1000 on a signal or
    // when it is still running after `timeout_ms`.
    int WaitExit(int timeout_ms = 60000);
    // SIGTERM, then SIGKILL after 5 s.
    void Stop();
    // Stop, then waits (up to 15 s) until the processes the program started
    // are gone too: its web processes outlive it by a few seconds, and would
    // share the machine with whatever is measured next.
    void StopWithItsProcesses();

    pid_t pid() const { return pid_; }
    const std::string& home() const { return home_; }
    const std::string& socket() const { return socket_; }

    // The folder of the built program and its pages (VORTA_BIN_DIR overrides).
    static std::string BinDir();

private:
    std::string home_, socket_;
    pid_t pid_ = -1;
};
