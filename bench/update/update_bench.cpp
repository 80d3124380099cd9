// Figures of the device updates, each against a floor measured in the same
// run:
//   writing: a 1 MiB firmware image (256 blocks) written by the update
//            worker through the device simulator over a pty, against a bare
//            loop that moves the same packets over the same pty (one block's
//            packets out, the answer in, no logic), and against Usb writing
//            the same blocks in a plain loop (what the link itself costs);
//   download: the emulator's firmware files fetched by the update's
//            downloader (download_file, https only, each capped at its
//            offered size: temporary file, rename),
//            against a bare libcurl client writing the same URLs to files.
// Rounds alternate between the measured code and its floor, so that load
// from other programs on the machine falls on both alike. Prints medians,
// the paired ratio and the goals.
#include <curl/curl.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/serial_port.hpp>

#include "tests/support/fd_io.h"
#include "base/json_safe.h"
#include "bench/support/bench_support.h"
#include "device/device_packet.h"
#include "device/usb.h"
#include "tests/support/cloudemu_process.h"
#include "tests/support/devsim_process.h"
#include "update/update_engine.h"

using vorta_bench::Clock;
using vorta_bench::Median;
using vorta_bench::Ms;
using vorta_test::CloudEmuProcess;
using vorta_update::OfferKind;

namespace {

using vorta_test::ReadFull;
using vorta_test::WriteFull;

constexpr int kBlocks = 256;
constexpr uint32_t kBase = 0x10C000;

double CpuMs() {
    struct rusage ru {};
    getrusage(RUSAGE_SELF, &ru);
    return (ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1e3 + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e3;
}

double Best(const std::vector<double>& v) {
    return v.empty() ? 0.0 : *std::min_element(v.begin(), v.end());
}

double PairedRatio(const std::vector<double>& a, const std::vector<double>& b) {
    std::vector<double> r;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) r.push_back(a[i] / b[i]);
    return Median(r);
}

// The image is already in its local file: the worker's download step costs
// nothing here, only its reading, counting and writing are timed.
struct LocalFile : vorta_update::Downloader {
    DownloadResult Download(const std::string&, const std::string&, uint64_t) override { return DownloadResult::kOk; }
};

// A device that takes every block at once: the worker's own work alone.
struct InstantDevice : DeviceLink {
    bool GetInfo(std::string&, uint32_t&, std::string&) override { return true; }
    bool ReadBlock(uint32_t, uint8_t*, uint32_t) override { return true; }
    bool WriteBlock(uint32_t, const uint8_t*) override { return true; }
    size_t EndLink() override { return 40; }
    void FinishFirmwareUpdate() override {}
};

int WriteFigures(const std::string& folder, int rounds) {
    DevSimProcess sim;
    if (!vorta_bench::StartQuietSimulator(sim)) return 1;
    std::string image(kBlocks * kBlockSize, '\0');
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 131 + (i >> 12));
    std::ofstream(folder + "/data1.bin", std::ios::binary) << image;
    const std::string offer = R"({"response":{"firmware_version":"1026","firmware_files":[{"sequence":1,)"
                              R"("file_path":"https://cloud/fw.bin","address":)" +
                              std::to_string(kBase) + R"(,"size":)" + std::to_string(image.size()) + "}]}}" +
                              std::string(300, ' ');

    // The bare loop's packets: what WriteBlock sends for each block.
    std::vector<std::vector<uint8_t>> streams(kBlocks);
    for (int b = 0; b < kBlocks; ++b) {
        const uint8_t* data = reinterpret_cast<const uint8_t*>(image.data()) + b * kBlockSize;
        DevicePacket chunk;
        chunk.payload_len = 32;
        chunk.code = PKT_DATA;
        for (uint32_t i = 0; i < kChunksPerBlock; ++i) {
            chunk.seq = i;
            std::memcpy(chunk.payload.data(), data + i * kChunkSize, kChunkSize);
            const auto cb = chunk.Encode();
            streams[b].insert(streams[b].end(), cb.begin(), cb.end());
        }
        DevicePacket commit;
        commit.marker = kWriteCommitMarker;
        commit.payload_len = 12;
        commit.code = CMD_WRITE_COMMIT;
        commit.SetU32(8, kBase + b * kBlockSize);
        commit.SetU32(12, kBlockSize);
        commit.SetU32(16, BlockByteSum(data, kBlockSize));
        const auto mb = commit.Encode();
        streams[b].insert(streams[b].end(), mb.begin(), mb.end());
    }

