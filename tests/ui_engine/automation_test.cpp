// The automation channel end to end: a client thread drives windows served by
// this process's UI thread over the Unix socket.
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <glib.h>

#include <cstring>

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
        if (ev.target_id == "b3") {
            // The text changes a while after the click, when a watcher is waiting.
            static ui::WindowId changed;
            changed = w.id();
            g_timeout_add(
                300,
                [](gpointer) -> gboolean {
                    ui::Element::ById(changed, "t1").SetText("new");
                    return G_SOURCE_REMOVE;
                },
                nullptr);
        }
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
        for (const auto& w : app.Windows())
            listed = listed || (w.id == win.id() && w.visible && w.page == "events.htm");
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

        // A watch on an element's text: at once when it differs, when it
        // changes later, and not at all within its time.
        EXPECT_EQ(app.WaitTextNot("t1", "other").value_or("?"), "old");
        EXPECT_FALSE(app.WaitTextNot("t1", "old", "", 100).has_value());
        EXPECT_EQ(app.last_error(), "timeout");
        EXPECT_TRUE(app.Click("b3"));
        EXPECT_EQ(app.WaitTextNot("t1", "old", "", 5000).value_or("?"), "new");
        EXPECT_FALSE(app.WaitTextNot("missing", "").has_value());

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
    ASSERT_TRUE(log.WaitCount(5));
    EXPECT_EQ(log.entries, (std::vector<std::string>{"0:b1", "0:fbtn", "5:s1=b", "0:b2", "0:b3"}));
    EXPECT_EQ(log.events[0].reason, 1u);
    ui::StopAutomation();
    EXPECT_NE(access(sock.c_str(), F_OK), 0);
}

TEST_F(AutomationTest, KeysGoToTheFocusedFieldAndPressOneButtonEach) {
    std::string sock = ::testing::TempDir() + "ui_auto_keys_" + std::to_string(getpid()) + ".sock";
    ASSERT_TRUE(ui::StartAutomation(sock));
    ui::WindowOptions o;
    o.width = 640;
    o.height = 480;
    ui::HostWindow win(o);
    EventLog log;
    win.SetEventHandler(&log);
    ASSERT_TRUE(win.LoadPage(Page("keys.htm")));
    win.Show();

    std::atomic<bool> done{false};
    std::thread client([&] {
        AutomationClient app;
        ASSERT_TRUE(app.Connect(sock, 5000));
        ASSERT_TRUE(app.WaitWindow("keys.htm", 10000));
        EXPECT_TRUE(app.PressKey("Enter", "name"));   // the page's Enter button
        EXPECT_TRUE(app.PressKey("Enter", "find"));   // the field's own button, only
        EXPECT_TRUE(app.PressKey("Enter", "notes"));  // a new line, no button
        EXPECT_TRUE(app.PressKey("Escape"));          // still in "notes"
        EXPECT_FALSE(app.PressKey("NoSuchKey", "name"));
        EXPECT_EQ(app.last_error(), "unknown key");
        done = true;
    });
    bool finished = ui::RunLoopUntil([&] { return done.load(); }, 60000);
    client.join();
    ASSERT_TRUE(finished);
    log.WaitCount(3);
    Settle();
    EXPECT_EQ(log.entries, (std::vector<std::string>{"0:save", "0:search", "0:exit"}));
    EXPECT_EQ(ui::FindById(win, "notes").GetValue(), "\n");  // the key reached the field itself
    ui::StopAutomation();
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

// A raw connection, for what the client class never sends.
int RawConnect(const std::string& path) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    struct sockaddr_un addr;
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size());
    if (connect(fd, reinterpret_cast<struct sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool SendAll(int fd, const std::string& data) {
    size_t off = 0;
    while (off < data.size()) {
        ssize_t n = send(fd, data.data() + off, data.size() - off, MSG_NOSIGNAL);
        if (n <= 0) return false;
        off += static_cast<size_t>(n);
    }
    return true;
}

// Everything the peer sends until it closes (or `timeout_ms` of silence).
std::string ReadToEnd(int fd, int timeout_ms = 10000) {
    std::string out;
    char buf[4096];
    for (;;) {
        struct pollfd p {
            fd, POLLIN, 0
        };
        if (poll(&p, 1, timeout_ms) <= 0) return out + "<silent>";
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) return out;
        out.append(buf, static_cast<size_t>(n));
    }
}

TEST_F(AutomationTest, BrokenHugeAndHalfClosedConnectionsLeaveTheChannelServing) {
    std::string sock = ::testing::TempDir() + "ui_auto_raw_" + std::to_string(getpid()) + ".sock";
    ASSERT_TRUE(ui::StartAutomation(sock));
    ui::WindowOptions o;
    o.width = 400;
    o.height = 300;
    ui::HostWindow win(o);
    ASSERT_TRUE(win.LoadPage(Page("events.htm")));
    win.Show();
    ui::WindowId gone_id = 0;
    {
        ui::HostWindow gone(o);
        gone_id = gone.id();
    }

    std::atomic<bool> done{false};
    std::thread client([&] {
        // Requests followed at once by the end of the client's sending side
        // (as `printf ... | socat`) are all answered, in order.
        int fd = RawConnect(sock);
        ASSERT_GE(fd, 0);
        ASSERT_TRUE(SendAll(fd,
                            "{\"cmd\":\"ping\",\"id\":1}\n{\"cmd\":\"get_text\",\"element\":\"t1\",\"id\":2}\n"
                            "{\"cmd\":\"ping\",\"id\":3}"));  // the last line without its newline
        shutdown(fd, SHUT_WR);
        EXPECT_EQ(ReadToEnd(fd),
                  "{\"id\":1,\"ok\":true}\n{\"id\":2,\"ok\":true,\"value\":\"old\"}\n"
                  "{\"id\":3,\"ok\":true}\n");
        close(fd);

        // Malformed lines and requests against windows that are not there.
        fd = RawConnect(sock);
        ASSERT_GE(fd, 0);
        std::string lines =
            "not json\n[1]\n{\"cmd\":5}\n{\"cmd\":\"click\",\"window\":-1,\"element\":\"b1\"}\n"
            "{\"cmd\":\"get_text\",\"window\":" +
            std::to_string(gone_id) +
            ",\"element\":\"t1\"}\n"
            "{\"cmd\":\"click\",\"window\":{\"a\":1}}\n{\"cmd\":\"click\",\"frames\":{\"x\":1}}\n"
            "{\"cmd\":\"get_attr\",\"element\":\"b2\",\"name\":[]}\n{\"cmd\":\"snapshot\",\"path\":7}\n";
        ASSERT_TRUE(SendAll(fd, lines));
        shutdown(fd, SHUT_WR);
        EXPECT_EQ(ReadToEnd(fd),
                  "{\"error\":\"bad request\",\"ok\":false}\n{\"error\":\"bad request\",\"ok\":false}\n"
                  "{\"error\":\"unknown command\",\"ok\":false}\n{\"error\":\"no such window\",\"ok\":false}\n"
                  "{\"error\":\"no such window\",\"ok\":false}\n{\"error\":\"no such window\",\"ok\":false}\n"
                  "{\"error\":\"no such element\",\"ok\":false}\n{\"ok\":true,\"value\":\"\"}\n"
                  "{\"error\":\"no path\",\"ok\":false}\n");
        close(fd);

        // A line beyond the limit ends that connection, and only that one.
        AutomationClient other;
        ASSERT_TRUE(other.Connect(sock, 5000));
        fd = RawConnect(sock);
        ASSERT_GE(fd, 0);
        std::string huge(2 << 20, 'x');
        SendAll(fd, huge);  // may fail part way once the channel lets go
        EXPECT_EQ(ReadToEnd(fd), "");
        close(fd);
        EXPECT_TRUE(other.Ping());

        // Gone in the middle of a request: the channel carries on.
        fd = RawConnect(sock);
        ASSERT_GE(fd, 0);
        ASSERT_TRUE(SendAll(fd,
                            "{\"cmd\":\"wait_window\",\"page\":\"never.htm\",\"timeout_ms\":300}\n"
                            "{\"cmd\":\"click\",\"element\":\"b1\"}\n"));
        close(fd);
        fd = RawConnect(sock);
        ASSERT_GE(fd, 0);
        ASSERT_TRUE(SendAll(fd, "{\"cmd\":\"get_text\",\"element\":\"t1\"}\n"));
        close(fd);
        usleep(500 * 1000);
        EXPECT_TRUE(other.Ping());
        done = true;
    });
    bool finished = ui::RunLoopUntil([&] { return done.load(); }, 60000);
    client.join();
    ASSERT_TRUE(finished);
    ui::StopAutomation();
}

}  // namespace

