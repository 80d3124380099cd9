// The emulator's own certificate authority and server certificate, made with
// the OpenSSL API on first run and kept in the data folder.
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <string>

namespace cloudemu {

struct TlsMaterial {
    X509* cert = nullptr;     // server certificate
    EVP_PKEY* key = nullptr;  // its private key
    TlsMaterial() = default;
    TlsMaterial(const TlsMaterial&) = delete;
    TlsMaterial& operator=(const TlsMaterial&) = delete;
    ~TlsMaterial();
};

// Loads DIR/ca.pem + ca.key (making them when missing) and DIR/server.pem +
// server.key, remaking the server certificate when it does not name `host`.
// The server certificate's names: IP `host`, IP 127.0.0.1, DNS localhost
// (and DNS `host` when it is a name). EC P-256 keys, valid for ten years.
bool EnsureTls(const std::string& dir, const std::string& host, TlsMaterial& out, std::string& error);

}  // namespace cloudemu
