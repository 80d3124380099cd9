// HttpPost and download_to_file over real TLS against an in-test server.
#include "base/app_state.h"
#include "base/config.h"
#include "cloud/cloud_api.h"
#include "cloud/http_post.h"
#include "tests/cloud/tls_test_server.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>
#include <vector>

namespace {

struct Seen {
    std::string method, target, body;
    httplib::Headers headers;
    std::string Header(const char* name) const {
        auto it = headers.find(name);
        return it == headers.end() ? std::string("<none>") : it->second;
    }
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& data) {
    std::ofstream(path, std::ios::binary) << data;
}

std::string BinaryPayload(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
    return s;
}

const char kOk[] = "{\"code\":\"0000000\",\"message\":\"ok\",\"response\":{\"n\":1}}";

class HttpPostTls : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(pki_.ok()) << "openssl tool failed";
        server_ = std::make_unique<TlsTestServer>(pki_.cert(), pki_.key());
        auto& http = server_->http();
        auto record = [this](const httplib::Request& req, httplib::Response& res) {
            std::lock_guard<std::mutex> lock(mu_);
            Seen s{req.method, req.target, req.body, req.headers};
            seen_.push_back(s);
            res.set_content(kOk, "application/json");
        };
        http.Get("/api/echo", record);
        http.Patch("/api/echo", record);
        // Device uploads are form-typed binary bodies larger than the server
        // library's form limit; a content reader takes them raw.
        http.Post("/api/echo",
                  [record](const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& reader) {
                      httplib::Request copy = req;
                      reader([&copy](const char* data, size_t n) {
                          copy.body.append(data, n);
                          return true;
                      });
                      record(copy, res);
                  });
        http.Get("/exact1024", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(std::string(1024, 'a'), "text/plain");
        });
        http.Get("/zero", [](const httplib::Request&, httplib::Response& res) {
            std::string body = std::string("AB\0", 3) + std::string(1021, 'x');  // read 1: cut after "AB"
            body += std::string(1024, 'y');                                      // read 2: whole
            body += std::string("Z\0tail", 6);                                   // read 3: cut after "Z"
            res.set_content(body, "application/json");
        });
        http.Get("/truncated", [](const httplib::Request&, httplib::Response& res) {
            res.set_content_provider(4000, "application/json", [](size_t, size_t, httplib::DataSink& sink) {
                const std::string part = "{\"code\":\"0000000\",\"response\":{\"text\":\"" + std::string(1500, 'q');
                sink.write(part.data(), part.size());
                return false;  // the connection ends before the promised length
            });
        });
        http.Get("/drop", [](const httplib::Request&, httplib::Response& res) {
            res.set_content_provider(100, "application/json", [](size_t, size_t, httplib::DataSink&) { return false; });
        });
        http.Get("/huge", [](const httplib::Request&, httplib::Response& res) {
            res.set_content_provider(size_t(8) << 20, "application/json",
                                     [](size_t offset, size_t, httplib::DataSink& sink) {
                                         static const std::string block(65536, 'h');
                                         (void)offset;
                                         return sink.write(block.data(), block.size());
                                     });
        });
        http.Get("/stall", [this](const httplib::Request&, httplib::Response& res) {
            std::unique_lock<std::mutex> lock(mu_);
            release_cv_.wait_for(lock, std::chrono::seconds(60), [this] { return released_; });
            res.set_content(kOk, "application/json");
        });
        http.Get("/file.bin", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(BinaryPayload(300000), "application/octet-stream");
        });
        http.Get("/moved", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/file.bin"); });
        http.Get("/api/elsewhere", [](const httplib::Request&, httplib::Response& res) {
            res.set_redirect("https://localhost:1/api/echo");
            res.set_content("{\"code\":\"0000302\"}", "application/json");
        });
        // Wordy answers around a small file: neither body is the file.
        http.Get("/big-404", [](const httplib::Request&, httplib::Response& res) {
            res.status = 404;
            res.set_content(std::string(400000, 'n'), "text/html");
        });
        http.Get("/wordy-move", [](const httplib::Request&, httplib::Response& res) {
            res.set_redirect("/file.bin");
            res.set_content(std::string(400000, 'm'), "text/html");
        });
        http.Get("/to-http", [this](const httplib::Request&, httplib::Response& res) {
            res.set_redirect("http://127.0.0.1:" + std::to_string(plain_port_) + "/file.bin");
        });
        http.Get(R"(/api/v1/users/([^/]*)/statistics)", record);
        port_ = server_->Start();
        ASSERT_GT(port_, 0);

        options_.ca_file = pki_.ca();
        options_.stall_seconds = 1;
        temp_ = MakeTempDir("cloudtest");
    }

    void TearDown() override {
        {
            std::lock_guard<std::mutex> lock(mu_);
            released_ = true;
        }
        release_cv_.notify_all();
        server_.reset();
        RemoveTree(temp_);
    }

    std::string Get(HttpPost& http, const std::string& path) { return http.request(nullptr, 0, 0, "GET", path, ""); }
    std::string Url(const std::string& path) const { return "https://127.0.0.1:" + std::to_string(port_) + path; }

    TestPki pki_;
    std::unique_ptr<TlsTestServer> server_;
    int port_ = -1;
    std::atomic<int> plain_port_{0};
    HttpOptions options_;
    std::string temp_;
    std::mutex mu_;
    std::vector<Seen> seen_;
    std::condition_variable release_cv_;
    bool released_ = false;
};

