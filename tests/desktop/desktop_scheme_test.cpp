// The desktop portal's colour scheme reaching the pages: the reading of the
// portal's value, and a stand-in portal on a private session bus switching a
// real page between light and dark while it shows.
#include <gio/gio.h>
#include <gtk/gtk.h>
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <memory>
#include <string>

#include "app/desktop_scheme.h"
#include "tests/support/skip_or_fail.h"
#include "ui_engine/host_window.h"
#include "ui_engine/ui_engine.h"

namespace {

struct OwnedVariant {
    GVariant* v;
    explicit OwnedVariant(GVariant* value) : v(value ? g_variant_ref_sink(value) : nullptr) {}
    ~OwnedVariant() {
        if (v) g_variant_unref(v);
    }
};

TEST(DesktopSchemeTest, PortalValues) {
    struct Case {
        const char* what;
        GVariant* value;
        ColorScheme want;
    } cases[] = {
        {"no preference", g_variant_new_uint32(0), ColorScheme::kDefault},
        {"prefer dark", g_variant_new_uint32(1), ColorScheme::kPreferDark},
        {"prefer light", g_variant_new_uint32(2), ColorScheme::kPreferLight},
        {"unknown number", g_variant_new_uint32(7), ColorScheme::kDefault},
        {"as ReadOne answers", g_variant_new_variant(g_variant_new_uint32(1)), ColorScheme::kPreferDark},
        {"as Read answers", g_variant_new_variant(g_variant_new_variant(g_variant_new_uint32(2))),
         ColorScheme::kPreferLight},
        {"a text", g_variant_new_string("prefer-dark"), ColorScheme::kDefault},
        {"a signed number", g_variant_new_int32(1), ColorScheme::kDefault},
        {"nothing", nullptr, ColorScheme::kDefault},
    };
    for (const Case& c : cases) {
        OwnedVariant value(c.value);
        EXPECT_EQ(ColorSchemeFromPortal(value.v), c.want) << c.what;
    }
    // Deeper than any portal wraps it: not followed.
    GVariant* deep = g_variant_new_uint32(1);
    for (int i = 0; i < 20; ++i) deep = g_variant_new_variant(deep);
    OwnedVariant owned(deep);
    EXPECT_EQ(ColorSchemeFromPortal(owned.v), ColorScheme::kDefault);
}

// ---- a stand-in portal on the test's own session bus ----

const char kIntrospection[] =
    "<node><interface name='org.freedesktop.portal.Settings'>"
    "<method name='ReadOne'><arg type='s' direction='in'/><arg type='s' direction='in'/>"
    "<arg type='v' direction='out'/></method>"
    "<signal name='SettingChanged'><arg type='s'/><arg type='s'/><arg type='v'/></signal>"
    "</interface></node>";

std::atomic<guint32> g_portal_scheme{1};

void OnPortalCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method, GVariant* params,
                  GDBusMethodInvocation* invocation, gpointer) {
    const gchar* ns = nullptr;
    const gchar* key = nullptr;
    g_variant_get(params, "(&s&s)", &ns, &key);
    if (std::string(method) == "ReadOne" && std::string(ns) == "org.freedesktop.appearance" &&
        std::string(key) == "color-scheme") {
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(v)", g_variant_new_uint32(g_portal_scheme)));
        return;
    }
    g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.portal.Error.NotFound", "no such setting");
}

// The portal on a thread and a connection of its own, so that the program's
// blocking read at start-up is answered.
class StandInPortal {
public:
    StandInPortal() {
        thread_ = std::thread([this] { Run(); });
        std::unique_lock<std::mutex> lock(mutex_);
        ready_cv_.wait(lock, [this] { return ready_; });
    }
    ~StandInPortal() {
        g_main_loop_quit(loop_);
        thread_.join();
    }
    bool ok() const { return ok_; }

