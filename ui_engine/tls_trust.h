// Pages from the cloud's host (the social sign-in's provider pages in a
// private cloud or the testbed) are shown by the web engine. When the
// configuration names an extra CA file, the engine knows nothing of it and
// would refuse those pages. TrustServerCertificate fetches the host's certificate over TLS,
// verifies it against that CA file and the host name, and only then tells the
// engine to accept exactly that certificate for that host. Everything else
// keeps the engine's own verification.
#pragma once

#include <functional>
#include <string>

namespace ui {

// Asynchronous, on the UI thread; `done` (optional) is called on the UI thread
// with whether the certificate is accepted. The engine hands the acceptance to
// its network process on a channel of its own, so a load started in the same
// instant may still be refused; pictures shown after sign-in come far later.
// Does nothing (done(false))
// when `ca_file` is empty, unreadable or not a regular file, or the host cannot be reached or its
// certificate does not verify against `ca_file`.
void TrustServerCertificate(const std::string& host, int port, const std::string& ca_file,
                            std::function<void(bool)> done = nullptr);

// TrustServerCertificate, answered before returning: runs the main loop until
// the answer or `timeout_ms`, holding back page events and posted work
// meanwhile. True when the certificate is accepted.
bool TrustServerCertificateAndWait(const std::string& host, int port, const std::string& ca_file, int timeout_ms);

}  // namespace ui