TEST_F(AutomationTest, AcceptWithoutFreeDescriptorsWaitsInsteadOfSpinning) {
    std::string sock = ::testing::TempDir() + "ui_auto_nofd_" + std::to_string(getpid()) + ".sock";
    ASSERT_TRUE(ui::StartAutomation(sock));
    struct sockaddr_un addr;
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, sock.c_str(), sock.size());
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    // With the limit at the lowest free descriptor, accept() finds none.
    const int lowest = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(lowest, 0);
    ::close(lowest);
    struct rlimit old_limit, tight;
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old_limit), 0);
    tight = old_limit;
    tight.rlim_cur = static_cast<rlim_t>(lowest);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
    const bool connected = connect(fd, reinterpret_cast<struct sockaddr*>(&addr), sizeof addr) == 0;
    struct rusage before, after;
    getrusage(RUSAGE_THREAD, &before);
    ui::RunLoopUntil([] { return false; }, 1000);  // the channel's own thread: the UI thread
    getrusage(RUSAGE_THREAD, &after);
    setrlimit(RLIMIT_NOFILE, &old_limit);
    ASSERT_TRUE(connected);
    auto ms = [](const struct rusage& r) {
        return (r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1000L + (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1000L;
    };
    EXPECT_LT(ms(after) - ms(before), 300) << "the UI thread spun on the failing accept";

    // Once descriptors are free again, the waiting client is served.
    ASSERT_TRUE(SendAll(fd, "{\"cmd\":\"ping\"}\n"));
    struct pollfd p {
        fd, POLLIN, 0
    };
    EXPECT_TRUE(ui::RunLoopUntil([&] { return poll(&p, 1, 0) > 0; }, 5000));
    char buf[64] = {};
    EXPECT_EQ(std::string(buf, static_cast<size_t>(std::max<ssize_t>(0, read(fd, buf, sizeof buf)))),
              "{\"ok\":true}\n");
    close(fd);
    ui::StopAutomation();
}
