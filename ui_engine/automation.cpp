// The automation channel: one JSON request per line on a Unix socket, one
// JSON answer per line. Requests of one connection are handled in order on
// the UI thread, through the same dispatch queue as page events; the socket is
// watched from the main loop and never blocks it.
#include "ui_engine/automation.h"

#include <fcntl.h>
#include <glib-unix.h>
#include <glib.h>
#include <gtk/gtk.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>

#include "base/json_safe.h"
#include "ui_engine/automation_request.h"
#include "ui_engine/element.h"
#include "ui_engine/engine_internal.h"
#include "ui_engine/file_dialog.h"
#include "ui_engine/host_window.h"

namespace ui {
namespace {

constexpr guint kAcceptRetryMs = 200;

struct Client {
    int fd = -1;
    guint watch = 0;
    std::string in;
    std::deque<std::string> lines;
    bool busy = false;
    bool gone = false;
    bool eof = false;  // the client has sent all it will; close once answered
    // A click or value of this client raised an event that is not handled
    // yet; its next request waits behind it, even during WaitOffUi.
    bool events_pending = false;
};

int g_listen_fd = -1;
guint g_listen_watch = 0;
guint g_accept_retry = 0;  // timer that resumes accepting after a failed accept
std::string g_socket_path;
std::vector<std::shared_ptr<Client>> g_clients;

void ScheduleNext(const std::shared_ptr<Client>& c);

// Commands added by the program's layers (AddAutomationCommand).
std::map<std::string, AutomationCommand>& AddedCommands() {
    static std::map<std::string, AutomationCommand> commands;
    return commands;
}

void Drop(const std::shared_ptr<Client>& c) {
    if (c->gone) return;
    c->gone = true;
    if (c->watch) g_source_remove(c->watch);
    c->watch = 0;
    if (c->fd >= 0) close(c->fd);
    c->fd = -1;
    for (auto it = g_clients.begin(); it != g_clients.end(); ++it) {
        if (*it == c) {
            g_clients.erase(it);
            break;
        }
    }
}

void SendLine(const std::shared_ptr<Client>& c, const Json::Value& answer) {
    if (c->gone) return;
    Json::StreamWriterBuilder wb;
    wb["indentation"] = "";
    wb["emitUTF8"] = true;
    std::string line = Json::writeString(wb, answer);
    line += '\n';
    size_t off = 0;
    while (off < line.size()) {
        ssize_t n = send(c->fd, line.data() + off, line.size() - off, MSG_NOSIGNAL);
        if (n > 0) {
            off += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            struct pollfd p {
                c->fd, POLLOUT, 0
            };
            if (poll(&p, 1, 2000) > 0) continue;
        }
        if (n < 0 && errno == EINTR) continue;
        Drop(c);  // a client that does not read its answers is let go
        return;
    }
}

void Reply(const std::shared_ptr<Client>& c, const Json::Value& request, Json::Value answer) {
    const Json::Value& id = json_safe::Member(request, "id");
    if (!id.isNull()) answer["id"] = id;
    SendLine(c, answer);
    c->busy = false;
    ScheduleNext(c);
}

Json::Value Fail(const std::string& error) {
    Json::Value a;
    a["ok"] = false;
    a["error"] = error;
    return a;
}

Json::Value Ok() {
    Json::Value a;
    a["ok"] = true;
    return a;
}

Json::Value WindowJson(const WindowInfo& w) {
    Json::Value v;
    v["id"] = static_cast<Json::UInt64>(w.id);
    v["page"] = w.page_file;
    v["path"] = w.page_path;
    v["modal"] = w.modal;
    v["visible"] = w.visible;
    return v;
}

// The window a request names: "window" (id), else "page" (the most recently
// made visible window showing that page file), else the active window.
HostWindow* PickWindow(const AutomationRequest& req) {
    switch (req.window_by) {
        case AutomationRequest::WindowBy::kId: return FindWindow(static_cast<WindowId>(req.window_id));
        case AutomationRequest::WindowBy::kNone: return nullptr;
        case AutomationRequest::WindowBy::kPage: {
            std::vector<WindowInfo> all = ListWindows();
            for (auto it = all.rbegin(); it != all.rend(); ++it)
                if (it->visible && it->page_file == req.page) return FindWindow(it->id);
            return nullptr;
        }
        case AutomationRequest::WindowBy::kActive: break;
    }
    return ActiveWindow();
}

// The element a request names: "element" (id), inside its frames; "nth"
// picks one of several elements with that id (from 0, document order).
Element PickElement(const HostWindow& w, const AutomationRequest& req) {
    Element doc = Element::Root(w.id());
    for (const auto& f : req.frames) doc = doc.Find(f).FrameRoot();
    Element e = doc.Find(req.element);
    return req.nth > 0 ? e.Nth(static_cast<unsigned>(req.nth)) : e;
}

struct WaitState {
    std::shared_ptr<Client> client;
    Json::Value request;
    std::string page;
    gint64 deadline = 0;
};

gboolean PollWait(gpointer data) {
    auto* st = static_cast<WaitState*>(data);
    if (st->client->gone) {
        delete st;
        return G_SOURCE_REMOVE;
    }
    for (const auto& w : ListWindows()) {
        if (w.visible && w.page_file == st->page) {
            Json::Value a = Ok();
            a["window"] = WindowJson(w);
            Reply(st->client, st->request, a);
            delete st;
            return G_SOURCE_REMOVE;
        }
    }
    if (g_get_monotonic_time() >= st->deadline) {
        Reply(st->client, st->request, Fail("timeout"));
        delete st;
        return G_SOURCE_REMOVE;
    }
    return G_SOURCE_CONTINUE;
}

// The key a request names: "Enter", or a key name as GDK spells it
// ("Escape", "Tab", "BackSpace", "a"). 0 for none.
guint KeyvalOf(const std::string& name) {
    if (name.empty()) return 0;
    if (name == "Enter") return GDK_KEY_Return;
    const guint keyval = gdk_keyval_from_name(name.c_str());
    return keyval == GDK_KEY_VoidSymbol ? 0 : keyval;
}

// Presses and releases a key in the window as the keyboard would: the event
// goes through GTK's handling of the window to the focused web view, and the
// page sees a trusted keydown on its focused element.
bool PressKey(HostWindow& w, guint keyval) {
    GtkWidget* top = w.gtk_window();
    GtkWidget* view = reinterpret_cast<GtkWidget*>(w.web_view());
    GdkWindow* gdk_window = top ? gtk_widget_get_window(top) : nullptr;
    if (!gdk_window || !view) return false;
    // The page holds the keyboard, as once the user has clicked into it.
    if (!gtk_widget_has_focus(view)) gtk_widget_grab_focus(view);
    GdkDisplay* display = gdk_window_get_display(gdk_window);
    GdkSeat* seat = gdk_display_get_default_seat(display);
    GdkDevice* keyboard = seat ? gdk_seat_get_keyboard(seat) : nullptr;
    guint16 keycode = 0;
    guint8 group = 0;
    GdkKeymapKey* keys = nullptr;
    gint count = 0;
    if (gdk_keymap_get_entries_for_keyval(gdk_keymap_get_for_display(display), keyval, &keys, &count) && count > 0) {
        keycode = static_cast<guint16>(keys[0].keycode);
        group = static_cast<guint8>(keys[0].group);
    }
    g_free(keys);
    for (GdkEventType type : {GDK_KEY_PRESS, GDK_KEY_RELEASE}) {
        GdkEvent* ev = gdk_event_new(type);
        ev->key.window = GDK_WINDOW(g_object_ref(gdk_window));
        ev->key.send_event = FALSE;
        ev->key.time = GDK_CURRENT_TIME;
        ev->key.keyval = keyval;
        ev->key.hardware_keycode = keycode;
        ev->key.group = group;
        if (keyboard) gdk_event_set_device(ev, keyboard);
        gtk_main_do_event(ev);
        gdk_event_free(ev);
    }
    return true;
}

void Handle(const std::shared_ptr<Client>& c, const std::string& line) {
    if (c->gone) return;
    AutomationRequest parsed;
    if (!ParseRequest(line, parsed)) return Reply(c, parsed.json, Fail("bad request"));
    const Json::Value& req = parsed.json;
    const std::string& cmd = parsed.cmd;

    if (cmd == "ping") return Reply(c, req, Ok());
    if (cmd == "windows") {
        Json::Value a = Ok();
        a["windows"] = Json::Value(Json::arrayValue);
        for (const auto& w : ListWindows()) a["windows"].append(WindowJson(w));
        return Reply(c, req, a);
    }
    if (cmd == "wait_window") {
        auto* st = new WaitState;
        st->client = c;
        st->request = req;
        st->page = parsed.page;
        st->deadline = g_get_monotonic_time() + static_cast<gint64>(parsed.timeout_ms) * 1000;
        if (PollWait(st) == G_SOURCE_CONTINUE) g_timeout_add(20, PollWait, st);
        return;
    }

    // The desktop's file dialog: answered like a user (file_dialog.h).
    if (cmd == "file_dialog") {
        detail::FileDialogCommand(req, [c, req](const Json::Value& a) { Reply(c, req, a); });
        return;
    }

    HostWindow* w = PickWindow(parsed);
    if (!w || w->IsClosed()) return Reply(c, req, Fail("no such window"));

    if (cmd == "snapshot") {
        if (parsed.path.empty()) return Reply(c, req, Fail("no path"));
        return Reply(c, req, w->SnapshotPng(parsed.path) ? Ok() : Fail("snapshot failed"));
    }
    if (cmd == "close") {
        // Answered first: closing may run handlers that open dialogs.
        WindowId id = w->id();
        Reply(c, req, Ok());
        if (HostWindow* again = FindWindow(id)) again->Close();
        return;
    }

    if (cmd == "key") {
        const guint keyval = KeyvalOf(parsed.key);
        if (!keyval) return Reply(c, req, Fail("unknown key"));
        Element e;
        if (!parsed.element.empty()) {
            e = PickElement(*w, parsed);
            if (e.IsNull() || !e.Exists()) return Reply(c, req, Fail("no such element"));
        }
        if (!detail::AcceptsUserEvents(w)) return Reply(c, req, Fail("blocked by a modal dialog"));
        WindowId id = w->id();
        if (!e.IsNull()) {
            detail::FocusAsUser(e);
            e.Exists();  // focused before the key goes out
        }
        w = FindWindow(id);
        if (!w || w->IsClosed() || !PressKey(*w, keyval)) return Reply(c, req, Fail("no such window"));
        // As for a click: the page has taken the key, and queued the event it
        // raises, before the answer goes out.
        Element::Root(id).Exists();
        return Reply(c, req, Ok());
    }

    if (cmd == "wait_text") {
        Element e = PickElement(*w, parsed);
        if (e.IsNull() || !e.Exists()) return Reply(c, req, Fail("no such element"));
        detail::WhenTextIsNot(e, parsed.value, parsed.timeout_ms, [c, req](std::optional<std::string> text) {
            if (!text) return Reply(c, req, Fail("timeout"));
            Json::Value a = Ok();
            a["value"] = *text;
            Reply(c, req, a);
        });
        return;
    }

    bool acts = cmd == "click" || cmd == "set_value" || cmd == "mouse_move";
    bool reads = cmd == "get_text" || cmd == "get_value" || cmd == "get_attr" || cmd == "get_received";
    if (!acts && !reads) {
        auto added = AddedCommands().find(cmd);
        if (added == AddedCommands().end()) return Reply(c, req, Fail("unknown command"));
        AutomationCommand handler = added->second;  // a copy: the handler may add commands
        return Reply(c, req, handler(*w, req));
    }
    Element e = PickElement(*w, parsed);
    if (e.IsNull() || !e.Exists()) return Reply(c, req, Fail("no such element"));
    if (acts) {
        // The user could not reach this window either; say so rather than
        // report a click that raises nothing.
        if (!detail::AcceptsUserEvents(w)) return Reply(c, req, Fail("blocked by a modal dialog"));
        // The page takes the click (or the value, or the move) within the
        // read that follows, and the event it raises is queued before the
        // answer goes out; so the event is handled before any later request
        // of this client, and whatever the handler opens (a modal dialog)
        // cannot hold the answer back.
        if (cmd == "click") e.PostClick();
        else if (cmd == "set_value") detail::SetValueAsUser(e, parsed.value);
        else if (!e.MoveMouse(json_safe::Double(req, "x"), json_safe::Double(req, "y")))
            return Reply(c, req, Fail("no such element"));
        e.Exists();
        c->events_pending = true;
        detail::Enqueue([c] { c->events_pending = false; });
        return Reply(c, req, Ok());
    }
    Json::Value a = Ok();
    if (cmd == "get_text") a["value"] = e.GetText();
    else if (cmd == "get_value") a["value"] = e.GetValue();
    else if (cmd == "get_attr") a["value"] = e.GetAttribute(parsed.name);
    else {
        // The record is JSON the page wrote; handed on as data, never trusted.
        Json::Value record;
        if (!json_safe::Parse(e.GetScriptRecord(), record) || !record.isArray())
            return Reply(c, req, Fail("no record"));
        a["value"] = record;
    }
    Reply(c, req, a);
}

void ScheduleNext(const std::shared_ptr<Client>& c) {
    if (c->gone || c->busy) return;
    if (c->lines.empty()) {
        if (c->eof) Drop(c);  // every request answered
        return;
    }
    c->busy = true;
    std::string line = std::move(c->lines.front());
    c->lines.pop_front();
    // While the program waits for a blocking call (WaitOffUi), requests are
    // served as a user's looks and clicks are taken: ahead of the held-back
    // events, unless this client's own event is among them.
    detail::Enqueue([c, line] { Handle(c, line); }, !c->events_pending);
}

gboolean OnClientIo(gint fd, GIOCondition cond, gpointer data) {
    auto* weak = static_cast<std::weak_ptr<Client>*>(data);
    std::shared_ptr<Client> c = weak->lock();
    if (!c || c->gone) return G_SOURCE_REMOVE;
    if (cond & G_IO_IN) {
        char buf[8192];
        ssize_t n = read(fd, buf, sizeof buf);
        if (n > 0) {
            if (!TakeRequestLines(c->in, buf, static_cast<size_t>(n), c->lines)) {
                c->watch = 0;
                Drop(c);
                return G_SOURCE_REMOVE;
            }
            ScheduleNext(c);
            return G_SOURCE_CONTINUE;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return G_SOURCE_CONTINUE;
        if (n == 0) {
            // End of the client's sending side (e.g. `printf ... | socat`):
            // its requests are still answered, then the connection closes.
            FinishRequestLines(c->in, c->lines);
            c->eof = true;
            c->watch = 0;
            ScheduleNext(c);
            return G_SOURCE_REMOVE;
        }
    }
    c->watch = 0;
    Drop(c);  // error or hang-up
    return G_SOURCE_REMOVE;
}

void FreeWeak(gpointer data) {
    delete static_cast<std::weak_ptr<Client>*>(data);
}

gboolean OnAccept(gint fd, GIOCondition, gpointer);

gboolean ResumeAccept(gpointer) {
    g_accept_retry = 0;
    if (g_listen_fd >= 0 && !g_listen_watch) g_listen_watch = g_unix_fd_add(g_listen_fd, G_IO_IN, OnAccept, nullptr);
    return G_SOURCE_REMOVE;
}

gboolean OnAccept(gint fd, GIOCondition, gpointer) {
    int cfd = accept4(fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (cfd < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == ECONNABORTED)
            return G_SOURCE_CONTINUE;
        // Out of descriptors or memory: the connection stays queued and the
        // socket stays readable, so watching it now would spin. Look again
        // a little later; the client just waits.
        g_listen_watch = 0;
        if (!g_accept_retry) g_accept_retry = g_timeout_add(kAcceptRetryMs, ResumeAccept, nullptr);
        return G_SOURCE_REMOVE;
    }
    auto c = std::make_shared<Client>();
    c->fd = cfd;
    c->watch = g_unix_fd_add_full(G_PRIORITY_DEFAULT, cfd, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR),
                                  OnClientIo, new std::weak_ptr<Client>(c), FreeWeak);
    g_clients.push_back(c);
    return G_SOURCE_CONTINUE;
}

}  // namespace

bool StartAutomation(const std::string& socket_path) {
    if (!EngineReady() || socket_path.empty()) return false;
    StopAutomation();
    struct sockaddr_un addr;
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    if (socket_path.size() >= sizeof addr.sun_path) return false;
    std::memcpy(addr.sun_path, socket_path.c_str(), socket_path.size());

    struct stat st;
    if (lstat(socket_path.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) return false;  // never remove anything but an old socket
        unlink(socket_path.c_str());
    }
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return false;
    // Made owner-only from the start: the channel can drive the signed-in program.
    mode_t old = umask(077);
    int rc = bind(fd, reinterpret_cast<struct sockaddr*>(&addr), sizeof addr);
    umask(old);
    if (rc != 0 || chmod(socket_path.c_str(), 0600) != 0 || listen(fd, 8) != 0) {
        close(fd);
        return false;
    }
    g_listen_fd = fd;
    g_socket_path = socket_path;
    g_listen_watch = g_unix_fd_add(fd, G_IO_IN, OnAccept, nullptr);
    return true;
}

bool StartAutomationFromEnv() {
    const char* path = std::getenv("VORTA_AUTOMATION_SOCKET");
    if (!path || !*path) return false;
    return StartAutomation(path);
}

void AddAutomationCommand(const std::string& name, AutomationCommand handler) {
    if (handler) AddedCommands()[name] = std::move(handler);
    else AddedCommands().erase(name);
}

void StopAutomation() {
    auto clients = g_clients;
    for (auto& c : clients) Drop(c);
    if (g_listen_watch) g_source_remove(g_listen_watch);
    g_listen_watch = 0;
    if (g_accept_retry) g_source_remove(g_accept_retry);
    g_accept_retry = 0;
    if (g_listen_fd >= 0) {
        close(g_listen_fd);
        unlink(g_socket_path.c_str());
    }
    g_listen_fd = -1;
    g_socket_path.clear();
}

}  // namespace ui
