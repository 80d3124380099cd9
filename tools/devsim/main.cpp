// vorta-devsim: a stand-in dive computer on a pseudo-terminal.
//
//   vorta-devsim [serve] [options]        answer the protocol on a new pty
//   vorta-devsim generate IMAGE [options] write generated dives into IMAGE
//   vorta-devsim list IMAGE               list the dives in IMAGE
//   vorta-devsim dump IMAGE ADDRESS       hex dump of the 4096 bytes at ADDRESS
//   vorta-devsim load IMAGE ADDRESS FILE  write FILE's bytes at ADDRESS
//
// See README.md beside this file.
#include "tools/devsim/dive_log.h"
#include "tools/devsim/memory_image.h"
#include "tools/devsim/simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

const char kUsage[] =
    "usage:\n"
    "  vorta-devsim [serve] [--image PATH] [--dives N] [--seed N] [--firmware TEXT] [--info N]\n"
    "               [--model TEXT] [--link PATH] [--trace PATH] [faults]\n"
    "  vorta-devsim generate IMAGE [--dives N] [--seed N] [--end YYYY-MM-DD]\n"
    "  vorta-devsim list IMAGE\n"
    "  vorta-devsim dump IMAGE ADDRESS\n"
    "  vorta-devsim load IMAGE ADDRESS FILE\n"
    "faults:\n"
    "  --bad-sum-read N          the Nth block read ends with a wrong byte sum\n"
    "  --bad-seq-read N[:K]      in the Nth block read, chunk K (default 4) carries index K+1\n"
    "  --refuse-write N          the Nth block write is refused\n"
    "  --refuse-writes           every block write is refused\n"
    "  --silent-after N          answer only the first N packets received\n"
    "  --silent-after-sent N     send at most N packets\n"
    "  --hangup-after N          hang up after N packets received (and answered)\n"
    "  --hangup-after-sent N     hang up after sending N packets\n";

int Usage() {
    std::fputs(kUsage, stderr);
    return 2;
}

bool ParseNumber(const char* text, uint64_t& value) {
    if (!text || !*text) return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text, &end, 0);
    if (errno != 0 || *end != '\0' || text[0] == '-') return false;
    value = v;
    return true;
}

bool ParseDate(const char* text, std::time_t& out) {
    struct tm tm {};
    if (!text || !strptime(text, "%Y-%m-%d", &tm)) return false;
    out = timegm(&tm);
    return true;
}

volatile sig_atomic_t g_stop = 0;
int g_wake_pipe[2] = {-1, -1};

void OnSignal(int) {
    g_stop = 1;
    const char c = 1;
    if (g_wake_pipe[1] >= 0) (void)!::write(g_wake_pipe[1], &c, 1);
}

struct ServeOptions {
    std::string image = "devsim.img";
    std::string link;
    std::string trace;
    DiveGenOptions gen;
    SimIdentity identity;
    SimFaults faults;
};

// Opens the image, saying why on stderr when it cannot.
bool OpenImage(MemoryImage& image, const std::string& path, bool create) {
    std::string error;
    if (image.Open(path, create, &error)) return true;
    std::fprintf(stderr, "vorta-devsim: %s\n", error.c_str());
    return false;
}

// Opens or creates the image to serve; a new one gets generated dives.
bool OpenServedImage(MemoryImage& image, const std::string& path, const DiveGenOptions& gen) {
    struct stat st {};
    const bool existed = ::stat(path.c_str(), &st) == 0;
    if (!OpenImage(image, path, true)) return false;
    if (!existed && !GenerateDives(image, gen)) {
        std::fprintf(stderr, "vorta-devsim: cannot write dives into %s\n", path.c_str());
        return false;
    }
    return true;
}

