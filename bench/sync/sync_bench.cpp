// Sync of 1 MiB of log memory (256 blocks in two lists) through the device
// simulator and the cloud emulator, with the real device session and HttpPost
// (behind the recording fakes, which also time them) and a progress sink that
// shows nothing. Compared with two floors measured in the
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
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/app_state.h"
#include "bench/support/bench_support.h"
#include "cloud/cloud_config.h"
#include "cloud/http_post.h"
#include "device/device_packet.h"
#include "device/device_session.h"
#include "sync/sync_engine.h"
#include "tests/support/cloudemu_process.h"
#include "tests/support/devsim_process.h"
#include "tests/support/fake_peers.h"

using vorta_bench::Clock;
using vorta_bench::Median;
using vorta_bench::Ms;
using vorta_test::CloudEmuProcess;
using vorta_test::FakeCloud;
using vorta_test::FakeDevice;

namespace {

// What a recorded request looked like, and its answer.
struct Req {
    std::string verb, path, body, headers, answer;
};

// Adds up the time spent in the device and in the cloud during a sync; the
// recording fakes sit in front of the real peers.
struct TimedDevice : FakeDevice {
    Clock::duration spent{};
    bool ReadBlock(uint32_t addr, uint8_t* out, uint32_t len) override {
        auto t0 = Clock::now();
        bool ok = FakeDevice::ReadBlock(addr, out, len);
        spent += Clock::now() - t0;
        return ok;
    }
    size_t EndLink() override {
        auto t0 = Clock::now();
        size_t n = FakeDevice::EndLink();
        spent += Clock::now() - t0;
        return n;
    }
};

struct TimedCloud : FakeCloud {
    Clock::duration spent{};
    std::string request(const void* body, uint32_t len, int is_json, const std::string& verb, const std::string& path,
                        const std::string& headers) override {
        auto t0 = Clock::now();
        std::string a = FakeCloud::request(body, len, is_json, verb, path, headers);
        spent += Clock::now() - t0;
        return a;
    }
};

struct SyncRun {
    double device_ms = 0, cloud_ms = 0;
    bool ok = false;
    double ms = 0;
    std::vector<Req> requests;
    std::vector<std::pair<uint32_t, uint32_t>> reads;
};

// One full sync; with `record`, the traffic is kept for the floors (that run
// is not timed).
SyncRun RunSync(DevSimProcess& sim, CloudEmuProcess& emu, const std::string& token, bool record) {
    SyncRun run;
    AppState.token = token;
    DeviceSession session;
    if (!session.Open(sim.pty_path())) return run;
    AppState.firmware_version_text = session.identity().firmware_version_text;
    AppState.info_value = session.identity().info_value;
    AppState.model = session.identity().model;
    HttpOptions options;
    options.ca_file = emu.ca_file();
    HttpPost http(options);
    if (!http.connect(emu.host(), kCloudPort)) return run;

    // Only the recorded run keeps the posted bodies; the timed runs only
    // count the time spent.
    TimedDevice device;
    device.through = &session.link();
    TimedCloud cloud;
    cloud.through = &http;
    cloud.keep_bodies = record;
    NullProgressSink sink;
    vorta_sync::SyncIdentity id{AppState.model, AppState.firmware_version_text, make_bearer_header()};
    vorta_sync::SyncEngine engine(device, cloud, sink, id, vorta_sync::SyncTiming{0});
    auto t0 = Clock::now();
    Outcome result = engine.Run();
    run.ms = Ms(Clock::now() - t0);
    run.device_ms = Ms(device.spent);
    run.cloud_ms = Ms(cloud.spent);
    run.ok = result.ok();
    if (!run.ok) std::fprintf(stderr, "sync failed: %s\n", result.key.c_str());
    if (record) {
        for (size_t i = 0; i < cloud.requests.size(); ++i) {
            const FakeCloud::Request& r = cloud.requests[i];
            run.requests.push_back({r.verb, r.path, r.body, r.headers, cloud.answered[i]});
        }
        for (const auto& r : device.reads) run.reads.push_back({r.addr, r.len});
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
    int fd = vorta_bench::OpenTty(pty);
    if (fd < 0) return -1;
    vorta_bench::MakeRaw(fd);
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
double CloudFloor(CloudEmuProcess& emu, const std::vector<Req>& requests) {
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
double LogicAlone(const std::vector<Req>& recorded) {
    FakeCloud cloud;
    cloud.keep_bodies = false;
    for (const auto& r : recorded) cloud.answers.push_back(r.answer);
    FakeDevice device;
    NullProgressSink sink;
    vorta_sync::SyncEngine engine(device, cloud, sink, vorta_sync::SyncIdentity{"K7", "1.025", "x"},
                                  vorta_sync::SyncTiming{0});
    auto t0 = Clock::now();
    bool ok = engine.Run().ok();
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
    std::printf("sync logic alone (recorded answers, instant device): median %.2f ms, best %.2f ms\n", Median(logic),
                *std::min_element(logic.begin(), logic.end()));

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
        std::vector<Req> replay = recorded.requests;
        for (auto& r : replay)
            if (!r.headers.empty()) r.headers = "Authorization: Bearer " + token + "\r\n\r\n";
        cloud_ms.push_back(CloudFloor(*emu, replay));
        std::printf(
            "round %d: sync %.1f ms (in device %.1f, in cloud %.1f), device floor %.1f ms, cloud floor %.1f ms\n",
            i + 1, sync_ms.back(), in_dev_ms.back(), in_cloud_ms.back(), dev_ms.back(), cloud_ms.back());
    }
    const double s = Median(sync_ms), d = Median(dev_ms), c = Median(cloud_ms);
    std::printf("median of %d rounds: sync %.1f ms; device floor %.1f ms + cloud floor %.1f ms = %.1f ms\n", rounds, s,
                d, c, d + c);
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
