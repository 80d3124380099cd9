#include "app/settings/keyring.h"

#include <libsecret/secret.h>
#include <sys/stat.h>

#include <cstdlib>

namespace keyring {

namespace {

const SecretSchema* Schema() {
    static const SecretSchema schema = {
        "com.vorta.pc-tool.SignIn",
        SECRET_SCHEMA_NONE,
        {{"key", SECRET_SCHEMA_ATTRIBUTE_STRING}, {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}}};
    return &schema;
}

constexpr int kCallTimeoutMs = 3000;

// A session bus is there to connect to without starting one: GLib would
// otherwise launch a bus of its own for an X display.
bool SessionBusExists() {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address != nullptr) return address[0] != '\0';
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || runtime[0] == '\0') return false;
    struct stat st;
    return ::stat((std::string(runtime) + "/bus").c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

bool StoreOne(const char* key, const std::string& value, const char* label) {
    GError* error = nullptr;
    gboolean ok = value.empty()
                      ? (secret_password_clear_sync(Schema(), nullptr, &error, "key", key, nullptr), error == nullptr)
                      : secret_password_store_sync(Schema(), SECRET_COLLECTION_DEFAULT, label, value.c_str(), nullptr,
                                                   &error, "key", key, nullptr);
    if (error) g_error_free(error);
    return ok;
}

bool LoadOne(const char* key, std::string& value) {
    GError* error = nullptr;
    gchar* secret = secret_password_lookup_sync(Schema(), nullptr, &error, "key", key, nullptr);
    value = secret ? secret : "";
    if (secret) secret_password_free(secret);
    if (error) {
        g_error_free(error);
        return false;
    }
    return true;
}

}  // namespace

bool Available() {
    if (!SessionBusExists()) return false;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (bus == nullptr) return false;
    // The shared connection would end the program if the bus went away.
    g_dbus_connection_set_exit_on_close(bus, FALSE);
    GVariant* reply = g_dbus_connection_call_sync(
        bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
        g_variant_new("(s)", "org.freedesktop.secrets"), G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NO_AUTO_START,
        kCallTimeoutMs, nullptr, nullptr);
    gboolean owned = FALSE;
    if (reply) {
        g_variant_get(reply, "(b)", &owned);
        g_variant_unref(reply);
    }
    g_object_unref(bus);
    return owned;
}

bool Store(const std::string& password, const std::string& token) {
    const bool p = StoreOne("p", password, "VORTA PC TOOL password");
    const bool t = StoreOne("t", token, "VORTA PC TOOL sign-in token");
    return p && t;
}

bool Load(std::string& password, std::string& token) {
    const bool p = LoadOne("p", password);
    const bool t = LoadOne("t", token);
    return p && t;
}

}  // namespace keyring
