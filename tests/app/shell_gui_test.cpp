// The shell's windows on the real pages: tabs, message and yes/no dialogs,
// the progress dialog fed from a worker, the Settings dialog and the reload
// it causes, and a click on an element without an id.
#include <gtk/gtk.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "app/html_dlg.h"
#include "app/main_frame.h"
#include "app/progress_dlg.h"
#include "app/progress_worker.h"
#include "app/settings/settings_store.h"
#include "app/sys_menu_func.h"
#include "shell_gui_fixture.h"

namespace {

// The main window with a record of the events and messages it received.
class ObservedMainFrame : public main_frame {
public:
    std::vector<std::string> events;
    std::vector<std::pair<uint32_t, intptr_t>> messages;

    bool handle_message(uint32_t msg, intptr_t wparam, intptr_t lparam) override {
        // The map pages report their loading on their own time (every page
        // reload shows them again); only the shell's messages are recorded.
        if (msg != kMsgMapLoaded) messages.emplace_back(msg, wparam);
        return main_frame::handle_message(msg, wparam, lparam);
    }

protected:
    void OnBehaviorEvent(ui::HostWindow& window, const ui::BehaviorEvent& event) override {
        events.push_back(std::to_string(event.cmd) + ":" + event.target_id);
        main_frame::OnBehaviorEvent(window, event);
    }
};

constexpr uint32_t kMarker = 9999;

// Attributes of the tab elements: id, class, whether "hidden" is present and
// its value.
const char* kTabState =
    "JSON.stringify(['page1','page2','framepage1','framepage2','page1_func','page2_func']"
    ".map(function(i){var e=document.getElementById(i);"
    "return e?[i,e.getAttribute('class'),e.hasAttribute('hidden'),e.getAttribute('hidden')]:[i,'missing'];}))";

class ShellMainWindowTest : public ShellGuiTest {
protected:
    void SetUp() override {
        ShellGuiTest::SetUp();
        frame_ = std::make_unique<ObservedMainFrame>();
        ASSERT_TRUE(frame_->create(PagePath("main.htm")));
        ASSERT_EQ(frame_->page_loads(), 1) << "main.htm did not load";
    }
    void TearDown() override { frame_.reset(); }

    std::string Eval(const std::string& script) { return frame_->host()->Evaluate(script); }

    // Waits until every message posted so far has been handled.
    void DrainMessages() {
        ui::PostWindowMessage(frame_->id(), kMarker, 0, 0);
        ASSERT_TRUE(ui::RunLoopUntil(
            [&] { return !frame_->messages.empty() && frame_->messages.back().first == kMarker; }, 30000));
        frame_->messages.pop_back();
    }

    // Tab `shown` is gold with its frame and function bar visible; the other
    // is white with both carrying an empty "hidden".
    void ExpectTabShown(const std::string& shown, const std::string& other) {
        const WindowHandle w = frame_->id();
        EXPECT_EQ(ui::FindById(w, shown).GetAttribute("class"), "page_func btnctrl back_gold");
        EXPECT_EQ(ui::FindById(w, other).GetAttribute("class"), "page_func btnctrl back_white");
        for (const std::string& id : {"frame" + shown, shown + "_func"}) {
            EXPECT_EQ(Eval("String(document.getElementById('" + id + "').hasAttribute('hidden'))"), "false") << id;
        }
        for (const std::string& id : {"frame" + other, other + "_func"}) {
            EXPECT_EQ(Eval("String(document.getElementById('" + id + "').getAttribute('hidden'))"), "") << id;
        }
    }

