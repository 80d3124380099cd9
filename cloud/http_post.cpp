#include "cloud/http_post.h"

#include "base/app_state.h"
#include "base/paths.h"
#include "cloud/cloud_config.h"

#include <curl/curl.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr const char* kAgent = "InetURL/1.0";
// The body is taken in reads of this size; a zero byte ends what a read adds.
constexpr std::size_t kReadChunk = 1024;
// The library's name at run time: the major version the program is built for.
constexpr const char* kCurlLibrary = "libcurl.so.4";

// libcurl is loaded at the first transfer, not with the program: with it come
// two TLS stacks (its own and GnuTLS through the libraries it links, whose
// constructor sets GnuTLS up at once), ~3 MB of a process that has not yet
// asked anything of the network, and their loading time at start-up. The
// functions the transfers use are taken from it once, and the library is set
// up (curl_global_init) then; it stays loaded. Without it every transfer
// fails as an unreachable host.
struct CurlApi {
    decltype(&curl_global_init) global_init = nullptr;
    decltype(&curl_easy_init) easy_init = nullptr;
    decltype(&curl_easy_setopt) easy_setopt = nullptr;
    decltype(&curl_easy_perform) easy_perform = nullptr;
    decltype(&curl_easy_reset) easy_reset = nullptr;
    decltype(&curl_easy_cleanup) easy_cleanup = nullptr;
    decltype(&curl_slist_append) slist_append = nullptr;
    decltype(&curl_slist_free_all) slist_free_all = nullptr;
};

template <typename F>
bool Take(void* lib, const char* name, F& fn) {
    fn = reinterpret_cast<F>(dlsym(lib, name));
    return fn != nullptr;
}

// The loaded library, or nullptr when it cannot be had.
const CurlApi* Curl() {
    static const CurlApi* const api = []() -> const CurlApi* {
        // Bound lazily, as when the program linked it: the first transfer
        // does not pay for binding every function of libcurl and its TLS
        // libraries.
        void* lib = dlopen(kCurlLibrary, RTLD_LAZY | RTLD_LOCAL);
        if (lib == nullptr) return nullptr;
        static CurlApi c;
        if (!Take(lib, "curl_global_init", c.global_init) || !Take(lib, "curl_easy_init", c.easy_init) ||
            !Take(lib, "curl_easy_setopt", c.easy_setopt) || !Take(lib, "curl_easy_perform", c.easy_perform) ||
            !Take(lib, "curl_easy_reset", c.easy_reset) || !Take(lib, "curl_easy_cleanup", c.easy_cleanup) ||
            !Take(lib, "curl_slist_append", c.slist_append) || !Take(lib, "curl_slist_free_all", c.slist_free_all) ||
            c.global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK)
            return nullptr;
        return &c;
    }();
    return api;
}

// A new transfer handle; nullptr without libcurl. Every other call below is
// made on a handle from here, so the library is loaded by then.
CURL* NewHandle() {
    const CurlApi* api = Curl();
    return api ? api->easy_init() : nullptr;
}

template <typename T>
void Setopt(CURL* h, CURLoption option, T value) {
    Curl()->easy_setopt(h, option, value);
}

// Options shared by requests and downloads. Certificate checking is always on.
// False when the configured CA file cannot be used: curl would open a FIFO or
// device there and wait on it for ever, so the transfer is refused instead.
bool ApplyTransport(CURL* h, const HttpOptions& o) {
    if (!o.ca_file.empty() && !UsableCaFile(o.ca_file)) return false;
    Setopt(h, CURLOPT_NOSIGNAL, 1L);
    Setopt(h, CURLOPT_USERAGENT, kAgent);
    Setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    Setopt(h, CURLOPT_CONNECTTIMEOUT_MS, o.connect_timeout_ms);
    Setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
    Setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
    // An extra CA file replaces curl's default bundle; the hashed system CA
    // directory stays in use beside it, so both are trusted.
    if (!o.ca_file.empty()) Setopt(h, CURLOPT_CAINFO, o.ca_file.c_str());
    if (!o.ca_dir.empty()) Setopt(h, CURLOPT_CAPATH, o.ca_dir.c_str());
    if (o.stall_seconds > 0) {
        Setopt(h, CURLOPT_LOW_SPEED_LIMIT, o.stall_min_bytes_per_s > 0 ? o.stall_min_bytes_per_s : 1L);
        Setopt(h, CURLOPT_LOW_SPEED_TIME, o.stall_seconds);
    }
    if (o.total_timeout_ms > 0) Setopt(h, CURLOPT_TIMEOUT_MS, o.total_timeout_ms);
    return true;
}

