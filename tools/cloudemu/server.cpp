#include "server.h"

#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cctype>
#include <cstring>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <regex>
#include <thread>

#include "base/json_safe.h"
#include "demo_data.h"

namespace cloudemu {
namespace {

const char* const kOk = "0000000";
const char* const kBadCredentials = "0000001";
const char* const kSocialRefused = "0000002";
const char* const kBadRequest = "0000400";
const char* const kNoSession = "0000401";
const char* const kForbidden = "0000403";
const char* const kNotFound = "0000404";
const char* const kLengthMismatch = "0000411";
const char* const kBadBody = "0000422";
const char* const kServerError = "0000500";

const char* const kDemoUserId = "1001";
const char* const kDemoEmail = "demo@vorta.example";
const char* const kDemoPassword = "vorta-demo";
const char* const kDemoName = "Demo Diver";
const char* const kDemoFacebookId = "10158123456789012";

constexpr size_t kMaxLogEntries = 20000;
constexpr size_t kMaxBodyBytes = 16u * 1024 * 1024;
constexpr size_t kMaxLogBytes = 256u * 1024 * 1024;

// Handshake counting: the TLS layer's info callback marks each connection once.
int g_ssl_index = -1;
Emulator* g_emulator = nullptr;
char kCounted = 'c';
char kControl = 'x';

void InfoCallback(const SSL* ssl, int where, int /*ret*/) {
    if (!(where & SSL_CB_HANDSHAKE_DONE) || g_ssl_index < 0) return;
    if (SSL_get_ex_data(ssl, g_ssl_index) != nullptr) return;
    SSL_set_ex_data(const_cast<SSL*>(ssl), g_ssl_index, &kCounted);
    if (g_emulator) g_emulator->CountHandshake();
}

void Envelope(httplib::Response& res, const char* code, const std::string& message,
              const Json::Value& response = Json::Value(Json::objectValue)) {
    Json::Value root(Json::objectValue);
    root["code"] = code;
    root["message"] = message;
    root["response"] = response;
    res.set_content(CompactJson(root), "application/json");
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string PercentDecode(const std::string& s, bool plus_is_space) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && HexDigit(s[i + 1]) >= 0 && HexDigit(s[i + 2]) >= 0) {
            out += static_cast<char>(HexDigit(s[i + 1]) * 16 + HexDigit(s[i + 2]));
            i += 2;
        } else if (s[i] == '+' && plus_is_space) {
            out += ' ';
        } else {
            out += s[i];
        }
    }
    return out;
}

std::string PercentEncode(const std::string& s) {
    std::string out;
    char buf[4];
    for (unsigned char c : s) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            std::snprintf(buf, sizeof buf, "%%%02X", c);
            out += buf;
        }
    }
    return out;
}

// Splits "a=1&b=2" into a map (first occurrence wins).
std::map<std::string, std::string> ParseFields(const std::string& text, bool decode) {
    std::map<std::string, std::string> out;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('&', start);
        if (end == std::string::npos) end = text.size();
        const std::string part = text.substr(start, end - start);
        const size_t eq = part.find('=');
        std::string key = part.substr(0, eq);
        std::string value = eq == std::string::npos ? std::string() : part.substr(eq + 1);
        if (decode) {
            key = PercentDecode(key, true);
            value = PercentDecode(value, true);
        }
        if (!key.empty()) out.emplace(key, value);
        start = end + 1;
    }
    return out;
}

std::map<std::string, std::string> Query(const httplib::Request& req) {
    const size_t q = req.target.find('?');
    if (q == std::string::npos) return {};
    return ParseFields(req.target.substr(q + 1), true);
}

std::string Field(const std::map<std::string, std::string>& m, const std::string& key) {
    auto it = m.find(key);
    return it == m.end() ? std::string() : it->second;
}

