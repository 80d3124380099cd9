// Reads and writes 1 MiB (256 blocks) through the device simulator over a
// pseudo-terminal with Usb, and moves the same packets over the same pty with
// a bare loop that has no protocol logic (one request out, the answer bytes
// in). Prints wall time and host CPU per block and the ratio to the bare loop.
// The two loops take turns every few blocks on the same pty, so load from other
// programs on the machine falls on both alike.
#include "bench/support/bench_support.h"
#include "tests/support/fd_io.h"
#include "device/device_packet.h"
#include "device/usb.h"
#include "tests/support/devsim_process.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/serial_port.hpp>

#include <fcntl.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

namespace {

using vorta_test::ReadFull;
using vorta_test::WriteFull;

constexpr int kBlocks = 256;
constexpr uint32_t kBase = 0x200000;
constexpr int kRounds = 9;
constexpr int kSlice = 16;  // blocks per turn of each loop

struct Figures {
    double wall_us = 0;  // per block
    double cpu_us = 0;   // host process user + system, per block
};

double CpuSeconds() {
    struct rusage ru {};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_utime.tv_sec + ru.ru_utime.tv_usec / 1e6 + ru.ru_stime.tv_sec + ru.ru_stime.tv_usec / 1e6;
}

void Add(Figures& total, const Figures& part) {
    total.wall_us += part.wall_us;
    total.cpu_us += part.cpu_us;
}

Figures Measure(const std::function<bool()>& run) {
    const double cpu0 = CpuSeconds();
    const auto t0 = std::chrono::steady_clock::now();
    if (!run()) {
        std::fprintf(stderr, "run failed\n");
        std::exit(1);
    }
    const auto t1 = std::chrono::steady_clock::now();
    const double cpu1 = CpuSeconds();
    Figures f;
    f.wall_us = std::chrono::duration<double, std::micro>(t1 - t0).count() / kBlocks;
    f.cpu_us = (cpu1 - cpu0) * 1e6 / kBlocks;
    return f;
}

Figures Median(std::vector<Figures> v) {
    Figures m;
    std::sort(v.begin(), v.end(), [](const Figures& a, const Figures& b) { return a.wall_us < b.wall_us; });
    m.wall_us = v[v.size() / 2].wall_us;
    std::sort(v.begin(), v.end(), [](const Figures& a, const Figures& b) { return a.cpu_us < b.cpu_us; });
    m.cpu_us = v[v.size() / 2].cpu_us;
    return m;
}

}  // namespace