// Collects a response body in the shape of 1024-byte reads: within each read
// the bytes after the first zero byte are dropped; the next read starts
// afresh. Counts every received byte against the size limit.
struct BodySink {
    std::string text;
    std::size_t received = 0;
    std::size_t limit = 0;
    std::size_t chunk_pos = 0;  // offset inside the current 1024-byte read
    bool chunk_cut = false;     // a zero byte was seen in the current read
    bool over_limit = false;

    static size_t Write(char* data, size_t size, size_t count, void* user) {
        auto* self = static_cast<BodySink*>(user);
        const size_t total = size * count;
        if (total > self->limit - self->received) {
            self->over_limit = true;
            return 0;  // makes curl abandon the transfer
        }
        self->received += total;
        size_t left = total;
        while (left > 0) {
            const size_t take = std::min(left, kReadChunk - self->chunk_pos);
            if (!self->chunk_cut) {
                const void* zero = std::memchr(data, 0, take);
                const size_t keep = zero ? static_cast<size_t>(static_cast<const char*>(zero) - data) : take;
                self->text.append(data, keep);
                if (zero) self->chunk_cut = true;
            }
            data += take;
            left -= take;
            self->chunk_pos += take;
            if (self->chunk_pos == kReadChunk) {
                self->chunk_pos = 0;
                self->chunk_cut = false;
            }
        }
        return total;
    }
};

bool UsableHost(const std::string& host) {
    if (host.empty() || host.size() > 253 + 2) return false;
    for (unsigned char c : host) {
        if (c <= 0x20 || c == 0x7F || c == '/' || c == '?' || c == '#' || c == '@' || c == '\\') return false;
    }
    return true;
}

bool UsableVerb(const std::string& verb) {
    if (verb.empty() || verb.size() > 16) return false;
    for (char c : verb) {
        if (c < 'A' || c > 'Z') return false;
    }
    return true;
}

// Counts the attempts curl makes at one request. When a reused connection
// dies before any answer arrives, curl silently opens a new one and sends the
// request again; for a post that would hand the cloud the same data twice
// (the server may well have acted on the first copy). A request that may
// change something therefore gets exactly one attempt: a second one is
// refused before anything goes out, and the request fails as any lost answer.
struct SingleAttempt {
    int attempts = 0;
    static int Check(void* user, char*, char*, int, int) {
        auto* self = static_cast<SingleAttempt*>(user);
        return ++self->attempts == 1 ? CURL_PREREQFUNC_OK : CURL_PREREQFUNC_ABORT;
    }
};

struct HeaderList {
    curl_slist* list = nullptr;
    ~HeaderList() {
        if (list) Curl()->slist_free_all(list);
    }
    void Add(const std::string& line) {
        if (curl_slist* next = Curl()->slist_append(list, line.c_str())) list = next;
    }
};

// Splits a header block ("Name: value\r\n...\r\n\r\n") into its lines.
void AddHeaderBlock(HeaderList& out, const std::string& block) {
    size_t start = 0;
    while (start < block.size()) {
        size_t end = block.find('\n', start);
        if (end == std::string::npos) end = block.size();
        std::string line = block.substr(start, end - start);
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
        // A stray zero byte would end the line early inside curl; drop such lines.
        if (!line.empty() && line.find('\0') == std::string::npos && line.find('\r') == std::string::npos)
            out.Add(line);
        start = end + 1;
    }
}

}  // namespace

HttpOptions HttpOptions::FromConfig() {
    HttpOptions o;
    o.ca_file = CloudCaFile();
    return o;
}

HttpPost::HttpPost() : HttpPost(HttpOptions::FromConfig()) {}

HttpPost::HttpPost(const HttpOptions& options) : options_(options) {}

HttpPost::~HttpPost() {
    if (curl_) Curl()->easy_cleanup(static_cast<CURL*>(curl_));  // closes the kept connection
    curl_ = nullptr;
}

bool HttpPost::connect(const std::string& host, int port) {
    if (!UsableHost(host) || port <= 0 || port > 65535) return false;
    if (!curl_) {
        curl_ = NewHandle();
        if (!curl_) return false;
    }
    base_url_ = "https://" + UrlHost(host) + ":" + std::to_string(port) + "/";
    return true;
}

