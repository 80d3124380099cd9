// Shell logic that needs no display: scaled sizes, event routing, the
// system menu's id matching, and the auto-reset event of the progress dialog.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "base/app_state.h"
#include "base/auto_reset_event.h"
#include "base/dpi.h"
#include "app/func_base.h"
#include "app/html_dlg.h"
#include "app/login_dlg.h"
#include "app/main_frame.h"
#include "app/progress_dlg.h"
#include "app/setting_dlg.h"

namespace {

struct ScaleCase {
    double dpi;
    int main_w, main_h;    // 980 x 700
    int msg_w, msg_h;      // 280 x 160
    int login_w, login_h;  // 520 x 260
    int band;              // 30
};

class ShellScaledSizes : public ::testing::TestWithParam<ScaleCase> {
protected:
    void TearDown() override { SetDpiScale(96, 96); }
};

TEST_P(ShellScaledSizes, MainWindowAndDialogsFollowTheScreenResolution) {
    const ScaleCase& c = GetParam();
    SetDpiScale(c.dpi, c.dpi);
    EXPECT_EQ(main_frame::initial_width(), c.main_w);
    EXPECT_EQ(main_frame::initial_height(), c.main_h);
    MsgDlg msg("a", "b");
    EXPECT_EQ(msg.width(), c.msg_w);
    EXPECT_EQ(msg.height(), c.msg_h);
    EXPECT_EQ(msg.drag_band(), 0);
    LoginDlg login;
    EXPECT_EQ(login.width(), c.login_w);
    EXPECT_EQ(login.height(), c.login_h);
    EXPECT_EQ(login.drag_band(), c.band);
    EXPECT_EQ(AboutDlg().drag_band(), c.band);
    EXPECT_EQ(SettingDlg().drag_band(), c.band);
    EXPECT_EQ(YesNoDlg("q").drag_band(), 0);
}

INSTANTIATE_TEST_SUITE_P(Dpi, ShellScaledSizes,
                         ::testing::Values(ScaleCase{96, 980, 700, 280, 160, 520, 260, 30},
                                           ScaleCase{120, 1225, 875, 350, 200, 650, 325, 37},
                                           ScaleCase{144, 1470, 1050, 420, 240, 780, 390, 45}));

TEST(ShellDpiScale, TruncatesTowardZeroAndTreatsUnknownAs96) {
    SetDpiScale(100, 72);                   // 1.0416.. and 0.75
    EXPECT_EQ(ProgressDlg::width(), 437);   // 437.49.. truncated
    EXPECT_EQ(ProgressDlg::height(), 150);  // 150 exactly
    EXPECT_EQ(YesNoDlg("q").height(), 105);
    SetDpiScale(0, -5);
    EXPECT_FLOAT_EQ(AppState.dpi_scale_x, 1.0f);
    EXPECT_FLOAT_EQ(AppState.dpi_scale_y, 1.0f);
    SetDpiScale(96, 96);
}

// A monitor's resolution in the pixels windows are sized in: a 24" 1920x1200
// screen (518 x 324 mm) is 94 dpi whether the desktop scale is 1 or 2 (at
// scale 2 GTK reports 1920 logical pixels of its 3840), so the program never
// doubles what the desktop already doubles.
TEST(ShellDpiScale, MonitorResolutionIsInLogicalPixels) {
    struct {
        int pixels, mm;
        double dpi;
    } cases[] = {
        {1920, 518, 1920 * 25.4 / 518},  // 94.1
        {960, 254, 96.0},                // 10 inches
        {2880, 381, 192.0},              // a dense panel at scale 1
        {1920, 0, 0.0},                  // no size known (no EDID)
        {0, 518, 0.0},
        {1920, -3, 0.0},
    };
    for (const auto& c : cases) EXPECT_DOUBLE_EQ(MonitorDpi(c.pixels, c.mm), c.dpi) << c.pixels << " px " << c.mm;
}

// A dialog window's title comes from its page's <title>.
TEST(ShellPageTitle, TitleTextWithReferencesResolved) {
    struct {
        const char* html;
        const char* title;
    } cases[] = {
        {"<html><head><title>Settings</title></head></html>", "Settings"},
        {"<title>\xe8\xa8\xad\xe5\xae\x9a</title>", "\xe8\xa8\xad\xe5\xae\x9a"},  // UTF-8 kept as is
        {"<title>Export &amp; Print &lt;1&gt; &quot;a&quot; &#39;b&#39;</title>", "Export & Print <1> \"a\" 'b'"},
        {"<title>A &amp</title>", "A &amp"},  // a reference cut short stays text
        {"<title></title>", ""},
        {"<html><body>no title</body></html>", ""},
        {"<title>never closed", ""},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(PageTitleOf(c.html), c.title) << c.html;
}

// Records the events it is given, into a log shared by several controllers.
class Recorder : public func_base {
public:
    Recorder(std::string name, std::vector<std::string>* log) : name_(std::move(name)), log_(log) {}
    void on_event(const ElementHandle&, const EventParams& params) override {
        log_->push_back(name_ + ":" + std::to_string(params.cmd) + ":" + TargetId(params));
    }

private:
    std::string name_;
    std::vector<std::string>* log_;
};

EventParams Event(uint32_t code, const std::string& id) {
    EventParams e;
    e.cmd = code;
    e.target_id = id;
    if (!id.empty()) e.target = ui::Element::ById(1, id);
    return e;
}

TEST(ShellRouting, EveryEventReachesEveryControllerInOrderAndIsNeverHandled) {
    std::vector<std::string> log;
    Recorder a("a", &log), b("b", &log), c("c", &log);
    std::vector<func_base*> list{&a, &b, &c};
    EXPECT_FALSE(RouteToControllers(list, ElementHandle(), Event(kEventClick, "upload")));
    EXPECT_FALSE(RouteToControllers(list, ElementHandle(), Event(kEventSelectChange, "")));
    EXPECT_EQ(log, (std::vector<std::string>{"a:0:upload", "b:0:upload", "c:0:upload", "a:5:", "b:5:", "c:5:"}));
}

TEST(ShellRouting, IdsMatchExactlyOnTheExpectedCode) {
    EXPECT_TRUE(IsEvent(Event(0, "page1"), kEventClick, "page1"));
    EXPECT_FALSE(IsEvent(Event(5, "page1"), kEventClick, "page1"));
    EXPECT_FALSE(IsEvent(Event(0, "Page1"), kEventClick, "page1"));
    EXPECT_FALSE(IsEvent(Event(0, "page1 "), kEventClick, "page1"));
    EXPECT_FALSE(IsEvent(Event(0, ""), kEventClick, "page1"));
    EXPECT_EQ(TargetId(Event(0, "")), "");
}

TEST(ShellAutoResetEvent, OneSetReleasesOneWait) {
    AutoResetEvent ev;
    EXPECT_FALSE(ev.Wait(1));
    ev.Set();
    ev.Set();  // a second signal before the wait does not accumulate
    EXPECT_TRUE(ev.Wait(0));
    EXPECT_FALSE(ev.Wait(1));
}

TEST(ShellProgressDlg, WithoutAnEngineItCannotBeShownAndWorkerCallsAreHarmless) {
    ProgressDlg dlg;
    EXPECT_EQ(dlg.DoModal(), -1);
    EXPECT_EQ(dlg.window(), 0u);
    EXPECT_FALSE(dlg.cancel_requested());
    EXPECT_FALSE(dlg.wait_ready(1));
}

TEST(ShellHtmlDlg, WithoutAnEngineADialogReportsItCannotBeShown) {
    EXPECT_EQ(ShowMsgDlg("text", ""), -1);
    EXPECT_EQ(ShowYesNoDlg("text"), -1);
}

}  // namespace

namespace {

TEST(ShellUserPanel, PictureSourceShowsOnlyHttpsAddresses) {
    // A real picture on this machine.
    char png[] = "/tmp/vorta-image-XXXXXX";
    const int fd = mkstemp(png);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "\x89PNG\r\n\x1a\nabc", 11), 11);
    close(fd);
    const struct {
        std::string path;
        const char* src;
    } cases[] = {
        {"https://127.0.0.1:8443/static/avatar.png", "https://127.0.0.1:8443/static/avatar.png"},
        {"HTTPS://cdn.example.test/a.jpg?s=46", "HTTPS://cdn.example.test/a.jpg?s=46"},
        // The default picture: nothing, a picture on this machine (even a
        // real image), any other scheme, no host, or text that is no address.
        {"", ""},
        {png, ""},
        {"/etc/passwd", ""},
        {std::string("file://") + png, ""},
        {"http://127.0.0.1/avatar.png", ""},
        {"data:image/png;base64,iVBORw0KGgo=", ""},
        {"javascript:alert(1)", ""},
        {"avatar.png", ""},
        {"https://", ""},
        {"https:///etc/passwd", ""},
        {"https://x.test/a b.png", ""},
        {"https://x.test/a.png\n", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(ProfileImageSource(c.path), c.src);
    }
    unlink(png);
}

}  // namespace

