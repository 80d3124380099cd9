// Lazy element handles: each operation becomes one call of the page runtime
// (window.__vorta) with its arguments as JSON data.
#include "ui_engine/element.h"

#include <cmath>
#include <cstdio>

#include "base/html_text.h"

#include "ui_engine/engine_internal.h"
#include "ui_engine/host_window.h"

namespace ui {

using namespace detail;

Element ElementAccess::Make(WindowId w, const std::vector<std::string>& frames, const std::string& id) {
    Element e = Element::ById(w, id);
    if (e.IsNull()) return e;
    for (const auto& f : frames)
        if (f.empty()) return Element();
    e.frames_ = frames;
    return e;
}

Element ElementAccess::MakeTagged(WindowId w, const std::vector<std::string>& frames, const std::string& id,
                                  uint64_t tag) {
    Element e = Make(w, frames, id);
    if (!e.IsNull()) e.tag_ = tag;
    return e;
}

namespace {

// The element as the runtime's second argument: null for a root, the id as
// text, or {"i": id, "g": tag} / {"i": id, "n": index} for one of several
// elements with that id.
std::string IdArg(const Element& e) {
    if (ElementAccess::IsRoot(e)) return "null";
    if (ElementAccess::Tag(e) > 0)
        return "{\"i\":" + JsString(e.id()) + ",\"g\":" + std::to_string(ElementAccess::Tag(e)) + "}";
    if (ElementAccess::Index(e) > 0)
        return "{\"i\":" + JsString(e.id()) + ",\"n\":" + std::to_string(ElementAccess::Index(e)) + "}";
    return JsString(e.id());
}

// "path,id" as the runtime's first two arguments.
std::string Target(const Element& e) {
    return JsStringArray(e.frame_path()) + "," + IdArg(e);
}

// "op(path,id[,rest])": one call of the runtime's operation `op` on the element.
std::string Call(const Element& e, const char* op, const std::string& rest) {
    std::string call = op;
    call += '(';
    call += Target(e);
    if (!rest.empty()) {
        call += ',';
        call += rest;
    }
    call += ')';
    return call;
}

void Write(const Element& e, const char* op, const std::string& rest = std::string()) {
    if (e.IsNull()) return;
    QueueWrite(e.window(), "R." + Call(e, op, rest) + ";");
}

std::string Read(const Element& e, const char* op, const std::string& rest = std::string()) {
    if (e.IsNull()) return {};
    return ReadFrom(e.window(), "(function(R){return R?R." + Call(e, op, rest) + ":'';})(window.__vorta)");
}

}  // namespace

void detail::WhenTextIsNot(const Element& e, const std::string& was, int timeout_ms, ScriptDone done) {
    if (e.IsNull()) return done(std::nullopt);
    AwaitScriptIn(e.window(),
                  "var R = window.__vorta; return R ? R.wt(" + Target(e) + "," + JsString(was) + "," +
                      std::to_string(timeout_ms) + ") : null;",
                  std::move(done));
}

Element Element::ById(WindowId window, const std::string& id) {
    Element e;
    if (window == 0 || id.empty()) return e;
    e.kind_ = Kind::ById;
    e.window_ = window;
    e.id_ = id;
    return e;
}

Element Element::Root(WindowId window) {
    Element e;
    if (window == 0) return e;
    e.kind_ = Kind::Root;
    e.window_ = window;
    return e;
}

bool Element::Exists() const {
    return Read(*this, "ex") == "1";
}

Element Element::Find(const std::string& id) const {
    if (kind_ == Kind::Null) return Element();
    Element e = ById(window_, id);
    if (!e.IsNull()) e.frames_ = frames_;
    return e;
}

Element Element::Nth(unsigned n) const {
    if (kind_ != Kind::ById) return Element();
    Element e = *this;
    e.tag_ = 0;
    e.nth_ = n;
    return e;
}

Element Element::FrameRoot() const {
    if (kind_ != Kind::ById) return Element();
    Element e = *this;
    e.frames_.push_back(id_);
    e.id_.clear();
    e.kind_ = Kind::Root;
    return e;
}

std::string Element::GetAttribute(const std::string& name) const {
    if (kind_ == Kind::ById && name == "id") return id_;
    return Read(*this, "ga", JsString(name));
}
std::string Element::GetText() const {
    return Read(*this, "gt");
}
std::string Element::GetValue() const {
    return Read(*this, "gv");
}
std::string Element::GetHtml() const {
    return Read(*this, "gh");
}
std::string Element::GetScriptRecord() const {
    return Read(*this, "gr");
}
bool Element::MoveMouse(double x, double y) const {
    if (!std::isfinite(x) || !std::isfinite(y)) return false;
    char args[64];
    std::snprintf(args, sizeof args, "%.3f,%.3f", x, y);
    return Read(*this, "mm", args) == "1";
}

void Element::SetAttribute(const std::string& name, const std::string& value) const {
    Write(*this, "sa", JsString(name) + "," + JsString(value));
}
void Element::SetAttribute(const std::string& name, const char* value) const {
    if (value) SetAttribute(name, std::string(value));
    else RemoveAttribute(name);
}
void Element::RemoveAttribute(const std::string& name) const {
    Write(*this, "sa", JsString(name) + ",null");
}
void Element::SetText(const std::string& text) const {
    Write(*this, "st", JsString(text));
}
void Element::AppendHtml(const std::string& html) const {
    Write(*this, "ah", JsString(html));
}
void Element::SetHtml(const std::string& html) const {
    Write(*this, "sh", JsString(html));
}
void Element::SetValue(const std::string& value) const {
    Write(*this, "sv", JsString(value));
}
void Element::SetStyle(const std::string& property, const std::string& value) const {
    Write(*this, "ss", JsString(property) + "," + JsString(value));
}
void Element::Update() const {
    // The engine redraws by itself; sending the queued writes now is all that is left.
    if (IsNull()) return;
    if (HostWindow* w = FindWindow(window_)) w->FlushWrites();
}
void Element::ShowPopup(const Element& anchor) const {
    if (anchor.IsNull() || anchor.window() != window_) return Write(*this, "sp", "[],null");
    Write(*this, "sp", Target(anchor));
}
void Element::HidePopup() const {
    Write(*this, "hp");
}
void Element::PostClick() const {
    Write(*this, "ck");
}
void Element::CallScript(const std::string& function, const std::vector<std::string>& args) const {
    if (IsNull()) return;
    CallScriptIn(window_, JsStringArray(frames_), IdArg(*this), JsString(function), JsStringArray(args));
}

void detail::SetValueAsUser(const Element& e, const std::string& value) {
    Write(e, "su", JsString(value));
}
void detail::FocusAsUser(const Element& e) {
    Write(e, "fo");
}
void detail::AttachScriptPage(const Element& holder, const std::string& url, const std::string& load,
                              const std::string& methods) {
    if (ElementAccess::IsRoot(holder)) return;
    Write(holder, "asp", JsString(url) + "," + JsString(load) + "," + JsString(methods));
}

Element FindById(WindowId window, const std::string& id) {
    return Element::ById(window, id);
}
Element FindById(const HostWindow& window, const std::string& id) {
    return Element::ById(window.id(), id);
}
Element FindInFrame(WindowId window, const std::string& frame_id, const std::string& id) {
    return Element::ById(window, frame_id).FrameRoot().Find(id);
}
Element FindInFrame(const HostWindow& window, const std::string& frame_id, const std::string& id) {
    return FindInFrame(window.id(), frame_id, id);
}

std::string EscapeHtml(const std::string& text) {
    return html_text::Escape(text);
}

}  // namespace ui
