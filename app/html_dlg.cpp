#include "app/html_dlg.h"

#include <string>
#include <utility>

#include "app/quit.h"
#include "base/app_state.h"
#include "base/paths.h"

namespace {
constexpr std::uint64_t kMaxPageBytes = 1 << 20;  // a page template is a few kB
}  // namespace

std::string PageTitleOf(const std::string& html) {
    const size_t open = html.find("<title>");
    if (open == std::string::npos) return "";
    const size_t from = open + 7, to = html.find("</title>", from);
    if (to == std::string::npos) return "";
    static const struct {
        const char* ref;
        char c;
    } kRefs[] = {{"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&#39;", '\''}};
    std::string out;
    for (size_t i = from; i < to; ++i) {
        bool replaced = false;
        if (html[i] == '&') {
            for (const auto& r : kRefs) {
                const size_t n = std::char_traits<char>::length(r.ref);
                if (i + n <= to && html.compare(i, n, r.ref) == 0) {
                    out += r.c;
                    i += n - 1;
                    replaced = true;
                    break;
                }
            }
        }
        if (!replaced) out += html[i];
    }
    return out;
}

DialogWnd::DialogWnd(std::string page_file, int logical_width, int logical_height, int logical_drag_band)
    : page_file_(std::move(page_file)),
      logical_width_(logical_width),
      logical_height_(logical_height),
      drag_band_(ScaleY(logical_drag_band)) {}

int DialogWnd::width() const {
    return ScaleX(logical_width_);
}
int DialogWnd::height() const {
    return ScaleY(logical_height_);
}

bool DialogWnd::create(WindowHandle parent) {
    ui::WindowOptions options;
    options.kind = ui::WindowKind::Dialog;
    options.width = width();
    options.height = height();
    options.parent = parent != 0 ? ui::FindWindow(parent) : nullptr;
    options.drag_band = drag_band_;
    if (!create_window(options)) return false;
    host()->Center();
    // Pooled windows keep the last dialog's title otherwise.
    host()->SetTitle(PageTitleOf(ReadWholeFile(PagePath(page_file()), kMaxPageBytes)));
    page_loaded_ = load_page(PagePath(page_file()));
    return true;
}

void DialogWnd::end_dialog(int result) {
    if (host()) host()->EndDialog(result);
}

bool DialogWnd::handle_message(uint32_t msg, intptr_t wparam, intptr_t lparam) {
    on_message(msg, wparam, lparam);
    return false;
}

void DialogWnd::OnBehaviorEvent(ui::HostWindow& window, const ui::BehaviorEvent& event) {
    on_click(ui::Element::Root(window.id()), event);
}

HtmlDlg::HtmlDlg(std::unique_ptr<DialogWnd> wnd) : wnd_(std::move(wnd)) {}

HtmlDlg::~HtmlDlg() = default;

int HtmlDlg::DoModal(WindowHandle parent) {
    if (!ui::EngineReady()) return -1;
    if (!ui::IsUiThread()) return ui::RunOnUiAndWait([this, parent] { return DoModalOnUi(parent); });
    return DoModalOnUi(parent);
}

int HtmlDlg::DoModalOnUi(WindowHandle parent) {
    // The program is ending: no new question is put to the user; the
    // dialog's "no"/"leave" answer is taken.
    if (QuitRequested()) return 0;
    if (!wnd_ || !wnd_->create(parent)) return -1;
    int result = 0;
    if (wnd_->page_loaded()) result = wnd_->host()->RunModal();
    // The window goes back to the engine's pool for the next dialog.
    wnd_->destroy();
    return result;
}

void EndPageDialog(WindowHandle page_window, int result) {
    if (ui::HostWindow* w = ui::FindWindow(page_window)) w->EndDialog(result);
}

// --- MsgDlg -----------------------------------------------------------------

MsgDlg::MsgDlg(std::string text1, std::string text2)
    : DialogWnd("msg.htm", 280, 160), text1_(std::move(text1)), text2_(std::move(text2)) {}

void MsgDlg::on_document_loaded(const ElementHandle&) {
    ui::Element text1 = ui::FindById(id(), "MsgText1");
    if (!text2_.empty()) text1.SetStyle("text-align", "left");
    text1.SetText(text1_);
    ui::FindById(id(), "MsgText2").SetText(text2_);
}

void MsgDlg::on_click(const ElementHandle&, const EventParams& params) {
    if (IsEvent(params, kEventClick, "ok")) end_dialog(1);
}

// --- YesNoDlg ---------------------------------------------------------------

YesNoDlg::YesNoDlg(std::string text) : DialogWnd("yes_no.htm", 280, 140), text_(std::move(text)) {}

void YesNoDlg::on_document_loaded(const ElementHandle&) {
    ui::FindById(id(), "MsgText").SetText(text_);
}

void YesNoDlg::on_click(const ElementHandle&, const EventParams& params) {
    if (IsEvent(params, kEventClick, "ok")) end_dialog(1);
    if (IsEvent(params, kEventClick, "cancel")) end_dialog(0);
}

// --- AboutDlg ---------------------------------------------------------------

AboutDlg::AboutDlg() : DialogWnd("about.htm", 320, 180, 30) {}

void AboutDlg::on_click(const ElementHandle&, const EventParams& params) {
    if (IsEvent(params, kEventClick, "ok")) end_dialog(1);
}

// --- helpers ----------------------------------------------------------------

int ShowMsgDlg(const std::string& text1, const std::string& text2, WindowHandle parent) {
    HtmlDlg dlg(std::make_unique<MsgDlg>(text1, text2));
    return dlg.DoModal(parent);
}

int ShowYesNoDlg(const std::string& text, WindowHandle parent) {
    HtmlDlg dlg(std::make_unique<YesNoDlg>(text));
    return dlg.DoModal(parent);
}
