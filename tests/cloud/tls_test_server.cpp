#include "tests/cloud/tls_test_server.h"

#include <openssl/ssl.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

bool Run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

}  // namespace

std::string MakeTempDir(const char* tag) {
    std::string pattern = (std::filesystem::temp_directory_path() / (std::string("vorta-") + tag + "-XXXXXX")).string();
    if (!mkdtemp(&pattern[0])) return std::string();
    return pattern;
}

void RemoveTree(const std::string& dir) {
    std::error_code ec;
    if (!dir.empty()) std::filesystem::remove_all(dir, ec);
}

TestPki::TestPki(const std::string& san) : dir_(MakeTempDir("pki")) {
    if (dir_.empty()) return;
    const std::string d = dir_ + "/";
    {
        std::ofstream ext(d + "leaf.ext");
        ext << "subjectAltName=" << san << "\n"
            << "basicConstraints=CA:FALSE\n"
            << "keyUsage=digitalSignature\n"
            << "extendedKeyUsage=serverAuth\n";
    }
    const std::string ec = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    ok_ = Run("openssl req -x509" + ec + " -keyout " + d + "ca.key -out " + d +
              "ca.pem -days 2 -subj /CN=vorta-test-ca-" + dir_.substr(dir_.rfind('-') + 1) +
              " -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign") &&
          Run("openssl req -new" + ec + " -keyout " + d + "server.key -out " + d + "server.csr -subj /CN=vorta-test") &&
          Run("openssl x509 -req -in " + d + "server.csr -CA " + d + "ca.pem -CAkey " + d +
              "ca.key -CAcreateserial -out " + d + "server.pem -days 2 -extfile " + d + "leaf.ext");
}

TestPki::~TestPki() {
    RemoveTree(dir_);
}

std::string TestPki::MakeHashedCaDir() const {
    const std::string cadir = dir_ + "/cadir";
    std::filesystem::create_directories(cadir);
    std::error_code ec;
    std::filesystem::copy_file(ca(), cadir + "/test-ca.pem", ec);
    Run("openssl rehash " + cadir);
    return cadir;
}

TlsTestServer::TlsTestServer(const std::string& cert, const std::string& key)
    : server_(std::make_unique<httplib::SSLServer>(cert.c_str(), key.c_str())) {
    // One connection serves every request of a client, as the cloud client expects.
    server_->set_keep_alive_max_count(100000);
    server_->set_keep_alive_timeout(30);
    // Headers and body go out as separate writes; without this each answer
    // waits for the client's delayed acknowledgement.
    server_->set_tcp_nodelay(true);
}

TlsTestServer::~TlsTestServer() {
    Stop();
}

int TlsTestServer::Start() {
    if (!server_->is_valid()) return -1;
    const int port = server_->bind_to_any_port("127.0.0.1");
    if (port <= 0) return -1;
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    // stop() only takes effect once the accept loop runs.
    while (!server_->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return port;
}

void TlsTestServer::Stop() {
    if (thread_.joinable()) {
        server_->stop();
        thread_.join();
    }
}

long TlsTestServer::Handshakes() const {
    return SSL_CTX_sess_accept(server_->ssl_context());
}
