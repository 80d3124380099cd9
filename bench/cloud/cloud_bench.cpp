// Sequential requests on one HttpPost: how many TLS handshakes the server
// sees, and how much time the client adds to each request beyond what the
// server and the transport take.
//
// The server is the cloud emulator when its program is built (handshakes
// counted by the emulator), else an HTTPS server inside this program. The
// transport baseline is a bare OpenSSL client sending the same request on one
// kept connection; the client's overhead is its median time per request minus
// the baseline's median.
#include "base/json_safe.h"
#include "bench/support/bench_support.h"
#include "cloud/http_post.h"
#include "tests/support/cloudemu_process.h"
#include "tests/cloud/tls_test_server.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <arpa/inet.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using vorta_bench::Clock;
using vorta_bench::Median;
using vorta_bench::Ms;
constexpr int kRequests = 100;

// One kept TLS connection written and read by hand: the time the server and
// the transport need for a request, without an HTTP library on this side.
class RawClient {
public:
    bool Connect(const std::string& host, int port, const std::string& ca) {
        host_ = host;
        port_ = port;
        ctx_ = SSL_CTX_new(TLS_client_method());
        if (!ctx_ || SSL_CTX_load_verify_locations(ctx_, ca.c_str(), nullptr) != 1) return false;
        SSL_CTX_set_verify(ctx_, SSL_VERIFY_PEER, nullptr);
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(port));
        inet_pton(AF_INET, host.c_str(), &addr.sin_addr);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return false;
        int one = 1;
        setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        ssl_ = SSL_new(ctx_);
        SSL_set_fd(ssl_, fd_);
        return SSL_connect(ssl_) == 1;
    }
    ~RawClient() {
        if (ssl_) SSL_free(ssl_);
        if (fd_ >= 0) ::close(fd_);
        if (ctx_) SSL_CTX_free(ctx_);
    }
    // Sends a GET and reads the whole answer (Content-Length framing).
    bool Get(const std::string& path) {
        const std::string req = "GET /" + path + " HTTP/1.1\r\nHost: " + host_ + ":" + std::to_string(port_) +
                                "\r\nUser-Agent: raw\r\nAccept: application/json\r\n"
                                "Content-Type: application/x-www-form-urlencoded\r\n\r\n";
        if (SSL_write(ssl_, req.data(), static_cast<int>(req.size())) <= 0) return false;
        std::string in;
        char buf[16384];
        size_t header_end = std::string::npos, want = 0;
        while (true) {
            if (header_end == std::string::npos) {
                header_end = in.find("\r\n\r\n");
                if (header_end != std::string::npos) {
                    std::string head = in.substr(0, header_end);
                    std::transform(head.begin(), head.end(), head.begin(), ::tolower);
                    const size_t cl = head.find("content-length:");
                    if (cl == std::string::npos) return false;
                    want = header_end + 4 + std::strtoul(head.c_str() + cl + 15, nullptr, 10);
                }
            }
            if (header_end != std::string::npos && in.size() >= want) return true;
            const int n = SSL_read(ssl_, buf, sizeof buf);
            if (n <= 0) return false;
            in.append(buf, static_cast<size_t>(n));
        }
    }

private:
    std::string host_;
    int port_ = 0;
    SSL_CTX* ctx_ = nullptr;
    SSL* ssl_ = nullptr;
    int fd_ = -1;
};

struct Figures {
    double client_ms = 0, raw_ms = 0, first_ms = 0;
    int ok = 0;
};

// 100 requests on one HttpPost; the first carries the TLS handshake.
void MeasureClient(Figures& f, const std::string& host, int port, const std::string& ca, const std::string& path) {
    HttpOptions options = HttpOptions::FromConfig();
    options.ca_file = ca;
    HttpPost http(options);
    if (!http.connect(host, port)) return;
    std::vector<double> times;
    for (int i = 0; i < kRequests; ++i) {
        const auto t0 = Clock::now();
        const std::string body = http.request(nullptr, 0, 0, "GET", path, "");
        const double ms = Ms(Clock::now() - t0);
        if (i == 0) f.first_ms = ms;
        else times.push_back(ms);
        f.ok += !body.empty();
    }
    f.client_ms = Median(times);
}

