#include "tests/e2e/e2e_app.h"

#include <unistd.h>

#include <json/reader.h>
#include <json/value.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "tests/support/sign_in.h"
#include "tests/support/wait_for.h"
#include "tests/support/x_pointer.h"

std::string E2eApp::Lang(const std::string& key) {
    // Read from the program's string.json here, not through its text table.
    static const Json::Value table = [] {
        std::ifstream in(BinDir() + "/string.json");
        Json::Value parsed;
        std::string errors;
        Json::parseFromStream(Json::CharReaderBuilder(), in, &parsed, &errors);
        return parsed;
    }();
    const Json::Value& entry = table.isObject() ? table[key] : Json::Value::nullSingleton();
    const std::string text = entry.isObject() && entry["ENG"].isString() ? entry["ENG"].asString() : std::string();
    // A key without a text matches no text the program shows.
    return text.empty() ? "<no text for " + key + ">" : text;
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

E2eApp::~E2eApp() {
    Stop();
}

bool E2eApp::Start() {
    // The display's pointer is shared by every window test: kept away from
    // the program's (centred) windows, it raises no mouse events of its own.
    vorta_test::MovePointerOutOfTheWay();
    if (program.empty()) env["VORTA_PROGRAM_DIR"] = BinDir();
    if (!env.count("VORTA_DEVICE_TIMEOUT_MS")) env["VORTA_DEVICE_TIMEOUT_MS"] = "1500";
    return process_.Start() && client_.Connect(process_.socket(), 20000);
}

void E2eApp::Stop() {
    client_.Close();
    process_.Stop();
}

bool E2eApp::WaitFor(const std::function<bool()>& done, int timeout_ms) {
    return vorta_test::WaitFor(done, timeout_ms);
}

bool E2eApp::SaveUnits(const std::string& unit_i) {
    if (!ClickOn("main.htm", "setting") || !client_.WaitWindow("setting.htm")) return false;
    client_.SetTargetPage("setting.htm");
    const bool saved = client_.SetValue("unit_i", unit_i) && client_.Click("save");
    client_.SetTargetPage("");
    return saved && WaitFor([this] { return !Visible("setting.htm"); }, 10000);
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

int E2eApp::DiveDayShown(const std::string& frame) {
    client_.SetTargetPage("main.htm");
    int day = -1;
    for (int i = 0; i < 42 && day < 0; ++i) {
        char id[16];
        std::snprintf(id, sizeof id, "date_cell_%.2d", i);
        const auto cls = client_.GetAttr(id, "class", frame);
        if (cls && cls->find("date_td_in_dive_day") != std::string::npos) day = i;
    }
    client_.SetTargetPage("");
    return day;
}

bool E2eApp::ClickOn(const std::string& page, const std::string& id, const std::string& frame) {
    client_.SetTargetPage(page);
    bool ok = client_.Click(id, frame);
    client_.SetTargetPage("");
    return ok;
}

bool E2eApp::SignIn(const std::string& email, const std::string& password) {
    return vorta_test::SubmitSignIn(client_, email, password);
}

bool E2eApp::SignInDemo(int timeout_ms) {
    return vorta_test::SignInDemo(client_, timeout_ms);
}

std::string E2eApp::TakeMessage(int timeout_ms) {
    if (!client_.WaitWindow("msg.htm", timeout_ms)) return "";
    std::string text = Text("msg.htm", "MsgText1");
    ClickOn("msg.htm", "ok");
    WaitFor([this] { return !Visible("msg.htm"); }, 5000);
    return text;
}