namespace {

TEST(ShellUserPanel, HttpsPictureReachesThePageAsADataUrlOfItsType) {
    const std::string png("\x89PNG\r\n\x1a\nabc", 11);
    const std::string big_png = png + std::string(kMaxProfilePictureBytes + 1 - png.size(), 'x');
    const struct {
        const char* what;
        std::string path;
        bool fetched;       // the fetch succeeds
        std::string bytes;  // what it returns
        bool asked;         // the fetch is asked at all
        std::string src;
    } cases[] = {
        {"png", "https://c.test/p.png", true, png, true, "data:image/png;base64,iVBORw0KGgphYmM="},
        {"jpeg named .png", "https://c.test/p.png", true, std::string("\xff\xd8\xff\xe0", 4), true,
         "data:image/jpeg;base64,/9j/4A=="},
        {"gif", "HTTPS://c.test/g", true, "GIF89a", true, "data:image/gif;base64,R0lGODlh"},
        {"webp", "https://c.test/w", true, std::string("RIFF\0\0\0\0WEBP", 12), true,
         "data:image/webp;base64,UklGRgAAAABXRUJQ"},
        // The default picture.
        {"not a picture", "https://c.test/p.png", true, "<html><script>x()</script>", true, ""},
        {"svg", "https://c.test/p.svg", true, "<svg xmlns='http://www.w3.org/2000/svg'/>", true, ""},
        {"empty body", "https://c.test/p.png", true, "", true, ""},
        {"failed fetch", "https://c.test/p.png", false, png, true, ""},
        {"over the size", "https://c.test/p.png", true, big_png, true, ""},
        {"plain http", "http://c.test/p.png", true, png, false, ""},
        {"local file", "/tmp/p.png", true, png, false, ""},
        {"data: URL from the cloud", "data:image/png;base64,iVBORw0KGgo=", true, png, false, ""},
        {"nothing", "", true, png, false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> asked;
        const std::string src = ProfilePictureUrl(c.path, [&](const std::string& url, std::string& bytes) {
            asked.push_back(url);
            bytes = c.bytes;
            return c.fetched;
        });
        EXPECT_EQ(src, c.src);
        EXPECT_EQ(asked, c.asked ? std::vector<std::string>{c.path} : std::vector<std::string>{});
    }
    // A picture of exactly the largest size is taken.
    const std::string largest = big_png.substr(0, kMaxProfilePictureBytes);
    const std::string src = ProfilePictureUrl("https://c.test/p.png", [&](const std::string&, std::string& bytes) {
        bytes = largest;
        return true;
    });
    EXPECT_EQ(src.rfind("data:image/png;base64,iVBORw0KGgphYmN4eHh4", 0), 0u);
    EXPECT_EQ(src.size(), std::string("data:image/png;base64,").size() + (kMaxProfilePictureBytes + 2) / 3 * 4);
}

}  // namespace