bool WriteAll(int fd, std::vector<uint8_t>& tx) {
    size_t done = 0;
    while (done < tx.size()) {
        const ssize_t n = ::write(fd, tx.data() + done, tx.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        return false;
    }
    tx.erase(tx.begin(), tx.begin() + static_cast<std::ptrdiff_t>(done));
    return true;
}

int Serve(const ServeOptions& opt) {
    MemoryImage image;
    if (!OpenServedImage(image, opt.image, opt.gen)) return 1;

    std::FILE* trace = nullptr;
    if (!opt.trace.empty()) {
        trace = std::fopen(opt.trace.c_str(), "w");
        if (!trace) {
            std::fprintf(stderr, "vorta-devsim: cannot write trace %s: %s\n", opt.trace.c_str(), std::strerror(errno));
            return 1;
        }
    }

    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        std::fprintf(stderr, "vorta-devsim: no pseudo-terminal: %s\n", std::strerror(errno));
        return 1;
    }
    char name[256];
    if (::ptsname_r(master, name, sizeof name) != 0) {
        std::fprintf(stderr, "vorta-devsim: ptsname: %s\n", std::strerror(errno));
        return 1;
    }
    // Our own descriptor on the terminal side keeps the pty alive between the
    // program's connections (without it the master reads EIO whenever the
    // port is closed). It is never read.
    const int keep = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (keep < 0) {
        std::fprintf(stderr, "vorta-devsim: cannot open %s: %s\n", name, std::strerror(errno));
        return 1;
    }
    struct termios tio {};
    if (::tcgetattr(keep, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::cfsetispeed(&tio, B9600);
        ::cfsetospeed(&tio, B9600);
        ::tcsetattr(keep, TCSANOW, &tio);
    }
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);

    if (!opt.link.empty()) {
        ::unlink(opt.link.c_str());
        if (::symlink(name, opt.link.c_str()) != 0) {
            std::fprintf(stderr, "vorta-devsim: cannot link %s: %s\n", opt.link.c_str(), std::strerror(errno));
            return 1;
        }
    }

    if (::pipe2(g_wake_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return 1;
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGHUP, &sa, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    std::printf("PTY %s\n", name);
    std::fflush(stdout);

    DeviceSimulator sim(image, opt.identity, opt.faults, trace);
    std::vector<uint8_t> rx(65536);
    std::vector<uint8_t> tx;
    bool stdin_open = true;
    std::string stdin_line;
    int status = 0;

    while (!g_stop) {
        if (sim.hangup() && tx.empty()) {
            // Let the program read what was sent, then pull the plug.
            ::usleep(20000);
            break;
        }
        struct pollfd fds[3] = {
            {master, static_cast<short>(POLLIN | (tx.empty() ? 0 : POLLOUT)), 0},
            {g_wake_pipe[0], POLLIN, 0},
            {stdin_open ? STDIN_FILENO : -1, POLLIN, 0},
        };
        if (::poll(fds, 3, -1) < 0) {
            if (errno == EINTR) continue;
            status = 1;
            break;
        }
        if (fds[1].revents) break;
        if (fds[2].revents) {
            char buf[256];
            const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
            if (n <= 0) {
                stdin_open = false;  // no controller: run until a signal
            } else {
                stdin_line.append(buf, static_cast<size_t>(n));
                if (stdin_line.find("quit") != std::string::npos) break;
                if (stdin_line.size() > 1024) stdin_line.clear();
            }
        }
        if (fds[0].revents & POLLIN) {
            const ssize_t n = ::read(master, rx.data(), rx.size());
            if (n > 0) {
                const uint32_t updates = sim.firmware_updates();
                sim.Receive(rx.data(), static_cast<size_t>(n), tx);
                if (sim.firmware_updates() != updates)
                    std::fprintf(stderr, "vorta-devsim: firmware update finished; firmware version now %s\n",
                                 sim.identity().firmware.c_str());
            } else if (n < 0 && errno != EAGAIN && errno != EINTR && errno != EIO) {
                status = 1;
                break;
            }
        }
        if (!tx.empty() && !WriteAll(master, tx)) {
            status = 1;
            break;
        }
        if ((fds[0].revents & (POLLHUP | POLLERR)) && !(fds[0].revents & POLLIN)) {
            // Nothing open on the terminal side; wait for the next connection.
            ::usleep(10000);
        }
    }

    ::close(master);
    ::close(keep);
    if (!opt.link.empty()) ::unlink(opt.link.c_str());
    if (trace) std::fclose(trace);
    return status;
}

int CmdGenerate(int argc, char** argv) {
    if (argc < 3) return Usage();
    DiveGenOptions gen;
    for (int i = 3; i < argc; ++i) {
        const std::string a = argv[i];
        uint64_t v = 0;
        if (a == "--dives" && i + 1 < argc && ParseNumber(argv[i + 1], v) && v <= kMaxDives) {
            gen.dives = static_cast<int>(v), ++i;
        } else if (a == "--seed" && i + 1 < argc && ParseNumber(argv[i + 1], v)) {
            gen.seed = static_cast<uint32_t>(v), ++i;
        } else if (a == "--end" && i + 1 < argc && ParseDate(argv[i + 1], gen.end_time)) {
            ++i;
        } else {
            return Usage();
        }
    }
    MemoryImage image;
    if (!OpenImage(image, argv[2], true)) return 1;
    if (!GenerateDives(image, gen)) {
        std::fprintf(stderr, "vorta-devsim: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}

const char* TypeName(uint8_t type) {
    switch (type) {
        case 0: return "scuba";
        case 1: return "gauge";
        case 2: return "freedive";
        default: return "?";
    }
}

int CmdList(int argc, char** argv) {
    if (argc != 3) return Usage();
    MemoryImage image;
    if (!OpenImage(image, argv[2], false)) return 1;
    std::vector<DiveSummary> dives;
    std::string error;
    if (!ReadDives(image, dives, &error)) {
        std::fprintf(stderr, "vorta-devsim: %s\n", error.c_str());
        return 1;
    }
    std::printf("%-4s %-8s %-8s %-16s %-8s %7s %8s %5s %4s %11s %11s %s\n", "no", "address", "length", "local time",
                "type", "max m", "duration", "samp", "ev", "latitude", "longitude", "crc");
    for (const auto& d : dives) {
        const std::time_t local = static_cast<std::time_t>(d.start_time) + d.tz_minutes * 60;
        struct tm tm {};
        gmtime_r(&local, &tm);
        char when[32];
        std::strftime(when, sizeof when, "%Y-%m-%d %H:%M", &tm);
        std::printf("%-4u %08x %-8u %-16s %-8s %7.2f %5u:%02u %5u %4u %11.6f %11.6f %s\n", d.number, d.address,
                    d.length, when, TypeName(d.type), d.max_depth_cm / 100.0, d.duration / 60, d.duration % 60,
                    d.samples, d.events, d.latitude / 1e6, d.longitude / 1e6, d.crc_ok ? "ok" : "BAD");
    }
    return 0;
}

int CmdDump(int argc, char** argv) {
    uint64_t address = 0;
    if (argc != 4 || !ParseNumber(argv[3], address)) return Usage();
    MemoryImage image;
    if (!OpenImage(image, argv[2], false)) return 1;
    uint8_t block[kBlockSize];
    image.Read(address, block, sizeof block);
    for (size_t row = 0; row < kBlockSize; row += 16) {
        std::printf("%08llx ", static_cast<unsigned long long>(address + row));
        for (size_t i = 0; i < 16; ++i) std::printf("%s%02x", i == 8 ? "  " : " ", block[row + i]);
        std::printf("  |");
        for (size_t i = 0; i < 16; ++i) {
            const uint8_t c = block[row + i];
            std::putchar(c >= 0x20 && c < 0x7F ? c : '.');
        }
        std::printf("|\n");
    }
    std::printf("sum %u\n", BlockByteSum(block, kBlockSize));
    return 0;
}

int CmdLoad(int argc, char** argv) {
    uint64_t address = 0;
    if (argc != 5 || !ParseNumber(argv[3], address)) return Usage();
    std::ifstream in(argv[4], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "vorta-devsim: cannot read %s\n", argv[4]);
        return 1;
    }
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    MemoryImage image;
    if (!OpenImage(image, argv[2], true)) return 1;
    if (!image.Write(address, bytes.data(), bytes.size())) {
        std::fprintf(stderr, "vorta-devsim: cannot write %zu bytes at 0x%llx\n", bytes.size(),
                     static_cast<unsigned long long>(address));
        return 1;
    }
    return 0;
}

int CmdServe(int argc, char** argv, int first) {
    ServeOptions opt;
    for (int i = first; i < argc; ++i) {
        const std::string a = argv[i];
        const bool has = i + 1 < argc;
        const char* next = has ? argv[i + 1] : nullptr;
        uint64_t v = 0;
        auto number = [&]() { return has && ParseNumber(next, v) ? (++i, true) : false; };
        if (a == "--image" && has) {
            opt.image = next, ++i;
        } else if (a == "--link" && has) {
            opt.link = next, ++i;
        } else if (a == "--trace" && has) {
            opt.trace = next, ++i;
        } else if (a == "--firmware" && has) {
            opt.identity.firmware = next, ++i;
        } else if (a == "--model" && has) {
            opt.identity.model = next, ++i;
        } else if (a == "--info" && number() && v <= 0xFFFFFFFFu) {
            opt.identity.info = static_cast<uint32_t>(v);
        } else if (a == "--dives" && number() && v <= kMaxDives) {
            opt.gen.dives = static_cast<int>(v);
        } else if (a == "--seed" && number()) {
            opt.gen.seed = static_cast<uint32_t>(v);
        } else if (a == "--end" && has && ParseDate(next, opt.gen.end_time)) {
            ++i;
        } else if (a == "--bad-sum-read" && number()) {
            opt.faults.bad_sum_read = static_cast<uint32_t>(v);
        } else if (a == "--bad-seq-read" && has) {
            std::string s = next;
            ++i;
            const size_t colon = s.find(':');
            uint64_t chunk = 4;
            if (colon != std::string::npos) {
                if (!ParseNumber(s.substr(colon + 1).c_str(), chunk) || chunk >= kChunksPerBlock) return Usage();
                s.resize(colon);
            }
            if (!ParseNumber(s.c_str(), v)) return Usage();
            opt.faults.bad_seq_read = static_cast<uint32_t>(v);
            opt.faults.bad_seq_chunk = static_cast<uint32_t>(chunk);
        } else if (a == "--refuse-write" && number()) {
            opt.faults.refuse_write = static_cast<uint32_t>(v);
        } else if (a == "--refuse-writes") {
            opt.faults.refuse_all_writes = true;
        } else if (a == "--silent-after" && number()) {
            opt.faults.silent_after_received = v;
        } else if (a == "--silent-after-sent" && number()) {
            opt.faults.silent_after_sent = v;
        } else if (a == "--hangup-after" && number()) {
            opt.faults.hangup_after_received = v;
        } else if (a == "--hangup-after-sent" && number()) {
            opt.faults.hangup_after_sent = v;
        } else {
            std::fprintf(stderr, "vorta-devsim: bad option %s\n", a.c_str());
            return Usage();
        }
    }
    return Serve(opt);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string cmd = argc > 1 ? argv[1] : "";
    if (cmd == "generate") return CmdGenerate(argc, argv);
    if (cmd == "list") return CmdList(argc, argv);
    if (cmd == "dump") return CmdDump(argc, argv);
    if (cmd == "load") return CmdLoad(argc, argv);
    if (cmd == "help" || cmd == "--help" || cmd == "-h") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (cmd == "serve") return CmdServe(argc, argv, 2);
    return CmdServe(argc, argv, 1);
}