std::string HttpPost::request(const void* body, uint32_t len, int is_json, const std::string& verb,
                              const std::string& path, const std::string& headers) {
    if (!curl_ || !UsableVerb(verb)) return std::string();
    CURL* h = static_cast<CURL*>(curl_);
    // Reset forgets the previous request's options but keeps the open
    // connection and the TLS session.
    Curl()->easy_reset(h);
    if (!ApplyTransport(h, options_)) return std::string();
    const std::string url = base_url_ + path;
    Setopt(h, CURLOPT_URL, url.c_str());
    Setopt(h, CURLOPT_PROTOCOLS_STR, "https");

    HeaderList list;
    list.Add(is_json ? "Content-Type: application/json" : "Content-Type: application/x-www-form-urlencoded");
    list.Add("accept: application/json");
    list.Add("Expect:");  // send the body at once, no 100-continue round trip
    AddHeaderBlock(list, headers);
    Setopt(h, CURLOPT_HTTPHEADER, list.list);

    const char* data = static_cast<const char*>(body);
    const curl_off_t size = data ? static_cast<curl_off_t>(len) : 0;
    SingleAttempt attempt;
    if (verb == "GET" && size == 0) {
        Setopt(h, CURLOPT_HTTPGET, 1L);
    } else if (verb == "HEAD") {
        Setopt(h, CURLOPT_NOBODY, 1L);  // an answer without a body follows
    } else {
        // Reading requests may be repeated on a fresh connection; these not.
        Setopt(h, CURLOPT_PREREQFUNCTION, &SingleAttempt::Check);
        Setopt(h, CURLOPT_PREREQDATA, &attempt);
        Setopt(h, CURLOPT_POST, 1L);
        Setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, size);
        Setopt(h, CURLOPT_POSTFIELDS, size > 0 ? data : "");
        if (verb != "POST") Setopt(h, CURLOPT_CUSTOMREQUEST, verb.c_str());
    }

    BodySink sink;
    sink.limit = options_.max_body_bytes;
    Setopt(h, CURLOPT_WRITEFUNCTION, &BodySink::Write);
    Setopt(h, CURLOPT_WRITEDATA, &sink);

    const CURLcode rc = Curl()->easy_perform(h);
    // The header list, the body and the sink die with this call; the kept
    // handle must not point at them.
    Setopt(h, CURLOPT_HTTPHEADER, static_cast<curl_slist*>(nullptr));
    Setopt(h, CURLOPT_WRITEDATA, static_cast<void*>(nullptr));
    Setopt(h, CURLOPT_POSTFIELDS, static_cast<const char*>(nullptr));
    Setopt(h, CURLOPT_PREREQDATA, static_cast<void*>(nullptr));
    Setopt(h, CURLOPT_PREREQFUNCTION, static_cast<curl_prereq_callback>(nullptr));
    if (sink.over_limit) return std::string();
    // A failure mid-body returns what was read so far (it normally fails to
    // parse); a failure before any body byte returns the empty string.
    if (rc != CURLE_OK && sink.received == 0) return std::string();
    return std::move(sink.text);
}

std::string make_bearer_header() {
    // The token comes from the cloud's sign-in answer or the settings file. A
    // line break in it would add header lines of its own to every request, so
    // a token with control characters is not sent at all.
    const std::string& token = AppState.token;
    for (unsigned char c : token) {
        if (c < 0x20 || c == 0x7F) return "Authorization: Bearer \r\n\r\n";
    }
    return "Authorization: Bearer " + token + "\r\n\r\n";
}

std::string UrlHost(const std::string& host) {
    return host.find(':') != std::string::npos && host.front() != '[' ? "[" + host + "]" : host;
}

std::string url_encode(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() * 3);
    for (unsigned char c : text) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                           c == '_' || c == '.' || c == '~';
        if (plain) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 0x0F]);
        }
    }
    return out;
}

namespace {

struct FileSink {
    int fd = -1;
    std::uint64_t written = 0;
    std::uint64_t limit = 0;
    bool failed = false;
    bool over_limit = false;

