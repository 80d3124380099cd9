// The emulated cloud service: every REST endpoint the program calls, the
// update files, the sign-in stand-ins and the test-control API, on one HTTPS
// server.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "divesites.h"
#include "images.h"
#include "store.h"
#include "sync_plan.h"
#include "tls_setup.h"

namespace httplib {
class Server;
class SSLServer;
struct Request;
struct Response;
}  // namespace httplib

namespace cloudemu {

struct Options {
    std::string data_dir;
    std::string host = "127.0.0.1";
    int port = 8443;
    uint32_t seed = 1;
    SyncPlan sync_plan = SyncPlan::kLogs;
    std::string firmware_version = "1026";
    // The OAuth stand-in's page presses "allow" or "deny" by itself; "" waits
    // for the user. "wrong_state" allows but echoes another state;
    // "hostile" sends the browser through hostile pages (HostilePage).
    std::string oauth_auto;
    // "profile_image_path" of the sign-in answers; "" for the emulator's own
    // avatar address.
    std::string profile_image;
};

// A fault armed through /_testbed/fault.
struct Fault {
    // Also http_files, http_redirect and oversize (the update faults).
    std::string kind;    // not_json, no_code, code, slow, drop, close, not_found, short, truncate
    std::string prefix;  // matched against the request target ("/api/...?..."); empty: any
    std::string verb;    // only requests of this method ("PATCH"); empty: any
    int skip = 0;        // matching requests still to answer normally first
    int count = 1;       // answers still to spoil; -1 until reset
    int delay_ms = 0;
    std::string code = "0000001";
};

class Emulator {
public:
    explicit Emulator(Options opt);
    ~Emulator();

    // Makes the certificates and the store (seeding the demo account on first
    // run) and binds the listening socket. False with a reason on failure.
    bool Prepare(std::string& error);
    // Serves until Stop(). Call after a successful Prepare.
    bool Run();
    void Stop();

    // Exposed for the handshake counter of the TLS layer.
    void CountHandshake();

private:
    void Handle(const httplib::Request& req, httplib::Response& res);
    void HandleControl(const httplib::Request& req, httplib::Response& res);
    void Dispatch(const httplib::Request& req, httplib::Response& res);
    bool TakeFault(const std::string& verb, const std::string& target, Fault& out);
    // The faults of the update offers and files ("not_found", "short",
    // "truncate", "http_files", "http_redirect", "oversize"); false for
    // another kind.
    bool UpdateFault(const std::string& kind, const httplib::Request& req, httplib::Response& res);
    // "http://<host>:<port>" of the plain-http file host.
    std::string PlainBaseUrl() const;
    void Record(const httplib::Request& req);
    std::string BaseUrl(const httplib::Request& req) const;
    bool Authenticate(const httplib::Request& req, httplib::Response& res, std::string& user_id);

    // Opens a session for `u` and answers with its token and the user.
    void StartSession(const httplib::Request& req, httplib::Response& res, const User& u);
    void Login(const httplib::Request& req, httplib::Response& res);
    void SocialLogin(const httplib::Request& req, httplib::Response& res);
    void CalendarMonth(const httplib::Request& req, httplib::Response& res);
    void CalendarDate(const httplib::Request& req, httplib::Response& res);
    void DiveLog(const httplib::Request& req, httplib::Response& res, const std::string& id);
    void PatchDiveLog(const httplib::Request& req, httplib::Response& res, const std::string& id);
    void Statistics(const httplib::Request& req, httplib::Response& res, const std::string& user);
    void SearchSites(const httplib::Request& req, httplib::Response& res);
    void HeaderInfo(const httplib::Request& req, httplib::Response& res);
    void DevicePost(const httplib::Request& req, httplib::Response& res, int api, const std::string& command);
    void FirmwareOffer(const httplib::Request& req, httplib::Response& res);
    void SiteDatabaseOffer(const httplib::Request& req, httplib::Response& res);
    void StaticFile(const httplib::Request& req, httplib::Response& res);
    void OAuthDialog(const httplib::Request& req, httplib::Response& res);
    void OAuthGrant(const httplib::Request& req, httplib::Response& res);
    void GraphMe(const httplib::Request& req, httplib::Response& res);
    void HostilePage(const httplib::Request& req, httplib::Response& res);
    void SeedIfNeeded();

    Options opt_;
    TlsMaterial tls_;
    Store store_;
    DiveSiteDirectory sites_;
    std::unique_ptr<httplib::SSLServer> server_;
    // The update files again over plain http, on a port of the system's
    // choosing: the host a hostile offer or redirect points at.
    std::unique_ptr<httplib::Server> plain_;
    int plain_port_ = 0;

    std::string avatar_;
    std::vector<UpdateFile> firmware_;
    std::vector<UpdateFile> site_db_;

    std::mutex mu_;  // guards the fields below
    std::vector<Fault> faults_;
    std::deque<std::string> log_;  // JSON text of each request
    size_t log_bytes_ = 0;
    std::map<std::string, std::string> fb_tokens_;  // access token -> Facebook id
    std::map<std::string, uint32_t> bulk_posts_;    // user -> first-list posts since headerInfo (bulk plan)
    std::atomic<long> handshakes_{0};
    std::atomic<long> requests_{0};
    std::atomic<long> plain_requests_{0};      // served by the plain-http file host
    std::atomic<long long> oversize_sent_{0};  // bytes handed out by "oversize" answers
};

}  // namespace cloudemu
