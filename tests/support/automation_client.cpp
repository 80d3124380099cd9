#include "tests/support/automation_client.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "base/json_safe.h"

namespace {

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

Json::Value IoError() {
    Json::Value a;
    a["ok"] = false;
    a["error"] = "io";
    return a;
}

bool Flag(const Json::Value& obj, const char* key) {
    const Json::Value& v = json_safe::Member(obj, key);
    return v.isBool() && v.asBool();
}

AutomationWindow ReadWindow(const Json::Value& w) {
    AutomationWindow aw;
    aw.id = static_cast<uint64_t>(json_safe::Double(w, "id"));
    aw.page = json_safe::String(w, "page");
    aw.path = json_safe::String(w, "path");
    aw.modal = Flag(w, "modal");
    aw.visible = Flag(w, "visible");
    return aw;
}

}  // namespace

AutomationClient::~AutomationClient() {
    Close();
}

bool AutomationClient::Connect(const std::string& socket_path, int timeout_ms) {
    Close();
    struct sockaddr_un addr;
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    if (socket_path.size() >= sizeof addr.sun_path) return false;
    std::memcpy(addr.sun_path, socket_path.c_str(), socket_path.size());
    int64_t deadline = NowMs() + timeout_ms;
    for (;;) {
        int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return false;
        if (connect(fd, reinterpret_cast<struct sockaddr*>(&addr), sizeof addr) == 0) {
            fd_ = fd;
            return true;
        }
        close(fd);
        if (NowMs() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

void AutomationClient::Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    pending_.clear();
}

Json::Value AutomationClient::Request(const Json::Value& request, int timeout_ms) {
    if (fd_ < 0) return IoError();
    Json::Value req = request;
    int id = next_id_++;
    req["id"] = id;
    Json::StreamWriterBuilder wb;
    wb["indentation"] = "";
    std::string line = Json::writeString(wb, req) + "\n";
    size_t off = 0;
    while (off < line.size()) {
        ssize_t n = send(fd_, line.data() + off, line.size() - off, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            Close();
            return IoError();
        }
        off += static_cast<size_t>(n);
    }
    int64_t deadline = NowMs() + timeout_ms;
    for (;;) {
        size_t nl;
        while ((nl = pending_.find('\n')) != std::string::npos) {
            std::string answer_line = pending_.substr(0, nl);
            pending_.erase(0, nl + 1);
            Json::Value answer;
            if (!json_safe::Parse(answer_line, answer) || !answer.isObject()) continue;
            const Json::Value& aid = json_safe::Member(answer, "id");
            if (aid.isInt() && aid.asInt() != id) continue;  // an answer to an abandoned request
            return answer;
        }
        int64_t left = deadline - NowMs();
        if (left <= 0) return IoError();
        struct pollfd p {
            fd_, POLLIN, 0
        };
        int r = poll(&p, 1, static_cast<int>(left));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return IoError();
        char buf[8192];
        ssize_t n = recv(fd_, buf, sizeof buf, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            Close();
            return IoError();
        }
        pending_.append(buf, static_cast<size_t>(n));
    }
}

Json::Value AutomationClient::Base(const char* cmd) const {
    Json::Value r;
    r["cmd"] = cmd;
    if (target_window_) r["window"] = static_cast<Json::UInt64>(target_window_);
    else if (!target_page_.empty()) r["page"] = target_page_;
    return r;
}

Json::Value AutomationClient::ElementRequest(const char* cmd, const std::string& id, const std::string& frame) const {
    Json::Value r = Base(cmd);
    r["element"] = id;
    if (!frame.empty()) r["frame"] = frame;
    return r;
}

bool AutomationClient::Ok(const Json::Value& answer) {
    bool ok = Flag(answer, "ok");
    last_error_ = ok ? "" : json_safe::String(answer, "error");
    if (!ok && last_error_.empty()) last_error_ = "failed";
    return ok;
}

std::optional<std::string> AutomationClient::ValueOf(const Json::Value& answer) {
    if (!Ok(answer)) return std::nullopt;
    return json_safe::String(answer, "value");
}

bool AutomationClient::Click(const std::string& id, const std::string& frame, int nth) {
    Json::Value r = ElementRequest("click", id, frame);
    if (nth > 0) r["nth"] = nth;
    return Ok(Request(r));
}

bool AutomationClient::SetValue(const std::string& id, const std::string& value, const std::string& frame) {
    Json::Value r = ElementRequest("set_value", id, frame);
    r["value"] = value;
    return Ok(Request(r));
}

bool AutomationClient::PressKey(const std::string& key, const std::string& id, const std::string& frame) {
    Json::Value r = id.empty() ? Base("key") : ElementRequest("key", id, frame);
    r["key"] = key;
    return Ok(Request(r));
}

std::optional<std::string> AutomationClient::GetText(const std::string& id, const std::string& frame) {
    return ValueOf(Request(ElementRequest("get_text", id, frame)));
}

std::optional<std::string> AutomationClient::WaitTextNot(const std::string& id, const std::string& was,
                                                         const std::string& frame, int timeout_ms) {
    Json::Value r = ElementRequest("wait_text", id, frame);
    r["value"] = was;
    r["timeout_ms"] = timeout_ms;
    return ValueOf(Request(r, timeout_ms + 10000));
}

std::optional<std::string> AutomationClient::GetValue(const std::string& id, const std::string& frame) {
    return ValueOf(Request(ElementRequest("get_value", id, frame)));
}

std::optional<std::string> AutomationClient::GetAttr(const std::string& id, const std::string& name,
                                                     const std::string& frame) {
    Json::Value r = ElementRequest("get_attr", id, frame);
    r["name"] = name;
    return ValueOf(Request(r));
}

std::vector<AutomationWindow> AutomationClient::Windows() {
    std::vector<AutomationWindow> out;
    Json::Value a = Request(Base("windows"));
    if (!Ok(a)) return out;
    const Json::Value& list = json_safe::Member(a, "windows");
    for (Json::ArrayIndex i = 0; i < json_safe::Size(list); ++i) out.push_back(ReadWindow(json_safe::Element(list, i)));
    return out;
}

bool AutomationClient::WaitWindow(const std::string& page, int timeout_ms, AutomationWindow* found) {
    Json::Value r;
    r["cmd"] = "wait_window";
    r["page"] = page;
    r["timeout_ms"] = timeout_ms;
    Json::Value a = Request(r, timeout_ms + 10000);
    if (!Ok(a)) return false;
    if (found) *found = ReadWindow(json_safe::Member(a, "window"));
    return true;
}

namespace {
Json::Value FileDialogRequest(int timeout_ms) {
    Json::Value r;
    r["cmd"] = "file_dialog";
    r["timeout_ms"] = timeout_ms;
    return r;
}
}  // namespace

bool AutomationClient::AnswerFileDialog(const std::string& path, Json::Value* dialog, int timeout_ms) {
    Json::Value r = FileDialogRequest(timeout_ms);
    r["path"] = path;
    Json::Value a = Request(r, timeout_ms + 10000);
    if (dialog) *dialog = json_safe::Member(a, "dialog");
    return Ok(a);
}

bool AutomationClient::CancelFileDialog(Json::Value* dialog, int timeout_ms) {
    Json::Value r = FileDialogRequest(timeout_ms);
    r["cancel"] = true;
    Json::Value a = Request(r, timeout_ms + 10000);
    if (dialog) *dialog = json_safe::Member(a, "dialog");
    return Ok(a);
}

bool AutomationClient::AnswerReplaceQuestion(bool replace, int timeout_ms) {
    Json::Value r = FileDialogRequest(timeout_ms);
    r["replace"] = replace;
    return Ok(Request(r, timeout_ms + 10000));
}

bool AutomationClient::MapEvent(const std::string& name, const std::vector<std::string>& args) {
    Json::Value r = Base("map_event");
    r["name"] = name;
    r["args"] = Json::Value(Json::arrayValue);
    for (const auto& a : args) r["args"].append(a);
    return Ok(Request(r));
}

bool AutomationClient::Snapshot(const std::string& png_path) {
    Json::Value r = Base("snapshot");
    r["path"] = png_path;
    return Ok(Request(r));
}

bool AutomationClient::CloseWindow() {
    return Ok(Request(Base("close")));
}

bool AutomationClient::Ping() {
    Json::Value r;
    r["cmd"] = "ping";
    return Ok(Request(r));
}