    // Announces a new value of a setting, as the portal does.
    void Change(const char* key, guint32 value) {
        if (std::string(key) == "color-scheme") g_portal_scheme = value;
        g_dbus_connection_emit_signal(
            conn_, nullptr, "/org/freedesktop/portal/desktop", "org.freedesktop.portal.Settings", "SettingChanged",
            g_variant_new("(ssv)", "org.freedesktop.appearance", key, g_variant_new_uint32(value)), nullptr);
        g_dbus_connection_flush_sync(conn_, nullptr, nullptr);
    }

private:
    void Run() {
        GMainContext* context = g_main_context_new();
        g_main_context_push_thread_default(context);
        loop_ = g_main_loop_new(context, FALSE);
        gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        conn_ = address ? g_dbus_connection_new_for_address_sync(
                              address,
                              GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                   G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                              nullptr, nullptr, nullptr)
                        : nullptr;
        g_free(address);
        GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
        if (conn_ && node) {
            const GDBusInterfaceVTable vtable{OnPortalCall, nullptr, nullptr, {}};
            const guint object = g_dbus_connection_register_object(
                conn_, "/org/freedesktop/portal/desktop", node->interfaces[0], &vtable, nullptr, nullptr, nullptr);
            GVariant* owned = g_dbus_connection_call_sync(conn_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                          "org.freedesktop.DBus", "RequestName",
                                                          g_variant_new("(su)", "org.freedesktop.portal.Desktop", 4u),
                                                          nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
            ok_ = object > 0 && owned != nullptr;
            if (owned) g_variant_unref(owned);
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ready_ = true;
        }
        ready_cv_.notify_all();
        if (ok_) g_main_loop_run(loop_);
        if (node) g_dbus_node_info_unref(node);
        if (conn_) g_object_unref(conn_);
        g_main_loop_unref(loop_);
        g_main_context_pop_thread_default(context);
        g_main_context_unref(context);
    }

    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable ready_cv_;
    bool ready_ = false;
    bool ok_ = false;
    GMainLoop* loop_ = nullptr;
    GDBusConnection* conn_ = nullptr;
};

TEST(DesktopSchemeTest, NothingToFollowWithoutASessionBus) {
    const std::string bus = std::getenv("DBUS_SESSION_BUS_ADDRESS") ? std::getenv("DBUS_SESSION_BUS_ADDRESS") : "";
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    unsetenv("WEBKIT_WEB_RENDER_DEVICE_FILE");
    EXPECT_FALSE(PrepareEngineForColorScheme());
    EXPECT_EQ(std::getenv("WEBKIT_WEB_RENDER_DEVICE_FILE"), nullptr);
    if (!bus.empty()) setenv("DBUS_SESSION_BUS_ADDRESS", bus.c_str(), 1);
}

TEST(DesktopSchemeTest, PagesFollowThePortalLive) {
    const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (bus == nullptr || *bus == '\0') VORTA_SKIP_OR_FAIL("no session bus (run under dbus-run-session)");
    StandInPortal portal;
    ASSERT_TRUE(portal.ok());
    ASSERT_TRUE(PrepareEngineForColorScheme());  // the portal answers
    if (!ui::InitEngine(VORTA_BIN_DIR)) VORTA_SKIP_OR_FAIL("no display");

    ui::WindowOptions options;
    options.width = 980;
    options.height = 700;
    ui::HostWindow win(options);
    ASSERT_TRUE(win.LoadPage(std::string(VORTA_BIN_DIR) + "/ENG/main.htm"));
    win.Show();
    auto scheme_is = [&win](bool dark) {
        const std::string want = dark ? "true" : "false";
        return ui::RunLoopUntil(
            [&] { return win.Evaluate("String(matchMedia('(prefers-color-scheme: dark)').matches)") == want; }, 10000);
    };
    // The page's own background tells that the style sheet followed.
    auto background = [&win] { return win.Evaluate("getComputedStyle(document.documentElement).backgroundColor"); };
    // A map beside it: the land at its centre (20 N, 0 E) is repainted in
    // the scheme's land colour, light #e9e3cf, dark #353b33.
    ui::HostWindow map_win(options);
    ASSERT_TRUE(map_win.LoadPage(std::string(VORTA_BIN_DIR) + "/ENG/web_html/maps.htm"));
    map_win.Show();
    auto land_is = [&map_win](bool dark) {
        const std::string want = dark ? "53,59,51" : "233,227,207";
        return ui::RunLoopUntil(
            [&] {
                return map_win.Evaluate(
                           "(function(){var c=document.querySelector('.leaflet-land-pane canvas');"
                           "if(!c)return '';var p=c.getContext('2d').getImageData(c.width>>1,"
                           "c.height>>1,1,1).data;return p[0]+','+p[1]+','+p[2]})()") == want;
            },
            10000);
    };
    ASSERT_TRUE(scheme_is(false));
    EXPECT_TRUE(land_is(false));
    const std::string light = background();

    FollowDesktopColorScheme();  // reads "prefer dark"
    EXPECT_TRUE(scheme_is(true));
    EXPECT_NE(background(), light);
    EXPECT_TRUE(land_is(true));

    for (guint32 value : {2u, 1u, 0u}) {
        SCOPED_TRACE(value);
        portal.Change("color-scheme", value);
        EXPECT_TRUE(scheme_is(value == 1));
        EXPECT_TRUE(land_is(value == 1));
    }
    EXPECT_EQ(background(), light);
    // Other settings of the portal change nothing.
    portal.Change("accent-color", 1);
    EXPECT_TRUE(scheme_is(false));
}

}  // namespace
