#include "tests/support/app_process.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/cloudemu_process.h"
#include "tests/support/proc_memory.h"
#include "tests/support/wait_for.h"

namespace fs = std::filesystem;

std::string AppProcess::BinDir() {
    const char* dir = std::getenv("VORTA_BIN_DIR");
    return dir && *dir ? dir : VORTA_BIN_DIR;
}

AppProcess::AppProcess() {
    char tmpl[] = "/tmp/vorta-app-XXXXXX";
    if (mkdtemp(tmpl)) home_ = tmpl;
    std::error_code ec;
    fs::create_directories(home_ + "/config", ec);
    fs::create_directories(home_ + "/Documents", ec);
    socket_ = home_ + "/automation.sock";
}

AppProcess::~AppProcess() {
    Stop();
    std::error_code ec;
    if (!home_.empty()) fs::remove_all(home_, ec);
}

void AppProcess::UseCloud(const vorta_test::CloudEmuProcess& emu) {
    if (program.empty()) env["VORTA_PROGRAM_DIR"] = BinDir();
    env["VORTA_CLOUD_HOST"] = emu.host();
    env["VORTA_CA_FILE"] = emu.ca_file();
}

void AppProcess::UseTestbed(const vorta_test::CloudEmuProcess& emu, const std::string& device_port) {
    UseCloud(emu);
    env["VORTA_DEVICE_PORT"] = device_port.empty() ? home_ + "/no-such-tty" : device_port;
}

bool AppProcess::Start() {
    if (home_.empty() || pid_ > 0) return false;
    unlink(socket_.c_str());
    std::map<std::string, std::string> all = env;
    all["HOME"] = home_;
    all["XDG_CONFIG_HOME"] = home_ + "/config";
    all["VORTA_AUTOMATION_SOCKET"] = socket_;
    // No session bus unless the test hands one: the program then keeps the
    // remembered sign-in in its settings file, never in the user's keyring.
    all.emplace("DBUS_SESSION_BUS_ADDRESS", "");
    const std::string bin = program.empty() ? BinDir() + "/vorta-pc-tool" : program;
    // The environment is built before the fork: the child of a threaded test
    // may only make async-signal-safe calls (setenv allocates and could wait
    // on a lock that another thread held at the fork, for ever).
    std::vector<std::string> entries;
    for (char** e = environ; e && *e; ++e) {
        const std::string entry = *e;
        if (all.count(entry.substr(0, entry.find('='))) == 0) entries.push_back(entry);
    }
    for (const auto& kv : all) entries.push_back(kv.first + "=" + kv.second);
    std::vector<char*> envp;
    for (auto& entry : entries) envp.push_back(&entry[0]);
    envp.push_back(nullptr);
    char* const argv[] = {const_cast<char*>(bin.c_str()), nullptr};
    pid_ = fork();
    if (pid_ < 0) return false;
    if (pid_ == 0) {
        execve(bin.c_str(), argv, envp.data());
        _exit(127);
    }
    return true;
}

int AppProcess::WaitExit(int timeout_ms) {
    if (pid_ <= 0) return -1000;
    for (int waited = 0; waited < timeout_ms; waited += 20) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1000;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1000;
}

void AppProcess::Stop() {
    vorta_test::StopChild(pid_, std::chrono::seconds(5));
    pid_ = -1;
}

void AppProcess::StopWithItsProcesses() {
    const std::vector<pid_t> tree = pid_ > 0 ? vorta_test::ProcessTree(pid_) : std::vector<pid_t>();
    Stop();
    vorta_test::WaitFor(
        [&] {
            for (const pid_t pid : tree)
                if (::kill(pid, 0) == 0) return false;
            return true;
        },
        15000);
}