    // The bare loop's descriptor is opened before Usb takes the port.
    const int fd = vorta_bench::OpenTty(sim.pty_path());
    if (fd < 0) {
        std::perror("open");
        return 1;
    }
    vorta_bench::MakeRaw(fd);
    boost::asio::io_context io;
    boost::asio::serial_port port(io);
    Usb usb(port, sim.pty_path());

    auto bare = [&] {
        uint8_t answer[kPacketSize];
        for (int b = 0; b < kBlocks; ++b)
            if (!WriteFull(fd, streams[b].data(), streams[b].size()) || !ReadFull(fd, answer, kPacketSize))
                return false;
        return true;
    };
    auto usb_only = [&] {
        const uint8_t* data = reinterpret_cast<const uint8_t*>(image.data());
        for (int b = 0; b < kBlocks; ++b)
            if (!usb.WriteBlock(kBase + b * kBlockSize, data + b * kBlockSize)) return false;
        return true;
    };
    LocalFile local;
    auto worker = [&] {
        NullProgressSink sink;
        return vorta_update::RunUpdateWorker(OfferKind::kFirmware, offer, folder, usb, local, sink,
                                             vorta_update::UpdateTiming{0})
            .ok();
    };
    // Wall time and host CPU of each of the three, in turn, every round.
    struct Run {
        const char* name;
        std::function<bool()> body;
        std::vector<double> wall_ms, cpu_ms;
    } runs[] = {{"update worker", worker, {}, {}}, {"Usb loop", usb_only, {}, {}}, {"bare loop", bare, {}, {}}};
    for (int r = 0; r < rounds; ++r) {
        // Each round starts with another of the three, so that none always
        // runs right after the same one.
        for (int k = 0; k < 3; ++k) {
            Run& run = runs[(r + k) % 3];
            const double cpu0 = CpuMs();
            const auto t0 = Clock::now();
            if (!run.body()) {
                std::fprintf(stderr, "%s failed\n", run.name);
                return 1;
            }
            run.wall_ms.push_back(Ms(Clock::now() - t0));
            run.cpu_ms.push_back(CpuMs() - cpu0);
        }
    }
    ::close(fd);
    sim.Stop();
    std::ifstream in(sim.image_path(), std::ios::binary);
    std::string written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (written.size() < kBase + image.size() || written.compare(kBase, image.size(), image) != 0) {
        std::fprintf(stderr, "the device image does not hold the firmware\n");
        return 1;
    }

    std::vector<double> logic_ms;
    for (int r = 0; r < rounds; ++r) {
        InstantDevice instant;
        NullProgressSink sink;
        const auto t0 = Clock::now();
        vorta_update::RunUpdateWorker(OfferKind::kFirmware, offer, folder, instant, local, sink,
                                      vorta_update::UpdateTiming{0});
        logic_ms.push_back(Ms(Clock::now() - t0));
    }
    std::printf("writing a 1 MiB image (%d blocks) through the simulator, %d rounds\n", kBlocks, rounds);
    std::printf("  the worker's own work (a device that takes each block at once): median %.2f ms (%.1f us/block)\n",
                Median(logic_ms), Median(logic_ms) * 1000 / kBlocks);
    for (const Run& run : runs)
        std::printf("  %-14s median %6.1f ms (%4.0f us/block), best %6.1f ms, host CPU %4.1f us/block\n", run.name,
                    Median(run.wall_ms), Median(run.wall_ms) * 1000 / kBlocks, Best(run.wall_ms),
                    Median(run.cpu_ms) * 1000 / kBlocks);
    const Run& w = runs[0];
    const Run& u = runs[1];
    const Run& b = runs[2];
    std::printf("  worker / bare loop: median %.3f, paired %.3f, best %.3f (goal <= 1.10)\n",
                Median(w.wall_ms) / Median(b.wall_ms), PairedRatio(w.wall_ms, b.wall_ms),
                Best(w.wall_ms) / Best(b.wall_ms));
    std::printf("  worker / Usb loop:  median %.3f, paired %.3f, best %.3f\n", Median(w.wall_ms) / Median(u.wall_ms),
                PairedRatio(w.wall_ms, u.wall_ms), Best(w.wall_ms) / Best(u.wall_ms));
    return 0;
}

size_t ToFile(char* p, size_t size, size_t n, void* f) {
    return std::fwrite(p, size, n, static_cast<std::FILE*>(f)) * size;
}

