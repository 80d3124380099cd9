#include "ui_engine/automation_request.h"

#include <algorithm>

#include "base/json_safe.h"

namespace ui {

bool TakeRequestLines(std::string& pending, const char* data, size_t size, std::deque<std::string>& lines) {
    // Only the new bytes are searched: a long line arriving in small pieces
    // is not scanned again for every piece.
    size_t from = pending.size();
    pending.append(data, size);
    size_t start = 0;
    size_t nl;
    while ((nl = pending.find('\n', from)) != std::string::npos) {
        size_t end = nl;
        if (end > start && pending[end - 1] == '\r') --end;
        if (end > start) lines.push_back(pending.substr(start, end - start));
        start = from = nl + 1;
    }
    pending.erase(0, start);
    return pending.size() <= kMaxRequestLine;
}

void FinishRequestLines(std::string& pending, std::deque<std::string>& lines) {
    if (!pending.empty() && pending.back() == '\r') pending.pop_back();
    if (!pending.empty()) lines.push_back(std::move(pending));
    pending.clear();
}

bool ParseRequest(const std::string& line, AutomationRequest& out) {
    out = AutomationRequest();
    if (!json_safe::Parse(line, out.json) || !out.json.isObject()) return false;
    const Json::Value& req = out.json;
    out.cmd = json_safe::String(req, "cmd");

    const Json::Value& wid = json_safe::Member(req, "window");
    out.page = json_safe::String(req, "page");
    if (wid.isUInt64()) {
        out.window_by = AutomationRequest::WindowBy::kId;
        out.window_id = wid.asUInt64();
    } else if (!wid.isNull()) {
        out.window_by = AutomationRequest::WindowBy::kNone;  // negative, fractional or not a number
    } else if (!out.page.empty()) {
        out.window_by = AutomationRequest::WindowBy::kPage;
    }

    const std::string frame = json_safe::String(req, "frame");
    if (!frame.empty()) out.frames.push_back(frame);
    const Json::Value& list = json_safe::Member(req, "frames");
    for (Json::ArrayIndex i = 0; i < json_safe::Size(list); ++i)
        out.frames.push_back(json_safe::AsString(json_safe::Element(list, i)));
    out.element = json_safe::String(req, "element");
    out.nth = std::max(0, json_safe::Int(req, "nth"));

    out.value = json_safe::String(req, "value");
    out.name = json_safe::String(req, "name");
    out.key = json_safe::String(req, "key");
    out.path = json_safe::String(req, "path");
    out.timeout_ms = RequestTimeoutMs(req);
    return true;
}

int RequestTimeoutMs(const Json::Value& request) {
    if (!json_safe::Member(request, "timeout_ms").isNumeric()) return kDefaultWaitMs;
    return std::clamp(json_safe::Int(request, "timeout_ms"), 0, kMaxWaitMs);
}

}  // namespace ui