int main() {
    DevSimProcess sim;
    if (!vorta_bench::StartQuietSimulator(sim)) return 1;
    const std::string pty = sim.pty_path();

    std::vector<uint8_t> data(kBlocks * kBlockSize);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 131 + (i >> 12));
    std::vector<uint8_t> back(data.size());

    // The packets the bare loop moves: identical bytes to what Usb sends.
    std::vector<std::vector<uint8_t>> read_requests(kBlocks), write_streams(kBlocks);
    for (int b = 0; b < kBlocks; ++b) {
        DevicePacket req;
        req.payload_len = 8;
        req.code = CMD_READ_BLOCK;
        req.SetU32(8, kBase + b * kBlockSize);
        req.SetU32(12, kBlockSize);
        const auto rb = req.Encode();
        read_requests[b].assign(rb.begin(), rb.end());
        auto& w = write_streams[b];
        DevicePacket chunk;
        chunk.payload_len = 32;
        chunk.code = PKT_DATA;
        for (uint32_t i = 0; i < kChunksPerBlock; ++i) {
            chunk.seq = i;
            std::memcpy(chunk.payload.data(), &data[b * kBlockSize + i * kChunkSize], kChunkSize);
            const auto cb = chunk.Encode();
            w.insert(w.end(), cb.begin(), cb.end());
        }
        DevicePacket commit;
        commit.marker = kWriteCommitMarker;
        commit.payload_len = 12;
        commit.code = CMD_WRITE_COMMIT;
        commit.SetU32(8, kBase + b * kBlockSize);
        commit.SetU32(12, kBlockSize);
        commit.SetU32(16, BlockByteSum(&data[b * kBlockSize], kBlockSize));
        const auto mb = commit.Encode();
        w.insert(w.end(), mb.begin(), mb.end());
    }

    // Both loops run on the same pty, alternating every kSlice blocks, so
    // that load from other programs falls on both alike. The bare loop's
    // descriptor is opened before Usb takes the port exclusively.
    const int fd = vorta_bench::OpenTty(pty);
    if (fd < 0) {
        std::perror("open");
        return 1;
    }
    boost::asio::io_context io;
    boost::asio::serial_port port(io);
    Usb usb(port, pty);
    vorta_bench::MakeRaw(fd);
    std::vector<uint8_t> answer((kChunksPerBlock + 1) * kPacketSize);

    auto usb_write_slice = [&](int first) {
        for (int b = first; b < first + kSlice; ++b)
            if (!usb.WriteBlock(kBase + b * kBlockSize, &data[b * kBlockSize])) return false;
        return true;
    };
    auto usb_read_slice = [&](int first) {
        for (int b = first; b < first + kSlice; ++b)
            if (!usb.ReadBlock(kBase + b * kBlockSize, &back[b * kBlockSize], kBlockSize)) return false;
        return true;
    };
    auto bare_write_slice = [&](int first) {
        for (int b = first; b < first + kSlice; ++b) {
            if (!WriteFull(fd, write_streams[b].data(), write_streams[b].size())) return false;
            if (!ReadFull(fd, answer.data(), kPacketSize)) return false;
        }
        return true;
    };
    auto bare_read_slice = [&](int first) {
        for (int b = first; b < first + kSlice; ++b) {
            if (!WriteFull(fd, read_requests[b].data(), kPacketSize)) return false;
            if (!ReadFull(fd, answer.data(), answer.size())) return false;
        }
        return true;
    };

    std::vector<Figures> usb_read, usb_write, bare_read, bare_write;
    // Wall time by place: [write, read][Usb ran first][Usb, bare].
    double placed[2][2][2] = {};
    for (int round = 0; round < kRounds; ++round) {
        Figures ur, uw, br, bw;
        for (int first = 0; first < kBlocks; first += kSlice) {
            // The slice that runs first after a switch between writing and
            // reading is slower by about 5% whichever loop it is, so the two
            // loops take the first place in turn.
            const bool usb_first = (first / kSlice) % 2 == 0;
            auto pair = [&](int op, Figures& u, Figures& b, const std::function<bool(int)>& usb_slice,
                            const std::function<bool(int)>& bare_slice) {
                Figures fu, fb;
                if (usb_first) fu = Measure([&] { return usb_slice(first); });
                fb = Measure([&] { return bare_slice(first); });
                if (!usb_first) fu = Measure([&] { return usb_slice(first); });
                Add(u, fu);
                Add(b, fb);
                placed[op][usb_first][0] += fu.wall_us;
                placed[op][usb_first][1] += fb.wall_us;
            };
            pair(0, uw, bw, usb_write_slice, bare_write_slice);
            pair(1, ur, br, usb_read_slice, bare_read_slice);
        }
        usb_read.push_back(ur);
        usb_write.push_back(uw);
        bare_read.push_back(br);
        bare_write.push_back(bw);
        if (back != data) {
            std::fprintf(stderr, "read back differs from what was written\n");
            return 1;
        }
    }
    usb.EndLink();
    ::close(fd);
    sim.Stop();

    const Figures ur = Median(usb_read), uw = Median(usb_write), br = Median(bare_read), bw = Median(bare_write);
    auto best = [](const std::vector<Figures>& v) {
        double m = v[0].wall_us;
        for (const auto& f : v) m = std::min(m, f.wall_us);
        return m;
    };
    // Paired ratio: each round's Usb run against the bare run right after it,
    // which cancels most of the load other programs put on the machine.
    auto paired = [](const std::vector<Figures>& a, const std::vector<Figures>& b) {
        std::vector<double> r;
        for (size_t i = 0; i < a.size(); ++i) r.push_back(a[i].wall_us / b[i].wall_us);
        std::sort(r.begin(), r.end());
        return r[r.size() / 2];
    };
    std::printf("device link over a pty, 1 MiB = %d blocks, %d rounds\n", kBlocks, kRounds);
    std::printf("%-11s %9s %11s %12s %11s %11s %11s %11s\n", "", "wall ms", "us/blk med", "us/blk best", "CPU us/blk",
                "x bare med", "x bare pair", "x bare best");
    auto row = [&](const char* name, const Figures& f, const std::vector<Figures>& all, const Figures& bare,
                   const std::vector<Figures>& bare_all) {
        std::printf("%-11s %9.2f %11.1f %12.1f %11.1f %11.3f %11.3f %11.3f\n", name, f.wall_us * kBlocks / 1000,
                    f.wall_us, best(all), f.cpu_us, f.wall_us / bare.wall_us, paired(all, bare_all),
                    best(all) / best(bare_all));
    };
    row("Usb read", ur, usb_read, br, bare_read);
    row("bare read", br, bare_read, br, bare_read);
    row("Usb write", uw, usb_write, bw, bare_write);
    row("bare write", bw, bare_write, bw, bare_write);
    std::printf(
        "x bare by place: Usb write %.3f when it ran first, %.3f when the bare loop did; "
        "Usb read %.3f, %.3f\n",
        placed[0][1][0] / placed[0][1][1], placed[0][0][0] / placed[0][0][1], placed[1][1][0] / placed[1][1][1],
        placed[1][0][0] / placed[1][0][1]);
    std::printf("goal: <= 1.10 x bare wall time, <= 50 us host CPU per block\n");
    return 0;
}
