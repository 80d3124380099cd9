// Sync of 1 MiB of log memory (256 blocks in two lists) through the device
// simulator and the cloud emulator, with the real Usb and HttpPost and a
// progress sink that shows nothing. Compared with two floors measured in the
// same run:
//   device floor: the same read requests over a pty, answers read raw, no logic;
//   cloud floor:  the same requests (verbs, paths, headers, bodies) sent by a
//                 bare libcurl client on one connection.
// Prints each figure (median of the rounds) and the ratio to the floors' sum.
// The sync reads the next item while the previous one is posted, so a round
// can come in under the floors' sum; with the simulator and the emulator on
// the same two cores the rounds vary widely, hence 15 of them by default.
#include <curl/curl.h>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <boost/asio/io_context.hpp>
#include <boost/asio/serial_port.hpp>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/app_state.h"
#include "cloud/cloud_config.h"
#include "cloud/http_post.h"
#include "device/device_packet.h"
#include "device/usb.h"
#include "sync/sync_adapters.h"
#include "sync/sync_engine.h"
#include "tests/support/cloudemu_process.h"
#include "tests/support/devsim_process.h"

using Clock = std::chrono::steady_clock;
using vorta_test::CloudEmuProcess;

namespace {

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

// Records what the sync sends, to replay it in the floors.
struct RecordingCloud : vorta_sync::SyncCloud {
    explicit RecordingCloud(vorta_sync::SyncCloud& inner) : inner(inner) {}
    struct Req {
        std::string verb, path, body, headers, answer;
    };
    std::vector<Req> sent;
    vorta_sync::SyncCloud& inner;
    std::string request(const std::string& verb, const std::string& path, const uint8_t* body, uint32_t len,
                        const std::string& headers) override {
        sent.push_back({verb, path, std::string(reinterpret_cast<const char*>(body), len), headers, ""});
        sent.back().answer = inner.request(verb, path, body, len, headers);
        return sent.back().answer;
    }
};

struct RecordingDevice : vorta_sync::SyncDevice {
    explicit RecordingDevice(vorta_sync::SyncDevice& inner) : inner(inner) {}
    vorta_sync::SyncDevice& inner;
    std::vector<std::pair<uint32_t, uint32_t>> reads;
    bool ReadBlock(uint32_t addr, uint8_t* out, uint32_t len) override {
        reads.push_back({addr, len});
        return inner.ReadBlock(addr, out, len);
    }
    int EndLink() override { return inner.EndLink(); }
};

// Adds up the time spent in the device and in the cloud during a sync.
struct TimedDevice : vorta_sync::SyncDevice {
    explicit TimedDevice(vorta_sync::SyncDevice& inner) : inner(inner) {}
    vorta_sync::SyncDevice& inner;
    Clock::duration spent{};
    bool ReadBlock(uint32_t addr, uint8_t* out, uint32_t len) override {
        auto t0 = Clock::now();
        bool ok = inner.ReadBlock(addr, out, len);
        spent += Clock::now() - t0;
        return ok;
    }
    int EndLink() override {
        auto t0 = Clock::now();
        int n = inner.EndLink();
        spent += Clock::now() - t0;
        return n;
    }
};

struct TimedCloud : vorta_sync::SyncCloud {
    explicit TimedCloud(vorta_sync::SyncCloud& inner) : inner(inner) {}
    vorta_sync::SyncCloud& inner;
    Clock::duration spent{};
    std::string request(const std::string& verb, const std::string& path, const uint8_t* body, uint32_t len,
                        const std::string& headers) override {
        auto t0 = Clock::now();
        std::string a = inner.request(verb, path, body, len, headers);
        spent += Clock::now() - t0;
        return a;
    }
};

struct SyncRun {
    double device_ms = 0, cloud_ms = 0;
    bool ok = false;
    double ms = 0;
    std::vector<RecordingCloud::Req> requests;
    std::vector<std::pair<uint32_t, uint32_t>> reads;
};

// One full sync; with `record`, the traffic is kept for the floors (that run
// is not timed).
SyncRun RunSync(DevSimProcess& sim, CloudEmuProcess& emu, const std::string& token, bool record) {
    SyncRun run;
    AppState.token = token;
    boost::asio::io_context io;
    boost::asio::serial_port port(io);
    Usb usb(port, sim.pty_path());
    AppState.firmware_version_text = "0.000";
    AppState.info_value = 0;
    AppState.model = "K7";
    if (!usb.GetInfo(AppState.firmware_version_text, AppState.info_value, AppState.model)) return run;
    HttpOptions options;
    options.ca_file = emu.ca_file();
    HttpPost http(options);
    if (!http.connect(emu.host(), kCloudPort)) return run;

    vorta_sync::UsbSyncDevice device(usb);
    vorta_sync::HttpSyncCloud cloud(http);
    RecordingDevice rec_device(device);
    RecordingCloud rec_cloud(cloud);
    vorta_sync::NullProgressSink sink;
    vorta_sync::SyncIdentity id{AppState.model, AppState.firmware_version_text, make_bearer_header()};
    vorta_sync::SyncTiming timing{0, 0};
    auto t0 = Clock::now();
    vorta_sync::SyncResult result;
    if (record) {
        vorta_sync::SyncEngine engine(rec_device, rec_cloud, sink, id, timing);
        result = engine.Run();
    } else {
        TimedDevice timed_device(device);
        TimedCloud timed_cloud(cloud);
        vorta_sync::SyncEngine engine(timed_device, timed_cloud, sink, id, timing);
        result = engine.Run();
        run.device_ms = Ms(timed_device.spent);
        run.cloud_ms = Ms(timed_cloud.spent);
    }
    run.ms = Ms(Clock::now() - t0);
    run.ok = result == vorta_sync::SyncResult::kComplete;
    if (!run.ok) std::fprintf(stderr, "sync failed: %s\n", sink.last_message.c_str());
    run.requests = std::move(rec_cloud.sent);
    run.reads = std::move(rec_device.reads);
    try {
        usb.Close();
    } catch (...) {
    }
    return run;
}

bool ReadAll(int fd, uint8_t* p, size_t n) {
    while (n) {
        ssize_t r = ::read(fd, p, n);
        if (r <= 0) return false;
        p += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

// The device floor: the same read requests written to the pty and the
// answers read in one go per block, nothing checked.
double DeviceFloor(const std::string& pty, const std::vector<std::pair<uint32_t, uint32_t>>& reads) {
    int fd = ::open(pty.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0) return -1;
    termios tio{};
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    tcsetattr(fd, TCSANOW, &tio);
    std::vector<uint8_t> answer((kChunksPerBlock + 1) * kPacketSize);
    auto t0 = Clock::now();
    for (const auto& r : reads) {
        DevicePacket p;
        p.payload_len = 8;
        p.code = CMD_READ_BLOCK;
        p.SetU32(8, r.first);
        p.SetU32(12, r.second);
        PacketBytes bytes = p.Encode();
        if (::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()) ||
            !ReadAll(fd, answer.data(), answer.size())) {
            ::close(fd);
            return -1;
        }
    }
    double ms = Ms(Clock::now() - t0);
    DevicePacket end;
    end.code = CMD_END_LINK;
    PacketBytes bytes = end.Encode();
    (void)!::write(fd, bytes.data(), bytes.size());
    ::close(fd);
    return ms;
}

size_t Sink(char* p, size_t size, size_t n, void* out) {
    static_cast<std::string*>(out)->append(p, size * n);
    return size * n;
}

// The cloud floor: the same requests on one libcurl handle.
double CloudFloor(CloudEmuProcess& emu, const std::vector<RecordingCloud::Req>& requests) {
    CURL* c = curl_easy_init();
    if (!c) return -1;
    curl_easy_setopt(c, CURLOPT_CAINFO, emu.ca_file().c_str());
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, Sink);
    std::string body;
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &body);
    bool ok = true;
    auto t0 = Clock::now();
    for (const auto& r : requests) {
        std::string url = emu.base_url() + "/" + r.path;
        curl_easy_setopt(c, CURLOPT_URL, url.c_str());
        curl_slist* h = nullptr;
        h = curl_slist_append(h, "Content-Type: application/x-www-form-urlencoded");
        h = curl_slist_append(h, "accept: application/json");
        h = curl_slist_append(h, "Expect:");  // the body goes at once
        std::string auth = r.headers.substr(0, r.headers.find("\r\n"));
        if (!auth.empty()) h = curl_slist_append(h, auth.c_str());
        curl_easy_setopt(c, CURLOPT_HTTPHEADER, h);
        if (r.verb == "GET") {
            curl_easy_setopt(c, CURLOPT_HTTPGET, 1L);
        } else {
            curl_easy_setopt(c, CURLOPT_POST, 1L);
            curl_easy_setopt(c, CURLOPT_POSTFIELDS, r.body.data());
            curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE, static_cast<long>(r.body.size()));
        }
        body.clear();
        ok = ok && curl_easy_perform(c) == CURLE_OK && !body.empty();
        curl_slist_free_all(h);
    }
    double ms = Ms(Clock::now() - t0);
    curl_easy_cleanup(c);
    return ok ? ms : -1;
}

