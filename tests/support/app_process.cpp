#include "tests/support/app_process.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

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

bool AppProcess::Start() {
    if (home_.empty() || pid_ > 0) return false;
    unlink(socket_.c_str());
    std::map<std::string, std::string> all = env;
    all["HOME"] = home_;
    all["XDG_CONFIG_HOME"] = home_ + "/config";
    all["VORTA_AUTOMATION_SOCKET"] = socket_;
    const std::string bin = BinDir() + "/vorta-pc-tool";
    pid_ = fork();
    if (pid_ < 0) return false;
    if (pid_ == 0) {
        for (const auto& kv : all) setenv(kv.first.c_str(), kv.second.c_str(), 1);
        execl(bin.c_str(), bin.c_str(), static_cast<char*>(nullptr));
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
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    if (WaitExit(5000) != -1000 || pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}