bool AllDigits(const std::string& s, size_t min_len, size_t max_len) {
    if (s.size() < min_len || s.size() > max_len) return false;
    for (char c : s)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

std::string Base64(const std::string& data) {
    std::string out(4 * ((data.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&out[0]),
                                  reinterpret_cast<const unsigned char*>(data.data()), static_cast<int>(data.size()));
    out.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return out;
}

std::string HtmlEscape(const std::string& s) {
    std::string out;
    for (char c : s) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

std::string Fixed(double v, const char* fmt) {
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, v);
    return buf;
}

bool ParseDoc(const std::string& text, Json::Value& doc) {
    return json_safe::Parse(text, doc) && doc.isObject();
}

// A string, or a number written as text; anything else is "not given".
bool TextValue(const Json::Value& v, std::string& out) {
    if (v.isString()) {
        out = v.asString();
        return true;
    }
    if (v.isNumeric()) {
        out = Fixed(json_safe::AsDouble(v), "%.6f");
        return true;
    }
    return false;
}

bool IntValue(const Json::Value& v, int& out) {
    if (v.isNumeric()) {
        out = json_safe::AsInt(v);
        return true;
    }
    if (v.isString()) {
        char* end = nullptr;
        const long n = std::strtol(v.asCString(), &end, 10);
        if (end && *end == '\0' && end != v.asCString() && n >= -1000000 && n <= 1000000) {
            out = static_cast<int>(n);
            return true;
        }
    }
    return false;
}

}  // namespace

Emulator::Emulator(Options opt) : opt_(std::move(opt)), sites_(DiveSiteDirectoryText()) {}

Emulator::~Emulator() {
    if (g_emulator == this) g_emulator = nullptr;
}

void Emulator::CountHandshake() {
    ++handshakes_;
}

bool Emulator::Prepare(std::string& error) {
    ::mkdir(opt_.data_dir.c_str(), 0700);
    struct stat st {};
    if (::stat(opt_.data_dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        error = "cannot use data folder " + opt_.data_dir;
        return false;
    }
    if (!EnsureTls(opt_.data_dir, opt_.host, tls_, error)) return false;
    if (!store_.Open(opt_.data_dir + "/store.sqlite", error)) return false;
    SeedIfNeeded();
    avatar_ = AvatarPng();
    firmware_ = FirmwareFiles(opt_.firmware_version);
    site_db_ = SiteDatabaseFiles(sites_);

    if (g_ssl_index < 0) g_ssl_index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    g_emulator = this;
    X509* cert = tls_.cert;
    EVP_PKEY* key = tls_.key;
    server_ = std::make_unique<httplib::SSLServer>([cert, key](SSL_CTX& ctx) {
        if (SSL_CTX_use_certificate(&ctx, cert) != 1) return false;
        if (SSL_CTX_use_PrivateKey(&ctx, key) != 1) return false;
        SSL_CTX_set_info_callback(&ctx, InfoCallback);
        return true;
    });
    if (!server_->is_valid()) {
        error = "TLS context could not be set up";
        return false;
    }
    // Connections stay open as long as the client keeps them (the program keeps
    // one per action); idle ones hold a worker each, so the pool is generous.
    server_->new_task_queue = [] { return new httplib::ThreadPool(48); };
    server_->set_keep_alive_max_count(1000000);
    server_->set_keep_alive_timeout(30);
    server_->set_read_timeout(15);
    server_->set_write_timeout(15);
    server_->set_payload_max_length(kMaxBodyBytes);
    server_->set_tcp_nodelay(true);
    // The library's default also sets SO_REUSEPORT, which would let a second
    // emulator bind the same address and silently share its connections.
    server_->set_socket_options([](int sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    auto handler = [this](const httplib::Request& req, httplib::Response& res) { Handle(req, res); };
    // Bodies are read here rather than by the library: it refuses form-typed
    // bodies above 8 KiB, and the device posts binary records with that type.
    // The library bounds only a declared Content-Length; a chunked or
    // compressed body is bounded here, on what it becomes, or one request
    // could take all memory.
    auto with_body = [this](const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& reader) {
        httplib::Request full = req;
        full.body.clear();
        bool too_big = false;
        reader([&full, &too_big](const char* data, size_t size) {
            if (size > kMaxBodyBytes - full.body.size()) {
                too_big = true;
                return false;
            }
            full.body.append(data, size);
            return true;
        });
        if (too_big) {
            res.status = 413;
            res.set_header("Connection", "close");
            Envelope(res, kBadBody, "body too large");
            return;
        }
        Handle(full, res);
    };
    // The library reads the body of these methods itself, without a bound,
    // before any handler sees it; they are refused first.
    server_->set_pre_routing_handler([](const httplib::Request& req, httplib::Response& res) {
        if (req.method != "PRI") return httplib::Server::HandlerResponse::Unhandled;
        res.status = 405;
        res.set_header("Connection", "close");
        Envelope(res, kNotFound, "method not allowed");
        return httplib::Server::HandlerResponse::Handled;
    });
    server_->Get(".*", handler);
    server_->Post(".*", with_body);
    server_->Patch(".*", with_body);
    server_->Put(".*", with_body);
    server_->Delete(".*", with_body);
    server_->set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
        res.status = 200;
        Envelope(res, kServerError, "internal error");
    });
    if (!server_->bind_to_port(opt_.host, opt_.port)) {
        error = "cannot listen on " + opt_.host + ":" + std::to_string(opt_.port);
        return false;
    }
    plain_ = std::make_unique<httplib::Server>();
    plain_->Get(".*", [this](const httplib::Request& req, httplib::Response& res) {
        ++plain_requests_;
        if (req.path.compare(0, 8, "/static/") == 0 && req.path != "/static/avatar.png") return StaticFile(req, res);
        res.status = 404;
    });
    plain_port_ = plain_->bind_to_any_port(opt_.host);
    if (plain_port_ <= 0) {
        error = "cannot listen for plain http on " + opt_.host;
        return false;
    }
    return true;
}

bool Emulator::Run() {
    if (!server_) return false;
    std::thread plain([this] { plain_->listen_after_bind(); });
    // A stop before the plain host runs would not reach it; wait for it.
    for (int i = 0; i < 500 && !plain_->is_running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    const bool ok = server_->listen_after_bind();
    plain_->stop();
    plain.join();
    return ok;
}

void Emulator::Stop() {
    if (server_) server_->stop();
    if (plain_) plain_->stop();
}

std::string Emulator::PlainBaseUrl() const {
    const std::string host = opt_.host.find(':') != std::string::npos ? "[" + opt_.host + "]" : opt_.host;
    return "http://" + host + ":" + std::to_string(plain_port_);
}

void Emulator::SeedIfNeeded() {
    std::string seeded;
    if (store_.GetMeta("seeded", seeded)) return;
    User demo{kDemoUserId, kDemoEmail, kDemoPassword, kDemoName, kDemoFacebookId};
    store_.AddUser(demo);
    auto rows = GenerateDemoDives(opt_.seed, std::time(nullptr), sites_, kDemoUserId);
    store_.AddDives(rows);
    store_.SetMeta("seeded", std::to_string(opt_.seed));
}

std::string Emulator::BaseUrl(const httplib::Request& req) const {
    std::string host = req.get_header_value("Host");
    bool ok = !host.empty() && host.size() < 256;
    for (char c : host)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == ':' || c == '-' || c == '[' || c == ']'))
            ok = false;
    if (!ok) host = opt_.host + ":" + std::to_string(opt_.port);
    return "https://" + host;
}

void Emulator::Record(const httplib::Request& req) {
    Json::Value e(Json::objectValue);
    e["verb"] = req.method;
    e["path"] = req.target;
    Json::Value headers(Json::objectValue);
    for (const auto& h : req.headers) {
        if (h.first == "REMOTE_ADDR" || h.first == "REMOTE_PORT" || h.first == "LOCAL_ADDR" || h.first == "LOCAL_PORT")
            continue;
        if (headers.isMember(h.first)) headers[h.first] = headers[h.first].asString() + ", " + h.second;
        else headers[h.first] = h.second;
    }
    e["headers"] = headers;
    e["body_base64"] = Base64(req.body);
    std::lock_guard<std::mutex> lock(mu_);
    log_.push_back(CompactJson(e));
    log_bytes_ += log_.back().size();
    // Bounded: the oldest entries go first.
    while (log_.size() > kMaxLogEntries || (log_bytes_ > kMaxLogBytes && log_.size() > 1)) {
        log_bytes_ -= log_.front().size();
        log_.pop_front();
    }
}

namespace {

// A fault applies to requests whose target starts with its prefix and, when
// it names a method, that use it (a save can fail while reads go through).
bool FaultMatches(const Fault& f, const std::string& verb, const std::string& target) {
    return target.compare(0, f.prefix.size(), f.prefix) == 0 && (f.verb.empty() || f.verb == verb);
}

}  // namespace

bool Emulator::TakeFault(const std::string& verb, const std::string& target, Fault& out) {
    std::lock_guard<std::mutex> lock(mu_);
    for (auto it = faults_.begin(); it != faults_.end(); ++it) {
        if (!FaultMatches(*it, verb, target)) continue;
        if (it->skip > 0) {
            --it->skip;
            continue;
        }
        out = *it;
        if (it->count > 0 && --it->count == 0) faults_.erase(it);
        return true;
    }
    return false;
}

void Emulator::Handle(const httplib::Request& req, httplib::Response& res) {
    if (req.path.compare(0, 10, "/_testbed/") == 0) {
        HandleControl(req, res);
        return;
    }
    ++requests_;
    Record(req);
    Fault f;
    if (TakeFault(req.method, req.target, f)) {
        if (f.kind == "slow") {
            std::this_thread::sleep_for(std::chrono::milliseconds(f.delay_ms));
        } else if (f.kind == "not_json") {
            res.set_content("<html><body><h1>502 Bad Gateway</h1></body></html>", "text/html");
            return;
        } else if (f.kind == "no_code") {
            res.set_content("{\"message\":\"fault: no code\",\"response\":{}}", "application/json");
            return;
        } else if (f.kind == "code") {
            Envelope(res, f.code.c_str(), "fault: code");
            return;
        } else if (f.kind == "drop") {
            // Headers promise a body that never comes; the connection is closed.
            res.set_content_provider(1024, "application/json",
                                     [](size_t, size_t, httplib::DataSink&) { return false; });
            return;
        } else if (f.kind == "close") {
            // The whole request was read (and logged); the connection goes without
            // a byte of answer, as when a proxy times out or the server restarts.
            if (req.ssl) ::shutdown(SSL_get_fd(req.ssl), SHUT_RDWR);
            res.set_header("Connection", "close");
            return;
        } else if (UpdateFault(f.kind, req, res)) {
            return;
        }
    }
    Dispatch(req, res);
}

bool Emulator::UpdateFault(const std::string& kind, const httplib::Request& req, httplib::Response& res) {
    if (kind == "not_found") {
        // The offer or file is not there.
        res.status = 404;
        res.set_content("<html><body><h1>404 Not Found</h1></body></html>", "text/html");
    } else if (kind == "short") {
        // A success envelope that offers nothing (well under 256 bytes).
        res.set_content("{\"code\":\"0000000\",\"message\":\"ok\",\"response\":{}}", "application/json");
    } else if (kind == "truncate") {
        // The usual answer, but only the first half of its body: a file whose
        // length differs from the "size" its offer gives.
        Dispatch(req, res);
        res.body.resize(res.body.size() / 2);
    } else if (kind == "http_files") {
        // The usual offer, naming its files on the plain-http host.
        Dispatch(req, res);
        const std::string from = BaseUrl(req) + "/static/", to = PlainBaseUrl() + "/static/";
        for (size_t at = res.body.find(from); at != std::string::npos; at = res.body.find(from, at + to.size()))
            res.body.replace(at, from.size(), to);
    } else if (kind == "http_redirect") {
        // Sent on to the same file over plain http.
        res.set_redirect(PlainBaseUrl() + req.target);
    } else if (kind == "oversize") {
        // The usual answer followed by filler, 300 MiB in all, with no length
        // announced: only the receiver can stop it.
        Dispatch(req, res);
        auto body = std::make_shared<std::string>(std::move(res.body));
        res.body.clear();
        const std::string type = res.get_header_value("Content-Type");
        res.set_chunked_content_provider(type, [this, body](size_t offset, httplib::DataSink& sink) {
            constexpr size_t kTotal = size_t(300) << 20, kChunk = 64 << 10;
            if (offset >= kTotal) {
                sink.done();
                return true;
            }
            std::string chunk(std::min(kChunk, kTotal - offset), '\xA5');
            if (offset < body->size()) chunk.replace(0, std::min(chunk.size(), body->size() - offset), *body, offset);
            if (!sink.write(chunk.data(), chunk.size())) return false;
            oversize_sent_ += static_cast<long long>(chunk.size());
            return true;
        });
    } else {
        return false;
    }
    return true;
}

void Emulator::HandleControl(const httplib::Request& req, httplib::Response& res) {
    // Control connections are not part of the traffic under test.
    if (req.ssl && g_ssl_index >= 0 && SSL_get_ex_data(req.ssl, g_ssl_index) == &kCounted) {
        SSL_set_ex_data(const_cast<SSL*>(req.ssl), g_ssl_index, &kControl);
        --handshakes_;
    }
    Json::Value out(Json::objectValue);
    if (req.method == "POST" && req.path == "/_testbed/fault") {
        Json::Value body;
        if (!json_safe::Parse(req.body, body) || !body.isObject()) {
            res.status = 400;
            res.set_content("{\"ok\":false,\"error\":\"body is not a JSON object\"}", "application/json");
            return;
        }
        Fault f;
        f.kind = json_safe::String(body, "kind");
        f.prefix = json_safe::String(body, "path");
        f.verb = json_safe::String(body, "verb");
        if (!f.prefix.empty() && f.prefix[0] != '/') f.prefix = "/" + f.prefix;
        const Json::Value& count = json_safe::Member(body, "count");
        f.count = count.isNull() ? 1 : json_safe::AsInt(count);
        f.skip = std::max(0, json_safe::Int(body, "skip"));
        f.delay_ms = std::max(0, std::min(json_safe::Int(body, "delay_ms"), 600000));
        if (body.isMember("code")) f.code = json_safe::String(body, "code");
        const bool known = f.kind == "not_json" || f.kind == "no_code" || f.kind == "code" || f.kind == "slow" ||
                           f.kind == "drop" || f.kind == "close" || f.kind == "not_found" || f.kind == "short" ||
                           f.kind == "truncate" || f.kind == "http_files" || f.kind == "http_redirect" ||
                           f.kind == "oversize";
        if (!known || f.count == 0 || f.count < -1) {
            res.status = 400;
            res.set_content("{\"ok\":false,\"error\":\"unknown kind or bad count\"}", "application/json");
            return;
        }
        std::lock_guard<std::mutex> lock(mu_);
        faults_.push_back(f);
        out["ok"] = true;
    } else if (req.method == "POST" && req.path == "/_testbed/reset") {
        std::lock_guard<std::mutex> lock(mu_);
        faults_.clear();
        log_.clear();
        log_bytes_ = 0;
        handshakes_ = 0;
        requests_ = 0;
        plain_requests_ = 0;
        oversize_sent_ = 0;
        out["ok"] = true;
    } else if (req.method == "GET" && req.path == "/_testbed/log") {
        std::string text = "[";
        {
            std::lock_guard<std::mutex> lock(mu_);
            for (size_t i = 0; i < log_.size(); ++i) text += (i ? "," : "") + log_[i];
        }
        text += "]";
        res.set_content(text, "application/json");
        return;
    } else if (req.method == "GET" && req.path == "/_testbed/stats") {
        out["handshakes"] = static_cast<Json::Int64>(std::max(0L, handshakes_.load()));
        out["requests"] = static_cast<Json::Int64>(requests_.load());
        out["plain_requests"] = static_cast<Json::Int64>(plain_requests_.load());
        out["oversize_sent"] = static_cast<Json::Int64>(oversize_sent_.load());
    } else {
        res.status = 404;
        out["ok"] = false;
        out["error"] = "unknown control request";
    }
    res.set_content(CompactJson(out), "application/json");
}

bool Emulator::Authenticate(const httplib::Request& req, httplib::Response& res, std::string& user_id) {
    const std::string auth = req.get_header_value("Authorization");
    std::string token;
    if (auth.size() > 7 && strncasecmp(auth.c_str(), "Bearer ", 7) == 0) token = auth.substr(7);
    while (!token.empty() && (token.back() == ' ' || token.back() == '\t')) token.pop_back();
    if (!store_.UserForToken(token, user_id)) {
        Envelope(res, kNoSession, "sign-in required");
        return false;
    }
    return true;
}

void Emulator::Dispatch(const httplib::Request& req, httplib::Response& res) {
    static const std::regex kStats("^/api/v1/users/([^/]+)/statistics$");
    static const std::regex kDevice("^/api/v([12])/devices/([^/]+)$");
    const std::string& p = req.path;
    const std::string& m = req.method;
    std::smatch match;
    if (m == "POST" && p == "/api/v1/users/login") return Login(req, res);
    if (m == "POST" && p == "/api/v1/users/socialLogin") return SocialLogin(req, res);
    if (m == "GET" && p == "/api/v1/divelogs/calendar/month") return CalendarMonth(req, res);
    if (m == "GET" && p == "/api/v1/divelogs/calendar/date") return CalendarDate(req, res);
    const std::string detail = "/api/v1/divelogs/divelog/";
    if (m == "GET" && p.compare(0, detail.size(), detail) == 0 && p.size() > detail.size())
        return DiveLog(req, res, p.substr(detail.size()));
    const std::string patch = "/api/v1/divelogs/";
    if (m == "PATCH" && p.compare(0, patch.size(), patch) == 0 && p.size() > patch.size())
        return PatchDiveLog(req, res, p.substr(patch.size()));
    if (m == "GET" && std::regex_match(p, match, kStats)) return Statistics(req, res, match[1]);
    if (m == "POST" && p == "/api/v1/searches/divesites") return SearchSites(req, res);
    if (m == "GET" && p == "/api/v1/devices/headerInfo") return HeaderInfo(req, res);
    if (m == "GET" && p == "/api/v1/devices/firmwareUpdate") return FirmwareOffer(req, res);
    if (m == "GET" && p == "/api/v1/devices/divesites") return SiteDatabaseOffer(req, res);
    if (m == "POST" && std::regex_match(p, match, kDevice))
        return DevicePost(req, res, match[1] == "2" ? 2 : 1, match[2]);
    if (m == "GET" && p.compare(0, 8, "/static/") == 0) return StaticFile(req, res);
    if (m == "GET" && p == "/_fb/dialog/oauth") return OAuthDialog(req, res);
    if (m == "GET" && p == "/_fb/dialog/oauth/grant") return OAuthGrant(req, res);
    if (m == "GET" && (p == "/_fb/v6.0/me" || p == "/_fb/me")) return GraphMe(req, res);
    if (m == "GET" && p == "/_fb/hostile.html") return HostilePage(req, res);
    if (m == "GET" && p == "/_fb/connect/login_success.html") {
        res.set_content("<html><head><title>Success</title></head><body>Success</body></html>", "text/html");
        return;
    }
    res.status = 404;
    Envelope(res, kNotFound, "no such endpoint");
}

// --- Sign-in -----------------------------------------------------------------

void Emulator::StartSession(const httplib::Request& req, httplib::Response& res, const User& u) {
    const std::string token = store_.NewSession(u.user_id);
    if (token.empty()) return Envelope(res, kServerError, "no session");
    Json::Value r(Json::objectValue);
    r["token"] = token;
    r["user"]["user_id"] = u.user_id;
    r["user"]["user_name"] = u.user_name;
    r["user"]["email"] = u.email;
    r["user"]["profile_image_path"] =
        opt_.profile_image.empty() ? BaseUrl(req) + "/static/avatar.png" : opt_.profile_image;
    Envelope(res, kOk, "ok", r);
}

void Emulator::Login(const httplib::Request& req, httplib::Response& res) {
    const auto f = ParseFields(req.body, true);
    User u;
    if (!store_.UserByEmail(Field(f, "email"), u) || u.password != Field(f, "password") || u.password.empty()) {
        Envelope(res, kBadCredentials, "wrong e-mail or password");
        return;
    }
    StartSession(req, res, u);
}

void Emulator::SocialLogin(const httplib::Request& req, httplib::Response& res) {
    // A form body: each value percent-encoded.
    const auto f = ParseFields(req.body, true);
    const std::string token = Field(f, "access_token"), social_id = Field(f, "social_id");
    std::string known_id;
    {
        std::lock_guard<std::mutex> lock(mu_);
        auto it = fb_tokens_.find(token);
        if (it != fb_tokens_.end()) known_id = it->second;
    }
    User u;
    if (Field(f, "social_platform") != "facebook" || token.empty() || known_id.empty() || known_id != social_id ||
        !store_.UserByFacebookId(social_id, u)) {
        Envelope(res, kSocialRefused, "social sign-in refused");
        return;
    }
    StartSession(req, res, u);
}

// --- Dive logs ---------------------------------------------------------------

void Emulator::CalendarMonth(const httplib::Request& req, httplib::Response& res) {
    std::string user;
    if (!Authenticate(req, res, user)) return;
    const std::string ym = Field(Query(req), "year_month");
    if (!AllDigits(ym, 6, 6) || std::stoi(ym.substr(4)) < 1 || std::stoi(ym.substr(4)) > 12)
        return Envelope(res, kBadRequest, "year_month must be YYYYMM");
    const int base = std::stoi(ym) * 100;
    std::map<int, std::pair<int, int>> days;
    for (const auto& d : store_.Dives(user, base + 1, base + 31)) {
        auto& c = days[d.local_date];
        (d.dive_type == "free" ? c.second : c.first)++;
    }
    Json::Value r(Json::objectValue);
    r["month_summary"] = Json::Value(Json::arrayValue);
    for (const auto& [date, counts] : days) {
        Json::Value day(Json::objectValue);
        day["year_month_date"] = std::to_string(date);
        day["scuba_count"] = counts.first;
        day["free_count"] = counts.second;
        r["month_summary"].append(day);
    }
    Envelope(res, kOk, "ok", r);
}

void Emulator::CalendarDate(const httplib::Request& req, httplib::Response& res) {
    std::string user;
    if (!Authenticate(req, res, user)) return;
    const std::string ymd = Field(Query(req), "year_month_date");
    if (!AllDigits(ymd, 8, 8)) return Envelope(res, kBadRequest, "year_month_date must be YYYYMMDD");
    const int date = std::stoi(ymd);
    Json::Value r(Json::objectValue);
    r["divelogs"] = Json::Value(Json::arrayValue);
    for (const auto& d : store_.Dives(user, date, date)) {
        Json::Value doc;
        ParseDoc(d.doc, doc);
        Json::Value item(Json::objectValue);
        item["divelog_id"] = d.divelog_id;
        item["dive_datetime"] = static_cast<Json::Int64>(d.dive_datetime);
        item["timezone"] = d.timezone;
        item["dive_type"] = d.dive_type;
        item["max_depth"] = json_safe::String(doc, "max_depth");
        item["dive_duration"] = d.dive_duration;
        r["divelogs"].append(item);
    }
    Envelope(res, kOk, "ok", r);
}

void Emulator::DiveLog(const httplib::Request& req, httplib::Response& res, const std::string& id) {
    std::string user;
    if (!Authenticate(req, res, user)) return;
    DiveRow row;
    Json::Value doc;
    if (!store_.Dive(user, id, row) || !ParseDoc(row.doc, doc)) return Envelope(res, kNotFound, "no such dive log");
    doc["divelog_id"] = row.divelog_id;
    Json::Value r(Json::objectValue);
    r["divelog"] = doc;
    Envelope(res, kOk, "ok", r);
}

void Emulator::PatchDiveLog(const httplib::Request& req, httplib::Response& res, const std::string& id) {
    std::string user;
    if (!Authenticate(req, res, user)) return;
    Json::Value body;
    if (!ParseDoc(req.body, body)) return Envelope(res, kBadBody, "body is not a JSON object");
    if (json_safe::Member(body, "divelog").isObject()) body = body["divelog"];
    DiveRow row;
    Json::Value doc;
    if (!store_.Dive(user, id, row) || !ParseDoc(row.doc, doc)) return Envelope(res, kNotFound, "no such dive log");
    // Only the diver's notes are editable; device data stays as recorded.
    std::string text;
    for (const char* key : {"air_in_text", "air_out_text", "cylinder_size_text", "suit_thickness", "weight"})
        if (TextValue(json_safe::Member(body, key), text)) doc[key] = text;
    int code = 0;
    for (const char* key : {"weather_type", "wave_type", "current_type", "visibility_type"})
        if (IntValue(json_safe::Member(body, key), code)) doc[key] = code;
    const Json::Value& poi = json_safe::Member(body, "poi");
    if (poi.isObject()) {
        const std::string poi_id = json_safe::String(poi, "poi_id");
        const Json::Value& gps = json_safe::Member(poi, "gps_location");
        if (poi_id.empty()) {
            doc.removeMember("poi");
        } else if (const Poi* known = sites_.Find(poi_id)) {
            doc["poi"] = PoiJson(*known);
        } else {
            Json::Value p(Json::objectValue);
            p["poi_id"] = poi_id;
            p["gps_location"]["latitude"] = json_safe::Double(gps, "latitude");
            p["gps_location"]["longitude"] = json_safe::Double(gps, "longitude");
            doc["poi"] = p;
        }
    }
    if (!store_.UpdateDoc(user, id, CompactJson(doc))) return Envelope(res, kServerError, "not stored");
    doc["divelog_id"] = id;
    Json::Value r(Json::objectValue);
    r["divelog"] = doc;
    Envelope(res, kOk, "ok", r);
}

void Emulator::Statistics(const httplib::Request& req, httplib::Response& res, const std::string& who) {
    std::string user;
    if (!Authenticate(req, res, user)) return;
    if (who != user) return Envelope(res, kForbidden, "not your account");
    int scuba = 0, free = 0;
    int64_t scuba_time = 0, free_time = 0;
    double scuba_max = 0, free_max = 0;
    for (const auto& d : store_.Dives(user, 0, 99999999)) {
        if (d.dive_type == "free") {
            ++free;
            free_time += d.dive_duration;
            free_max = std::max(free_max, d.max_depth);
        } else {
            ++scuba;
            scuba_time += d.dive_duration;
            scuba_max = std::max(scuba_max, d.max_depth);
        }
    }
    Json::Value r(Json::objectValue);
    r["scuba_mode_count"] = scuba;
    r["scuba_dive_time"] = static_cast<Json::Int64>(scuba_time);
    r["scuba_max_depth"] = Fixed(scuba_max, "%.2f");
    r["freedive_mode_count"] = free;
    r["free_dive_time"] = static_cast<Json::Int64>(free_time);
    r["free_max_depth"] = Fixed(free_max, "%.2f");
    Envelope(res, kOk, "ok", r);
}

void Emulator::SearchSites(const httplib::Request& req, httplib::Response& res) {
    std::string user;
    if (!Authenticate(req, res, user)) return;
    // The body is a standard form, "query=<text>&limit=<n>", each value
    // percent-encoded.
    const auto f = ParseFields(req.body, true);
    if (f.find("query") == f.end()) return Envelope(res, kBadRequest, "query missing");
    const std::string query = Field(f, "query");
    size_t limit = 20;
    if (f.find("limit") != f.end()) {
        const std::string n = Field(f, "limit");
        if (!AllDigits(n, 1, 4)) return Envelope(res, kBadRequest, "limit must be a number");
        limit = std::min<size_t>(std::stoul(n), 200);
    }
    Json::Value r(Json::objectValue);
    r["pois"] = Json::Value(Json::arrayValue);
    for (const Poi* p : sites_.Search(query, limit)) r["pois"].append(PoiJson(*p));
    Envelope(res, kOk, "ok", r);
}

// --- Sync ----------------------------------------------------------------------

void Emulator::HeaderInfo(const httplib::Request& req, httplib::Response& res) {
    std::string user;
    if (!Authenticate(req, res, user)) return;
    const auto q = Query(req);
    if (Field(q, "model").empty() || !AllDigits(Field(q, "firmware_version"), 1, 9))
        return Envelope(res, kBadRequest, "model and firmware_version required");
    if (opt_.sync_plan == SyncPlan::kBulk) {
        std::lock_guard<std::mutex> lock(mu_);
        bulk_posts_[user] = 0;
    }
    Envelope(res, kOk, "ok", FirstList(opt_.sync_plan));
}

void Emulator::DevicePost(const httplib::Request& req, httplib::Response& res, int api, const std::string& command) {
    std::string user;
    if (!Authenticate(req, res, user)) return;
    const auto q = Query(req);
    const std::string length = Field(q, "length");
    if (Field(q, "model").empty() || !AllDigits(Field(q, "firmware_version"), 1, 9))
        return Envelope(res, kBadRequest, "model and firmware_version required");
    if (!AllDigits(length, 1, 9) || std::stoul(length) != req.body.size())
        return Envelope(res, kLengthMismatch, "length does not match the body");
    std::string error;
    if (opt_.sync_plan == SyncPlan::kBulk) {
        if (api == 1 && command == "getLogBlocks") {
            // Only the answer to the last post of the first list is taken as the
            // second list; the others get a plain success, as a real service's
            // acknowledgements would be.
            uint32_t posted;
            {
                std::lock_guard<std::mutex> lock(mu_);
                posted = ++bulk_posts_[user];
            }
            return Envelope(res, kOk, "ok", posted >= kBulkFirstListItems ? BulkSecondList() : EmptyList());
        }
        if (api == 2 && command == "addDivelogs") return Envelope(res, kOk, "ok", EmptyList());
        return Envelope(res, kNotFound, "unknown device command");
    }
    if (api == 1 && command == "getLogIndex") {
        LogIndex index;
        if (!DecodeIndex(req.body, index, error)) return Envelope(res, kBadBody, error);
        return Envelope(res, kOk, "ok", SecondList(index, store_.DiveNumbers(user)));
    }
    if (api == 2 && command == "addDivelogs") {
        DiveRecord rec;
        if (!DecodeRecord(req.body, rec, error)) return Envelope(res, kBadBody, error);
        if (!store_.DiveNumbers(user).count(rec.dive_number)) {
            const Poi* poi = nullptr;
            if (rec.entry_lat_e6 || rec.entry_lng_e6)
                poi = sites_.Nearest(rec.entry_lat_e6 / 1e6, rec.entry_lng_e6 / 1e6, 2.0);
            else if (rec.exit_lat_e6 || rec.exit_lng_e6)
                poi = sites_.Nearest(rec.exit_lat_e6 / 1e6, rec.exit_lng_e6 / 1e6, 2.0);
            std::vector<DiveRow> rows{MakeDiveRow(rec, DiveNotes{}, poi, user)};
            if (!store_.AddDives(rows)) return Envelope(res, kServerError, "dive log not stored");
        }
        return Envelope(res, kOk, "ok", EmptyList());
    }
    Envelope(res, kNotFound, "unknown device command");
}

// --- Update offers and files ---------------------------------------------------

namespace {

// The files of an offer: where each is fetched and where it goes on the device.
Json::Value OfferFiles(const std::vector<UpdateFile>& files, const std::string& base_url) {
    Json::Value list(Json::arrayValue);
    for (const auto& f : files) {
        Json::Value file(Json::objectValue);
        file["sequence"] = f.sequence;
        file["file_path"] = base_url + f.name;
        file["address"] = f.address;
        file["size"] = static_cast<Json::UInt>(f.bytes.size());
        list.append(file);
    }
    return list;
}

}  // namespace

void Emulator::FirmwareOffer(const httplib::Request& req, httplib::Response& res) {
    if (Field(Query(req), "model") != "K7") return Envelope(res, kNotFound, "no firmware for this model");
    Json::Value r(Json::objectValue);
    r["model"] = "K7";
    r["firmware_version"] = opt_.firmware_version;
    r["release_note"] = "Improved ascent-rate warning and battery gauge; new dive-site database format.";
    r["firmware_files"] = OfferFiles(firmware_, BaseUrl(req) + "/static/firmware/");
    Envelope(res, kOk, "ok", r);
}

void Emulator::SiteDatabaseOffer(const httplib::Request& req, httplib::Response& res) {
    if (Field(Query(req), "model") != "K7") return Envelope(res, kNotFound, "no dive-site database for this model");
    Json::Value r(Json::objectValue);
    r["model"] = "K7";
    r["database_version"] = "2026.1";
    r["divesite_files"] = OfferFiles(site_db_, BaseUrl(req) + "/static/divesitedb/");
    Envelope(res, kOk, "ok", r);
}

void Emulator::StaticFile(const httplib::Request& req, httplib::Response& res) {
    const std::string& p = req.path;
    if (p == "/static/avatar.png") return res.set_content(avatar_, "image/png");
    for (const auto* list : {&firmware_, &site_db_}) {
        const std::string dir = list == &firmware_ ? "/static/firmware/" : "/static/divesitedb/";
        for (const auto& f : *list)
            if (p == dir + f.name) return res.set_content(f.bytes, "application/octet-stream");
    }
    res.status = 404;
    res.set_content("<html><body><h1>404 Not Found</h1></body></html>", "text/html");
}

// --- Facebook stand-ins ----------------------------------------------------------

namespace {

// A script that sends the page to `target` 100 ms after it has loaded (so
// that the load completes first). Every byte that could end the string or
// the script is escaped.
std::string GoLater(const std::string& target) {
    std::string literal;
    char buf[8];
    for (unsigned char c : target) {
        if (std::isalnum(c) || (c != 0 && std::strchr("/:?&=%#._-~", c))) {
            literal += static_cast<char>(c);
        } else {
            std::snprintf(buf, sizeof buf, "\\u%04X", c);
            literal += buf;
        }
    }
    return "<script>window.addEventListener('load',function(){setTimeout(function(){location.href='" + literal +
           "';},100);});</script>";
}

}  // namespace

void Emulator::OAuthDialog(const httplib::Request& req, httplib::Response& res) {
    const auto q = Query(req);
    const std::string redirect = Field(q, "redirect_uri"), state = Field(q, "state");
    if (redirect.empty() || Field(q, "client_id").empty()) {
        res.status = 400;
        res.set_content("<html><body>Invalid OAuth request: client_id and redirect_uri are required.</body></html>",
                        "text/html");
        return;
    }
    // The decision goes to the grant step as a form; with --oauth-auto the page
    // presses one of its buttons itself a moment after it has loaded.
    // In the hostile role the page leaves for a page of its own instead,
    // carrying a token of its choosing.
    std::string script;
    if (opt_.oauth_auto == "hostile")
        script = GoLater("/_fb/hostile.html?step=1&x=1&access_token=ATTACKER&data_access_expiration_time=1&state=" +
                         PercentEncode(state) + "&redirect_uri=" + PercentEncode(redirect));
    else if (!opt_.oauth_auto.empty())
        script =
            "<script>window.addEventListener('load',function(){setTimeout(function(){"
            "document.getElementById('" +
            std::string(opt_.oauth_auto == "deny" ? "deny" : "allow") + "').click();},100);});</script>";
    const std::string page =
        "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Log in with Facebook</title>"
        "<style>body{font-family:sans-serif;background:#f0f2f5;margin:0}"
        ".box{width:360px;margin:40px auto;background:#fff;padding:24px;border-radius:8px}"
        "button{display:block;width:100%;font-size:15px;padding:10px;margin-top:12px;border:0;border-radius:6px}"
        "#allow{background:#1877f2;color:#fff}#deny{background:#e4e6eb;color:#050505}</style></head><body>"
        "<div class=\"box\"><h2>facebook</h2><p>VORTA PC TOOL will receive your name, profile picture and "
        "e-mail address.</p><p>Signed in as <b>" +
        std::string(kDemoName) + "</b> (" + kDemoEmail + ")</p><p>Scope: " + HtmlEscape(Field(q, "scope")) +
        "</p>"
        "<form method=\"get\" action=\"/_fb/dialog/oauth/grant\">"
        "<input type=\"hidden\" name=\"redirect_uri\" value=\"" +
        HtmlEscape(redirect) +
        "\">"
        "<input type=\"hidden\" name=\"state\" value=\"" +
        HtmlEscape(state) +
        "\">"
        "<button id=\"allow\" type=\"submit\" name=\"decision\" value=\"allow\">Continue as " +
        kDemoName +
        "</button><button id=\"deny\" type=\"submit\" name=\"decision\" value=\"deny\">Cancel</button>"
        "</form></div>" +
        script + "</body></html>";
    res.set_content(page, "text/html; charset=utf-8");
}

void Emulator::OAuthGrant(const httplib::Request& req, httplib::Response& res) {
    const auto q = Query(req);
    const std::string redirect = Field(q, "redirect_uri"), state = Field(q, "state");
    if (redirect.empty()) {
        res.status = 400;
        res.set_content("<html><body>redirect_uri missing</body></html>", "text/html");
        return;
    }
    std::string location;
    if (Field(q, "decision") == "allow") {
        const std::string token = "EAAV" + RandomHex(24);
        {
            std::lock_guard<std::mutex> lock(mu_);
            fb_tokens_[token] = kDemoFacebookId;
        }
        const long long expires = static_cast<long long>(std::time(nullptr)) + 90LL * 86400;
        // In the wrong_state role the echo is not the state that was sent.
        const std::string echoed = opt_.oauth_auto == "wrong_state" ? state + "0" : state;
        location = redirect + "#access_token=" + token + "&data_access_expiration_time=" + std::to_string(expires) +
                   "&expires_in=5183944&state=" + PercentEncode(echoed);
    } else {
        location = redirect +
                   "?error=access_denied&error_code=200&error_description=Permissions+error&error_reason=user_denied"
                   "&state=" +
                   PercentEncode(state) + "#_=_";
    }
    res.set_redirect(location, 302);
}

void Emulator::GraphMe(const httplib::Request& req, httplib::Response& res) {
    const std::string token = Field(Query(req), "access_token");
    bool known = false;
    {
        std::lock_guard<std::mutex> lock(mu_);
        known = fb_tokens_.count(token) > 0;
    }
    if (!known) {
        res.status = 400;
        res.set_content(
            "{\"error\":{\"message\":\"Invalid OAuth access token.\",\"type\":\"OAuthException\","
            "\"code\":190}}",
            "application/json");
        return;
    }
    Json::Value me(Json::objectValue);
    me["email"] = kDemoEmail;
    me["id"] = kDemoFacebookId;
    me["name"] = kDemoName;
    res.set_content(CompactJson(me), "application/json");
}

void Emulator::HostilePage(const httplib::Request& req, httplib::Response& res) {
    // A page that is not the redirect page hands in the markers of a token
    // redirect: step 1 in its query (as it was loaded), step 2 in its
    // fragment; then it goes to the redirect page with error_code=200, so a
    // client that shows that refusal has looked at both steps before.
    const auto q = Query(req);
    const std::string redirect = Field(q, "redirect_uri"), state = Field(q, "state");
    std::string next;
    if (Field(q, "step") == "1")
        next = "/_fb/hostile.html?step=2&redirect_uri=" + PercentEncode(redirect) +
               "#access_token=ATTACKER&data_access_expiration_time=1&state=" + PercentEncode(state);
    else if (!redirect.empty())
        next = redirect + "?error=access_denied&error_code=200&error_description=Done&state=" + PercentEncode(state);
    res.set_content("<!DOCTYPE html><html><head><title>Not the provider</title></head><body>Not the provider" +
                        (next.empty() ? std::string() : GoLater(next)) + "</body></html>",
                    "text/html; charset=utf-8");
}

}  // namespace cloudemu
