#include "tests/support/cloudemu_process.h"

#include <curl/curl.h>
#include <strings.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>

#include "base/json_safe.h"
#include "tests/support/child_process.h"

namespace vorta_test {
namespace {

size_t Collect(char* data, size_t size, size_t n, void* out) {
    static_cast<std::string*>(out)->append(data, size * n);
    return size * n;
}

std::string PickHost() {
    // Spread parallel test processes over 127.0.0.0/8 (not 127.0.0.1).
    static std::mt19937 rng(static_cast<unsigned>(getpid()) * 7919u ^
                            static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::uniform_int_distribution<int> b(1, 250), c(2, 250);
    return "127.0." + std::to_string(b(rng)) + "." + std::to_string(c(rng));
}

}  // namespace

std::string Base64Decode(const std::string& in) {
    static const std::string chars = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    // Unsigned and kept to the bits still to be used: a signed accumulator
    // would be shifted past its range after a few characters.
    uint32_t val = 0;
    int bits = -8;
    for (char c : in) {
        const size_t pos = chars.find(c);
        if (pos == std::string::npos) continue;  // padding and anything else
        val = ((val << 6) | static_cast<uint32_t>(pos)) & 0xFFFFFFu;
        bits += 6;
        if (bits >= 0) {
            out += static_cast<char>((val >> bits) & 0xFF);
            bits -= 8;
        }
    }
    return out;
}

std::string CloudRequest::Header(const std::string& name) const {
    for (const auto& h : headers)
        if (strcasecmp(h.first.c_str(), name.c_str()) == 0) return h.second;
    return {};
}

CloudEmuProcess::CloudEmuProcess(std::string host, std::vector<std::string> extra_args)
    : requested_host_(std::move(host)), extra_args_(std::move(extra_args)) {
    char tmpl[] = "/tmp/vorta-cloudemu-XXXXXX";
    if (mkdtemp(tmpl)) dir_ = tmpl;
}

CloudEmuProcess::~CloudEmuProcess() {
    Stop();
    if (!dir_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
}

std::string CloudEmuProcess::base_url() const {
    return "https://" + host_ + ":8443";
}
std::string CloudEmuProcess::ca_file() const {
    return dir_ + "/ca.pem";
}

bool CloudEmuProcess::Start() {
    if (running()) return true;
    if (dir_.empty()) return false;
    std::string why;
    if (!requested_host_.empty()) return StartOn(requested_host_, why);
    for (int attempt = 0; attempt < 12; ++attempt) {
        if (StartOn(host_.empty() ? PickHost() : host_, why)) return true;
        host_.clear();
    }
    std::fprintf(stderr, "cloud emulator did not start: %s\n", why.c_str());
    return false;
}

bool CloudEmuProcess::StartOn(const std::string& host, std::string& why) {
    const std::string bin = std::string(VORTA_BIN_DIR) + "/vorta-cloudemu";
    std::vector<std::string> args = {bin, "--data", dir_, "--host", host, "--port", "8443"};
    args.insert(args.end(), extra_args_.begin(), extra_args_.end());
    const pid_t pid = SpawnWithOutputPipe(args, out_fd_);
    if (pid < 0) return false;
    pid_ = pid;
    host_ = host;
    // Its first line is "READY host:port"; it ends instead when the address is taken.
    const std::string line = ReadFirstLine(out_fd_, std::chrono::seconds(30));
    if (line.find("READY ") != std::string::npos && line.find('\n') != std::string::npos) return true;
    why = "no READY line from " + bin + " on " + host;
    Stop();
    return false;
}

void CloudEmuProcess::Stop() {
    if (pid_ > 0) {
        StopChild(pid_, std::chrono::seconds(10));
        pid_ = -1;
    }
    if (out_fd_ >= 0) {
        close(out_fd_);
        out_fd_ = -1;
    }
}

CloudReply CloudEmuProcess::Call(const std::string& verb, const std::string& path, const std::string& body,
                                 const std::vector<std::string>& headers) {
    CloudReply reply;
    CURL* curl = curl_easy_init();
    if (!curl) return reply;
    const std::string url = base_url() + path;
    const std::string ca = ca_file();
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_CAINFO, ca.c_str());
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, verb.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 60L);
    if (verb != "GET") {
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    }
    curl_slist* list = nullptr;
    list = curl_slist_append(list, "Expect:");
    for (const auto& h : headers) list = curl_slist_append(list, h.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, list);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply.body);
    reply.sent = curl_easy_perform(curl) == CURLE_OK;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
    curl_slist_free_all(list);
    curl_easy_cleanup(curl);
    return reply;
}

bool CloudEmuProcess::SetFault(const CloudFault& fault) {
    Json::Value v(Json::objectValue);
    v["kind"] = fault.kind;
    v["path"] = fault.path;
    v["count"] = fault.count;
    v["skip"] = fault.skip;
    v["delay_ms"] = fault.delay_ms;
    v["code"] = fault.code;
    if (!fault.verb.empty()) v["verb"] = fault.verb;
    Json::StreamWriterBuilder w;
    const CloudReply r = Call("POST", "/_testbed/fault", Json::writeString(w, v), {"Content-Type: application/json"});
    return r.sent && r.status == 200;
}

bool CloudEmuProcess::Reset() {
    const CloudReply r = Call("POST", "/_testbed/reset", "{}", {"Content-Type: application/json"});
    return r.sent && r.status == 200;
}

std::vector<CloudRequest> CloudEmuProcess::Log() {
    std::vector<CloudRequest> out;
    const CloudReply r = Call("GET", "/_testbed/log");
    Json::Value root;
    if (!r.sent || !json_safe::Parse(r.body, root)) return out;
    for (Json::ArrayIndex i = 0; i < json_safe::Size(root); ++i) {
        const Json::Value& e = json_safe::Element(root, i);
        CloudRequest req;
        req.verb = json_safe::String(e, "verb");
        req.path = json_safe::String(e, "path");
        const Json::Value& h = json_safe::Member(e, "headers");
        if (h.isObject())
            for (const auto& name : h.getMemberNames()) req.headers[name] = json_safe::String(h, name.c_str());
        req.body = Base64Decode(json_safe::String(e, "body_base64"));
        out.push_back(std::move(req));
    }
    return out;
}

CloudStats CloudEmuProcess::Stats() {
    CloudStats s;
    const CloudReply r = Call("GET", "/_testbed/stats");
    Json::Value root;
    if (!r.sent || !json_safe::Parse(r.body, root)) return s;
    s.handshakes = json_safe::Int(root, "handshakes");
    s.requests = json_safe::Int(root, "requests");
    s.plain_requests = json_safe::Int(root, "plain_requests");
    const Json::Value& sent = json_safe::Member(root, "oversize_sent");
    s.oversize_sent = sent.isIntegral() ? sent.asInt64() : -1;
    return s;
}

std::string CloudEmuProcess::DemoToken() {
    const CloudReply r = Call("POST", "/api/v1/users/login", "email=demo%40vorta.example&password=vorta-demo",
                              {"Content-Type: application/x-www-form-urlencoded"});
    Json::Value root;
    if (!r.sent || !json_safe::Parse(r.body, root)) return {};
    return json_safe::String(json_safe::Member(root, "response"), "token");
}

}  // namespace vorta_test