TEST_F(HttpPostTls, RoundTripsWithHeadersBodiesAndOneConnection) {
    AppState.token = "tok-123";
    HttpPost http(options_);
    ASSERT_TRUE(http.connect("127.0.0.1", port_));

    // A form post with binary device bytes (zero bytes included) and the bearer block.
    const std::string device = BinaryPayload(100000);
    EXPECT_EQ(http.request(device.data(), static_cast<uint32_t>(device.size()), 0, "POST",
                           "api/echo?model=K7&length=100000", make_bearer_header()),
              kOk);
    // A JSON edit and a plain GET without authorization.
    const std::string json = "{\"notes\":\"x\"}";
    EXPECT_EQ(
        http.request(json.data(), static_cast<uint32_t>(json.size()), 1, "PATCH", "api/echo", make_bearer_header()),
        kOk);
    EXPECT_EQ(Get(http, "api/echo?year_month=202403"), kOk);
    for (int i = 0; i < 17; ++i) EXPECT_EQ(Get(http, "api/echo"), kOk);

    std::lock_guard<std::mutex> lock(mu_);
    ASSERT_EQ(seen_.size(), 20u);
    const Seen& post = seen_[0];
    EXPECT_EQ(post.method, "POST");
    EXPECT_EQ(post.target, "/api/echo?model=K7&length=100000");
    EXPECT_EQ(post.body, device);
    EXPECT_EQ(post.Header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(post.Header("Accept"), "application/json");
    EXPECT_EQ(post.Header("User-Agent"), "InetURL/1.0");
    EXPECT_EQ(post.Header("Authorization"), "Bearer tok-123");
    EXPECT_EQ(post.Header("Expect"), "<none>");
    EXPECT_EQ(post.headers.count("Accept"), 1u);

    const Seen& patch = seen_[1];
    EXPECT_EQ(patch.method, "PATCH");
    EXPECT_EQ(patch.body, json);
    EXPECT_EQ(patch.Header("Content-Type"), "application/json");

    const Seen& get = seen_[2];
    EXPECT_EQ(get.method, "GET");
    EXPECT_EQ(get.target, "/api/echo?year_month=202403");
    EXPECT_EQ(get.Header("Authorization"), "<none>");
    EXPECT_EQ(get.Header("Content-Type"), "application/x-www-form-urlencoded");

    // Twenty requests, one TLS connection.
    EXPECT_EQ(server_->Handshakes(), 1);
    AppState.token.clear();
}

TEST_F(HttpPostTls, RequestsStayOnTheirEndpointAndHost) {
    AppState.token = "tok-secret";
    HttpPost http(options_);
    ASSERT_TRUE(http.connect("127.0.0.1", port_));
    // An id of dots from the cloud is not resolved to another endpoint.
    EXPECT_EQ(http.request(nullptr, 0, 0, "GET", UrlStatistics(".."), make_bearer_header()), kOk);
    // A redirect is an answer, not a place to take the token to.
    EXPECT_EQ(http.request(nullptr, 0, 0, "GET", "api/elsewhere", make_bearer_header()), "{\"code\":\"0000302\"}");
    std::lock_guard<std::mutex> lock(mu_);
    ASSERT_EQ(seen_.size(), 1u);
    EXPECT_EQ(seen_[0].target, "/api/v1/users/%2E%2E/statistics");
    EXPECT_EQ(seen_[0].Header("Authorization"), "Bearer tok-secret");
    AppState.token.clear();
}

TEST_F(HttpPostTls, BodyIsReadInKilobyteChunksCutAtZeroBytes) {
    HttpPost http(options_);
    ASSERT_TRUE(http.connect("127.0.0.1", port_));
    EXPECT_EQ(Get(http, "exact1024"), std::string(1024, 'a'));
    EXPECT_EQ(Get(http, "zero"), "AB" + std::string(1024, 'y') + "Z");
}

TEST_F(HttpPostTls, BrokenAnswersEndAsNotConnected) {
    HttpPost http(options_);
    ASSERT_TRUE(http.connect("127.0.0.1", port_));

    // Cut mid-body: the text read so far comes back and does not parse.
    const std::string partial = Get(http, "truncated");
    EXPECT_EQ(partial.compare(0, 9, "{\"code\":\""), 0);
    EXPECT_EQ(check_envelope(partial), EnvelopeResult::NotConnected);

    EXPECT_EQ(Get(http, "drop"), "");

    // The object keeps working after the failures (on a new connection).
    EXPECT_EQ(Get(http, "api/echo"), kOk);
}

TEST_F(HttpPostTls, HugeBodyWithinLimitIsKept) {
    options_.max_body_bytes = size_t(16) << 20;
    HttpPost http(options_);
    ASSERT_TRUE(http.connect("127.0.0.1", port_));
    EXPECT_EQ(Get(http, "huge").size(), size_t(8) << 20);
    options_.max_body_bytes = size_t(1) << 20;
    HttpPost small(options_);
    ASSERT_TRUE(small.connect("127.0.0.1", port_));
    EXPECT_TRUE(Get(small, "huge").empty()) << "bodies over the limit are refused";
}

TEST_F(HttpPostTls, StalledServerIsAbandoned) {
    HttpPost http(options_);
    ASSERT_TRUE(http.connect("127.0.0.1", port_));
    EXPECT_EQ(Get(http, "stall"), "");
}

TEST_F(HttpPostTls, UntrustedOrMismatchedCertificateFails) {
    HttpOptions other = options_;
    TestPki stranger;  // a CA the client does not trust
    ASSERT_TRUE(stranger.ok());
    other.ca_file = stranger.ca();
    HttpPost http(other);
    ASSERT_TRUE(http.connect("127.0.0.1", port_));
    EXPECT_EQ(Get(http, "api/echo"), "");
    EXPECT_EQ(check_envelope(Get(http, "api/echo")), EnvelopeResult::NotConnected);

    // Trusted CA, but the certificate names another host.
    TestPki wrong_name("DNS:cloud.example");
    ASSERT_TRUE(wrong_name.ok());
    TlsTestServer server(wrong_name.cert(), wrong_name.key());
    const int port = server.Start();
    ASSERT_GT(port, 0);
    HttpOptions trusting = options_;
    trusting.ca_file = wrong_name.ca();
    HttpPost misnamed(trusting);
    ASSERT_TRUE(misnamed.connect("127.0.0.1", port));
    EXPECT_EQ(Get(misnamed, "api/echo"), "");

    std::lock_guard<std::mutex> lock(mu_);
    EXPECT_TRUE(seen_.empty());
}

TEST_F(HttpPostTls, ConfiguredCaFileAddsToTheSystemCas) {
    // Server B's CA sits in a hashed CA folder (as the system CAs do), server
    // A's in the configured file; one client trusts both.
    TestPki pki_b;
    ASSERT_TRUE(pki_b.ok());
    TlsTestServer server_b(pki_b.cert(), pki_b.key());
    server_b.http().Get("/b",
                        [](const httplib::Request&, httplib::Response& res) { res.set_content("B", "text/plain"); });
    const int port_b = server_b.Start();
    ASSERT_GT(port_b, 0);

    HttpOptions both = options_;
    both.ca_dir = pki_b.MakeHashedCaDir();
    HttpPost a(both), b(both);
    ASSERT_TRUE(a.connect("127.0.0.1", port_));
    ASSERT_TRUE(b.connect("127.0.0.1", port_b));
    EXPECT_EQ(Get(a, "api/echo"), kOk);
    EXPECT_EQ(Get(b, "b"), "B");

    // Without the folder, B is not trusted: the folder is what made it pass.
    HttpOptions file_only = options_;
    file_only.ca_dir = temp_;
    HttpPost c(file_only);
    ASSERT_TRUE(c.connect("127.0.0.1", port_b));
    EXPECT_EQ(Get(c, "b"), "");
}

TEST_F(HttpPostTls, CaFileThatIsAFifoFailsAtOnce) {
    // Opening a FIFO for reading waits for a writer that never comes.
    const std::string fifo = temp_ + "/ca.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    HttpOptions o = options_;
    o.ca_file = fifo;
    HttpPost http(o);
    ASSERT_TRUE(http.connect("127.0.0.1", port_));
    auto answer = std::async(std::launch::async, [&] {
        return Get(http, "api/echo") + (download_to_file(Url("/file.bin"), temp_ + "/out", o) ? "+file" : "");
    });
    const bool returned = answer.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    // Release stuck readers (a writer comes and goes) so that the test ends.
    for (int i = 0; i < 600 && answer.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready; ++i) {
        const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) ::close(fd);
    }
    EXPECT_TRUE(returned) << "the transfer waited on the FIFO";
    EXPECT_EQ(answer.get(), "");
}