// The sync's own work: the recorded answers replayed and a device that
// answers at once, so that only the logic is timed.
double LogicAlone(const std::vector<RecordingCloud::Req>& recorded) {
    struct ReplayCloud : vorta_sync::SyncCloud {
        const std::vector<RecordingCloud::Req>* answers;
        size_t next = 0;
        std::string request(const std::string&, const std::string&, const uint8_t*, uint32_t,
                            const std::string&) override {
            return next < answers->size() ? (*answers)[next++].answer : std::string();
        }
    } cloud;
    cloud.answers = &recorded;
    struct InstantDevice : vorta_sync::SyncDevice {
        bool ReadBlock(uint32_t, uint8_t* out, uint32_t len) override {
            std::memset(out, 0xA5, len);
            return true;
        }
        int EndLink() override { return 40; }
    } device;
    vorta_sync::NullProgressSink sink;
    vorta_sync::SyncEngine engine(device, cloud, sink, vorta_sync::SyncIdentity{"K7", "1.025", "x"},
                                  vorta_sync::SyncTiming{0, 0});
    auto t0 = Clock::now();
    bool ok = engine.Run() == vorta_sync::SyncResult::kComplete;
    return ok ? Ms(Clock::now() - t0) : -1;
}

}  // namespace

int main(int argc, char** argv) {
    // sync_bench [rounds] [bulk|logs]
    //   bulk: 1 MiB in two lists of 16 KiB items (the emulator's bulk plan);
    //   logs: the ordinary plan over 255 generated dives.
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    const std::string plan = argc > 2 ? argv[2] : "bulk";
    const std::vector<std::string> emu_args = {"--sync-plan", plan};
    const std::vector<std::string> sim_args =
        plan == "logs" ? std::vector<std::string>{"--dives", "255"} : std::vector<std::string>{};
    curl_global_init(CURL_GLOBAL_DEFAULT);

    // Each sync and each cloud floor runs on a fresh emulator, so that the
    // account holds the same dives every time.
    auto fresh_emulator = [&](std::unique_ptr<CloudEmuProcess>& emu, std::string& token) {
        emu = std::make_unique<CloudEmuProcess>("", emu_args);
        if (!emu->Start()) return false;
        token = emu->DemoToken();
        return !token.empty();
    };
    std::unique_ptr<CloudEmuProcess> emu;
    std::string token;

    // A first, untimed sync records the traffic the floors replay.
    SyncRun recorded;
    {
        DevSimProcess sim;
        if (!fresh_emulator(emu, token) || !sim.Start(sim_args)) {
            std::fprintf(stderr, "the emulator or the simulator did not start\n");
            return 1;
        }
        recorded = RunSync(sim, *emu, token, true);
    }
    size_t posted = 0;
    for (const auto& r : recorded.requests) posted += r.body.size();
    if (!recorded.ok) {
        std::fprintf(stderr, "the sync did not complete after %zu requests\n", recorded.requests.size());
        return 1;
    }
    std::printf("plan %s: %zu block reads, %zu requests, %zu bytes posted\n", plan.c_str(), recorded.reads.size(),
                recorded.requests.size(), posted);

    {
        size_t total = 0, largest = 0;
        for (const auto& r : recorded.requests) total += r.answer.size(), largest = std::max(largest, r.answer.size());
        std::printf("answers: %zu bytes in all, largest %zu\n", total, largest);
    }
    std::vector<double> logic;
    for (int i = 0; i < 20; ++i) logic.push_back(LogicAlone(recorded.requests));
    std::printf("sync logic alone (recorded answers, instant device): median %.2f ms, best %.2f ms\n",
                Median(logic), *std::min_element(logic.begin(), logic.end()));

    std::vector<double> sync_ms, dev_ms, cloud_ms, in_dev_ms, in_cloud_ms;
    for (int i = 0; i < rounds; ++i) {
        {
            DevSimProcess sim;
            if (!fresh_emulator(emu, token) || !sim.Start(sim_args)) return 1;
            SyncRun run = RunSync(sim, *emu, token, false);
            if (!run.ok) return 1;
            sync_ms.push_back(run.ms);
            in_dev_ms.push_back(run.device_ms);
            in_cloud_ms.push_back(run.cloud_ms);
        }
        {
            DevSimProcess sim;
            if (!sim.Start(sim_args)) return 1;
            dev_ms.push_back(DeviceFloor(sim.pty_path(), recorded.reads));
        }
        if (!fresh_emulator(emu, token)) return 1;
        std::vector<RecordingCloud::Req> replay = recorded.requests;
        for (auto& r : replay)
            if (!r.headers.empty()) r.headers = "Authorization: Bearer " + token + "\r\n\r\n";
        cloud_ms.push_back(CloudFloor(*emu, replay));
        std::printf("round %d: sync %.1f ms (in device %.1f, in cloud %.1f), device floor %.1f ms, cloud floor %.1f ms\n",
                    i + 1, sync_ms.back(), in_dev_ms.back(), in_cloud_ms.back(), dev_ms.back(), cloud_ms.back());
    }
    const double s = Median(sync_ms), d = Median(dev_ms), c = Median(cloud_ms);
    std::printf("median of %d rounds: sync %.1f ms; device floor %.1f ms + cloud floor %.1f ms = %.1f ms\n", rounds,
                s, d, c, d + c);
    std::printf("inside the sync (median): device %.1f ms, cloud %.1f ms\n", Median(in_dev_ms), Median(in_cloud_ms));
    std::printf("ratio sync / (device + cloud floors) = %.3f (goal <= 1.15)\n", s / (d + c));
    const double best = *std::min_element(sync_ms.begin(), sync_ms.end());
    const double best_floor =
        *std::min_element(dev_ms.begin(), dev_ms.end()) + *std::min_element(cloud_ms.begin(), cloud_ms.end());
    std::printf("best of %d: sync %.1f ms, floors %.1f ms, ratio %.3f\n", rounds, best, best_floor, best / best_floor);
    // Each round's sync against the floors measured right after it, so that
    // load from other programs falls on both alike.
    std::vector<double> paired;
    for (size_t i = 0; i < sync_ms.size(); ++i) paired.push_back(sync_ms[i] / (dev_ms[i] + cloud_ms[i]));
    std::printf("paired ratio, median of %d rounds: %.3f\n", rounds, Median(paired));
    curl_global_cleanup();
    return 0;
}
