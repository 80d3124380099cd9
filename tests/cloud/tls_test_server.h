// A small HTTPS server for the cloud client's tests and benchmark: its own
// CA and certificates made with the openssl tool in a temporary folder, a
// cpp-httplib server on 127.0.0.1 with a free port, and a count of the TLS
// handshakes it accepted.
#pragma once

#include <httplib.h>

#include <memory>
#include <string>
#include <thread>

// A temporary folder holding a CA ("ca.pem") and a server certificate signed
// by it ("server.pem", "server.key") for the given subjectAltName.
class TestPki {
public:
    explicit TestPki(const std::string& san = "IP:127.0.0.1,DNS:localhost");
    ~TestPki();
    bool ok() const { return ok_; }
    const std::string& dir() const { return dir_; }
    std::string ca() const { return dir_ + "/ca.pem"; }
    std::string cert() const { return dir_ + "/server.pem"; }
    std::string key() const { return dir_ + "/server.key"; }
    // A folder with the CA under its hash name, as a system CA folder holds it.
    std::string MakeHashedCaDir() const;

private:
    std::string dir_;
    bool ok_ = false;
};

class TlsTestServer {
public:
    TlsTestServer(const std::string& cert, const std::string& key);
    ~TlsTestServer();

    httplib::SSLServer& http() { return *server_; }
    // Listens on 127.0.0.1 at a free port; returns the port, or -1.
    int Start();
    void Stop();
    // TLS handshakes the server has begun since it started.
    long Handshakes() const;

private:
    std::unique_ptr<httplib::SSLServer> server_;
    std::thread thread_;
};

// A fresh empty temporary folder.
std::string MakeTempDir(const char* tag);
void RemoveTree(const std::string& dir);
