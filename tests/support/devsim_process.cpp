#include "tests/support/devsim_process.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/child_process.h"

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
    const pid_t pid = vorta_test::SpawnWithOutputPipe(argv_s, stdout_fd_);
    if (pid < 0) {
        error_ = std::string("cannot start the simulator: ") + std::strerror(errno);
        return false;
    }
    pid_ = pid;

    // Its first line is "PTY <path>".
    const std::string line = vorta_test::ReadFirstLine(stdout_fd_, std::chrono::seconds(10));
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
        vorta_test::StopChild(pid_, std::chrono::seconds(5));
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
