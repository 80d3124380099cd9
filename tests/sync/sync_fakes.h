// Stand-ins for the device, the cloud and the progress dialog that record
// everything the sync does to them.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "sync/sync_ports.h"

namespace sync_test {

// Memory whose byte at address a is a simple function of a, so that any
// copied byte can be checked.
inline uint8_t MemByte(uint32_t addr) { return static_cast<uint8_t>((addr * 7u + 3u) ^ (addr >> 8)); }

struct FakeDevice : vorta_sync::SyncDevice {
    struct Read {
        uint32_t addr, len;
    };
    std::vector<Read> reads;
    int end_links = 0;
    int fail_read_at = -1;  // index of the read that fails
    std::function<void(size_t)> after_read;

    bool ReadBlock(uint32_t addr, uint8_t* out, uint32_t len) override {
        if (end_links) throw std::logic_error("read after EndLink");
        reads.push_back({addr, len});
        // The whole block arrives; only the requested length is handed back.
        for (uint32_t i = 0; i < len; ++i) out[i] = MemByte(addr + i);
        bool ok = static_cast<int>(reads.size()) - 1 != fail_read_at;
        if (after_read) after_read(reads.size());
        return ok;
    }
    int EndLink() override {
        ++end_links;
        return 40;
    }
};

struct FakeCloud : vorta_sync::SyncCloud {
    struct Request {
        std::string verb, path, headers;
        std::string body;
    };
    std::vector<Request> requests;
    std::vector<std::string> answers;  // one per request, in order; "" past the end
    bool throw_on_request = false;
    std::function<void(size_t)> before_answer;  // with the request's index; may run on another thread

    std::string request(const std::string& verb, const std::string& path, const uint8_t* body, uint32_t len,
                        const std::string& headers) override {
        if (throw_on_request) throw std::runtime_error("cloud gone");
        requests.push_back({verb, path, headers, std::string(reinterpret_cast<const char*>(body), len)});
        if (before_answer) before_answer(requests.size() - 1);
        size_t i = requests.size() - 1;
        return i < answers.size() ? answers[i] : std::string();
    }
};

struct FakeSink : vorta_sync::ProgressSink {
    std::vector<std::string> events;  // "status:KEY", "counters:...", "progress:N", "message:KEY", "end:N"
    bool cancel = false;

    bool wait_ready(int) override { return true; }
    void set_status(const std::string& key) override { events.push_back("status:" + key); }
    void set_counters(const std::string& line) override { events.push_back("counters:" + line); }
    void set_progress(const std::string& p) override { events.push_back("progress:" + p); }
    void show_message(const std::string& key) override { events.push_back("message:" + key); }
    void end(int r) override { events.push_back("end:" + std::to_string(r)); }
    bool cancel_requested() override { return cancel; }

    std::vector<std::string> With(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const auto& e : events)
            if (e.compare(0, prefix.size(), prefix) == 0) out.push_back(e.substr(prefix.size()));
        return out;
    }
};

}  // namespace sync_test
