#include "tests/support/devsim_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#ifndef VORTA_BIN_DIR
#define VORTA_BIN_DIR "."
#endif

DevSimProcess::DevSimProcess() {
    const char* tmp = std::getenv("TMPDIR");
    std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/vorta-devsim-XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (::mkdtemp(buf.data())) dir_ = buf.data();
}

DevSimProcess::~DevSimProcess() {
    Stop();
    if (!dir_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
}

std::string DevSimProcess::BinaryPath() {
    if (const char* env = std::getenv("VORTA_DEVSIM")) return env;
    return std::string(VORTA_BIN_DIR) + "/vorta-devsim";
}

bool DevSimProcess::Start(const std::vector<std::string>& args) {
    if (pid_ > 0) return true;
    if (dir_.empty()) {
        error_ = "no temporary folder";
        return false;
    }
    std::vector<std::string> argv_s = {BinaryPath(), "--image", image_path()};
    if (trace_) {
        argv_s.push_back("--trace");
        argv_s.push_back(trace_path());
    }
    argv_s.insert(argv_s.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argv_s) argv.push_back(a.data());
    argv.push_back(nullptr);

    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        error_ = "pipe failed";
        return false;
    }
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(out[0]);
        ::close(out[1]);
        error_ = "fork failed";
        return false;
    }
    if (pid == 0) {
        // Child: only async-signal-safe calls until exec.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) ::_exit(127);
        ::dup2(out[1], STDOUT_FILENO);
        const int devnull = ::open("/dev/null", O_RDONLY);
        if (devnull >= 0) ::dup2(devnull, STDIN_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    pid_ = pid;
    stdout_fd_ = out[0];

    // Wait for "PTY <path>".
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (line.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        struct pollfd p = {stdout_fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
        char buf[512];
        const ssize_t n = ::read(stdout_fd_, buf, sizeof buf);
        if (n <= 0) break;
        line.append(buf, static_cast<size_t>(n));
    }
    const size_t nl = line.find('\n');
    if (nl == std::string::npos || line.compare(0, 4, "PTY ") != 0) {
        error_ = "simulator did not start: '" + line + "'";
        Stop();
        return false;
    }
    pty_path_ = line.substr(4, nl - 4);
    return true;
}

bool DevSimProcess::Running() {
    if (pid_ <= 0) return false;
    int status = 0;
    const pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
        pid_ = -1;
        return false;
    }
    return r == 0;
}

void DevSimProcess::Stop() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        int status = 0;
        bool reaped = false;
        for (int i = 0; i < 500 && !reaped; ++i) {
            const pid_t r = ::waitpid(pid_, &status, WNOHANG);
            if (r == pid_ || r < 0) reaped = true;
            else std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (!reaped) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
        }
        pid_ = -1;
    }
    if (stdout_fd_ >= 0) {
        ::close(stdout_fd_);
        stdout_fd_ = -1;
    }
}

std::vector<DevSimProcess::Packet> DevSimProcess::ParseTrace(const std::string& text) {
    std::vector<Packet> packets;
    std::istringstream in(text);
    std::string line;
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() != 80) continue;
        Packet p{};
        bool ok = true;
        for (size_t i = 0; i < 40 && ok; ++i) {
            const int hi = nibble(line[2 * i]);
            const int lo = nibble(line[2 * i + 1]);
            ok = hi >= 0 && lo >= 0;
            p[i] = static_cast<uint8_t>((hi << 4) | (lo & 15));
        }
        if (ok) packets.push_back(p);
    }
    return packets;
}

std::vector<DevSimProcess::Packet> DevSimProcess::Trace() const {
    std::ifstream in(trace_path());
    std::stringstream ss;
    ss << in.rdbuf();
    return ParseTrace(ss.str());
}
