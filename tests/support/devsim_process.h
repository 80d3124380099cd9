// Runs the device simulator (vorta-devsim) as a child process for a test:
// its own temporary folder with the memory image and the packet trace, its
// own pseudo-terminal. Tests in parallel each get their own.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

class DevSimProcess {
public:
    using Packet = std::array<uint8_t, 40>;

    // Makes the temporary folder (removed again by the destructor).
    DevSimProcess();
    ~DevSimProcess();
    DevSimProcess(const DevSimProcess&) = delete;
    DevSimProcess& operator=(const DevSimProcess&) = delete;

    // Starts the simulator with `--image image_path() --trace trace_path()`
    // and `args` (identity, faults, --dives ...), and waits for its pty.
    // The simulator is told to end when the thread that started it ends
    // (PR_SET_PDEATHSIG), so start it from a thread that outlives its use.
    // An image written to image_path() before Start is used as it is;
    // otherwise the simulator creates one with generated dives. Returns false
    // (with error()) when it does not come up within 10 s.
    bool Start(const std::vector<std::string>& args = {});
    // Start without the packet trace (benchmarks).
    void DisableTrace() { trace_ = false; }
    // SIGTERM and wait (SIGKILL after 5 s). Safe to call twice.
    void Stop();
    // True while the process has not exited (it exits by itself after a
    // hang-up fault).
    bool Running();

    const std::string& pty_path() const { return pty_path_; }
    const std::string& dir() const { return dir_; }
    std::string image_path() const { return dir_ + "/image.bin"; }
    std::string trace_path() const { return dir_ + "/trace.txt"; }
    const std::string& error() const { return error_; }
    pid_t pid() const { return pid_; }

    // Every packet the simulator has received so far, in order (one trace
    // line each, written as it arrives).
    std::vector<Packet> Trace() const;
    // Parses trace text: one packet of 80 hex digits a line; other lines are
    // skipped.
    static std::vector<Packet> ParseTrace(const std::string& text);

    // VORTA_BIN_DIR/vorta-devsim, or VORTA_DEVSIM from the environment.
    static std::string BinaryPath();

private:
    std::string dir_;
    std::string pty_path_;
    std::string error_;
    pid_t pid_ = -1;
    int stdout_fd_ = -1;
    bool trace_ = true;
};
