#include "tests/cloud/emulator_launcher.h"

#include "tests/cloud/tls_test_server.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

EmulatorLauncher::~EmulatorLauncher() { Stop(); }

std::string EmulatorLauncher::Program() {
#ifdef VORTA_BIN_DIR
    const std::string p = std::string(VORTA_BIN_DIR) + "/vorta-cloudemu";
    if (::access(p.c_str(), X_OK) == 0) return p;
#endif
    return std::string();
}

bool EmulatorLauncher::Start(const std::string& program, const std::string& host, int port) {
    data_ = MakeTempDir("cloudemu");
    int out[2];
    if (data_.empty() || ::pipe(out) != 0) return false;
    const std::string port_text = std::to_string(port);
    pid_ = ::fork();
    if (pid_ < 0) return false;
    if (pid_ == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::close(out[0]);
        ::close(out[1]);
        ::execl(program.c_str(), program.c_str(), "--data", data_.c_str(), "--host", host.c_str(), "--port",
                port_text.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    ::close(out[1]);
    out_ = out[0];
    // The emulator makes its certificates and store first; allow it 30 s.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    std::string line;
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{out_, POLLIN, 0};
        if (::poll(&p, 1, 200) <= 0) continue;
        char c;
        if (::read(out_, &c, 1) != 1) return false;
        if (c != '\n') {
            line.push_back(c);
        } else if (line.rfind("READY", 0) == 0) {
            return true;
        } else {
            line.clear();
        }
    }
    return false;
}

void EmulatorLauncher::Stop() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    if (out_ >= 0) ::close(out_);
    out_ = -1;
    RemoveTree(data_);
    data_.clear();
}