// The same requests by hand on one kept TLS connection.
void MeasureRaw(Figures& f, const std::string& host, int port, const std::string& ca, const std::string& path) {
    RawClient raw;
    std::vector<double> raw_times;
    if (raw.Connect(host, port, ca)) {
        raw.Get(path);  // warm-up
        for (int i = 1; i < kRequests; ++i) {
            const auto t0 = Clock::now();
            if (!raw.Get(path)) break;
            raw_times.push_back(Ms(Clock::now() - t0));
        }
    }
    f.raw_ms = Median(raw_times);
}

void Print(const char* server, const Figures& f, long handshakes, double server_ms) {
    std::printf("server: %s\n", server);
    std::printf("requests on one HttpPost:        %d (%d with a body)\n", kRequests, f.ok);
    std::printf("TLS handshakes seen by server:   %ld (goal 1)\n", handshakes);
    std::printf("first request (with handshake):  %.3f ms\n", f.first_ms);
    std::printf("median per request, HttpPost:    %.3f ms\n", f.client_ms);
    std::printf("median per request, bare TLS:    %.3f ms\n", f.raw_ms);
    if (server_ms >= 0) std::printf("median server handler time:      %.3f ms\n", server_ms);
    std::printf("median client overhead:          %.3f ms (goal <= 1 ms)\n", f.client_ms - f.raw_ms);
}

int RunAgainstEmulator() {
    vorta_test::CloudEmuProcess emu;
    if (!vorta_bench::StartCloud(emu)) return 1;
    const std::string host = emu.host();
    const std::string ca = emu.ca_file();
    const std::string path = "api/v1/devices/firmwareUpdate?model=K7";
    HttpOptions options = HttpOptions::FromConfig();
    options.ca_file = ca;
    {
        HttpPost reset(options);
        reset.connect(host, 8443);
        reset.request("", 0, 1, "POST", "_testbed/reset", "");
    }
    auto stats = [&] {
        HttpPost probe(options);
        probe.connect(host, 8443);
        Json::Value v;
        if (!json_safe::Parse(probe.request(nullptr, 0, 0, "GET", "_testbed/stats", ""), v)) return -1L;
        return static_cast<long>(json_safe::Int(v, "handshakes"));
    };
    // Control requests are not counted by the emulator; after the reset only
    // the HttpPost's connections count.
    Figures f;
    MeasureClient(f, host, 8443, ca, path);
    const long handshakes = stats();
    MeasureRaw(f, host, 8443, ca, path);
    Print("cloud emulator", f, handshakes, -1);
    return 0;
}

int RunAgainstInBenchServer() {
    TestPki pki;
    if (!pki.ok()) {
        std::printf("openssl tool failed\n");
        return 1;
    }
    TlsTestServer server(pki.cert(), pki.key());
    std::mutex mu;
    std::vector<double> handler_ms;
    const std::string answer =
        "{\"code\":\"0000000\",\"message\":\"ok\",\"response\":{\"model\":\"K7\",\"version\":\"1.025\",\"url\":\"https:"
        "//"
        "127.0.0.1:8443/files/k7-1025.bin\",\"size\":524288}}";
    server.http().Get("/api/v1/devices/firmwareUpdate", [&](const httplib::Request&, httplib::Response& res) {
        const auto t0 = Clock::now();
        res.set_content(answer, "application/json");
        std::lock_guard<std::mutex> lock(mu);
        handler_ms.push_back(Ms(Clock::now() - t0));
    });
    const int port = server.Start();
    if (port <= 0) return 1;
    Figures f;
    const std::string path = "api/v1/devices/firmwareUpdate?model=K7";
    MeasureClient(f, "127.0.0.1", port, pki.ca(), path);
    const long handshakes = server.Handshakes();
    MeasureRaw(f, "127.0.0.1", port, pki.ca(), path);
    std::lock_guard<std::mutex> lock(mu);
    Print("in-bench HTTPS server (cpp-httplib)", f, handshakes, Median(handler_ms));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const bool have_emulator = access(VORTA_BIN_DIR "/vorta-cloudemu", X_OK) == 0;
    bool in_bench = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--in-bench-server") == 0) in_bench = true;
    }
    if (!in_bench && have_emulator) return RunAgainstEmulator();
    return RunAgainstInBenchServer();
}
