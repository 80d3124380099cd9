// Page dialogs: modal dialogs whose content is an HTML page of the current
// language's folder.
//
// A DialogWnd subclass passes its page, its size in logical pixels and its
// drag band to the constructor, fills the page once it has loaded and reacts
// to the page's clicks in on_click. HtmlDlg shows it modally and returns the
// result the page's action ended it with:
//
//   HtmlDlg dlg(std::make_unique<YesNoDlg>(GetLangText("SURE_SEND_DS")));
//   if (dlg.DoModal(window()) == 1) { ... }
//
// or, for the message dialogs, ShowMsgDlg / ShowYesNoDlg below.
//
// DoModal may be called from any thread: from a worker thread the dialog is
// shown on the UI thread and the worker waits for the answer. (A worker must
// not do this while the UI thread waits for that worker, e.g. in a join.)
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "app/frame.h"
#include "app/func_base.h"

// The text of a page's <title> with its character references (&amp; &lt;
// &gt; &quot; &#39;) resolved; "" when the page has none. A dialog's window
// takes it as its title, which a screen reader says when the dialog opens.
std::string PageTitleOf(const std::string& html);

class DialogWnd : public app::frame {
public:
    // `page_file`: the page in the language folder, e.g. "msg.htm". Sizes are
    // logical pixels; the drag band (the top band that moves the dialog, 0 for
    // none) is scaled here, the size when asked.
    DialogWnd(std::string page_file, int logical_width, int logical_height, int logical_drag_band = 0);

    // Size in device pixels: logical size times the DPI scale, truncated.
    int width() const;
    int height() const;
    const std::string& page_file() const { return page_file_; }
    // Height in pixels of the top band that moves the dialog; 0 for none.
    int drag_band() const { return drag_band_; }

    // Creates the dialog window (transient for `parent`, or for the active
    // window when 0), loads the page and fills it (on_document_loaded).
    // Returns false when no window could be made; page_loaded() tells
    // whether the page was there.
    virtual bool create(WindowHandle parent);
    bool page_loaded() const { return page_loaded_; }

    // Every behaviour event of the page; never marked handled.
    virtual void on_click(const ElementHandle& element, const EventParams& params) { (void)element, (void)params; }
    // Private messages posted to the dialog's window.
    virtual void on_message(uint32_t msg, intptr_t wparam, intptr_t lparam) { (void)msg, (void)wparam, (void)lparam; }

    // Ends the modal loop with `result`.
    void end_dialog(int result);

protected:
    bool handle_message(uint32_t msg, intptr_t wparam, intptr_t lparam) override;
    void OnBehaviorEvent(ui::HostWindow& window, const ui::BehaviorEvent& event) override;

private:
    std::string page_file_;
    int logical_width_, logical_height_;
    int drag_band_;
    bool page_loaded_ = false;
};

class HtmlDlg {
public:
    explicit HtmlDlg(std::unique_ptr<DialogWnd> wnd);
    ~HtmlDlg();

    // Shows the dialog modally and returns its result; -1 when it cannot be
    // shown (no engine, no window). A dialog whose page file is missing has
    // no way to be closed, so it is not shown and gives 0 (the "no"/"leave"/
    // "nothing changed" answer of every dialog). Any thread.
    int DoModal(WindowHandle parent = 0);

    DialogWnd* wnd() const { return wnd_.get(); }

private:
    int DoModalOnUi(WindowHandle parent);
    std::unique_ptr<DialogWnd> wnd_;
};

// Ends the page dialog showing window `page_window` with `result` (for the
// controllers hosted in dialogs: LoginFunc, SettingFunc, LogEditFunc).
// Nothing happens when that window is gone. UI thread.
void EndPageDialog(WindowHandle page_window, int result);

// "msg.htm", 280 x 160: "MsgText1" <- text1, "MsgText2" <- text2; with a
// second text, "MsgText1" is left-aligned. "ok" ends it with 1.
class MsgDlg : public DialogWnd {
public:
    MsgDlg(std::string text1, std::string text2);
    void on_document_loaded(const ElementHandle& root) override;
    void on_click(const ElementHandle& element, const EventParams& params) override;

private:
    std::string text1_, text2_;
};

// "yes_no.htm", 280 x 140: "MsgText" <- text. "ok" ends it with 1,
// "cancel" with 0.
class YesNoDlg : public DialogWnd {
public:
    explicit YesNoDlg(std::string text);
    void on_document_loaded(const ElementHandle& root) override;
    void on_click(const ElementHandle& element, const EventParams& params) override;

private:
    std::string text_;
};

// "about.htm", 320 x 180, drag band 30. "ok" ends it with 1.
class AboutDlg : public DialogWnd {
public:
    AboutDlg();
    void on_click(const ElementHandle& element, const EventParams& params) override;
};

// Message dialog; returns 1 (closed with "ok"), 0 when the page is missing,
// -1 when it cannot be shown. Any thread.
int ShowMsgDlg(const std::string& text1, const std::string& text2 = std::string(), WindowHandle parent = 0);
// Yes/no question; 1 yes, 0 no. Any thread.
int ShowYesNoDlg(const std::string& text, WindowHandle parent = 0);
