// The automation channel's requests as bytes arrive, without a display:
// cutting a client's stream into request lines, and reading one line into
// the request it names (protocol: AUTOMATION.md). automation.cpp serves
// the requests; this part is what a client controls.
#pragma once

#include <json/value.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace ui {

// The longest unfinished line a client may send; a longer one closes the
// connection.
constexpr size_t kMaxRequestLine = 1 << 20;
constexpr int kDefaultWaitMs = 5000;
constexpr int kMaxWaitMs = 600000;

// Appends received bytes to `pending` and moves every complete line out of
// it into `lines` ("\n" ends a line, a "\r" before it is dropped, empty
// lines are skipped). False when what is left unfinished is longer than
// kMaxRequestLine.
bool TakeRequestLines(std::string& pending, const char* data, size_t size, std::deque<std::string>& lines);
// The client's end of sending: an unfinished last line counts as a line.
void FinishRequestLines(std::string& pending, std::deque<std::string>& lines);

struct AutomationRequest {
    Json::Value json;  // the request as sent; its "id" is echoed in the answer
    std::string cmd;

    // The window: by "window" (id), else by "page", else the active one. A
    // "window" that is not a non-negative integer names no window.
    enum class WindowBy { kActive, kId, kPage, kNone };
    WindowBy window_by = WindowBy::kActive;
    uint64_t window_id = 0;
    std::string page;  // also the page "wait_window" waits for

    // The element: "element" inside the frames "frame" then "frames" (ids
    // from the top page down).
    std::vector<std::string> frames;
    std::string element;
    int nth = 0;  // "nth": one of several elements with that id, from 0

    std::string value;                // "set_value", "wait_text"
    std::string name;                 // "get_attr"
    std::string key;                  // "key"
    std::string path;                 // "snapshot"
    int timeout_ms = kDefaultWaitMs;  // "wait_window", "wait_text", within 0..kMaxWaitMs
};

// A request's "timeout_ms" within 0..kMaxWaitMs; kDefaultWaitMs without one.
int RequestTimeoutMs(const Json::Value& request);

// Reads one request line. False when it is not a JSON object (answered
// "bad request"); `out.json` then holds whatever could be parsed.
bool ParseRequest(const std::string& line, AutomationRequest& out);

}  // namespace ui
