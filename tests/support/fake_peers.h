// Recording stand-ins for the program's peers: the dive computer
// (FakeDevice : DeviceLink), the cloud service (FakeCloud : HttpPost) and the
// progress dialog (FakeSink : ProgressSink). Every display-free core is
// tested against these; each records what it was asked, answers from a
// script, and fails on demand. FakeDevice and FakeCloud can also sit in
// front of a real peer (`through`), recording what passes.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/progress_sink.h"
#include "cloud/http_post.h"
#include "device/device_link.h"

namespace vorta_test {

// Memory whose byte at address a is a simple function of a, so that any
// copied byte can be checked.
inline uint8_t MemByte(uint32_t addr) {
    return static_cast<uint8_t>((addr * 7u + 3u) ^ (addr >> 8));
}

// `len` bytes of FakeDevice memory from `addr`, as text.
inline std::string MemBytes(uint32_t addr, uint32_t len) {
    std::string s;
    for (uint32_t i = 0; i < len; ++i) s += static_cast<char>(MemByte(addr + i));
    return s;
}

class FakeDevice : public DeviceLink {
public:
    struct Read {
        uint32_t addr, len;
    };
    struct Write {
        uint32_t addr;
        std::string data;  // the 4096 bytes
    };

    // --- script ---
    // The identity answer.
    std::string firmware_version_text = "1.025";
    uint32_t info_value = 0;
    std::string model = "K7";
    bool fail_info = false;
    int fail_read_at = -1;                   // index of the ReadBlock that fails (its bytes still arrive)
    int fail_write_at = -1;                  // index of the WriteBlock that fails
    std::function<void(size_t)> after_read;  // with the number of reads so far
    // When set, every command goes on to this link and its answer counts;
    // the script above is not used.
    DeviceLink* through = nullptr;

    // --- record ---
    // Every command in order: "IDENTIFY", "READ addr len", "WRITE addr",
    // "END", "FIRMWARE_DONE".
    std::vector<std::string> trace;
    std::vector<Read> reads;
    std::vector<Write> writes;
    int end_links = 0;
    int closes = 0;  // links from Borrow() destroyed (the port closed)

    bool GetInfo(std::string& firmware_version_text_out, uint32_t& info_value_out, std::string& model_out) override {
        trace.push_back("IDENTIFY");
        if (through) return through->GetInfo(firmware_version_text_out, info_value_out, model_out);
        if (fail_info) return false;
        if (!firmware_version_text.empty()) firmware_version_text_out = firmware_version_text;
        info_value_out = info_value;
        if (!model.empty()) model_out = model;
        return true;
    }
    bool ReadBlock(uint32_t addr, uint8_t* out, uint32_t len) override {
        if (end_links) throw std::logic_error("read after EndLink");
        trace.push_back("READ " + std::to_string(addr) + " " + std::to_string(len));
        reads.push_back({addr, len});
        bool ok;
        if (through) {
            ok = through->ReadBlock(addr, out, len);
        } else {
            // The whole block arrives; only the requested length is handed back.
            for (uint32_t i = 0; i < len; ++i) out[i] = MemByte(addr + i);
            ok = static_cast<int>(reads.size()) - 1 != fail_read_at;
        }
        if (after_read) after_read(reads.size());
        return ok;
    }
    bool WriteBlock(uint32_t addr, const uint8_t* data) override {
        if (end_links) throw std::logic_error("write after EndLink");
        trace.push_back("WRITE " + std::to_string(addr));
        writes.push_back({addr, std::string(reinterpret_cast<const char*>(data), 4096)});
        if (through) return through->WriteBlock(addr, data);
        return static_cast<int>(writes.size()) - 1 != fail_write_at;
    }
    size_t EndLink() override {
        trace.push_back("END");
        ++end_links;
        return through ? through->EndLink() : 40;
    }
    void FinishFirmwareUpdate() override {
        trace.push_back("FIRMWARE_DONE");
        if (through) through->FinishFirmwareUpdate();
    }

    // A link onto this device for an owner that destroys it when it closes
    // the port (DeviceSession's opener); each one destroyed counts a close.
    std::unique_ptr<DeviceLink> Borrow() { return std::make_unique<Borrowed>(*this); }

private:
    class Borrowed : public DeviceLink {
    public:
        explicit Borrowed(FakeDevice& d) : d_(d) {}
        ~Borrowed() override { ++d_.closes; }
        bool GetInfo(std::string& f, uint32_t& i, std::string& m) override { return d_.GetInfo(f, i, m); }
        bool ReadBlock(uint32_t a, uint8_t* o, uint32_t l) override { return d_.ReadBlock(a, o, l); }
        bool WriteBlock(uint32_t a, const uint8_t* data) override { return d_.WriteBlock(a, data); }
        size_t EndLink() override { return d_.EndLink(); }
        void FinishFirmwareUpdate() override { d_.FinishFirmwareUpdate(); }

    private:
        FakeDevice& d_;
    };
};

class FakeCloud : public HttpPost {
public:
    struct Request {
        std::string verb, path, headers;
        std::string body;
        int is_json = 0;
    };

    FakeCloud() : HttpPost(HttpOptions()) {}

    // --- script ---
    bool connect_result = true;
    std::vector<std::string> answers;  // one per request, in order
    std::string default_answer;        // for requests past the end of `answers`
    bool throw_on_request = false;
    bool keep_bodies = true;  // false: request bodies are not copied (benchmarks)
    // With the request's index, before it is answered; may run on another thread.
    std::function<void(size_t)> before_answer;
    // When set, connect and every request go on to this client and its
    // answers count; the script above is not used.
    HttpPost* through = nullptr;

    // --- record ---
    std::vector<std::string> connects;  // "host:port" of each connect
    std::vector<Request> requests;
    std::vector<std::string> answered;  // what each request returned

    bool connect(const std::string& host, int port) override {
        connects.push_back(host + ":" + std::to_string(port));
        return through ? through->connect(host, port) : connect_result;
    }
    std::string request(const void* body, uint32_t len, int is_json, const std::string& verb, const std::string& path,
                        const std::string& headers) override {
        if (throw_on_request) throw std::runtime_error("cloud gone");
        Request r{verb, path, headers, std::string(), is_json};
        if (keep_bodies && body) r.body.assign(static_cast<const char*>(body), len);
        requests.push_back(std::move(r));
        const size_t i = requests.size() - 1;
        if (before_answer) before_answer(i);
        std::string answer;
        if (through) {
            answer = through->request(body, len, is_json, verb, path, headers);
        } else {
            answer = i < answers.size() ? answers[i] : default_answer;
        }
        answered.push_back(answer);
        return answer;
    }
};

class FakeSink : public ProgressSink {
public:
    std::vector<std::string> events;  // "status:KEY", "counters:...", "progress:N", "message:KEY", "end:N"
    bool cancel = false;

    bool wait_ready(int) override { return true; }
    void set_status(const std::string& key) override { events.push_back("status:" + key); }
    void set_counters(const std::string& line) override { events.push_back("counters:" + line); }
    void set_progress(const std::string& p) override { events.push_back("progress:" + p); }
    void show_message(const std::string& key) override { events.push_back("message:" + key); }
    void end(int r) override { events.push_back("end:" + std::to_string(r)); }
    bool cancel_requested() override { return cancel; }

    // The events of one kind, without their prefix ("status:", ...).
    std::vector<std::string> With(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const auto& e : events)
            if (e.compare(0, prefix.size(), prefix) == 0) out.push_back(e.substr(prefix.size()));
        return out;
    }
};

}  // namespace vorta_test