    static size_t Write(char* data, size_t size, size_t count, void* user) {
        auto* self = static_cast<FileSink*>(user);
        const size_t total = size * count;
        if (total > self->limit - self->written) {
            // Stops the transfer at once: nothing past the limit is taken.
            self->over_limit = true;
            return 0;
        }
        size_t done = 0;
        while (done < total) {
            const ssize_t n = ::write(self->fd, data + done, total - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                self->failed = true;
                return 0;
            }
            done += static_cast<size_t>(n);
        }
        self->written += total;
        return total;
    }
};

// Creates a new file beside `path` for the download; the name is unique.
int OpenTempBeside(const std::string& path, std::string& temp) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp = path + ".part-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
        const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

// The options of a whole-file download of `url`, after the transport's.
bool ApplyDownload(CURL* h, const std::string& url, const HttpOptions& options) {
    if (!ApplyTransport(h, options)) return false;
    Setopt(h, CURLOPT_URL, url.c_str());
    // Only web schemes: a URL named by a downloaded manifest must not reach
    // local files or other protocols, neither directly nor by a redirect.
    const char* protocols = options.https_only ? "https" : "http,https";
    Setopt(h, CURLOPT_PROTOCOLS_STR, protocols);
    Setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, protocols);
    Setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    Setopt(h, CURLOPT_MAXREDIRS, 10L);
    // The size limit is the sink's alone: curl's own (CURLOPT_MAXFILESIZE)
    // also judges the bodies of redirects and error answers, so a small file
    // behind a wordy redirect would count as too large.
    // An error answer (404, 500, ...) is a failed download, not the file: it
    // must never replace a good manifest or image, nor be flashed later.
    Setopt(h, CURLOPT_FAILONERROR, 1L);
    return true;
}

struct MemorySink {
    std::string* body = nullptr;
    std::uint64_t limit = 0;
    bool over_limit = false;

    static size_t Write(char* data, size_t size, size_t count, void* user) {
        auto* self = static_cast<MemorySink*>(user);
        const size_t total = size * count;
        if (total > self->limit - self->body->size()) {
            self->over_limit = true;
            return 0;
        }
        self->body->append(data, total);
        return total;
    }
};

}  // namespace

DownloadResult download_to_memory(const std::string& url, std::string& body, const HttpOptions& options) {
    body.clear();
    if (url.empty()) return DownloadResult::kFailed;
    CURL* h = NewHandle();
    if (!h) return DownloadResult::kFailed;
    MemorySink sink;
    sink.body = &body;
    sink.limit = options.max_download_bytes;
    CURLcode rc = CURLE_FAILED_INIT;
    if (ApplyDownload(h, url, options)) {
        Setopt(h, CURLOPT_WRITEFUNCTION, &MemorySink::Write);
        Setopt(h, CURLOPT_WRITEDATA, &sink);
        rc = Curl()->easy_perform(h);
    }
    Curl()->easy_cleanup(h);
    if (rc == CURLE_OK && !sink.over_limit) return DownloadResult::kOk;
    body.clear();
    return sink.over_limit ? DownloadResult::kTooLarge : DownloadResult::kFailed;
}

bool download_to_file(const std::string& url, const std::string& path) {
    return download_to_file(url, path, HttpOptions::FromConfig());
}

bool download_to_file(const std::string& url, const std::string& path, const HttpOptions& options) {
    return download_file(url, path, options) == DownloadResult::kOk;
}

DownloadResult download_file(const std::string& url, const std::string& path, const HttpOptions& options) {
    if (url.empty() || path.empty()) return DownloadResult::kFailed;
    CURL* h = NewHandle();
    if (!h) return DownloadResult::kFailed;

    std::string temp;
    FileSink sink;
    sink.limit = options.max_download_bytes;
    sink.fd = OpenTempBeside(path, temp);
    if (sink.fd < 0) {
        Curl()->easy_cleanup(h);
        return DownloadResult::kFailed;
    }

    if (!ApplyDownload(h, url, options)) {
        Curl()->easy_cleanup(h);
        ::close(sink.fd);
        ::unlink(temp.c_str());
        return DownloadResult::kFailed;
    }
    Setopt(h, CURLOPT_WRITEFUNCTION, &FileSink::Write);
    Setopt(h, CURLOPT_WRITEDATA, &sink);

    const CURLcode rc = Curl()->easy_perform(h);
    Curl()->easy_cleanup(h);

    const bool too_large = sink.over_limit;
    bool ok = rc == CURLE_OK && !sink.failed && !too_large;
    if (ok && options.sync_to_disk && ::fsync(sink.fd) != 0) ok = false;
    if (::close(sink.fd) != 0) ok = false;
    if (ok && std::rename(temp.c_str(), path.c_str()) != 0) ok = false;
    if (!ok) ::unlink(temp.c_str());
    if (ok) return DownloadResult::kOk;
    return too_large ? DownloadResult::kTooLarge : DownloadResult::kFailed;
}
