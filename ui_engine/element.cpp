#include "ui_engine/element.h"
#include "ui_engine/host_window.h"

namespace ui {
Element Element::ById(WindowId w, const std::string& id) {
    Element e;
    if (w == 0 || id.empty()) return e;
    e.kind_ = Kind::ById; e.window_ = w; e.id_ = id;
    return e;
}
Element Element::Root(WindowId w) { Element e; if (!w) return e; e.kind_ = Kind::Root; e.window_ = w; return e; }
bool Element::Exists() const { return false; }
Element Element::Find(const std::string& id) const { Element e = ById(window_, id); if (kind_ == Kind::Null) return Element(); e.frames_ = frames_; return e; }
Element Element::FrameRoot() const { if (kind_ != Kind::ById) return Element(); Element e = *this; e.frames_.push_back(id_); e.id_.clear(); e.kind_ = Kind::Root; return e; }
std::string Element::GetAttribute(const std::string&) const { return {}; }
std::string Element::GetText() const { return {}; }
std::string Element::GetValue() const { return {}; }
std::string Element::GetHtml() const { return {}; }
void Element::SetAttribute(const std::string&, const std::string&) const {}
void Element::SetAttribute(const std::string&, const char*) const {}
void Element::RemoveAttribute(const std::string&) const {}
void Element::SetText(const std::string&) const {}
void Element::AppendHtml(const std::string&) const {}
void Element::SetHtml(const std::string&) const {}
void Element::SetValue(const std::string&) const {}
void Element::SetStyle(const std::string&, const std::string&) const {}
void Element::Update() const {}
void Element::ShowPopup(const Element&) const {}
void Element::HidePopup() const {}
void Element::PostClick() const {}
void Element::AttachScriptPage(const std::string&) const {}
void Element::CallScript(const std::string&, const std::vector<std::string>&) const {}
Element FindById(WindowId w, const std::string& id) { return Element::ById(w, id); }
Element FindById(const HostWindow& w, const std::string& id) { return Element::ById(w.id(), id); }
Element FindInFrame(WindowId w, const std::string& f, const std::string& id) { return Element::ById(w, f).FrameRoot().Find(id); }
Element FindInFrame(const HostWindow& w, const std::string& f, const std::string& id) { return FindInFrame(w.id(), f, id); }
std::string EscapeHtml(const std::string& t) { return t; }
}  // namespace ui
