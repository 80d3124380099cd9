// The automation channel end to end: a client thread drives windows served by
// this process's UI thread over the Unix socket.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "tests/support/automation_client.h"
#include "tests/ui_engine/gui_fixture.h"
#include "ui_engine/automation.h"
#include "ui_engine/element.h"

namespace {

// Main page handler: "b2" opens a modal dialog that ends on "ok"/"cancel".
struct MainHandler : ui::EventHandler {
    EventLog* log;
    std::string (*page)(const std::string&);
    int dialog_result = -9;
    struct DialogHandler : ui::EventHandler {
        void OnBehaviorEvent(ui::HostWindow& w, const ui::BehaviorEvent& ev) override {
            if (ev.target_id == "ok") w.EndDialog(1);
            if (ev.target_id == "cancel") w.EndDialog(0);
        }
    } dialog_handler;
    void OnBehaviorEvent(ui::HostWindow& w, const ui::BehaviorEvent& ev) override {
        log->OnBehaviorEvent(w, ev);
        if (ev.target_id != "b2") return;
        ui::WindowOptions o;
        o.kind = ui::WindowKind::Dialog;
        o.width = 300;
        o.height = 200;
        ui::HostWindow dlg(o);
        dlg.SetEventHandler(&dialog_handler);
        dlg.LoadPage(page("dialog.htm"));
        dialog_result = dlg.RunModal();
    }
};

class AutomationTest : public GuiTest {};

TEST_F(AutomationTest, ClientDrivesWindowsThroughTheSocket) {
    std::string sock = ::testing::TempDir() + "ui_auto_" + std::to_string(getpid()) + ".sock";
    ASSERT_TRUE(ui::StartAutomation(sock));
    struct stat st;
    ASSERT_EQ(stat(sock.c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    ui::WindowOptions o;
    o.width = 640;
    o.height = 480;
    ui::HostWindow win(o);
    EventLog log;
    MainHandler handler;
    handler.log = &log;
    handler.page = &GuiTest::Page;
    win.SetEventHandler(&handler);
    ASSERT_TRUE(win.LoadPage(Page("events.htm")));

    std::atomic<bool> done{false};
    std::thread client([&] {
        AutomationClient app;
        ASSERT_TRUE(app.Connect(sock, 5000));
        EXPECT_TRUE(app.Ping());
        AutomationWindow found;
        ASSERT_TRUE(app.WaitWindow("events.htm", 10000, &found));  // shown below, after the client starts
        EXPECT_EQ(found.id, win.id());
        EXPECT_FALSE(found.modal);

        bool listed = false;
        for (const auto& w : app.Windows()) listed = listed || (w.id == win.id() && w.visible && w.page == "events.htm");
        EXPECT_TRUE(listed);

        EXPECT_TRUE(app.Click("b1"));
        EXPECT_TRUE(app.Click("fbtn", "frm"));
        EXPECT_FALSE(app.Click("missing"));
        EXPECT_EQ(app.last_error(), "no such element");
        EXPECT_TRUE(app.SetValue("in1", "typed \"text\""));
        EXPECT_EQ(app.GetValue("in1").value_or("?"), "typed \"text\"");
        EXPECT_TRUE(app.SetValue("s1", "b"));
        EXPECT_EQ(app.GetText("t1").value_or("?"), "old");
        EXPECT_EQ(app.GetText("ft", "frm").value_or("?"), "frame text");
        EXPECT_EQ(app.GetAttr("b2", "type").value_or("?"), "button");
        EXPECT_FALSE(app.GetText("missing").has_value());
        EXPECT_FALSE(app.WaitWindow("never.htm", 100));
        EXPECT_EQ(app.last_error(), "timeout");

        // A click that opens a modal dialog is answered at once; the channel
        // keeps serving while the dialog runs.
        EXPECT_TRUE(app.Click("b2"));
        ASSERT_TRUE(app.WaitWindow("dialog.htm", 10000, &found));
        EXPECT_TRUE(found.modal);
        EXPECT_EQ(app.GetText("MsgText").value_or("?"), "text");  // the active window is the dialog
        app.SetTargetPage("events.htm");
        EXPECT_FALSE(app.Click("b1"));  // below the dialog: out of reach
        EXPECT_EQ(app.last_error(), "blocked by a modal dialog");
        EXPECT_EQ(app.GetText("t1").value_or("?"), "old");  // reading is fine
        app.SetTargetPage("");
        EXPECT_TRUE(app.Click("ok"));

        // Malformed requests get an error answer and the connection stays.
        Json::Value bad;
        bad["cmd"] = "no_such_command";
        EXPECT_EQ(app.Request(bad)["error"].asString(), "unknown command");
        EXPECT_TRUE(app.Ping());
        done = true;
    });
    win.Show();
    bool finished = ui::RunLoopUntil([&] { return done.load(); }, 60000);
    client.join();
    ASSERT_TRUE(finished);
    ASSERT_TRUE(ui::RunLoopUntil([&] { return handler.dialog_result != -9; }, 5000));
    EXPECT_EQ(handler.dialog_result, 1);
    ASSERT_TRUE(log.WaitCount(4));
    EXPECT_EQ(log.entries, (std::vector<std::string>{"0:b1", "0:fbtn", "5:s1=b", "0:b2"}));
    EXPECT_EQ(log.events[0].reason, 1u);
    ui::StopAutomation();
    EXPECT_NE(access(sock.c_str(), F_OK), 0);
}

TEST_F(AutomationTest, RefusesToReplaceAFileThatIsNotASocket) {
    std::string path = ::testing::TempDir() + "ui_auto_plain_" + std::to_string(getpid());
    FILE* f = fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fclose(f);
    EXPECT_FALSE(ui::StartAutomation(path));
    EXPECT_EQ(access(path.c_str(), F_OK), 0);
    unlink(path.c_str());
}

}  // namespace
