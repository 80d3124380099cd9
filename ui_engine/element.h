// Lazy handles on page elements.
//
// An Element is (window, frame path, id): nothing is looked up when the handle
// is made. Every operation resolves it in the page at the moment it runs:
// the window by id, then each frame element of the path by its "id" (the
// document inside an <iframe>/<frame> is its child 0), then the element with
// the selector "[id='<id>']" (first match; the id is escaped, any text is safe).
// So a missing element is a null handle: writes do nothing and reads give "".
// A handle stays valid when the page rebuilds the element with the same id.
// Where a page repeats an id (the buttons of list rows), the target of a
// behaviour event is the element that was clicked, not the first with its
// id, and Nth() names one of the repeated elements.
//
// Writes (Set*, Remove*, AppendHtml, ShowPopup, PostClick, ...) are queued per
// window in order and sent as one script evaluation on idle, before any read
// of that window, before a dialog is shown and before a snapshot.
// Reads (Get*, Exists) send the queued writes and the read as one evaluation
// and wait for the page's answer in a nested main loop (time-out 3 s, then "").
// While a read waits, page events and posted work are held back and delivered
// after the outermost read returns.
// All arguments are passed to the page as JSON data; no text is ever evaluated
// as script or parsed as HTML unless the operation says HTML.
//
// UI thread only. Handles are cheap values; copy them freely.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ui_engine/ui_engine.h"

namespace ui {

class Element {
public:
    // The null handle: every operation does nothing, reads give "".
    Element() = default;

    // Handle on the element with this id in the window's page.
    static Element ById(WindowId window, const std::string& id);
    // Handle on the root element (<html>) of the window's page.
    static Element Root(WindowId window);

    // False only for a handle that can never resolve (default-made, or made
    // from an empty id or window 0). Says nothing about the page: see Exists().
    bool IsNull() const { return kind_ == Kind::Null; }
    // True when the element is in the page now (a synchronous read).
    bool Exists() const;

    // The element with this id in the same document as this element.
    Element Find(const std::string& id) const;
    // The n-th (from 0) element with this handle's id in its document.
    Element Nth(unsigned n) const;
    // For a frame element (<iframe>, <frame>): the root of the document inside
    // it, i.e. its child 0. Null handle when this handle is null or a root.
    Element FrameRoot() const;

    WindowId window() const { return window_; }
    const std::vector<std::string>& frame_path() const { return frames_; }
    // The id the handle looks up ("" for a root or null handle).
    const std::string& id() const { return id_; }

    // --- reads (synchronous) ---
    // Attribute value; "" when the attribute or the element is missing.
    // GetAttribute("id") on a handle made by id answers without a round trip.
    std::string GetAttribute(const std::string& name) const;
    // The element's textContent.
    std::string GetText() const;
    // Value of an input, textarea, select or <progress> (as text); for other
    // elements the "value" attribute, else "".
    std::string GetValue() const;
    // innerHTML.
    std::string GetHtml() const;
    // For a frame showing a script page: the page's record of the calls it
    // received (window.__received) as JSON text; "" when there is none.
    std::string GetScriptRecord() const;
    // A mouse move over the element, (x, y) pixels from its top left corner,
    // dispatched in its document (the page's handlers run as for a user's
    // move). False when the element is not there.
    bool MoveMouse(double x, double y) const;

    // --- writes (queued) ---
    void SetAttribute(const std::string& name, const std::string& value) const;
    // A null value removes the attribute.
    void SetAttribute(const std::string& name, const char* value) const;
    void RemoveAttribute(const std::string& name) const;
    // Replaces the content with this text, always as text (never HTML/script).
    void SetText(const std::string& text) const;
    // Appends HTML after the last child. The HTML is the program's own markup:
    // escape any data put into it with EscapeHtml().
    void AppendHtml(const std::string& html) const;
    // Replaces the content with HTML ("" clears the element).
    void SetHtml(const std::string& html) const;
    // Sets the value of an input, textarea, select or <progress> (a string; a
    // progress takes a number text such as "42"). Fires no page events.
    void SetValue(const std::string& value) const;
    // style.setProperty(property, value); an empty value removes the property.
    void SetStyle(const std::string& property, const std::string& value) const;
    // Asks for a redraw of the element. The engine redraws by itself; this
    // sends the window's queued writes now.
    void Update() const;
    // Shows this element as a popup placed just below `anchor` (left edges
    // aligned), above other content. HidePopup hides it again.
    void ShowPopup(const Element& anchor) const;
    void HidePopup() const;
    // Posts a click to the element: it is delivered later through the same path
    // as a user's click (a behaviour event code 0 when the element, or an
    // ancestor, has button behaviour).
    void PostClick() const;

    // --- script pages (shown with HostWindow::ShowScriptPage) ---
    // Calls the global function `function` of the script page in this frame
    // element, or in the first frame inside this element, with string
    // arguments (in the function's parameter order). Nothing happens when
    // there is no script page there, it has not run its scripts yet or does
    // not define the function; the function's result and errors stay in the
    // page. Sent in order after the writes queued before it. `function` is
    // program text, never page or user data.
    void CallScript(const std::string& function, const std::vector<std::string>& args) const;

private:
    enum class Kind { Null, Root, ById };
    Kind kind_ = Kind::Null;
    WindowId window_ = 0;
    std::vector<std::string> frames_;  // ids of the frame elements to enter, outermost first
    std::string id_;
    // Which of the elements with id_: the one the page tagged when it raised
    // an event on it (tag_ > 0), else the nth_ one in document order.
    uint64_t tag_ = 0;
    unsigned nth_ = 0;

    friend class HostWindow;
    friend struct ElementAccess;
};

// The first element with this id in the window's page ("[id='%S']").
Element FindById(WindowId window, const std::string& id);
Element FindById(const HostWindow& window, const std::string& id);
// The first element with this id inside the document of the frame element
// `frame_id` of the window's page.
Element FindInFrame(WindowId window, const std::string& frame_id, const std::string& id);
Element FindInFrame(const HostWindow& window, const std::string& frame_id, const std::string& id);

// Text made safe to put into HTML markup (& < > " ' escaped).
std::string EscapeHtml(const std::string& text);

}  // namespace ui
