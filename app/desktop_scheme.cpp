#include "app/desktop_scheme.h"

#include <gio/gio.h>
#include <gtk/gtk.h>

#include <cstdlib>
#include <cstring>

#include "ui_engine/ui_engine.h"

namespace {

const char kPortalName[] = "org.freedesktop.portal.Desktop";
const char kPortalPath[] = "/org/freedesktop/portal/desktop";
const char kSettingsInterface[] = "org.freedesktop.portal.Settings";
const char kNamespace[] = "org.freedesktop.appearance";
const char kKey[] = "color-scheme";
constexpr int kCallTimeoutMs = 2000;

bool g_following = false;
bool g_gtk_dark_at_start = false;

// The pages switch at once; GTK's setting (and with it the chrome and foreign
// pages) once they have drawn (ui::SetColorScheme).
void Apply(ColorScheme scheme) {
    ui::SetColorScheme(PagesDark(scheme, g_gtk_dark_at_start));
}

bool EndsWith(const char* text, const char* end) {
    const size_t n = std::strlen(text), m = std::strlen(end);
    return n >= m && g_ascii_strcasecmp(text + n - m, end) == 0;
}

void OnRead(GObject* source, GAsyncResult* result, gpointer) {
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
    if (reply == nullptr) {
        g_error_free(error);  // no portal, or no such setting: GTK's settings stay
        return;
    }
    GVariant* value = g_variant_n_children(reply) > 0 ? g_variant_get_child_value(reply, 0) : nullptr;
    if (value != nullptr) {
        Apply(ColorSchemeFromPortal(value));
        g_variant_unref(value);
    }
    g_variant_unref(reply);
}

void OnSettingChanged(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* parameters,
                      gpointer) {
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ssv)"))) return;
    const gchar* ns = nullptr;
    const gchar* key = nullptr;
    GVariant* value = nullptr;
    g_variant_get(parameters, "(&s&sv)", &ns, &key, &value);
    if (std::strcmp(ns, kNamespace) == 0 && std::strcmp(key, kKey) == 0) Apply(ColorSchemeFromPortal(value));
    g_variant_unref(value);
}

void OnBus(GObject*, GAsyncResult* result, gpointer) {
    GError* error = nullptr;
    GDBusConnection* bus = g_bus_get_finish(result, &error);
    if (bus == nullptr) {
        g_error_free(error);
        return;
    }
    // The connection is kept for the program's life: the subscription lives
    // on it.
    g_dbus_connection_signal_subscribe(bus, kPortalName, kSettingsInterface, "SettingChanged", kPortalPath, kNamespace,
                                       G_DBUS_SIGNAL_FLAGS_NONE, OnSettingChanged, nullptr, nullptr);
    g_dbus_connection_call(bus, kPortalName, kPortalPath, kSettingsInterface, "ReadOne",
                           g_variant_new("(ss)", kNamespace, kKey), nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START,
                           kCallTimeoutMs, nullptr, OnRead, nullptr);
}

}  // namespace

ColorScheme ColorSchemeFromPortal(GVariant* value) {
    // Unwrap variants, with a bound so that a hostile nesting cannot run on.
    ColorScheme scheme = ColorScheme::kDefault;
    GVariant* v = value ? g_variant_ref(value) : nullptr;
    for (int depth = 0; v != nullptr && depth < 8; ++depth) {
        if (g_variant_is_of_type(v, G_VARIANT_TYPE_UINT32)) {
            const guint32 n = g_variant_get_uint32(v);
            scheme = n == 1 ? ColorScheme::kPreferDark : n == 2 ? ColorScheme::kPreferLight : ColorScheme::kDefault;
            break;
        }
        if (!g_variant_is_of_type(v, G_VARIANT_TYPE_VARIANT)) break;
        GVariant* inner = g_variant_get_variant(v);
        g_variant_unref(v);
        v = inner;
    }
    if (v != nullptr) g_variant_unref(v);
    return scheme;
}

bool PagesDark(ColorScheme scheme, bool gtk_dark_at_start) {
    switch (scheme) {
        case ColorScheme::kPreferDark: return true;
        case ColorScheme::kPreferLight: return false;
        case ColorScheme::kDefault: break;
    }
    return gtk_dark_at_start;
}

bool PrepareEngineForColorScheme() {
    bool can_follow = false;
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address != nullptr && *address != '\0') {
        if (GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr)) {
            GVariant* reply = g_dbus_connection_call_sync(bus, kPortalName, kPortalPath, kSettingsInterface, "ReadOne",
                                                          g_variant_new("(ss)", kNamespace, kKey), nullptr,
                                                          G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, nullptr);
            if (reply != nullptr) {
                can_follow = true;
                g_variant_unref(reply);
            }
            g_object_unref(bus);
        }
    }
    // An empty value names no device; the engine leaves a set value as it is.
    if (can_follow) setenv("WEBKIT_WEB_RENDER_DEVICE_FILE", "", 0);
    return can_follow;
}

void FollowDesktopColorScheme() {
    if (g_following) return;
    g_following = true;
    // Dark as WebKit judges GTK: the prefer-dark setting, a theme named
    // "...-dark", or GTK_THEME naming a theme's ":dark" variant.
    if (GtkSettings* settings = gtk_settings_get_default()) {
        gboolean dark = FALSE;
        gchar* theme = nullptr;
        g_object_get(settings, "gtk-application-prefer-dark-theme", &dark, "gtk-theme-name", &theme, nullptr);
        const char* env_theme = std::getenv("GTK_THEME");
        g_gtk_dark_at_start = dark != FALSE || (theme != nullptr && EndsWith(theme, "-dark")) ||
                              (env_theme != nullptr && EndsWith(env_theme, ":dark"));
        g_free(theme);
    }
    // Without a session bus address GLib would try to start a bus of its own
    // (X11 autolaunch): nothing to follow then.
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address == nullptr || *address == '\0') return;
    g_bus_get(G_BUS_TYPE_SESSION, nullptr, OnBus, nullptr);
}
