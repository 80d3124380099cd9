// Starts and drives one vorta-cloudemu process for a test: its own temporary
// data folder and loopback address, the control API over HTTPS (libcurl),
// and a stop that always happens (destructor).
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace vorta_test {

struct CloudFault {
    // Also "http_files", "http_redirect" and "oversize" (tools/cloudemu/README.md).
    std::string kind;  // "not_json", "no_code", "code", "slow", "drop", "close", "not_found", "short" or "truncate"
    std::string path;  // prefix of the request target to spoil ("" = any), e.g. "/api/v1/users/login"
    int count = 1;     // answers to spoil; -1 until Reset
    int delay_ms = 0;  // for "slow"
    std::string code = "0000001";  // for "code"
    int skip = 0;                  // matching requests answered normally before the fault applies
    std::string verb;              // only requests of this method, e.g. "PATCH" ("" = any)
};

struct CloudRequest {
    std::string verb;                            // "GET", "POST", "PATCH"
    std::string path;                            // target with query, e.g. "/api/v1/devices/headerInfo?model=K7&..."
    std::map<std::string, std::string> headers;  // as sent (names as the client spelled them)
    std::string body;                            // raw bytes
    // Header value by case-insensitive name, "" when absent.
    std::string Header(const std::string& name) const;
};

struct CloudStats {
    long handshakes = -1;          // completed TLS handshakes of non-control connections since start/Reset
    long requests = -1;            // non-control requests since start/Reset
    long plain_requests = -1;      // requests to the plain-http file host since start/Reset
    long long oversize_sent = -1;  // bytes "oversize" answers handed out since start/Reset
};

struct CloudReply {
    bool sent = false;  // false when the transfer failed (no connection, TLS error, dropped)
    long status = 0;
    std::string body;
};

class CloudEmuProcess {
public:
    // host: loopback address to listen on; "" picks a free 127.x.y.z address.
    // extra_args: further command-line options, e.g. {"--sync-plan", "bulk"}.
    explicit CloudEmuProcess(std::string host = "", std::vector<std::string> extra_args = {});
    ~CloudEmuProcess();
    CloudEmuProcess(const CloudEmuProcess&) = delete;
    CloudEmuProcess& operator=(const CloudEmuProcess&) = delete;

    // Starts the emulator and waits (at most 30 s) for its READY line. With an
    // automatic host, retries other addresses when one is taken.
    bool Start();
    // SIGTERM, then waits for exit (SIGKILL after 10 s). Keeps the data folder
    // until destruction, so a second Start() finds the same store.
    void Stop();
    bool running() const { return pid_ > 0; }

    const std::string& host() const { return host_; }  // e.g. "127.0.0.7"
    int port() const { return 8443; }
    std::string base_url() const;  // "https://<host>:8443"
    std::string ca_file() const;   // <data>/ca.pem
    const std::string& data_dir() const { return dir_; }

    // Control API.
    bool SetFault(const CloudFault& fault);
    bool Reset();
    std::vector<CloudRequest> Log();
    CloudStats Stats();

    // A plain request to the emulator, trusting its CA (path starts with "/").
    CloudReply Call(const std::string& verb, const std::string& path, const std::string& body = "",
                    const std::vector<std::string>& headers = {});
    // Signs in the demo account ("demo@vorta.example" / "vorta-demo"); the token or "".
    std::string DemoToken();

    static constexpr const char* kDemoEmail = "demo@vorta.example";
    static constexpr const char* kDemoPassword = "vorta-demo";
    static constexpr const char* kDemoUserId = "1001";

private:
    bool StartOn(const std::string& host, std::string& why);

    std::string requested_host_;
    std::vector<std::string> extra_args_;
    std::string host_;
    std::string dir_;
    pid_t pid_ = -1;
    int out_fd_ = -1;
};

// Standard base64 text decoded; characters outside the alphabet (padding)
// are skipped.
std::string Base64Decode(const std::string& in);

}  // namespace vorta_test