    std::unique_ptr<ObservedMainFrame> frame_;
};

TEST_F(ShellMainWindowTest, ControllersAreBoundInRoutingOrder) {
    const std::vector<func_base*> expected{&frame_->sys_menu(), &frame_->dive_map(), &frame_->dive_site(),
                                           &frame_->upload(),   &frame_->update(),   &frame_->calendar(),
                                           &frame_->history()};
    EXPECT_EQ(frame_->controllers(), expected);
    for (func_base* c : expected) EXPECT_EQ(c->window(), frame_->id());
}

TEST_F(ShellMainWindowTest, OpensAtItsScaledSizeCentredOnTheWorkArea) {
    GtkWindow* win = GTK_WINDOW(frame_->host()->gtk_window());
    int w = 0, h = 0, x = 0, y = 0;
    gtk_window_get_size(win, &w, &h);
    EXPECT_EQ(w, 980);
    EXPECT_EQ(h, 700);
    GdkRectangle area{};
    GdkDisplay* display = gdk_display_get_default();
    GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
    if (monitor == nullptr) monitor = gdk_display_get_monitor(display, 0);
    ASSERT_NE(monitor, nullptr);
    gdk_monitor_get_workarea(monitor, &area);
    gtk_window_get_position(win, &x, &y);
    EXPECT_EQ(x, area.x + (area.width - 980) / 2);
    EXPECT_EQ(y, area.y + (area.height - 700) / 2);
    EXPECT_EQ(std::string(gtk_window_get_title(win)), "VORTA PC TOOL");
}

TEST_F(ShellMainWindowTest, ReopensWhereItWasClosedAndOffScreenComesBack) {
    // Moved and resized by the user, then closed: stored in the settings file.
    GtkWindow* win = GTK_WINDOW(frame_->host()->gtk_window());
    gtk_window_move(win, 150, 40);
    gtk_window_resize(win, 900, 620);
    ASSERT_TRUE(
        ui::RunLoopUntil([&] { return frame_->placement().x == 150 && frame_->placement().width == 900; }, 10000));
    frame_.reset();
    WindowPlacement stored = LoadWindowPlacement();
    ASSERT_TRUE(stored.known);
    EXPECT_EQ(stored.x, 150);
    EXPECT_EQ(stored.y, 40);
    EXPECT_EQ(stored.width, 900);
    EXPECT_EQ(stored.height, 620);

    struct Case {
        WindowPlacement stored;
        int x, y, width, height;
    } cases[] = {
        // where it was
        {CheckedPlacement(150, 40, 900, 620, false), 150, 40, 900, 620},
        // on a monitor that is gone (the test screen is 1280 x 800): centred
        {CheckedPlacement(3000, 2000, 900, 620, false), (1280 - 900) / 2, (800 - 620) / 2, 900, 620},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(SaveWindowPlacement(c.stored));
        main_frame reopened;
        ASSERT_TRUE(reopened.create(PagePath("main.htm")));
        GtkWindow* w = GTK_WINDOW(reopened.host()->gtk_window());
        int x = 0, y = 0, width = 0, height = 0;
        gtk_window_get_position(w, &x, &y);
        gtk_window_get_size(w, &width, &height);
        EXPECT_EQ(x, c.x);
        EXPECT_EQ(y, c.y);
        EXPECT_EQ(width, c.width);
        EXPECT_EQ(height, c.height);
    }
}

TEST_F(ShellMainWindowTest, SwitchingTabsAndBackRestoresTheAttributesExactly) {
    ui::FindById(frame_->id(), "page1").PostClick();
    ASSERT_TRUE(ui::RunLoopUntil([&] { return frame_->events.size() == 1; }, 30000));
    const std::string page1_shown = Eval(kTabState);
    ExpectTabShown("page1", "page2");
    ui::FindById(frame_->id(), "page2").PostClick();
    ASSERT_TRUE(ui::RunLoopUntil([&] { return frame_->events.size() == 2; }, 30000));
    const std::string page2_shown = Eval(kTabState);
    EXPECT_NE(page2_shown, page1_shown);
    ExpectTabShown("page2", "page1");
    ui::FindById(frame_->id(), "page1").PostClick();
    ASSERT_TRUE(ui::RunLoopUntil([&] { return frame_->events.size() == 3; }, 30000));
    EXPECT_EQ(Eval(kTabState), page1_shown);
    EXPECT_EQ(frame_->events, (std::vector<std::string>{"0:page1", "0:page2", "0:page1"}));
}

TEST_F(ShellMainWindowTest, ClickOnAnElementWithoutIdChangesNothing) {
    Eval(
        "document.body.insertAdjacentHTML('beforeend','<button class=\"btnctrl\" id=\"probe_parent\">"
        "<span class=\"btnctrl\">x</span></button>');"
        "document.getElementById('probe_parent').removeAttribute('id');'ok'");
    // The page's keyboard set-up answers the new cell (a tab stop) after a
    // turn of its loop; the snapshot is taken once it has.
    ASSERT_TRUE(ui::RunLoopUntil(
        [&] { return Eval("String(document.querySelector('body > button:last-of-type > span').tabIndex)") == "0"; },
        10000));
    const std::string before = Eval("document.documentElement.outerHTML");
    const size_t windows_before = ui::ListWindows().size();
    Eval("document.querySelector('body > button:last-of-type').click();'ok'");
    ASSERT_TRUE(ui::RunLoopUntil([&] { return !frame_->events.empty(); }, 30000));
    EXPECT_EQ(frame_->events.front(), "0:");
    DrainMessages();
    EXPECT_TRUE(frame_->messages.empty());
    EXPECT_EQ(Eval("document.documentElement.outerHTML"), before);
    EXPECT_EQ(ui::ListWindows().size(), windows_before);
    EXPECT_EQ(frame_->page_loads(), 1);
}

// A progress dialog with a delay: work over within it shows no dialog, its
// message alone; work that outlasts it shows the dialog with Cancel, and its
// message over it. Either way the main window takes no click while the work
// runs, and none acts afterwards; once the run is over it takes them again.
TEST_F(ShellMainWindowTest, DelayedProgressComesUpOnlyForWorkThatOutlastsItsDelay) {
    struct Case {
        const char* name;
        bool outlasts;  // the work waits for the dialog's page
    };
    for (const Case& c : {Case{"over at once", false}, Case{"outlasting the delay", true}}) {
        SCOPED_TRACE(c.name);
        ProgressDlg dlg;
        dlg.set_cancellable(true);
        dlg.set_show_after(300);
        bool progress_seen = false, running = true;
        g_timeout_add(
            5,
            [](gpointer p) -> gboolean {
                auto* state = static_cast<std::pair<bool*, bool*>*>(p);
                for (const ui::WindowInfo& info : ui::ListWindows())
                    if (info.page_file == "progress.htm" && info.visible) *state->first = true;
                if (*state->second) return G_SOURCE_CONTINUE;
                delete state;
                return G_SOURCE_REMOVE;
            },
            new std::pair<bool*, bool*>(&progress_seen, &running));
        std::string message;
        WhenDialog("msg.htm", [&](ui::WindowId w) {
            message = ui::FindById(w, "MsgText1").GetText();
            ui::FindById(w, "ok").PostClick();
        });
        std::string cancel_hidden = "not up";
        bool without_dialog = false;
        frame_->events.clear();
        EXPECT_TRUE(RunUnderProgress(dlg, frame_->id(), [&](ProgressSink& sink) {
                        // A click on the main window, taken by its page
                        // before the work goes on.
                        ui::RunOnUiAndWait([&] {
                            const ui::Element tab = ui::FindById(frame_->id(), "page1");
                            tab.PostClick();
                            tab.Exists();
                        });
                        if (c.outlasts && sink.wait_ready(30000))
                            cancel_hidden = ui::RunOnUiAndWait([&] {
                                return ui::FindWindow(dlg.window())
                                    ->Evaluate("String(document.getElementById('cancel').hasAttribute('hidden'))");
                            });
                        // Over before the delay: told so, the dialog
                        // then never comes; up: its message goes over it.
                        without_dialog = sink.without_dialog();
                        sink.show_message("OFFLINE_SAVE_DONE");
                    }).ok());
        Settle(100);
        running = false;
        EXPECT_EQ(progress_seen, c.outlasts);
        EXPECT_EQ(without_dialog, !c.outlasts);
        EXPECT_EQ(cancel_hidden, c.outlasts ? "false" : "not up");
        EXPECT_EQ(message, GetLangText("OFFLINE_SAVE_DONE"));
        EXPECT_TRUE(frame_->events.empty()) << frame_->events.front();
        EXPECT_FALSE(AnyModal());

        // The run over, the same click reaches the window.
        ui::FindById(frame_->id(), "page1").PostClick();
        ASSERT_TRUE(ui::RunLoopUntil([&] { return !frame_->events.empty(); }, 30000));
        EXPECT_EQ(frame_->events.front(), "0:page1");
    }
}

TEST_F(ShellMainWindowTest, SettingsSaveReloadsForALanguageAndRefreshesForAUnit) {
    // Language: result 1, message 2029, main.htm of the CHT folder.
    WhenDialog("setting.htm", [](ui::WindowId dlg) {
        EXPECT_EQ(ui::FindWindow(dlg)->drag_band(), 30);
        EXPECT_EQ(ui::FindById(dlg, "langauge").GetValue(), "0");
        ui::FindById(dlg, "langauge").SetValue("1");
        ui::FindById(dlg, "save").PostClick();
    });
    ui::FindById(frame_->id(), "setting").PostClick();
    ASSERT_TRUE(ui::RunLoopUntil([&] { return frame_->page_loads() == 2; }, 30000));
    ASSERT_EQ(frame_->messages.size(), 1u);
    EXPECT_EQ(frame_->messages[0], std::make_pair(kMsgSettingsChanged, intptr_t{1}));
    EXPECT_EQ(AppState.language, "CHT");
    EXPECT_EQ(frame_->host()->page_path(), std::string(VORTA_BIN_DIR) + "/CHT/main.htm");
    EXPECT_EQ(SettingsStore().Load().lang, 1);

    // Unit only: result 2, the page stays.
    frame_->messages.clear();
    WhenDialog("setting.htm", [](ui::WindowId dlg) {
        EXPECT_EQ(ui::FindById(dlg, "langauge").GetValue(), "1");
        ui::FindById(dlg, "unit_i").SetValue("1");
        ui::FindById(dlg, "save").PostClick();
    });
    ui::FindById(frame_->id(), "setting").PostClick();
    ASSERT_TRUE(ui::RunLoopUntil([&] { return !frame_->messages.empty(); }, 30000));
    EXPECT_EQ(frame_->messages[0], std::make_pair(kMsgSettingsChanged, intptr_t{2}));
    EXPECT_EQ(AppState.unit, 1);
    EXPECT_EQ(frame_->page_loads(), 2);

    // No change: result 0 posts nothing.
    frame_->messages.clear();
    bool shown = false;
    WhenDialog("setting.htm", [&](ui::WindowId dlg) {
        shown = true;
        EXPECT_EQ(ui::FindById(dlg, "unit_i").GetValue(), "1");
        ui::FindById(dlg, "save").PostClick();
    });
    ui::FindById(frame_->id(), "setting").PostClick();
    ASSERT_TRUE(ui::RunLoopUntil([&] { return shown && !AnyModal(); }, 30000));
    DrainMessages();
    EXPECT_TRUE(frame_->messages.empty());
    EXPECT_EQ(frame_->page_loads(), 2);
}

TEST_F(ShellMainWindowTest, UserPanelIsFilledAfterEveryLoad) {
    EXPECT_EQ(ui::FindInFrame(frame_->id(), "framepage1", "email").GetText(), AppState.email);
    AppState.email = "diver@example.com";
    AppState.user_name = "<b>Diver</b>";
    AppState.profile_image_path = "https://127.0.0.1:8443/static/avatar.png";
    ui::PostWindowMessage(frame_->id(), kMsgSettingsChanged, -1, 0);
    ASSERT_TRUE(ui::RunLoopUntil([&] { return frame_->page_loads() == 2; }, 30000));
    EXPECT_EQ(ui::FindInFrame(frame_->id(), "framepage1", "email").GetText(), "diver@example.com");
    // Set as text, never as markup.
    EXPECT_EQ(ui::FindInFrame(frame_->id(), "framepage1", "display").GetText(), "<b>Diver</b>");
    // No server answers there: the default picture, never the address itself
    // (the page opens no connection of its own).
    EXPECT_EQ(ui::FindInFrame(frame_->id(), "framepage1", "thumbnails").GetAttribute("src"), "");
    AppState.profile_image_path.clear();
    AppState.email.clear();
    AppState.user_name.clear();
}

// --- dialogs ------------------------------------------------------------

class ShellDialogTest : public ShellGuiTest {};

TEST_F(ShellDialogTest, MsgDlgLeftAlignsTheFirstTextOnlyWithASecondText) {
    std::string align, text1, text2;
    WhenDialog("msg.htm", [&](ui::WindowId dlg) {
        ui::HostWindow* w = ui::FindWindow(dlg);
        EXPECT_EQ(w->drag_band(), 0);
        align = w->Evaluate("document.getElementById('MsgText1').style.textAlign");
        text1 = ui::FindById(dlg, "MsgText1").GetText();
        text2 = ui::FindById(dlg, "MsgText2").GetText();
        ui::FindById(dlg, "ok").PostClick();
    });
    EXPECT_EQ(ShowMsgDlg("First line", "Second <i>line</i>"), 1);
    EXPECT_EQ(align, "left");
    EXPECT_EQ(text1, "First line");
    EXPECT_EQ(text2, "Second <i>line</i>");

    WhenDialog("msg.htm", [&](ui::WindowId dlg) {
        align = ui::FindWindow(dlg)->Evaluate("document.getElementById('MsgText1').style.textAlign");
        ui::FindById(dlg, "ok").PostClick();
    });
    EXPECT_EQ(ShowMsgDlg("Only one", ""), 1);
    EXPECT_EQ(align, "");
}

TEST_F(ShellDialogTest, YesNoDlgAnswersOneForOkAndZeroForCancel) {
    std::string text;
    WhenDialog("yes_no.htm", [&](ui::WindowId dlg) {
        text = ui::FindById(dlg, "MsgText").GetText();
        ui::FindById(dlg, "ok").PostClick();
    });
    EXPECT_EQ(ShowYesNoDlg("Send?"), 1);
    EXPECT_EQ(text, "Send?");
    WhenDialog("yes_no.htm", [](ui::WindowId dlg) { ui::FindById(dlg, "cancel").PostClick(); });
    EXPECT_EQ(ShowYesNoDlg("Send?"), 0);
}

TEST_F(ShellDialogTest, EnterAndEscapePressTheDialogsMarkedButtons) {
    auto press = [](ui::WindowId dlg, const char* key, const char* on = "document.body") {
        ui::FindWindow(dlg)->Evaluate(std::string(on) + ".dispatchEvent(new KeyboardEvent('keydown',{key:'" + key +
                                      "',bubbles:true,cancelable:true}));''");
    };
    WhenDialog("yes_no.htm", [&](ui::WindowId dlg) { press(dlg, "Enter"); });
    EXPECT_EQ(ShowYesNoDlg("Send?"), 1);
    WhenDialog("yes_no.htm", [&](ui::WindowId dlg) { press(dlg, "Escape"); });
    EXPECT_EQ(ShowYesNoDlg("Send?"), 0);
    // Enter on a focused button is that button's own: "no" stays "no".
    WhenDialog("yes_no.htm", [&](ui::WindowId dlg) {
        press(dlg, "Enter", "document.getElementById('cancel')");
        ui::FindById(dlg, "cancel").PostClick();
    });
    EXPECT_EQ(ShowYesNoDlg("Send?"), 0);
    WhenDialog("msg.htm", [&](ui::WindowId dlg) { press(dlg, "Escape"); });
    EXPECT_EQ(ShowMsgDlg("Done", ""), 1);
}

TEST_F(ShellDialogTest, ReusedDialogWindowsShowEachDialogsOwnContent) {
    for (int i = 0; i < 10; ++i) {
        const std::string question = "Question " + std::to_string(i);
        std::string shown;
        WhenDialog("yes_no.htm", [&](ui::WindowId dlg) {
            shown = ui::FindById(dlg, "MsgText").GetText();
            ui::FindById(dlg, i % 2 ? "ok" : "cancel").PostClick();
        });
        EXPECT_EQ(ShowYesNoDlg(question), i % 2);
        EXPECT_EQ(shown, question);
    }
}

TEST_F(ShellDialogTest, MessageDialogFromAWorkerShowsOnTheUiThreadAndWaits) {
    WhenDialog("yes_no.htm", [](ui::WindowId dlg) { ui::FindById(dlg, "ok").PostClick(); });
    std::atomic<int> answer{-2};
    std::thread worker([&] { answer = ShowYesNoDlg("From a worker"); });
    ASSERT_TRUE(ui::RunLoopUntil([&] { return answer != -2; }, 30000));
    worker.join();
    EXPECT_EQ(answer, 1);
}

TEST_F(ShellDialogTest, ProgressUpdatesFromAWorkerReachThePageInOrder) {
    ProgressDlg dlg;
    std::string log, cancel_hidden;
    std::thread worker([&] {
        if (!dlg.wait_ready(30000)) {
            dlg.end(-5);  // fails the test below instead of leaving the dialog up
            return;
        }
        // Recorder of every text that lands in "MsgText2", installed before
        // the updates (posted work runs in order).
        ui::PostToUi([&] {
            ui::HostWindow* w = ui::FindWindow(dlg.window());
            cancel_hidden = w->Evaluate("String(document.getElementById('cancel').hasAttribute('hidden'))");
            w->Evaluate(
                "window.__log=[];new MutationObserver(function(rs){rs.forEach(function(r){"
                "r.addedNodes.forEach(function(n){__log.push(n.textContent);});});})"
                ".observe(document.getElementById('MsgText2'),{childList:true});'ok'");
        });
        for (int i = 1; i <= 100; ++i) {
            dlg.set_status("stage " + std::to_string(i));
            dlg.set_text2(std::to_string(i));
            dlg.set_progress(std::to_string(i));
        }
        ui::PostToUi([&] {
            ui::HostWindow* w = ui::FindWindow(dlg.window());
            log = w->Evaluate("__log.join(',')");
            log += "|" + ui::FindById(dlg.window(), "progress").GetValue();
            log += "|" + ui::FindById(dlg.window(), "MsgText1").GetText();
        });
        dlg.end(7);
    });
    EXPECT_EQ(dlg.DoModal(), 7);
    worker.join();
    std::string expected;
    for (int i = 1; i <= 100; ++i) expected += (i > 1 ? "," : "") + std::to_string(i);
    EXPECT_EQ(log, expected + "|100|stage 100");
    EXPECT_EQ(cancel_hidden, "true");
    EXPECT_EQ(dlg.window(), 0u);
}

TEST_F(ShellDialogTest, ProgressCancelIsShownOnRequestReachesTheWorkerAndCloseIsRefused) {
    ProgressDlg dlg;
    dlg.set_cancellable(true);
    WhenDialog("progress.htm", [](ui::WindowId w) {
        EXPECT_EQ(ui::FindWindow(w)->Evaluate("String(document.getElementById('cancel').hasAttribute('hidden'))"),
                  "false");
        // Closing it as a user would is refused: only the worker ends it.
        ui::FindWindow(w)->Close();
        EXPECT_TRUE(ui::FindWindow(w)->IsModalRunning());
        ui::FindById(w, "cancel").PostClick();
    });
    std::thread worker([&] {
        dlg.wait_ready(30000);
        for (int i = 0; i < 6000 && !dlg.cancel_requested(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        dlg.end(dlg.cancel_requested() ? 2 : 0);
    });
    EXPECT_EQ(dlg.DoModal(), 2);
    worker.join();
}

TEST_F(ShellDialogTest, ProgressEndedBeforeItComesUpReturnsAtOnce) {
    ProgressDlg dlg;
    dlg.end(3);
    Settle(50);
    EXPECT_EQ(dlg.DoModal(), 3);
    // The next show runs normally again.
    std::thread worker([&] {
        dlg.wait_ready(30000);
        dlg.end(0);
    });
    EXPECT_EQ(dlg.DoModal(), 0);
    worker.join();
}

TEST_F(ShellDialogTest, ProgressWorkerRunsEachWorkUnderItsOwnShowAndJoinsIt) {
    // Each work finds its page up (once it waited for it), and is over when
    // the runner returns, however it ended: closing the dialog itself and
    // going on, throwing, or leaving the end to the runner. A stray end
    // would make a later show return at once, and its work find no page.
    ProgressDlg dlg;
    std::atomic<bool> page_up{false}, finished{false};
    const std::function<void(ProgressSink&)> works[] = {
        [&](ProgressSink& sink) {
            page_up = sink.wait_ready(30000) && dlg.window() != 0;
            sink.set_status("PREPARING_UPLOAD");
            sink.end(0);
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            finished = true;
        },
        [&](ProgressSink& sink) {
            page_up = sink.wait_ready(30000) && dlg.window() != 0;
            finished = true;
            throw std::runtime_error("work failed");
        },
        [&](ProgressSink& sink) {
            page_up = sink.wait_ready(30000) && dlg.window() != 0;
            sink.set_progress("50");
            finished = true;
        },
    };
    for (const auto& work : works) {
        page_up = finished = false;
        EXPECT_TRUE(RunUnderProgress(dlg, 0, work).ok());
        EXPECT_TRUE(page_up);
        EXPECT_TRUE(finished);
        EXPECT_FALSE(AnyModal());
        EXPECT_EQ(dlg.window(), 0u);
    }
}

TEST_F(ShellDialogTest, ProgressReportsMadeBeforeThePageIsUpAreShownOnceItIs) {
    // The work starts before the page is up. Of what is reported meanwhile
    // the page shows the latest text of each element; a report that arrives
    // after a show ended is not carried into the next show.
    ProgressDlg dlg;
    for (int i = 1; i <= 3; ++i) {
        dlg.set_status("stage " + std::to_string(i));
        dlg.set_text2(std::to_string(i) + "/3");
        dlg.set_progress(std::to_string(i * 30));
    }
    Settle(50);  // taken while no page is up
    std::string shown[2];
    for (int show = 0; show < 2; ++show) {
        EXPECT_TRUE(RunUnderProgress(dlg, 0, [&](ProgressSink& sink) {
                        if (show == 0) sink.set_progress("95");
                        if (!sink.wait_ready(30000)) return;
                        shown[show] = ui::RunOnUiAndWait([&] {
                            const WindowHandle w = dlg.window();
                            return ui::FindById(w, "MsgText1").GetText() + "|" + ui::FindById(w, "MsgText2").GetText() +
                                   "|" + ui::FindById(w, "progress").GetValue();
                        });
                        sink.end(0);
                        dlg.set_text2("late");
                    }).ok());
    }
    EXPECT_EQ(shown[0], "stage 3|3/3|95");
    ASSERT_NE(shown[1].find('|'), std::string::npos);
    EXPECT_EQ(shown[1].substr(shown[1].find('|')), "||0");
}

TEST_F(ShellDialogTest, MissingPageGivesZeroInsteadOfADialogThatCannotClose) {
    AppState.page_dir = std::string(VORTA_BIN_DIR) + "/NO_SUCH_LANGUAGE/";
    EXPECT_EQ(ShowYesNoDlg("x"), 0);
    EXPECT_FALSE(AnyModal());
}

}  // namespace
