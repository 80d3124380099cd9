// HTTPS requests to the cloud service and whole-file downloads, on libcurl.
//
// One HttpPost keeps one curl handle, and with it one TLS connection, for its
// whole life: requests after the first reuse the connection while the server
// keeps it open. Requests are synchronous and blocking; an object belongs to
// one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Transport settings of a request or download. Defaults come from the
// program's configuration (extra CA file); tests tighten the limits.
struct HttpOptions {
    // Extra CA bundle (PEM) trusted besides the system CAs; empty for none.
    std::string ca_file;
    // Hashed directory of the system CAs, kept when ca_file is set.
    std::string ca_dir = "/etc/ssl/certs";
    // Time allowed to connect, TLS handshake included.
    long connect_timeout_ms = 5000;
    // A transfer that moves less than stall_min_bytes_per_s for stall_seconds
    // is abandoned, so a silent server cannot block a page or a worker.
    long stall_seconds = 30;
    long stall_min_bytes_per_s = 1;
    // Upper bound on one whole transfer; 0 for none.
    long total_timeout_ms = 180000;
    // Largest accepted response body; a larger one fails the request.
    std::size_t max_body_bytes = std::size_t(64) << 20;
    // Largest accepted download (update files go to disk, not memory). The
    // transfer stops as soon as the body received would pass this.
    std::uint64_t max_download_bytes = std::uint64_t(1) << 30;
    // Downloads over https only, the first URL and every redirect alike: for
    // files that end up on the dive computer, where a plain-http hop would
    // let anyone on the way replace them.
    bool https_only = false;
    // A download is flushed to the disk (fsync) before it replaces its file.
    // Callers that fetch a file afresh before every use (the update images)
    // gain nothing from that and may turn it off: the replacement stays
    // whole-or-nothing either way.
    bool sync_to_disk = true;

    // The defaults with the configured CA file.
    static HttpOptions FromConfig();
};

// Extra header lines and content type go with every request; the HTTP status
// is not examined: the caller judges the body (see cloud_api.h).
//
// connect and request are virtual: the display-free cores take an HttpPost&,
// and tests hand them a recording stand-in (tests/support/fake_peers.h).
class HttpPost {
public:
    HttpPost();
    explicit HttpPost(const HttpOptions& options);
    virtual ~HttpPost();

    HttpPost(const HttpPost&) = delete;
    HttpPost& operator=(const HttpPost&) = delete;

    // Prepares requests to https://host:port/. Returns false when no
    // transfer handle can be made or the host or port is unusable. No
    // network traffic happens here: an unreachable host shows as empty
    // answers from request().
    virtual bool connect(const std::string& host, int port);

    // Sends one request and returns the response body, or an empty string
    // when the request could not be sent (not connected, unreachable host,
    // TLS failure, time-out before an answer, body over the size limit).
    //  body, len  bytes to send, or null/0 for none (binary-safe)
    //  is_json    non-zero: "Content-Type: application/json", else the form type
    //  verb       "GET", "POST" or "PATCH"
    //  path       relative object name with query, no leading slash
    //  headers    empty or a header block such as make_bearer_header()
    // The body is gathered in 1024-byte reads; a zero byte ends what a read
    // contributes (the answer is text), later reads still count. When the
    // connection fails mid-body, the text read so far is returned.
    virtual std::string request(const void* body, uint32_t len, int is_json, const std::string& verb,
                                const std::string& path, const std::string& headers);

    bool connected() const { return curl_ != nullptr; }
    const HttpOptions& options() const { return options_; }

private:
    HttpOptions options_;
    void* curl_ = nullptr;  // CURL*, the one transfer handle (and its connection)
    std::string base_url_;  // "https://host:port/"
};

// "Authorization: Bearer <AppState.token>\r\n\r\n": the header block of every
// authenticated request. The block ends with an empty line. A token holding
// control characters (a line break would start a header of its own) is left
// out: the cloud then refuses the request as unauthenticated.
std::string make_bearer_header();

// Percent-encodes every byte except ASCII letters, digits and "-_.~"
// ("%20" for a space, "%E3" for the byte 0xE3).
std::string url_encode(const std::string& text);

// `host` as it is written inside a URL: a bare IPv6 address gets brackets.
std::string UrlHost(const std::string& host);

// Fetches an absolute http(s) URL into a file, binary-safe, without any
// authorization header. The body goes to a temporary file beside `path`
// that replaces `path` only when the whole transfer succeeded, so a failed
// download leaves an existing file as it was. Returns false on any
// transport or file failure and on an error status (400 and above).
bool download_to_file(const std::string& url, const std::string& path);
bool download_to_file(const std::string& url, const std::string& path, const HttpOptions& options);

// How a download ended: kTooLarge when the body would pass
// options.max_download_bytes; kFailed for any other failure.
enum class DownloadResult { kOk, kFailed, kTooLarge };

// download_to_file, telling a body over the size limit from other failures.
DownloadResult download_file(const std::string& url, const std::string& path, const HttpOptions& options);

// The same download into `body` instead of a file: the whole body on kOk,
// nothing otherwise (a failed, refused or oversized transfer leaves `body`
// empty).
DownloadResult download_to_memory(const std::string& url, std::string& body, const HttpOptions& options);
