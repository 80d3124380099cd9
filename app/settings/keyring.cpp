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
// After a cancellation, how long the call may take to report it before it
// is abandoned (a hung service may never answer the cancellation either).
constexpr int kCancelGraceMs = 2000;

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

// One asynchronous libsecret call, waited for on a main context of this
// thread's own until it reports or its deadline passes; then it is
// cancelled. The state lives on the heap and belongs to whichever of the
// waiter and the call finishes last, so a call abandoned after the grace
// period may still report later without harm.
class BoundedCall {
public:
    explicit BoundedCall(gint64 deadline) : deadline_(deadline) {
        state_ = new State;
        state_->context = g_main_context_new();
        state_->cancellable = g_cancellable_new();
        g_main_context_push_thread_default(state_->context);
    }
    ~BoundedCall() {
        g_main_context_pop_thread_default(state_->context);
        Release(state_);
    }
    BoundedCall(const BoundedCall&) = delete;
    BoundedCall& operator=(const BoundedCall&) = delete;

    GCancellable* cancellable() const { return state_->cancellable; }
    GAsyncReadyCallback callback() const { return &Done; }
    gpointer data() const {
        ++state_->refs;
        return state_;
    }

    // The call's result once it has reported; nullptr when it did not within
    // the deadline and the grace period after its cancellation.
    GAsyncResult* Wait() {
        if (!Iterate(deadline_)) {
            g_cancellable_cancel(state_->cancellable);
            Iterate(g_get_monotonic_time() + gint64(kCancelGraceMs) * 1000);
        }
        return state_->result;
    }

private:
    struct State {
        int refs = 1;
        GMainContext* context = nullptr;
        GCancellable* cancellable = nullptr;
        GAsyncResult* result = nullptr;
    };

    static void Release(State* s) {
        if (--s->refs > 0) return;
        if (s->result) g_object_unref(s->result);
        g_object_unref(s->cancellable);
        g_main_context_unref(s->context);
        delete s;
    }
    static void Done(GObject*, GAsyncResult* result, gpointer data) {
        auto* s = static_cast<State*>(data);
        if (!s->result) s->result = G_ASYNC_RESULT(g_object_ref(result));
        Release(s);
    }
    static gboolean Expired(gpointer flag) {
        *static_cast<bool*>(flag) = true;
        return G_SOURCE_REMOVE;
    }
    // Runs the context until the call reported (true) or `until` passed.
    bool Iterate(gint64 until) {
        gint64 left_ms = (until - g_get_monotonic_time()) / 1000;
        if (state_->result) return true;
        if (left_ms <= 0) return false;
        bool expired = false;
        GSource* timer = g_timeout_source_new(static_cast<guint>(left_ms));
        g_source_set_callback(timer, Expired, &expired, nullptr);
        g_source_attach(timer, state_->context);
        while (!state_->result && !expired) g_main_context_iteration(state_->context, TRUE);
        g_source_destroy(timer);
        g_source_unref(timer);
        return state_->result != nullptr;
    }

    gint64 deadline_;
    State* state_;
};

gint64 DeadlineIn(int timeout_ms) {
    return g_get_monotonic_time() + gint64(timeout_ms > 0 ? timeout_ms : 0) * 1000;
}

bool StoreOne(const char* key, const std::string& value, const char* label, gint64 deadline) {
    BoundedCall call(deadline);
    if (value.empty()) {
        secret_password_clear(Schema(), call.cancellable(), call.callback(), call.data(), "key", key, nullptr);
    } else {
        secret_password_store(Schema(), SECRET_COLLECTION_DEFAULT, label, value.c_str(), call.cancellable(),
                              call.callback(), call.data(), "key", key, nullptr);
    }
    GAsyncResult* result = call.Wait();
    if (!result) return false;
    GError* error = nullptr;
    gboolean ok = value.empty() ? (secret_password_clear_finish(result, &error), error == nullptr)
                                : secret_password_store_finish(result, &error);
    if (error) g_error_free(error);
    return ok;
}

bool LoadOne(const char* key, std::string& value, gint64 deadline) {
    value.clear();
    BoundedCall call(deadline);
    secret_password_lookup(Schema(), call.cancellable(), call.callback(), call.data(), "key", key, nullptr);
    GAsyncResult* result = call.Wait();
    if (!result) return false;
    GError* error = nullptr;
    gchar* secret = secret_password_lookup_finish(result, &error);
    if (secret) {
        value = secret;
        secret_password_free(secret);
    }
    if (error) {
        g_error_free(error);
        value.clear();
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

bool Store(const std::string& password, const std::string& token, int timeout_ms) {
    const gint64 deadline = DeadlineIn(timeout_ms);
    // The token is not offered to a keyring that refused the password: one
    // refusal (a locked keyring) is enough waiting.
    return StoreOne("p", password, "VORTA PC TOOL password", deadline) &&
           StoreOne("t", token, "VORTA PC TOOL sign-in token", deadline);
}

bool Load(std::string& password, std::string& token, int timeout_ms) {
    const gint64 deadline = DeadlineIn(timeout_ms);
    token.clear();
    if (LoadOne("p", password, deadline) && LoadOne("t", token, deadline)) return true;
    password.clear();
    token.clear();
    return false;
}

}  // namespace keyring
