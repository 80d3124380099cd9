#include "tests/e2e/e2e_app.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "app/settings/lang_table.h"

namespace fs = std::filesystem;

std::string E2eApp::BinDir() {
    const char* dir = std::getenv("VORTA_BIN_DIR");
    return dir && *dir ? dir : VORTA_BIN_DIR;
}

std::string E2eApp::Lang(const std::string& key) {
    static bool loaded = LoadLangTable(BinDir() + "/string.json");
    (void)loaded;
    return GetLangTextIn(key, "ENG");
}

std::string E2eMissing() {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) return "no X display (run under xvfb-run)";
    for (const char* name : {"vorta-pc-tool", "vorta-devsim", "vorta-cloudemu"})
        if (access((E2eApp::BinDir() + "/" + name).c_str(), X_OK) != 0)
            return std::string(name) + " is not built in " + E2eApp::BinDir();
    if (access((E2eApp::BinDir() + "/ENG/main.htm").c_str(), R_OK) != 0) return "the pages are not built";
    return "";
}

E2eApp::E2eApp() {
    char tmpl[] = "/tmp/vorta-e2e-XXXXXX";
    if (mkdtemp(tmpl)) home_ = tmpl;
    fs::create_directories(home_ + "/config");
    fs::create_directories(home_ + "/Documents");
}

E2eApp::~E2eApp() {
    Stop();
    std::error_code ec;
    if (!home_.empty()) fs::remove_all(home_, ec);
}

bool E2eApp::Start() {
    const std::string socket = home_ + "/automation.sock";
    std::map<std::string, std::string> all = env;
    all["HOME"] = home_;
    all["XDG_CONFIG_HOME"] = home_ + "/config";
    all["VORTA_AUTOMATION_SOCKET"] = socket;
    all["VORTA_PROGRAM_DIR"] = BinDir();
    if (!all.count("VORTA_DEVICE_TIMEOUT_MS")) all["VORTA_DEVICE_TIMEOUT_MS"] = "1500";
    pid_ = fork();
    if (pid_ < 0) return false;
    if (pid_ == 0) {
        for (const auto& kv : all) setenv(kv.first.c_str(), kv.second.c_str(), 1);
        const std::string bin = BinDir() + "/vorta-pc-tool";
        execl(bin.c_str(), bin.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return client_.Connect(socket, 20000);
}

void E2eApp::Stop() {
    client_.Close();
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

bool E2eApp::WaitFor(const std::function<bool()>& done, int timeout_ms) {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

bool E2eApp::Visible(const std::string& page) {
    for (const AutomationWindow& w : client_.Windows())
        if (w.page == page && w.visible) return true;
    return false;
}

std::string E2eApp::Text(const std::string& page, const std::string& id, const std::string& frame) {
    client_.SetTargetPage(page);
    auto t = client_.GetText(id, frame);
    client_.SetTargetPage("");
    return t.value_or("");
}

bool E2eApp::ClickOn(const std::string& page, const std::string& id, const std::string& frame) {
    client_.SetTargetPage(page);
    bool ok = client_.Click(id, frame);
    client_.SetTargetPage("");
    return ok;
}

bool E2eApp::SignIn(const std::string& email, const std::string& password) {
    if (!client_.WaitWindow("login.htm", 20000)) return false;
    client_.SetTargetPage("login.htm");
    bool ok = client_.SetValue("email", email) && client_.SetValue("pword", password) && client_.Click("login");
    client_.SetTargetPage("");
    return ok;
}

std::string E2eApp::TakeMessage(int timeout_ms) {
    if (!client_.WaitWindow("msg.htm", timeout_ms)) return "";
    std::string text = Text("msg.htm", "MsgText1");
    ClickOn("msg.htm", "ok");
    WaitFor([this] { return !Visible("msg.htm"); }, 5000);
    return text;
}
