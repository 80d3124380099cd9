// Pages show pictures that the cloud serves (the user's profile picture).
// When the configuration names an extra CA file (a private cloud, or the
// testbed), the web engine knows nothing of it and would refuse those
// pictures. TrustServerCertificate fetches the host's certificate over TLS,
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

}  // namespace ui