TEST_F(HttpPostTls, ConnectAndRequestRefuseBadInput) {
    HttpPost http(options_);
    EXPECT_EQ(Get(http, "api/echo"), "") << "not connected yet";
    EXPECT_FALSE(http.connect("", 8443));
    EXPECT_FALSE(http.connect("evil.example/x?", 8443));
    EXPECT_FALSE(http.connect("127.0.0.1", 0));
    ASSERT_TRUE(http.connect("127.0.0.1", port_));
    EXPECT_EQ(http.request(nullptr, 0, 0, "GET\r\nX: y", "api/echo", ""), "");
    EXPECT_EQ(Get(http, "api/echo two\r\nX: y"), "");

    // Nobody listening: an empty answer, no hang.
    TlsTestServer closed(pki_.cert(), pki_.key());
    const int dead_port = closed.Start();
    closed.Stop();
    HttpPost nobody(options_);
    ASSERT_TRUE(nobody.connect("127.0.0.1", dead_port));
    EXPECT_EQ(Get(nobody, "api/echo"), "");
}

TEST_F(HttpPostTls, DownloadReplacesAnExistingFileOnlyWhenComplete) {
    const std::string path = temp_ + "/features.json";
    WriteFile(path, std::string(500000, 'o'));  // larger than the new file
    ASSERT_TRUE(download_to_file(Url("/file.bin"), path, options_));
    EXPECT_EQ(ReadFile(path), BinaryPayload(300000));

    // Redirects are followed.
    const std::string moved = temp_ + "/moved.bin";
    ASSERT_TRUE(download_to_file(Url("/moved"), moved, options_));
    EXPECT_EQ(ReadFile(moved), BinaryPayload(300000));

    // Failed downloads leave the previous file untouched and no stray files.
    EXPECT_FALSE(download_to_file(Url("/drop"), path, options_));
    EXPECT_FALSE(download_to_file(Url("/no/such/file"), path, options_));  // an error page is no file
    EXPECT_FALSE(download_to_file(Url("/truncated"), path, options_));
    HttpOptions strict = options_;
    strict.max_download_bytes = 1000;
    EXPECT_FALSE(download_to_file(Url("/file.bin"), path, strict));
    EXPECT_FALSE(download_to_file("file://" + path, temp_ + "/copy", options_));
    EXPECT_FALSE(download_to_file(Url("/file.bin"), temp_ + "/no/such/dir/f", options_));
    EXPECT_EQ(ReadFile(path), BinaryPayload(300000));
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(temp_)) files += entry.is_regular_file();
    EXPECT_EQ(files, 2u);
}

