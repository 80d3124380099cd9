#include "ui_engine/tls_trust.h"

#include <gio/gio.h>
#include <webkit2/webkit2.h>

#include <memory>

#include "base/paths.h"
#include "ui_engine/engine_internal.h"

namespace ui {

namespace {

struct TrustJob {
    std::string host;
    int port = 0;
    GTlsDatabase* database = nullptr;
    GSocketConnection* tcp = nullptr;
    GIOStream* tls = nullptr;
    std::function<void(bool)> done;

    ~TrustJob() {
        if (tls) g_object_unref(tls);
        if (tcp) g_object_unref(tcp);
        if (database) g_object_unref(database);
    }
};

void Finish(TrustJob* job, bool trusted) {
    if (job->tls) g_io_stream_close(job->tls, nullptr, nullptr);
    if (job->done) job->done(trusted);
    delete job;
}

void OnHandshake(GObject* source, GAsyncResult* result, gpointer data) {
    auto* job = static_cast<TrustJob*>(data);
    GError* error = nullptr;
    // The connection validates the peer against job->database alone, and the
    // server identity, so a successful handshake means the certificate chains
    // to the configured CA and names this host.
    if (!g_tls_connection_handshake_finish(G_TLS_CONNECTION(source), result, &error)) {
        g_clear_error(&error);
        Finish(job, false);
        return;
    }
    GTlsCertificate* peer = g_tls_connection_get_peer_certificate(G_TLS_CONNECTION(source));
    if (!peer || !detail::Context()) {
        Finish(job, false);
        return;
    }
    webkit_web_context_allow_tls_certificate_for_host(detail::Context(), peer, job->host.c_str());
    Finish(job, true);
}

void OnConnected(GObject* source, GAsyncResult* result, gpointer data) {
    auto* job = static_cast<TrustJob*>(data);
    GError* error = nullptr;
    job->tcp = g_socket_client_connect_to_host_finish(G_SOCKET_CLIENT(source), result, &error);
    g_object_unref(source);
    if (!job->tcp) {
        g_clear_error(&error);
        Finish(job, false);
        return;
    }
    GSocketConnectable* identity = g_network_address_new(job->host.c_str(), static_cast<guint16>(job->port));
    job->tls = g_tls_client_connection_new(G_IO_STREAM(job->tcp), identity, &error);
    g_object_unref(identity);
    if (!job->tls) {
        g_clear_error(&error);
        Finish(job, false);
        return;
    }
    g_tls_connection_set_database(G_TLS_CONNECTION(job->tls), job->database);
    g_tls_connection_handshake_async(G_TLS_CONNECTION(job->tls), G_PRIORITY_DEFAULT, nullptr, OnHandshake, job);
}

}  // namespace

void TrustServerCertificate(const std::string& host, int port, const std::string& ca_file,
                            std::function<void(bool)> done) {
    auto* job = new TrustJob;
    job->host = host;
    job->port = port;
    job->done = std::move(done);
    GError* error = nullptr;
    // The CA file is read right here on the UI thread (see UsableCaFile).
    if (host.empty() || !UsableCaFile(ca_file) || port <= 0 || port > 65535 ||
        !(job->database = g_tls_file_database_new(ca_file.c_str(), &error))) {
        g_clear_error(&error);
        Finish(job, false);
        return;
    }
    GSocketClient* client = g_socket_client_new();
    g_socket_client_set_timeout(client, 5);
    g_socket_client_connect_to_host_async(client, host.c_str(), static_cast<guint16>(port), nullptr, OnConnected, job);
}

bool TrustServerCertificateAndWait(const std::string& host, int port, const std::string& ca_file, int timeout_ms) {
    // Shared with the callback, which may come after the time-out.
    auto result = std::make_shared<int>(-1);
    TrustServerCertificate(host, port, ca_file, [result](bool ok) { *result = ok ? 1 : 0; });
    // Page events and posted work are held back meanwhile: nothing on a page
    // acts while the caller is still inside its own handling.
    detail::BeginWait();
    RunLoopUntil([result] { return *result >= 0; }, timeout_ms);
    detail::EndWait();
    return *result == 1;
}

}  // namespace ui
