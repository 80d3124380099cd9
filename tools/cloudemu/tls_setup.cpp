#include "tls_setup.h"

#include <arpa/inet.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/rand.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>

#include <cstdio>
#include <memory>

namespace cloudemu {
namespace {

template <typename T, void (*F)(T*)>
struct Deleter {
    void operator()(T* p) const { F(p); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using CertPtr = std::unique_ptr<X509, Deleter<X509, X509_free>>;

std::string OpenSslError() {
    const unsigned long e = ERR_get_error();
    if (!e) return "OpenSSL error";
    char buf[256];
    ERR_error_string_n(e, buf, sizeof buf);
    return buf;
}

bool IsIp(const std::string& host) {
    unsigned char buf[16];
    return inet_pton(AF_INET, host.c_str(), buf) == 1 || inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

KeyPtr NewKey() {
    return KeyPtr(EVP_EC_gen("P-256"));
}

bool AddExt(X509* cert, X509* issuer, int nid, const std::string& value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
    if (!ext) return false;
    const bool ok = X509_add_ext(cert, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    return ok;
}

CertPtr MakeCert(EVP_PKEY* key, const std::string& cn, X509* issuer, EVP_PKEY* issuer_key, bool ca,
                 const std::string& san) {
    CertPtr cert(X509_new());
    if (!cert) return nullptr;
    X509_set_version(cert.get(), 2);
    unsigned char serial[16];
    if (RAND_bytes(serial, sizeof serial) != 1) return nullptr;
    serial[0] &= 0x7F;
    BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
    BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert.get()));
    BN_free(bn);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -86400L);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 3650L * 86400L);
    X509_set_pubkey(cert.get(), key);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("VORTA testbed"), -1, -1,
                               0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(cn.c_str()), -1, -1, 0);
    X509* iss = issuer ? issuer : cert.get();
    X509_set_issuer_name(cert.get(), X509_get_subject_name(iss));
    bool ok = true;
    if (ca) {
        ok = ok && AddExt(cert.get(), iss, NID_basic_constraints, "critical,CA:TRUE");
        ok = ok && AddExt(cert.get(), iss, NID_key_usage, "critical,keyCertSign,cRLSign");
        ok = ok && AddExt(cert.get(), iss, NID_subject_key_identifier, "hash");
    } else {
        ok = ok && AddExt(cert.get(), iss, NID_basic_constraints, "critical,CA:FALSE");
        ok = ok && AddExt(cert.get(), iss, NID_key_usage, "critical,digitalSignature,keyEncipherment");
        ok = ok && AddExt(cert.get(), iss, NID_ext_key_usage, "serverAuth");
        ok = ok && AddExt(cert.get(), iss, NID_subject_key_identifier, "hash");
        ok = ok && AddExt(cert.get(), iss, NID_authority_key_identifier, "keyid:always");
        ok = ok && AddExt(cert.get(), iss, NID_subject_alt_name, san);
    }
    if (!ok) return nullptr;
    if (X509_sign(cert.get(), issuer_key ? issuer_key : key, EVP_sha256()) <= 0) return nullptr;
    return cert;
}

bool WriteKey(const std::string& path, EVP_PKEY* key) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    chmod(path.c_str(), 0600);
    const bool ok = PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
    return std::fclose(f) == 0 && ok;
}

bool WriteCert(const std::string& path, X509* cert) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = PEM_write_X509(f, cert) == 1;
    return std::fclose(f) == 0 && ok;
}

// A key or certificate from a PEM file; null when missing or unreadable.
template <typename Ptr, typename Reader>
Ptr ReadPem(const std::string& path, Reader read) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return nullptr;
    Ptr p(read(f, nullptr, nullptr, nullptr));
    std::fclose(f);
    return p;
}

bool NamesHost(X509* cert, const std::string& host) {
    if (IsIp(host)) return X509_check_ip_asc(cert, host.c_str(), 0) == 1;
    return X509_check_host(cert, host.c_str(), host.size(), 0, nullptr) == 1;
}

}  // namespace

TlsMaterial::~TlsMaterial() {
    X509_free(cert);
    EVP_PKEY_free(key);
}

bool EnsureTls(const std::string& dir, const std::string& host, TlsMaterial& out, std::string& error) {
    const std::string ca_pem = dir + "/ca.pem", ca_key = dir + "/ca.key";
    const std::string srv_pem = dir + "/server.pem", srv_key = dir + "/server.key";
    CertPtr ca = ReadPem<CertPtr>(ca_pem, PEM_read_X509);
    KeyPtr ca_k = ReadPem<KeyPtr>(ca_key, PEM_read_PrivateKey);
    bool new_ca = false;
    if (!ca || !ca_k || X509_check_private_key(ca.get(), ca_k.get()) != 1) {
        ca_k = NewKey();
        if (!ca_k) {
            error = "CA key: " + OpenSslError();
            return false;
        }
        ca = MakeCert(ca_k.get(), "VORTA testbed CA", nullptr, nullptr, true, "");
        if (!ca || !WriteKey(ca_key, ca_k.get()) || !WriteCert(ca_pem, ca.get())) {
            error = "CA certificate: " + OpenSslError();
            return false;
        }
        new_ca = true;
    }
    CertPtr srv = ReadPem<CertPtr>(srv_pem, PEM_read_X509);
    KeyPtr srv_k = ReadPem<KeyPtr>(srv_key, PEM_read_PrivateKey);
    const bool usable = srv && srv_k && !new_ca && X509_check_private_key(srv.get(), srv_k.get()) == 1 &&
                        NamesHost(srv.get(), host) && NamesHost(srv.get(), "127.0.0.1") &&
                        X509_verify(srv.get(), ca_k.get()) == 1;
    if (!usable) {
        srv_k = NewKey();
        std::string san = "IP:127.0.0.1,DNS:localhost";
        if (host != "127.0.0.1" && host != "localhost") san += (IsIp(host) ? ",IP:" : ",DNS:") + host;
        srv = srv_k ? MakeCert(srv_k.get(), host, ca.get(), ca_k.get(), false, san) : nullptr;
        if (!srv || !WriteKey(srv_key, srv_k.get()) || !WriteCert(srv_pem, srv.get())) {
            error = "server certificate: " + OpenSslError();
            return false;
        }
    }
    out.cert = srv.release();
    out.key = srv_k.release();
    return true;
}

}  // namespace cloudemu