TEST_F(HttpPostTls, DownloadsToFileOrMemoryStopAtTheirLimitAndHttpsOnlyRefusesEveryPlainHop) {
    httplib::Server plain;
    std::atomic<int> plain_hits{0};
    plain.Get("/file.bin", [&plain_hits](const httplib::Request&, httplib::Response& res) {
        ++plain_hits;
        res.set_content(BinaryPayload(300000), "application/octet-stream");
    });
    plain_port_ = plain.bind_to_any_port("127.0.0.1");
    ASSERT_GT(plain_port_, 0);
    std::thread serving([&plain] { plain.listen_after_bind(); });
    const std::string http_url = "http://127.0.0.1:" + std::to_string(plain_port_) + "/file.bin";

    HttpOptions https_only = options_, exact = options_, one_less = options_;
    https_only.https_only = true;
    exact.max_download_bytes = 300000;
    one_less.max_download_bytes = 299999;
    const struct Case {
        const char* what;
        std::string url;
        const HttpOptions& options;
        DownloadResult expected;
    } cases[] = {
        {"plain http by default", http_url, options_, DownloadResult::kOk},
        {"redirect to plain http by default", Url("/to-http"), options_, DownloadResult::kOk},
        {"plain http, https only", http_url, https_only, DownloadResult::kFailed},
        {"redirect to plain http, https only", Url("/to-http"), https_only, DownloadResult::kFailed},
        {"https redirect, https only", Url("/moved"), https_only, DownloadResult::kOk},
        {"exactly the limit", Url("/file.bin"), exact, DownloadResult::kOk},
        {"announced one byte over", Url("/file.bin"), one_less, DownloadResult::kTooLarge},
        {"error page", Url("/no/such/file"), one_less, DownloadResult::kFailed},
        {"error page longer than the limit", Url("/big-404"), one_less, DownloadResult::kFailed},
        {"redirect page longer than the limit", Url("/wordy-move"), exact, DownloadResult::kOk},
    };
    const std::string path = temp_ + "/data1.bin";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove(path);
        EXPECT_EQ(download_file(c.url, path, c.options), c.expected);
        EXPECT_EQ(ReadFile(path), c.expected == DownloadResult::kOk ? BinaryPayload(300000) : "");
        // The same download into memory ends the same way.
        std::string body = "left over";
        EXPECT_EQ(download_to_memory(c.url, body, c.options), c.expected);
        EXPECT_EQ(body, c.expected == DownloadResult::kOk ? BinaryPayload(300000) : "");
    }
    // Only the two default cases reached the plain host, on each road.
    EXPECT_EQ(plain_hits.load(), 4);
    std::filesystem::remove(path);
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(temp_)) files += entry.is_regular_file();
    EXPECT_EQ(files, 0u) << "a failed download left a file";
    plain.stop();
    serving.join();
}

TEST_F(HttpPostTls, DefaultsComeFromTheConfiguration) {
    ::setenv("VORTA_CLOUD_HOST", "127.0.0.1", 1);
    ::setenv("VORTA_CA_FILE", pki_.ca().c_str(), 1);
    ReloadConfig();
    EXPECT_EQ(UrlFirmwareManifest(), "https://127.0.0.1:8443/api/v1/devices/firmwareUpdate?model=K7");
    HttpPost http;
    ASSERT_TRUE(http.connect(CloudHost(), port_));
    EXPECT_EQ(Get(http, "api/echo"), kOk);
    const std::string path = temp_ + "/profile.json";
    EXPECT_TRUE(download_to_file(Url("/file.bin"), path));
    EXPECT_EQ(ReadFile(path).size(), 300000u);
}

}  // namespace
