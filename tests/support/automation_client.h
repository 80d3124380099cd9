// Client of the program's automation channel (ui_engine/AUTOMATION.md) for
// end-to-end tests: start the program with VORTA_AUTOMATION_SOCKET=<path>,
// Connect(<path>), then drive it.
//
//   AutomationClient app;
//   ASSERT_TRUE(app.Connect(socket_path));
//   ASSERT_TRUE(app.WaitWindow("login.htm"));
//   app.SetValue("email", "a@b.c");
//   app.Click("login");
//   auto text = app.GetText("MsgText1");   // std::optional<std::string>
//
// Calls act on the target window: by default the active one (the innermost
// modal dialog, else the most recently shown window); SetTargetPage/Window
// choose another. Every call blocks until the answer arrives.
#pragma once

#include <json/json.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct AutomationWindow {
    uint64_t id = 0;
    std::string page;  // page file name, e.g. "main.htm"
    std::string path;  // full page path
    bool modal = false;
    bool visible = false;
};

class AutomationClient {
public:
    AutomationClient() = default;
    ~AutomationClient();
    AutomationClient(const AutomationClient&) = delete;
    AutomationClient& operator=(const AutomationClient&) = delete;

    // Connects to the socket, retrying until it accepts or `timeout_ms` passed
    // (the program may still be starting).
    bool Connect(const std::string& socket_path, int timeout_ms = 15000);
    void Close();
    bool connected() const { return fd_ >= 0; }

    // Sends one request object and returns the answer object. On a broken
    // connection or no answer within `timeout_ms`: {"ok":false,"error":"io"}.
    Json::Value Request(const Json::Value& request, int timeout_ms = 30000);

    // Target window of the calls below: a page file ("" = the active window),
    // or a window id (0 = by page / active).
    void SetTargetPage(const std::string& page) { target_page_ = page; }
    void SetTargetWindow(uint64_t id) { target_window_ = id; }

    // `frame` names a frame element of the page whose document holds the
    // element ("" = the page itself).
    // `nth` picks one of several elements with the same id (list rows).
    bool Click(const std::string& id, const std::string& frame = "", int nth = 0);
    // Sets the value as a user would (input and change events follow).
    bool SetValue(const std::string& id, const std::string& value, const std::string& frame = "");
    // Presses a key ("Enter", "Escape", "Tab", or a GDK key name) as the
    // keyboard does, into the focused element; with `id`, that element is
    // focused first, as by a click into it.
    bool PressKey(const std::string& key, const std::string& id = "", const std::string& frame = "");
    std::optional<std::string> GetText(const std::string& id, const std::string& frame = "");
    std::optional<std::string> GetValue(const std::string& id, const std::string& frame = "");
    std::optional<std::string> GetAttr(const std::string& id, const std::string& name, const std::string& frame = "");
    // The element's text once it is not `was` (at once when it is not now);
    // nothing after `timeout_ms`. The program watches the page for changes
    // instead of being asked again and again.
    std::optional<std::string> WaitTextNot(const std::string& id, const std::string& was, const std::string& frame = "",
                                           int timeout_ms = 10000);
    std::vector<AutomationWindow> Windows();
    // Waits until a visible window shows `page`.
    bool WaitWindow(const std::string& page, int timeout_ms = 10000, AutomationWindow* found = nullptr);
    bool Snapshot(const std::string& png_path);
    bool CloseWindow();
    bool Ping();

    // The desktop's file dialog, once one is open (waiting up to
    // `timeout_ms`): put `path` in it and accept, cancel it, or answer its
    // question about replacing a file. `dialog` receives what the dialog
    // showed ({"save", "title", "filters", "filter", "extension", ...}).
    bool AnswerFileDialog(const std::string& path, Json::Value* dialog = nullptr, int timeout_ms = 30000);
    bool CancelFileDialog(Json::Value* dialog = nullptr, int timeout_ms = 30000);
    bool AnswerReplaceQuestion(bool replace, int timeout_ms = 30000);
    // A map page event raised as the page raises it ("map_event"): `name`
    // as window.external's method, with its arguments.
    bool MapEvent(const std::string& name, const std::vector<std::string>& args);

    // The "error" of the last failed call ("" after a success).
    const std::string& last_error() const { return last_error_; }

private:
    Json::Value Base(const char* cmd) const;
    // Base(cmd) naming the element `id`, in `frame` when given.
    Json::Value ElementRequest(const char* cmd, const std::string& id, const std::string& frame) const;
    bool Ok(const Json::Value& answer);
    std::optional<std::string> ValueOf(const Json::Value& answer);

    int fd_ = -1;
    std::string pending_;
    int next_id_ = 1;
    std::string target_page_;
    uint64_t target_window_ = 0;
    std::string last_error_;
};