// The floor: each URL on a fresh libcurl handle (as a command-line client
// fetches a file), written straight into its file. With `durable`, the file
// is saved the way an update file must be: written beside its place, flushed
// to the disk (fsync) and renamed over it.
bool BareDownload(const std::string& ca_file, const std::string& url, const std::string& path, bool durable) {
    const std::string target = durable ? path + ".part" : path;
    CURL* c = curl_easy_init();
    std::FILE* f = std::fopen(target.c_str(), "wb");
    if (!c || !f) return false;
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_CAINFO, ca_file.c_str());
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, ToFile);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, f);
    curl_easy_setopt(c, CURLOPT_FAILONERROR, 1L);
    bool ok = curl_easy_perform(c) == CURLE_OK;
    curl_easy_cleanup(c);
    if (durable) ok = std::fflush(f) == 0 && ::fsync(::fileno(f)) == 0 && ok;
    ok = std::fclose(f) == 0 && ok;
    if (durable) ok = std::rename(target.c_str(), path.c_str()) == 0 && ok;
    return ok;
}

int DownloadFigures(const std::string& folder, int rounds) {
    CloudEmuProcess emu;
    if (!vorta_bench::StartCloud(emu)) return 1;
    // The program's downloads trust the emulator through the configured CA.
    ::setenv("VORTA_CA_FILE", emu.ca_file().c_str(), 1);
    Json::Value root;
    if (!json_safe::Parse(emu.Call("GET", "/api/v1/devices/firmwareUpdate?model=K7").body, root)) return 1;
    const Json::Value& files = json_safe::Member(json_safe::Member(root, "response"), "firmware_files");
    std::vector<std::string> urls;
    std::vector<uint64_t> sizes;
    uint64_t bytes = 0;
    for (Json::ArrayIndex i = 0; i < json_safe::Size(files); ++i) {
        urls.push_back(json_safe::String(json_safe::Element(files, i), "file_path"));
        sizes.push_back(json_safe::Member(json_safe::Element(files, i), "size").asUInt64());
        bytes += sizes.back();
    }
    if (urls.empty()) return 1;

    vorta_update::HttpDownloader downloader;
    std::vector<double> update_ms, bare_ms, durable_ms;
    auto bare_round = [&](bool durable) {
        const auto t0 = Clock::now();
        for (size_t i = 0; i < urls.size(); ++i)
            if (!BareDownload(emu.ca_file(), urls[i], folder + "/bare" + std::to_string(i + 1) + ".bin", durable))
                return -1.0;
        return Ms(Clock::now() - t0);
    };
    for (int r = 0; r < rounds; ++r) {
        const auto t0 = Clock::now();
        for (size_t i = 0; i < urls.size(); ++i)
            if (downloader.Download(urls[i], folder + "/data" + std::to_string(i + 1) + ".bin", sizes[i]) !=
                DownloadResult::kOk)
                return 1;
        update_ms.push_back(Ms(Clock::now() - t0));
        bare_ms.push_back(bare_round(false));
        durable_ms.push_back(bare_round(true));
        if (bare_ms.back() < 0 || durable_ms.back() < 0) return 1;
    }
    for (size_t i = 0; i < urls.size(); ++i) {
        const std::string a = folder + "/data" + std::to_string(i + 1) + ".bin";
        const std::string b = folder + "/bare" + std::to_string(i + 1) + ".bin";
        if (std::filesystem::file_size(a) != std::filesystem::file_size(b)) return 1;
    }
    auto rate = [bytes](double ms) { return bytes / 1048576.0 / (ms / 1000); };
    std::printf("downloading the firmware offer's %zu files (%llu bytes) from the emulator, %d rounds\n", urls.size(),
                static_cast<unsigned long long>(bytes), rounds);
    auto row = [&](const char* name, const std::vector<double>& ms) {
        std::printf("  %-28s median %6.1f ms (%5.1f MiB/s), best %6.1f ms\n", name, Median(ms), rate(Median(ms)),
                    Best(ms));
    };
    row("update downloader:", update_ms);
    row("bare libcurl:", bare_ms);
    row("bare libcurl, fsync+rename:", durable_ms);
    auto ratios = [&](const char* name, const std::vector<double>& floor) {
        std::printf("  rate update / %s: median %.3f, paired %.3f, best %.3f (goal >= 0.80)\n", name,
                    Median(floor) / Median(update_ms), 1 / PairedRatio(update_ms, floor),
                    Best(floor) / Best(update_ms));
    };
    ratios("bare", bare_ms);
    ratios("bare saving durably", durable_ms);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // update_bench [rounds]
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    curl_global_init(CURL_GLOBAL_DEFAULT);
    char tmpl[] = "/tmp/vorta-update-bench-XXXXXX";
    if (!::mkdtemp(tmpl)) return 1;
    const std::string folder = tmpl;
    int status = WriteFigures(folder, rounds);
    if (status == 0) status = DownloadFigures(folder, rounds);
    std::filesystem::remove_all(folder);
    curl_global_cleanup();
    return status;
}
